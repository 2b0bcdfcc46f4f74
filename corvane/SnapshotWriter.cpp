#include "SnapshotWriter.h"

#include <charconv>
#include <cmath>
#include <string>

#include "Convert.h"
#include "XmlText.h"
#include "modCorvane.h"
#include "modKvGlobal.h"

namespace corvane {

namespace {

template <class Number>
void AppendNumber(std::string &out, Number value) {
  char digits[32];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

// A serial as a whole number in decimal.
void AppendWholeNumber(std::string &out, double value) {
  char digits[400];
  const auto result =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 0);
  out.append(digits, result.ptr);
}

// The text ElapsedSerialToString gives ("11s, 5ms"), built in place for the whole elapsed
// serials that real requests produce.
void AppendElapsedText(std::string &out, double elapsed) {
  if (!(elapsed >= 0 && elapsed < 1e15) || elapsed != std::floor(elapsed)) {
    out.append(common::ElapsedSerialToString(elapsed));
    return;
  }
  struct Unit {
    int64_t placeValue, range;
    std::string_view text;
    bool plural;
  };
  static constexpr Unit kUnits[] = {{10'000'000'000'000, 100, "yr", true},
                                    {100'000'000'000, 100, "mth", true},
                                    {1'000'000'000, 100, "dy", true},
                                    {10'000'000, 100, "h", false},
                                    {100'000, 100, "m", false},
                                    {1'000, 100, "s", false},
                                    {1, 1'000, "ms", false}};
  const auto value = static_cast<int64_t>(elapsed);
  bool first = true;
  for (const Unit &unit : kUnits) {
    const int64_t count = value / unit.placeValue % unit.range;
    if (count == 0) continue;
    if (!first) out.append(", ");
    first = false;
    AppendNumber(out, count);
    out.append(unit.text);
    if (unit.plural && count != 1) out.push_back('s');
  }
}

}  // namespace

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

void SnapshotWriter::WriteUser(const clsUser &user, const Rating &rating) {
  const bool trace = gConfig().Trace();
  const clsHits &hits = user.Hits();
  const int32_t count = hits.Count();
  WriteUserLine(user, rating);
  writer_.WriteLine("\t\t\t<HITS>");
  if (trace) {
    WriteTrace("\tUser Record Written");
    WriteTrace("\tLooping to write " + std::to_string(count) + " hits");
  }
  double previousSerial = 0;
  for (int32_t j = 1; j <= count; ++j) {
    const std::string_view path = hits.Hit(j).PathInfo();
    int32_t runLength = 1;
    while (j < count && hits.Hit(j + 1).PathInfo() == path) ++j, ++runLength;
    const clsHit last = hits.Hit(j);
    WriteHitLine(last, runLength, previousSerial);
    if (trace) WriteTrace("\tHit Record Written");
    previousSerial = last.ArrivalSerial();
  }
  writer_.WriteLine("\t\t\t</HITS>");
  writer_.WriteLine("\t\t</USER>");
}

void SnapshotWriter::WriteUserLine(const clsUser &user, const Rating &rating) {
  const clsHits &hits = user.Hits();
  const double lastSerial = hits.Hit(hits.Count()).ArrivalSerial();
  line_.append("\t\t<USER");
  Attribute("KEY", user.Key());
  Attribute("CTRY", user.Country());
  Attribute("AGNT", user.UserAgent());
  Attribute("AUTH", user.AuthUser());
  Attribute("RESADR", user.ResolvedAddr());
  Attribute("REMADR", user.RemoteAddr());
  Attribute("RHOST", user.RemoteHost());
  OpenAttribute("LVL");
  AppendNumber(line_, static_cast<int>(rating.level));
  line_.push_back('"');
  Attribute("CONN", common::BooleanText(rating.connected));
  Attribute("STRT",
            common::FormatGeneralDate(common::GetDateFromSerial(hits.Hit(1).ArrivalSerial())));
  OpenAttribute("TIME");
  AppendElapsedText(line_, common::ElapsedSerial(hits.FirstArrival(), lastSerial));
  line_.push_back('"');
  OpenAttribute("REQS");
  if (hits.Truncated()) line_.append("&gt;");
  AppendNumber(line_, hits.Count());
  line_.push_back('"');
  Attribute("BRSR", rating.browser);
  Attribute("BRSRV", rating.version);
  Attribute("LHOST", user.LocalHost());
  Attribute("SVR", user.ServerName());
  Attribute("LINK", user.ShieldLink());
  Attribute("ULINK", user.ShieldUnLink());
  Attribute("LCKD", common::BooleanText(user.Locked()));
  line_.push_back('>');
  EndLine();
}

void SnapshotWriter::WriteHitLine(const clsHit &hit, int32_t runLength, double previousSerial) {
  line_.append("\t\t\t\t<HIT");
  OpenAttribute("TIME");
  AppendElapsedText(line_, common::ElapsedSerial(previousSerial, hit.ArrivalSerial()));
  line_.push_back('"');
  OpenAttribute("PGS");
  AppendNumber(line_, runLength);
  line_.push_back('"');
  Attribute("ACT", hit.Action());
  Attribute("PTHIN", hit.PathInfo());
  Attribute("PTHTR", hit.PathTranslated());
  // The query string loses its double quotes before it is escaped.
  OpenAttribute("QSTR");
  std::string_view query = hit.QueryString();
  for (size_t quote; (quote = query.find('"')) != std::string_view::npos;) {
    common::AppendXmlAttribute(line_, query.substr(0, quote));
    query.remove_prefix(quote + 1);
  }
  common::AppendXmlAttribute(line_, query);
  line_.push_back('"');
  Attribute("PORT", hit.ServerPort());
  OpenAttribute("ARRV");
  AppendWholeNumber(line_, hit.ArrivalSerial());
  line_.push_back('"');
  Attribute("SHLD", common::BooleanText(hit.Shielded()));
  line_.append("/>");
  EndLine();
}

void SnapshotWriter::Attribute(std::string_view name, std::string_view value) {
  OpenAttribute(name);
  common::AppendXmlAttribute(line_, value);
  line_.push_back('"');
}

void SnapshotWriter::OpenAttribute(std::string_view name) {
  line_.push_back(' ');
  line_.append(name);
  line_.append("=\"");
}

void SnapshotWriter::EndLine() {
  writer_.WriteLine(line_);
  line_.clear();
}

}  // namespace corvane
