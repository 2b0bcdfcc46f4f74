#pragma once

#include "support/WellFormedXml.h"

#include <string>
#include <vector>

#include "StreamFields.h"
#include "support/PluginLoader.h"

namespace monitor_testing {

using testing_support::Fields;

// A request of visitor `key` with plain values: path /a, port 80, server s1, address a1, an
// MSIE user agent, lock value 0.
Fields Request(const std::string &key, const std::string &serial, const std::string &path = "/a");
// A control action; the text goes where "CONFIG" reads its settings.
Fields Action(const std::string &action, const std::string &text = "");
// "LOCKED" or "UNLOCKED" of an address.
Fields Lock(const std::string &action, const std::string &address, const std::string &persist);

// The views Stream takes of a call's texts.
common::StreamFields View(const Fields &fields);

// The serial of 5 March 2004 14:00:00 plus some seconds and milliseconds.
std::string Serial(int seconds, int milliseconds = 0);

// The monitor's settings with the values that matter to a test; the rest are inert.
struct Settings {
  std::string thresholdBase = "0.9", thresholdIncrement = "0.1";
  std::string periodBase = "10", periodIncrement = "1", sensitivity = "2";
  std::string fernwickActive = "0", fernwickPath;
  std::string possibleStrength = "1", certainStrength = "3", trace = "0";
  std::string Text() const;
  // Export on into a directory; a visitor rates 1 from r = 0.5 and 2 from r = 0.9, with r taken
  // from three hits on.
  static Settings Alerting(const std::string &exportDirectory);
};

// The USER lines, or the HIT lines, of a snapshot.
std::vector<std::string> LinesWith(const std::vector<std::string> &lines, const std::string &tag);
// The value of an attribute in a line.
std::string AttributeOf(const std::string &line, const std::string &name);

// Parses an XML file with xmllint or Python; skips the test, saying so, when neither exists.
using testing_support::ExpectWellFormedXml;

}  // namespace monitor_testing
