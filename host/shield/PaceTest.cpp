#include "shield/PaceTest.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "KvError.h"
#include "StreamFields.h"
#include "base/Error.h"
#include "base/RunFiles.h"
#include "clsHit.h"
#include "modVantrel.h"
#include "shield/TripwireDefinitions.h"

namespace host {

namespace {

// The rounding of two whole-second times adds the variance of the difference of two uniform
// errors of one second: 1/6 s², in milliseconds squared.
constexpr double kRoundingVariance = 1e6 / 6;
// A visitor is forgotten this long after its latest watched request, as the shield plug-in
// forgets it.
constexpr int64_t kVisitorLifetime = 300'000;
const common::Site kSite{"  Class: PaceTest  ", "flowdeck.PaceTest"};

std::string_view View(const flowdeck_text &text) {
  return {text.data, text.size};
}

// What the test judged, for the event log and the report: a timer's spread is near 0, delays
// drawn at random around a period near 0.3, a person's above 1.
std::string Figures(const PaceSums &sums) {
  char text[96];
  std::snprintf(text, sizeof text, "hits %u, mean gap %.3f s, spread %.3f", sums.gaps + 1,
                sums.sum / sums.gaps / 1000, sums.Spread());
  return text;
}

}  // namespace

void PaceSums::Add(int64_t time) {
  if (time % 1000 != 0) fractional = true;
  if (started) {
    if (time < last) return;
    const double gap = static_cast<double>(time - last);
    sum += gap;
    squares += gap * gap;
    ++gaps;
  }
  last = time;
  started = true;
}

double PaceSums::Spread() const {
  if (gaps == 0 || sum <= 0) return -1;
  const double mean = sum / gaps;
  double variance = squares / gaps - mean * mean;
  if (!fractional) variance -= kRoundingVariance;
  return std::sqrt(std::max(variance, 0.0)) / mean;
}

PaceTest::PaceTest(const std::string &runDirectory, const HostConfig &config)
    : runDirectory_(runDirectory) {
  Reconfigure(config);
  ReadDefinitionsIfChanged();  // notes the file the definitions below are read from
  // Without a trace: the test reads the plug-in's definitions, it does not write its trace.
  definitions_ = std::make_unique<vantrel::clsShieldedResources>(
      vantrel::DefinitionsSettings{runDirectory_ + "/" + RunFiles::kDefinitions, nullptr, nullptr});
  ReadDefinitions();
}

void PaceTest::ReadDefinitions() {
  definitionsFailure_.clear();
  try {
    definitions_->Read();
  } catch (const common::KvError &error) {
    // Said at the start of the run and at each change of the file, as the plug-in will stop
    // there too; the test watches what came before it.
    definitionsFailure_ = TripwireDefinitions::FailureText(error);
  }
}

PaceTest::~PaceTest() = default;

void PaceTest::Reconfigure(const HostConfig &config) {
  const double bound = std::strtod(config.Get("PaceMaxSpread").c_str(), nullptr);
  try {
    common::clsConfig settings(common::ConfigLayout::kVantrel);
    settings.Read(config.ShieldConfigText());
    settings_ = std::move(settings);
  } catch (const common::KvError &error) {
    throw Error("the pace test", "cannot read the settings: " + error.Description());
  }
  maxSpread_ = bound;
  byPace_ = config.GetBoolean("PaceTest");
}

void PaceTest::Request(const flowdeck_text fields[FLOWDECK_FIELD_COUNT], int64_t time,
                       int64_t now) {
  using namespace common;
  if (!vantrel::HitActionOf(View(fields[kAction]))) return;
  const std::string_view host = View(fields[kServerName]), path = View(fields[kPathInfo]);
  const std::string_view translated = View(fields[kPathTranslated]);
  int32_t position = 0;
  if (const std::optional<int32_t> known = matches_.Find(host, path, translated)) {
    position = *known;
  } else {
    // Without a trace to write, matching raises nothing but running out of memory.
    position = definitions_->ProtectedResourceIndex(host, path, translated);
    matches_.Remember(position);
  }
  if (position == 0) return;
  Visitor &visitor =
      visitors_.FindOrAdd(View(fields[kKey]), View(fields[kRemoteAddr]), [] { return Visitor{}; });
  visitor.expires = now + kVisitorLifetime;
  Record &record = RecordOf(visitor, RecordKey(host, path));
  const int64_t last = record.sums.last;
  const bool started = record.sums.started;
  record.sums.Add(time);
  if (record.regularity && started && time >= last) {
    record.regularity->Add(static_cast<double>(time - last));
  }
  if (!record.shielded && (byPace_ || record.regularity))
    Judge(visitor, record, *definitions_->Item(position), fields);
}

uint64_t PaceTest::RecordKey(std::string_view host, std::string_view path) {
  // Two texts hashed apart and mixed, so that "a/b" + "c" and "a" + "/bc" stay apart.
  return common::HashIgnoreCase(host) * 0x9E3779B97F4A7C15ull ^ common::HashIgnoreCase(path);
}

PaceTest::Record &PaceTest::RecordOf(Visitor &visitor, uint64_t key) {
  for (Record &record : visitor.records) {
    if (record.key == key) return record;
  }
  ++records_;
  return visitor.records.emplace_back(Record{key, {}, false, nullptr});
}

void PaceTest::Judge(const Visitor &visitor, Record &record,
                     const vantrel::clsShieldedResource &definition,
                     const flowdeck_text fields[FLOWDECK_FIELD_COUNT]) {
  using namespace common;
  if (!settings_.IsLoaded()) return;
  ShieldRequest shield;
  try {
    const int16_t required = settings_.MinimumHits(kSite, definition.Sensitivity());
    if (static_cast<int64_t>(record.sums.gaps) + 1 < required) return;
    const double spread = record.sums.Spread();
    // After a lift the record meets the plug-in's threshold as well: compared in 32 bits, as
    // the plug-in compares.
    if (record.regularity &&
        common::CorrelationOfGaps(*record.regularity) >=
            static_cast<float>(settings_.RatingThreshold(definition.Strength()))) {
      shield.source = "regularity";
    } else if (spread < 0 || spread > maxSpread_) {
      return;
    } else {
      shield.source = "pace";
    }
    shield.deflect = vantrel::BuildDeflectString(
        View(fields[kPathInfo]), View(fields[kPathTranslated]), definition.Deflect());
  } catch (const KvError &) {
    // Hits required beyond 16 bits, or a deflect template the plug-in could not use either.
    ++unjudged_;
    return;
  }
  record.shielded = true;
  shield.figures = Figures(record.sums);
  shield.address = visitor.remoteAddr;
  shield.host = View(fields[kServerName]);
  shield.resource = View(fields[kPathInfo]);
  if (shield.source == "regularity") {
    char text[64];
    std::snprintf(text, sizeof text, "; correlation %.6f",
                  static_cast<double>(common::CorrelationOfGaps(*record.regularity)));
    shield.figures += text;
  }
  if (record.regularity) shield.figures += "; judged again after its shield was lifted";
  judged_.push_back(std::move(shield));
}

std::vector<ShieldRequest> PaceTest::Cycle(int64_t now) {
  // Records whose definition went are dropped by the plug-in; which ones those are, the test
  // does not keep: every record starts afresh when the definitions change.
  const bool fresh = ReadDefinitionsIfChanged();
  auto &visitors = visitors_.All();
  for (auto entry = visitors.begin(); entry != visitors.end();) {
    Visitor &visitor = entry->second;
    // Gone quiet: its expiry at least a second in the past, as the plug-in purges.
    if (fresh || now - visitor.expires >= 1000) {
      records_ -= visitor.records.size();
      entry = visitors.erase(entry);
    } else {
      ++entry;
    }
  }
  std::vector<ShieldRequest> shields = std::move(judged_);
  judged_.clear();
  return shields;
}

bool PaceTest::ReadDefinitionsIfChanged() {
  struct stat info {};
  const std::string path = runDirectory_ + "/" + RunFiles::kDefinitions;
  std::string stamp;
  if (stat(path.c_str(), &info) == 0) {
    stamp = std::to_string(info.st_ino) + ":" + std::to_string(info.st_size) + ":" +
            std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec);
  }
  if (stamp == definitionsStamp_ && !stamp.empty()) return false;
  const bool first = definitionsStamp_.empty();
  definitionsStamp_ = stamp;
  if (first) return false;  // read when the test began
  matches_.Forget();
  ReadDefinitions();  // what was read before a failure is watched, as in the plug-in
  return true;
}

void PaceTest::Lapsed(std::string_view address, std::string_view host, std::string_view resource) {
  const bool whole = host.empty() && resource.empty();
  const uint64_t key = RecordKey(host, resource);
  visitors_.ForVisitorsOf(address, [&](Visitor &visitor) {
    for (Record &record : visitor.records) {
      if (!whole && record.key != key) continue;
      // The hits before the lift were judged already: only those after it count.
      record.sums = PaceSums{};
      record.shielded = false;
      record.regularity = std::make_unique<common::GapSums>();
    }
  });
}

void PaceTest::ShieldedElsewhere(std::string_view address, std::string_view host,
                                 std::string_view resource) {
  const uint64_t key = RecordKey(host, resource);
  visitors_.ForVisitorsOf(address, [&](Visitor &visitor) {
    for (Record &record : visitor.records) {
      if (record.key == key) record.shielded = true;
    }
  });
}

}  // namespace host
