#include "Convert.h"

#include <gtest/gtest.h>

namespace {

constexpr common::Site kSite{"  Class: T  ", "T"};

int ErrorOf(auto &&call) {
  try {
    call();
  } catch (const common::KvError &error) {
    return error.Number();
  }
  return 0;
}

TEST(Convert, ReadsNumbersWithoutLocale) {
  EXPECT_EQ(common::TextToDouble(kSite, " 40305140709250 "), 40305140709250.0);
  EXPECT_EQ(common::TextToDouble(kSite, "-2.5e1"), -25.0);
  EXPECT_EQ(common::TextToDouble(kSite, "+.5"), 0.5);
  EXPECT_EQ(common::TextToDouble(kSite, "1e-400"), 0.0);
  for (const char *bad : {"", " ", "abc", "1,5", "1.2.3", "0x10", "inf", "nan", "1e", "--1"}) {
    EXPECT_EQ(ErrorOf([&] { common::TextToDouble(kSite, bad); }), 13) << bad;
  }
  EXPECT_EQ(ErrorOf([&] { common::TextToDouble(kSite, "1e400"); }), 6);
  EXPECT_EQ(ErrorOf([&] { common::TextToSingle(kSite, "1e39"); }), 6);
}

TEST(Convert, RoundsIntegersHalfToEvenWithinSixteenBits) {
  EXPECT_EQ(common::TextToInteger(kSite, "2.5"), 2);
  EXPECT_EQ(common::TextToInteger(kSite, "3.5"), 4);
  EXPECT_EQ(common::TextToInteger(kSite, "-2.5"), -2);
  EXPECT_EQ(common::TextToInteger(kSite, "32767.4"), 32767);
  EXPECT_EQ(common::TextToInteger(kSite, "-32768"), -32768);
  EXPECT_EQ(ErrorOf([&] { common::TextToInteger(kSite, "32767.5"); }), 6);
  EXPECT_EQ(ErrorOf([&] { common::TextToInteger(kSite, "40000"); }), 6);
  EXPECT_EQ(ErrorOf([&] { common::TextToInteger(kSite, "x"); }), 13);
  EXPECT_EQ(common::TextToByte(kSite, "255.4"), 255);
  EXPECT_EQ(ErrorOf([&] { common::TextToByte(kSite, "-1"); }), 6);
  EXPECT_EQ(ErrorOf([&] { common::TextToByte(kSite, "256"); }), 6);
}

TEST(Convert, ReadsBooleansAsWordsOrNumbers) {
  EXPECT_TRUE(common::TextToBoolean(kSite, "TRUE"));
  EXPECT_TRUE(common::TextToBoolean(kSite, "true"));
  EXPECT_FALSE(common::TextToBoolean(kSite, "False"));
  EXPECT_TRUE(common::TextToBoolean(kSite, "-1"));
  EXPECT_TRUE(common::TextToBoolean(kSite, "0.5"));
  EXPECT_FALSE(common::TextToBoolean(kSite, "0"));
  EXPECT_EQ(ErrorOf([&] { common::TextToBoolean(kSite, "yes"); }), 13);
  EXPECT_EQ(ErrorOf([&] { common::TextToBoolean(kSite, ""); }), 13);
}

TEST(Convert, WritesTheGeneralNumberForm) {
  EXPECT_EQ(common::GeneralNumber(static_cast<double>(0.9f), 15), "0.899999976158142");
  EXPECT_EQ(common::GeneralNumber(static_cast<double>(0.1f), 15), "0.100000001490116");
  EXPECT_EQ(common::GeneralNumber(static_cast<double>(0.7f), 7), "0.7");
  EXPECT_EQ(common::GeneralNumber(1, 15), "1");
  EXPECT_EQ(common::GeneralNumber(-0.25, 15), "-0.25");
  EXPECT_EQ(common::GeneralNumber(0.00001, 15), "1E-05");
  EXPECT_EQ(common::GeneralNumber(1e15, 15), "1E+15");
  EXPECT_EQ(common::GeneralNumber(123456789012345.0, 15), "123456789012345");
  EXPECT_EQ(common::GeneralNumber(-0.0, 15), "0");
}

TEST(Convert, ComparesAsciiLettersWithoutCase) {
  EXPECT_TRUE(common::EqualsIgnoreCase("/Scripts/RUN.exe", "/scripts/run.EXE"));
  EXPECT_FALSE(common::EqualsIgnoreCase("\xC4", "\xE4"));  // beyond ASCII bytes compare exactly
  EXPECT_EQ(common::UpperCase("ab\xE4z"), "AB\xE4Z");
  // The hash reads eight bytes at once: letters at every place and tail length hash alike in
  // either case, and the neighbours of the letters ('@' '[' '`' '{') and bytes beyond ASCII keep
  // their own hash.
  const std::string lower = "abcdefghijklmnopqrstuvwxyz-0123456789";
  for (size_t length = 0; length <= lower.size(); ++length) {
    const std::string text = lower.substr(0, length);
    EXPECT_EQ(common::HashIgnoreCase(text), common::HashIgnoreCase(common::UpperCase(text)));
  }
  EXPECT_NE(common::HashIgnoreCase("@[x"), common::HashIgnoreCase("`{x"));
  EXPECT_NE(common::HashIgnoreCase("k\xC4"), common::HashIgnoreCase("k\xE4"));
  EXPECT_NE(common::HashIgnoreCase("ab"), common::HashIgnoreCase("ab "));
}

}  // namespace
