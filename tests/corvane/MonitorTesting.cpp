#include "MonitorTesting.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace monitor_testing {

Fields Request(const std::string &key, const std::string &serial, const std::string &path) {
  Fields fields{};
  fields[common::kAction] = "GET";
  fields[common::kArrivalSerial] = serial;
  fields[common::kKey] = key;
  fields[common::kCountry] = "us";
  fields[common::kResolvedAddr] = "r1";
  fields[common::kRemoteAddr] = "a1";
  fields[common::kRemoteHost] = "h1";
  fields[common::kPathInfo] = path;
  fields[common::kServerName] = "s1";
  fields[common::kServerPort] = "80";
  fields[common::kUserAgent] = "Mozilla/4.0 (compatible; MSIE 6.0)";
  fields[common::kLocked] = "0";
  fields[common::kReferrer] = "http://ignored/";
  return fields;
}

Fields Action(const std::string &action, const std::string &text) {
  Fields fields{};
  fields[common::kAction] = action;
  fields[common::kUserAgent] = text;
  return fields;
}

Fields Lock(const std::string &action, const std::string &address, const std::string &persist) {
  Fields fields{};
  fields[common::kAction] = action;
  fields[common::kRemoteAddr] = address;
  fields[common::kLocked] = persist;
  return fields;
}

common::StreamFields View(const Fields &fields) {
  common::StreamFields view;
  for (size_t i = 0; i < fields.size(); ++i) view[i] = fields[i];
  return view;
}

std::string Serial(int seconds, int milliseconds) {
  char text[32];
  std::snprintf(text, sizeof text, "40305%02d%02d%02d%03d", 14 + seconds / 3600, seconds / 60 % 60,
                seconds % 60, milliseconds);
  return text;
}

std::string Settings::Text() const {
  return "srv;url;uri;add;remove;" + thresholdBase + ";" + thresholdIncrement + ";" + periodBase +
         ";" + periodIncrement + ";" + fernwickActive + ";" + fernwickPath + ";" + sensitivity +
         ";" + possibleStrength + ";" + certainStrength + ";" + trace;
}

Settings Settings::Alerting(const std::string &exportDirectory) {
  Settings settings;
  settings.thresholdBase = "1";
  settings.periodBase = "3";
  settings.periodIncrement = "0";
  settings.possibleStrength = "5";
  settings.certainStrength = "1";
  settings.fernwickActive = "1";
  settings.fernwickPath = exportDirectory + "/";
  return settings;
}

std::vector<std::string> LinesWith(const std::vector<std::string> &lines, const std::string &tag) {
  std::vector<std::string> found;
  for (const std::string &line : lines) {
    if (line.find(tag) != std::string::npos) found.push_back(line);
  }
  return found;
}

std::string AttributeOf(const std::string &line, const std::string &name) {
  const std::string opening = " " + name + "=\"";
  const size_t start = line.find(opening);
  if (start == std::string::npos) return "<none>";
  const size_t begin = start + opening.size();
  return line.substr(begin, line.find('"', begin) - begin);
}

}  // namespace monitor_testing
