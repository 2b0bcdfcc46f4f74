#include "RunFileTexts.h"

namespace report_testing {

std::string UserLine(const std::string &key, const std::string &agent, int level,
                     const std::string &requests, const std::string &time) {
  return "\t\t<USER KEY=\"" + key + "\" CTRY=\"\" AGNT=\"" + agent + "\" AUTH=\"\" RESADR=\"" +
         key + "\" REMADR=\"" + key + "\" RHOST=\"" + key + "\" LVL=\"" + std::to_string(level) +
         "\" CONN=\"True\" STRT=\"12/7/2026 8:06:15 AM\" TIME=\"" + time + "\" REQS=\"" + requests +
         "\" BRSR=\"NS\" BRSRV=\"5.0\" LHOST=\"localhost\" SVR=\"shop\" LINK=\"\" ULINK=\"\" "
         "LCKD=\"False\">\r\n";
}

std::string HitLine(const std::string &serial, const std::string &path, int pages,
                    const std::string &query) {
  return "\t\t\t\t<HIT TIME=\"\" PGS=\"" + std::to_string(pages) + "\" ACT=\"GET\" PTHIN=\"" +
         path + "\" PTHTR=\"\" QSTR=\"" + query + "\" PORT=\"80\" ARRV=\"" + serial +
         "\" SHLD=\"False\"/>\r\n";
}

std::string Snapshot(const std::vector<std::vector<std::string>> &visitors) {
  std::string text = "<?xml version=\"1.0\"?>\r\n<OVERMERE>\r\n\t<USERS>\r\n";
  for (const std::vector<std::string> &lines : visitors) {
    text += lines.front() + "\t\t\t<HITS>\r\n";
    for (size_t i = 1; i < lines.size(); ++i) text += lines[i];
    text += "\t\t\t</HITS>\r\n\t\t</USER>\r\n";
  }
  return text + "\t</USERS>\r\n</OVERMERE>\r\n";
}

std::string AlertLine(const std::string &stamp, const std::string &key, int level, char separator,
                      const std::string &agent) {
  const std::string s(1, separator);
  return s + stamp + s + key + s + "us" + s + "" + s + agent + s + key + s + key + s + key + s +
         "localhost" + s + "shop" + s + std::to_string(level) + s + "0.98\r\n";
}

std::string TripwireLine(const std::string &dateTime, const std::string &address,
                         const std::string &description) {
  return "\t\t<TRIPWIRE DATETIME=\"" + dateTime + "\" REMOTEADDR=\"" + address +
         "\" RESOLVEDADDR=\"" + address +
         "\" HOST=\"shop\" HITS=\"25\" FACTOR=\"0.998765432101234\" "
         "RESOURCE=\"/admin/login.php\" DEFLECT=\"/deflect.html\" SENSITIVITY=\"5\" "
         "STRENGTH=\"2\" DESCRIPTION=\"" +
         description + "\" INVERSE=\"0\" CARRYPARAMETERS=\"0\" />\r\n";
}

std::string Tripwires(const std::vector<std::string> &lines) {
  std::string text = "<?xml version=\"1.0\"?>\r\n<KELVARIN>\r\n\t<TRIPWIRES>\r\n";
  for (const std::string &line : lines) text += line;
  return text + "\t</TRIPWIRES>\r\n</KELVARIN>\r\n";
}

}  // namespace report_testing
