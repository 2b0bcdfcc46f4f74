#include "ShieldTable.h"

#include <cstdio>
#include <cstdlib>

#include "HtmlText.h"

namespace report {

namespace {

// The correlation to four places, the whole value in the tooltip.
void AppendFactor(std::string &out, const std::string &factor) {
  char *end = nullptr;
  const double value = std::strtod(factor.c_str(), &end);
  if (factor.empty() || end != factor.c_str() + factor.size())
    return AppendCell(out, factor, "num");
  char rounded[32];
  std::snprintf(rounded, sizeof rounded, "%.4f", value);
  out += "<td class=\"num\" title=\"";
  AppendHtml(out, factor);
  out += "\">";
  AppendHtml(out, rounded);
  out += "</td>";
}

}  // namespace

void AppendShieldTable(std::string &out, const std::vector<Shield> &shields) {
  out += "<div class=\"table-wrap\"><table id=\"shield-table\"><thead><tr>";
  for (const char *title : {"Time", "Test", "Address", "Resolved address", "Host", "Resource",
                            "Hits", "Factor", "Deflect", "Description"}) {
    out += std::string("<th scope=\"col\">") + title + "</th>";
  }
  out += "</tr></thead><tbody>";
  for (const Shield &shield : shields) {
    out += "<tr>";
    AppendCell(out, shield.at ? FormatMoment(*shield.at) : shield.dateTime, "time");
    // The test that raised it, then the one that judged it as well.
    AppendCell(out, shield.alsoJudgedBy.empty() ? shield.test
                                                : shield.test + ", then " + shield.alsoJudgedBy);
    AppendCell(out, shield.remoteAddr);
    AppendCell(out, shield.resolvedAddr);
    AppendCell(out, shield.host);
    AppendCell(out, shield.resource, "wrap");
    AppendCell(out, shield.hits, "num");
    AppendFactor(out, shield.factor);
    AppendCell(out, shield.deflect, "wrap");
    AppendCell(out, shield.description, "wrap");
    out += "</tr>";
  }
  out += "</tbody></table></div>";
}

}  // namespace report
