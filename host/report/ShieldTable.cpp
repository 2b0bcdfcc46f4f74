#include "report/ShieldTable.h"

#include "report/HtmlText.h"

namespace report {

namespace {

// When flowdeck lifted it and why ("by hand"); "in force" when its log has the raise and no
// lift; nothing when the log does not tell.
std::string LiftedText(const Shield &shield) {
  if (shield.liftedAt) {
    const std::string at = FormatMoment(*shield.liftedAt);
    return shield.liftWhy.empty() ? at : at + " (" + shield.liftWhy + ")";
  }
  return shield.raiseLogged ? "in force" : "";
}

std::string SparedText(const SparedShield &spared) {
  std::string text = spared.at ? FormatMoment(*spared.at) : spared.dateTime;
  text += " " + spared.remoteAddr;
  const std::string asked = spared.host + spared.resource;
  text += asked.empty() ? ", the whole address" : " " + asked;
  return text + " (" + spared.source + "): " + spared.why;
}

}  // namespace

void AppendSparedList(std::string &out, const std::vector<SparedShield> &spared,
                      int64_t notListed) {
  if (spared.empty()) return;
  out +=
      "<p class=\"note\">Asked for, not raised: spared by NeverShield, the allow list or as "
      "a verified crawler";
  if (notListed > 0) out += " (the first " + std::to_string(spared.size()) + " of them)";
  out += ":</p><ul class=\"spared\">";
  for (const SparedShield &one : spared) {
    out += "<li>";
    AppendHtml(out, SparedText(one));
    out += "</li>";
  }
  out += "</ul>";
}

void AppendShieldTable(std::string &out, const std::vector<Shield> &shields) {
  out += "<div class=\"table-wrap\"><table id=\"shield-table\"><thead><tr>";
  for (const char *title :
       {"Time", "Source", "Address", "Resolved address", "Host", "Resource", "Offence", "Lifetime",
        "Lifted", "Hits", "Factor", "Deflect", "Description"}) {
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
    AppendCell(out, shield.offence ? std::to_string(*shield.offence) : "", "num");
    AppendCell(out, shield.lifetime ? FormatDuration(*shield.lifetime) : "", "time");
    AppendCell(out, LiftedText(shield), "lifted");
    AppendCell(out, shield.hits, "num");
    AppendFourPlacesCell(out, shield.factor);
    AppendCell(out, shield.deflect, "wrap");
    AppendCell(out, shield.description, "wrap");
    out += "</tr>";
  }
  out += "</tbody></table></div>";
}

}  // namespace report
