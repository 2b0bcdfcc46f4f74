#include "SnapshotWriter.h"

#include <string>
#include <string_view>

#include "modCorvane.h"
#include "modKvGlobal.h"

namespace corvane {

namespace {

constexpr std::string_view kHead = "<?xml version=\"1.0\"?>\r\n<OVERMERE>\r\n\t<USERS>\r\n";
constexpr std::string_view kElementEnd = "\t\t\t</HITS>\r\n\t\t</USER>\r\n";
constexpr std::string_view kTail = "\t</USERS>\r\n</OVERMERE>\r\n";

}  // namespace

SnapshotWriter::SnapshotWriter(const common::Site &site, std::string path)
    : file_(site, std::move(path)) {}

void SnapshotWriter::WriteHead() {
  file_.Add(kHead);
}

void SnapshotWriter::WriteTail() {
  file_.Add(kTail);
  file_.Close();
}

void SnapshotWriter::WriteUser(const clsUser &user, uint8_t level, const Lines &lines) {
  const clsHits &hits = user.Hits();
  file_.Add(lines.user.Update(user, level));
  WriteTrace("\tUser Record Written");
  WriteTrace("\tLooping to write ", hits.Count(), " hits");
  file_.Add(lines.hits.Update(hits));
  // One line per run: the loop itself is skipped while tracing is off.
  if (gConfig().Trace()) {
    for (size_t run = 0; run < lines.hits.RunCount(); ++run) WriteTrace("\tHit Record Written");
  }
  file_.Add(kElementEnd);
  if (!lines.kept) file_.Flush();
}

}  // namespace corvane
