#include "report/NotedTable.h"

#include "report/HtmlText.h"

namespace report {

namespace {

// "3 / 1": alerts at level 1, then at level 2.
std::string LevelTally(const NotedVisitor &visitor) {
  if (visitor.alerts == 0) return "";
  return std::to_string(visitor.level1Alerts) + " / " + std::to_string(visitor.level2Alerts);
}

std::string TimeText(const std::optional<Moment> &at) {
  return at ? FormatMoment(*at) : "";
}

void AppendShields(std::string &out, const NotedVisitor &visitor) {
  out += "<td class=\"shields\">";
  if (visitor.shields.empty()) out += "<span class=\"muted\">none</span>";
  for (size_t i = 0; i < visitor.shields.size(); ++i) {
    const Shield &shield = *visitor.shields[i];
    if (i > 0) out += "<br>";
    // The host in the tooltip: a visitor's shields are mostly on one site.
    out += "<span title=\"";
    AppendHtml(out, shield.host + shield.resource);
    out += "\"><span class=\"shielded\">";
    AppendHtml(out, shield.test);
    out += "</span> ";
    AppendHtml(out, shield.resource);
    out += "</span>";
    if (shield.at) {
      out += " <span class=\"muted\">";
      AppendHtml(out, FormatMoment(*shield.at));
      out += "</span>";
    }
  }
  out += "</td>";
}

void AppendHeld(std::string &out, const NotedVisitor &visitor) {
  if (visitor.held == nullptr) {
    out += "<td class=\"muted\">gone</td>";
    return;
  }
  out += "<td>held, level ";
  AppendHtml(out, visitor.held->levelText);
  out += "</td>";
}

void AppendRow(std::string &out, const NotedVisitor &visitor) {
  out += visitor.highestLevel == 2 ? "<tr class=\"lvl2\">" : "<tr>";
  AppendCell(out, visitor.key.empty() ? "(no alert)" : visitor.key, "wrap");
  AppendCell(out, visitor.remoteAddr);
  const std::string level = std::to_string(visitor.highestLevel);
  out += "<td class=\"num\"><span class=\"badge l" + level + "\">" + level + "</span></td>";
  AppendCell(out, std::to_string(visitor.alerts), "num");
  AppendCell(out, LevelTally(visitor), "num");
  AppendCell(out, TimeText(visitor.firstAlert), "time");
  AppendCell(out, TimeText(visitor.lastAlert), "time");
  AppendFourPlacesCell(out, visitor.highestRating);
  AppendShields(out, visitor);
  AppendHeld(out, visitor);
  AppendCell(out, visitor.country);
  out += "<td class=\"agent\" title=\"";
  AppendHtml(out, visitor.userAgent);
  out += "\">";
  AppendHtml(out, visitor.userAgent);
  out += "</td>";
  out += "</tr>";
}

}  // namespace

void AppendNotedTable(std::string &out, const std::vector<NotedVisitor> &visitors) {
  out += "<div class=\"table-wrap\"><table id=\"noted-table\"><thead><tr>";
  for (const char *title :
       {"Key", "Address", "Highest level", "Alerts", "At level 1 / 2", "First alert", "Last alert",
        "Highest rating", "Shields", "At the end", "Country", "User agent"}) {
    out += std::string("<th scope=\"col\">") + title + "</th>";
  }
  out += "</tr></thead><tbody>";
  for (const NotedVisitor &visitor : visitors) AppendRow(out, visitor);
  out += "</tbody></table></div>";
}

}  // namespace report
