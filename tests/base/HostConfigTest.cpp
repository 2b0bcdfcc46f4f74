#include "base/HostConfig.h"

#include <gtest/gtest.h>

#include "base/DidYouMean.h"
#include "base/Duration.h"

#include "support/TempDir.h"

namespace {

std::string LoadError(const std::string &content) {
  testing_support::TempDir dir;
  testing_support::WriteFile(dir.File("f.conf"), content);
  host::HostConfig config;
  try {
    config.Load(dir.File("f.conf"));
  } catch (const std::runtime_error &error) {
    std::string message = error.what();
    return message.substr(message.find("f.conf"));
  }
  return "";
}

TEST(HostConfig, BuildsBothPositionalTextsFromDefaultsAndTheFile) {
  testing_support::TempDir dir;
  testing_support::WriteFile(dir.File("f.conf"),
                             "# comment\n\n  Server = shield.local  \nTrace=True # on\n");
  host::HostConfig config;
  config.Load(dir.File("f.conf"));
  EXPECT_EQ(config.ShieldConfigText(),
            "shield.local;/flowdeck;/shield;A=add;A=remove;0.99;0.01;30;2;True;;True");
  EXPECT_EQ(config.MonitorConfigText(),
            "shield.local;/flowdeck;/shield;A=add;A=remove;0.99;0.01;30;2;True;;5;4;2;True");
}

TEST(HostConfig, AValueMayHoldAHashThatNoBlankPrecedes) {
  testing_support::TempDir dir;
  testing_support::WriteFile(dir.File("f.conf"),
                             "LogFormat = $remote_addr id#$request_id # the id\n#Trace = True\n");
  host::HostConfig config;
  config.Load(dir.File("f.conf"));
  EXPECT_EQ(config.Get("LogFormat"), "$remote_addr id#$request_id") << "a blank starts a comment";
  EXPECT_EQ(config.Get("Trace"), "False");
  testing_support::WriteFile(dir.File("g.conf"), "LogFormat = %h#%u\n");
  config.Load(dir.File("g.conf"));
  EXPECT_EQ(config.Get("LogFormat"), "%h#%u");
}

// A key a slip away from a setting names it, whatever the case; it is never taken instead.
TEST(HostConfig, AMisspeltSettingNamesTheOneMeantAndIsNotTaken) {
  EXPECT_EQ(LoadError("ShieldSecond = 60\n"),
            "f.conf:1: unknown setting 'ShieldSecond'; did you mean 'ShieldSeconds'?");
  EXPECT_EQ(LoadError("Server = x\nsensitivity = 3\n"),
            "f.conf:2: unknown setting 'sensitivity'; did you mean 'Sensitivity'?");
  EXPECT_EQ(LoadError("NginxMapFiel = /m\n"),
            "f.conf:1: unknown setting 'NginxMapFiel'; did you mean 'NginxMapFile'?");
  EXPECT_EQ(LoadError("Colour = red\n"), "f.conf:1: unknown setting 'Colour'");
  host::HostConfig config;
  EXPECT_THROW(config.Set("shieldseconds", "60", "test"), std::runtime_error);
  EXPECT_EQ(config.Get("ShieldSeconds"), "3600");

  const std::vector<std::string> known = {"NginxReload", "NginxTest", "ApacheReload"};
  EXPECT_EQ(host::ClosestName("NginxRelaod", known), "NginxReload") << "a swap is one slip";
  EXPECT_EQ(host::ClosestName("NginxTset", known), "NginxTest");
  EXPECT_EQ(host::ClosestName("Reload", known), "") << "half a name is no slip";
  EXPECT_EQ(host::ClosestName("", known), "");
  EXPECT_EQ(host::ClosestName(std::string(100000, 'N'), known), "") << "bounded";
}

TEST(HostConfig, NamesFileAndLineOfABadSetting) {
  EXPECT_EQ(LoadError("Server = x\nColour = red\n"), "f.conf:2: unknown setting 'Colour'");
  EXPECT_EQ(LoadError("PeriodBase = 40000\n"),
            "f.conf:1: PeriodBase = '40000': out of range -32768 to 32767");
  EXPECT_EQ(LoadError("\nPeriodBase = 2.5\n"),
            "f.conf:2: PeriodBase = '2.5': expected a whole number");
  EXPECT_EQ(LoadError("ThresholdBase = high\n"),
            "f.conf:1: ThresholdBase = 'high': expected a number");
  EXPECT_EQ(LoadError("Trace = maybe\n"), "f.conf:1: Trace = 'maybe': expected True or False");
  EXPECT_EQ(LoadError("AddShieldURL = a;b\n"),
            "f.conf:1: AddShieldURL = 'a;b': a value cannot hold ';'");
  EXPECT_EQ(LoadError("just words\n"), "f.conf:1: expected 'key = value', got 'just words'");
  EXPECT_EQ(LoadError("ThresholdBase = nan\n"),
            "f.conf:1: ThresholdBase = 'nan': expected a number");
  EXPECT_EQ(LoadError(std::string("Server = a\x01b\n")),
            "f.conf:1: Server = 'a\x01b': a value cannot hold control characters");
  EXPECT_EQ(LoadError("Server =\n"), "");
}

TEST(HostConfig, NamesFileAndLineOfABadAddressList) {
  EXPECT_EQ(LoadError("IgnoreAddresses = ::1\nNeverShield = 127.0.0.0/8, 10.0.0.0/33\n"),
            "f.conf:2: NeverShield = '127.0.0.0/8, 10.0.0.0/33': '10.0.0.0/33': the prefix "
            "length of an IPv4 range is 0 to 32");
  EXPECT_EQ(LoadError("IgnoreAddresses = localhost\n"),
            "f.conf:1: IgnoreAddresses = 'localhost': 'localhost' is not an IPv4 or IPv6 address");
  EXPECT_EQ(LoadError("TrustedProxies = 10.0.0.1, 10.0.0.300\n"),
            "f.conf:1: TrustedProxies = '10.0.0.1, 10.0.0.300': '10.0.0.300' is not an IPv4 or "
            "IPv6 address");
  EXPECT_EQ(LoadError("NeverShield =\nIgnoreAddresses = 127.0.0.1, 2001:db8::/32\n"), "");
}

}  // namespace

