#include "clsHitsData.h"

#include <algorithm>
#include <array>
#include <new>

#include "KvError.h"
#include "modExport.h"

namespace corvane {

namespace {

using common::StreamField;

constexpr common::Site kSite{"  Class: clsHistsData ", "clsHitsData"};
constexpr size_t kChunkSize = 1 << 20;

// The request values a line carries, in their order.
constexpr std::array<StreamField, 15> kExported = {
    StreamField::kAction,         StreamField::kArrivalSerial, StreamField::kKey,
    StreamField::kCountry,        StreamField::kResolvedAddr,  StreamField::kRemoteAddr,
    StreamField::kRemoteHost,     StreamField::kAuthUser,      StreamField::kPathInfo,
    StreamField::kPathTranslated, StreamField::kQueryString,   StreamField::kServerName,
    StreamField::kServerPort,     StreamField::kUserAgent,     StreamField::kLocalHost};

}  // namespace

void clsHitsData::AddHit(const common::StreamFields &request) {
  common::Guard(kSite, "Sub: AddHit", [&] {
    std::array<std::string_view, kExported.size()> values;
    for (size_t i = 0; i < kExported.size(); ++i) values[i] = request[kExported[i]];
    const ExportScan scan = ScanExportValues(values);
    Chunk &chunk = ChunkWithRoom(scan.size);
    if (lines_.size() == lines_.capacity()) lines_.reserve(2 * lines_.size() + 1024);
    // Room is made: nothing below can fail.
    WriteExportFields(chunk.bytes.get() + chunk.used, scan, values);
    lines_.push_back({droppedChunks_ + chunks_.size() - 1, static_cast<uint32_t>(chunk.used),
                      static_cast<uint32_t>(scan.size)});
    chunk.used += scan.size;
  });
}

clsHitsData::Chunk &clsHitsData::ChunkWithRoom(size_t size) {
  if (!chunks_.empty() && chunks_.back().capacity - chunks_.back().used >= size) {
    return chunks_.back();
  }
  Chunk chunk;
  if (!spareChunks_.empty() && size <= kChunkSize) {
    chunk = std::move(spareChunks_.back());
    spareChunks_.pop_back();
  } else {
    chunk.capacity = std::max(kChunkSize, size);
    chunk.bytes = std::make_unique_for_overwrite<char[]>(chunk.capacity);
  }
  chunks_.push_back(std::move(chunk));
  return chunks_.back();
}

clsHitData clsHitsData::Item(int32_t position) const {
  return common::Guard(kSite, "Function: Item", [&] {
    if (position < 1 || position > Count()) common::Raise(kSite, common::kInvalidArgument);
    const Line &line = lines_[static_cast<size_t>(position - 1)];
    return clsHitData(
        std::string_view(chunks_[line.chunk - droppedChunks_].bytes.get() + line.begin, line.size));
  });
}

void clsHitsData::Clear() noexcept {
  std::vector<Chunk> spares;
  spares.swap(spareChunks_);
  try {
    spareChunks_.reserve(chunks_.size());
    for (Chunk &chunk : chunks_) KeepAsSpare(chunk);
  } catch (const std::bad_alloc &) {
  }
  lines_.clear();
  chunks_.clear();
  droppedChunks_ = 0;
}

void clsHitsData::RemoveFirst(size_t count) noexcept {
  if (count >= lines_.size()) {
    Clear();
    return;
  }
  lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(count));
  for (; droppedChunks_ < lines_.front().chunk; ++droppedChunks_) chunks_.pop_front();
}

// Only chunks of the standard size come back, and only into room already reserved.
void clsHitsData::KeepAsSpare(Chunk &chunk) noexcept {
  if (chunk.capacity != kChunkSize || spareChunks_.size() == spareChunks_.capacity()) return;
  chunk.used = 0;
  spareChunks_.push_back(std::move(chunk));
}

}  // namespace corvane
