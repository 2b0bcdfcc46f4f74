#include "SnapshotWriter.h"

#include <string>

#include "Convert.h"
#include "SnapshotText.h"
#include "modCorvane.h"
#include "modKvGlobal.h"

namespace corvane {

SnapshotWriter::SnapshotWriter(const common::Site &site, std::string path)
    : writer_(site, std::move(path), common::TextWriter::Mode::kReplace) {
  line_.reserve(4096);
}

void SnapshotWriter::WriteHead() {
  writer_.WriteLine("<?xml version=\"1.0\"?>");
  writer_.WriteLine("<OVERMERE>");
  writer_.WriteLine("\t<USERS>");
}

void SnapshotWriter::WriteTail() {
  writer_.WriteLine("\t</USERS>");
  writer_.WriteLine("</OVERMERE>");
  writer_.Close();
}

void SnapshotWriter::WriteUser(const clsUser &user, const Rating &rating, HitLines &lines) {
  const bool trace = gConfig().Trace();
  const clsHits &hits = user.Hits();
  WriteUserLine(user, rating);
  writer_.WriteLine("\t\t\t<HITS>");
  if (trace) {
    WriteTrace("\tUser Record Written");
    WriteTrace("\tLooping to write " + std::to_string(hits.Count()) + " hits");
  }
  const std::string_view hitLines = lines.Update(hits);
  writer_.WriteLines(hitLines, lines.RunCount());
  if (trace) {
    for (size_t run = 0; run < lines.RunCount(); ++run) WriteTrace("\tHit Record Written");
  }
  writer_.WriteLine("\t\t\t</HITS>");
  writer_.WriteLine("\t\t</USER>");
}

void SnapshotWriter::WriteUserLine(const clsUser &user, const Rating &rating) {
  const clsHits &hits = user.Hits();
  const double lastSerial = hits.Hit(hits.Count()).ArrivalSerial();
  line_.append("\t\t<USER");
  AppendAttribute(line_, "KEY", user.Key());
  AppendAttribute(line_, "CTRY", user.Country());
  AppendAttribute(line_, "AGNT", user.UserAgent());
  AppendAttribute(line_, "AUTH", user.AuthUser());
  AppendAttribute(line_, "RESADR", user.ResolvedAddr());
  AppendAttribute(line_, "REMADR", user.RemoteAddr());
  AppendAttribute(line_, "RHOST", user.RemoteHost());
  OpenAttribute(line_, "LVL");
  AppendNumber(line_, static_cast<int>(rating.level));
  line_.push_back('"');
  AppendAttribute(line_, "CONN", common::BooleanText(rating.connected));
  AppendAttribute(
      line_, "STRT",
      common::FormatGeneralDate(common::GetDateFromSerial(hits.Hit(1).ArrivalSerial())));
  OpenAttribute(line_, "TIME");
  AppendElapsedText(line_, common::ElapsedSerial(hits.FirstArrival(), lastSerial));
  line_.push_back('"');
  OpenAttribute(line_, "REQS");
  if (hits.Truncated()) line_.append("&gt;");
  AppendNumber(line_, hits.Count());
  line_.push_back('"');
  AppendAttribute(line_, "BRSR", rating.browser);
  AppendAttribute(line_, "BRSRV", rating.version);
  AppendAttribute(line_, "LHOST", user.LocalHost());
  AppendAttribute(line_, "SVR", user.ServerName());
  AppendAttribute(line_, "LINK", user.ShieldLink());
  AppendAttribute(line_, "ULINK", user.ShieldUnLink());
  AppendAttribute(line_, "LCKD", common::BooleanText(user.Locked()));
  line_.push_back('>');
  EndLine();
}

void SnapshotWriter::EndLine() {
  writer_.WriteLine(line_);
  line_.clear();
}

}  // namespace corvane
