#include "report/ShieldReader.h"

#include <algorithm>

#include "report/XmlElementReader.h"

namespace report {

namespace {

Shield ShieldFrom(const XmlElementReader &xml) {
  Shield shield;
  shield.dateTime = xml.Attribute("DATETIME");
  shield.at = MomentFromDateText(shield.dateTime);
  shield.remoteAddr = xml.Attribute("REMOTEADDR");
  shield.resolvedAddr = xml.Attribute("RESOLVEDADDR");
  shield.host = xml.Attribute("HOST");
  shield.hits = xml.Attribute("HITS");
  shield.factor = xml.Attribute("FACTOR");
  shield.resource = xml.Attribute("RESOURCE");
  shield.deflect = xml.Attribute("DEFLECT");
  shield.sensitivity = xml.Attribute("SENSITIVITY");
  shield.strength = xml.Attribute("STRENGTH");
  shield.description = xml.Attribute("DESCRIPTION");
  return shield;
}

}  // namespace

Source ReadShields(const std::string &path, std::vector<Shield> &shields) {
  shields.clear();
  XmlElementReader xml(path);
  while (xml.NextElement()) {
    if (xml.Name() == "TRIPWIRE") shields.push_back(ShieldFrom(xml));
  }
  if (!xml.Result().Read()) {
    shields.clear();
    return xml.Result();
  }
  // The file is oldest first; shields of one second keep their reversed file order, and a
  // time that cannot be read sorts last.
  std::reverse(shields.begin(), shields.end());
  std::stable_sort(shields.begin(), shields.end(), [](const Shield &a, const Shield &b) {
    return a.at.value_or(INT64_MIN) > b.at.value_or(INT64_MIN);
  });
  return xml.Result();
}

}  // namespace report