TEST(HostConfig, ReadsDurationsInEachUnitAndRefusesTheRest) {
  EXPECT_EQ(host::ParseDuration("90s"), 90);
  EXPECT_EQ(host::ParseDuration("15m"), 900);
  EXPECT_EQ(host::ParseDuration("12h"), 43200);
  EXPECT_EQ(host::ParseDuration("7d"), 604800);
  EXPECT_EQ(host::ParseDuration("1w"), 604800);
  EXPECT_EQ(host::ParseDuration("45"), 45);
  EXPECT_EQ(host::ParseDuration("0"), 0);
  for (const char *bad : {"", "s", "-5", "+5", "1.5h", "5 m", "5M", "5y", "1ww", " 5",
                          "9223372036854775807w", "99999999999999999999"}) {
    EXPECT_FALSE(host::ParseDuration(bad).has_value()) << bad;
  }
  EXPECT_EQ(host::FormatDuration(604800), "1w");
  EXPECT_EQ(host::FormatDuration(5400), "90m");
  EXPECT_EQ(host::FormatDuration(61), "61s");

  host::HostConfig config;
  EXPECT_EQ(config.GetSeconds("OffenceMemory"), 30 * 86400);
  EXPECT_EQ(config.GetSeconds("ShieldSecondsMax"), 604800);
  config.Set("OffenceMemory", "12h", "test");
  EXPECT_EQ(config.GetSeconds("OffenceMemory"), 43200);
  EXPECT_THROW(config.Set("OffenceMemory", "12 hours", "test"), std::runtime_error);
  EXPECT_THROW(config.Set("ShieldSecondsMax", "0", "test"), std::runtime_error);
  EXPECT_THROW(config.Set("ShieldSecondsMax", "11000w", "test"), std::runtime_error);
}
