// Apache's %{format}t read back: each conversion at the bounds of what strftime writes for it,
// the rows that stand for several, and the formats refused where they go wrong.
#include "input/TimePattern.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "input/FormatError.h"

namespace {

using host::TimeParts;
using host::TimePattern;

// Reads `text` whole with `format`; false when it does not match or leaves something unread.
bool ReadAll(std::string_view format, std::string_view text, TimeParts &parts) {
  const TimePattern pattern = TimePattern::Compile(format, 0);
  size_t at = 0;
  parts = TimeParts{};
  return pattern.Read(text, at, parts) && at == text.size();
}

int Year(std::string_view format, std::string_view text) {
  TimeParts parts;
  return ReadAll(format, text, parts) ? parts.year : -2;
}

// Where Compile says the format goes wrong, and what it says; -1 when it compiles.
std::pair<long, std::string> Refusal(std::string_view format, size_t offset = 0) {
  try {
    TimePattern::Compile(format, offset);
  } catch (const host::FormatError &error) {
    return {static_cast<long>(error.position), error.what()};
  }
  return {-1, ""};
}

TEST(TimePattern, YearsAtTheirBounds) {
  // %y: 69-99 are the last century, 00-68 this one; always two digits.
  EXPECT_EQ(Year("%y", "68"), 2068);
  EXPECT_EQ(Year("%y", "69"), 1969);
  EXPECT_EQ(Year("%y", "00"), 2000);
  EXPECT_EQ(Year("%y", "99"), 1999);
  EXPECT_EQ(Year("%y", "7"), -2);
  // %Y: exactly four digits; a fifth is left for what follows.
  EXPECT_EQ(Year("%Y", "2026"), 2026);
  EXPECT_EQ(Year("%Y", "202"), -2);
  EXPECT_EQ(Year("%Y", "20261"), -2);
  EXPECT_EQ(Year("%Y1", "20261"), 2026);
}

TEST(TimePattern, NumbersNamesAndMarksAsStrftimeWritesThem) {
  TimeParts parts;
  // The C locale's rows: %c, %D, %T, %F, %R and %r.
  ASSERT_TRUE(ReadAll("%c", "Mon Dec  7 21:34:55 2026", parts));
  EXPECT_EQ(parts.year, 2026);
  EXPECT_EQ(parts.month, 12);
  EXPECT_EQ(parts.day, 7);
  EXPECT_EQ(parts.hour, 21);
  EXPECT_EQ(parts.second, 55);
  ASSERT_TRUE(ReadAll("%D %T", "12/07/26 21:34:55", parts));
  EXPECT_EQ(parts.year, 2026);
  EXPECT_EQ(parts.minute, 34);
  ASSERT_TRUE(ReadAll("%F %R", "2026-12-07 21:34", parts));
  EXPECT_EQ(parts.second, -1);  // not given
  ASSERT_TRUE(ReadAll("%r", "09:34:55 PM", parts));
  EXPECT_EQ(parts.hour12, 9);
  EXPECT_TRUE(parts.pm);
  EXPECT_EQ(parts.hour, -1);
  // %p in either case, and nothing else.
  for (const char *mark : {"am", "AM", "pM", "Pm"}) EXPECT_TRUE(ReadAll("%p", mark, parts)) << mark;
  for (const char *mark : {"PX", "P", "xm", ""}) EXPECT_FALSE(ReadAll("%p", mark, parts)) << mark;
  // %e pads with a space; %d and %m take one or two digits.
  ASSERT_TRUE(ReadAll("%e", " 5", parts));
  EXPECT_EQ(parts.day, 5);
  ASSERT_TRUE(ReadAll("%e", "15", parts));
  EXPECT_EQ(parts.day, 15);
  ASSERT_TRUE(ReadAll("%d.%m", "5.1", parts));
  EXPECT_EQ(parts.month, 1);
  EXPECT_FALSE(ReadAll("%m", "123", parts));
  // Month names short and long (%b %h %B); day names of three to nine letters, not read.
  ASSERT_TRUE(ReadAll("%B %h", "September Feb", parts));
  EXPECT_EQ(parts.month, 2);
  EXPECT_TRUE(ReadAll("%A", "Wednesday", parts));
  EXPECT_TRUE(ReadAll("%a", "Mon", parts));
  EXPECT_FALSE(ReadAll("%a", "Mo", parts));
  EXPECT_FALSE(ReadAll("%A", "Wednesdayy", parts));  // a tenth letter is left over
  // Week and day numbers are read past, one to four digits; %n %t %% are themselves.
  EXPECT_TRUE(ReadAll("%j %U %G", "365 53 2026", parts));
  EXPECT_TRUE(ReadAll("%n%t%%%H", "\n\t%23", parts));
  EXPECT_EQ(parts.hour, 23);
  // The E and O modifiers change nothing in the C locale.
  ASSERT_TRUE(ReadAll("%Od/%Ey", "09/26", parts));
  EXPECT_EQ(parts.day, 9);
  EXPECT_EQ(parts.year, 2026);
}

TEST(TimePattern, ZonesByOffsetByNameAndAnInstant) {
  TimeParts parts;
  ASSERT_TRUE(ReadAll("%z", "-0700", parts));
  EXPECT_EQ(parts.zone, TimeParts::Zone::kOffset);
  EXPECT_EQ(parts.zoneMinutes, -420);
  // Only UTC and GMT say which zone; any other name leaves the machine's own.
  for (const char *name : {"UTC", "GMT"}) {
    ASSERT_TRUE(ReadAll("%Z", name, parts));
    EXPECT_EQ(parts.zone, TimeParts::Zone::kUtc) << name;
  }
  for (const char *name : {"CET", "utc", "PDT"}) {
    ASSERT_TRUE(ReadAll("%Z", name, parts));
    EXPECT_EQ(parts.zone, TimeParts::Zone::kNone) << name;
  }
  EXPECT_FALSE(ReadAll("%Z", "", parts));
  EXPECT_FALSE(ReadAll("%Z", "+0100", parts));
  EXPECT_FALSE(ReadAll("%Z", "ABCDEFG", parts));  // six letters at most
  ASSERT_TRUE(ReadAll("%s", "1796644800", parts));
  EXPECT_TRUE(parts.hasEpoch);
  EXPECT_EQ(parts.epochMilliseconds, 1'796'644'800'000);
}

TEST(TimePattern, ReadsFromWhereItIsToldAndStopsWhereTheTimeEnds) {
  const TimePattern pattern = TimePattern::Compile("%d/%b/%Y:%H:%M:%S", 0);
  const std::string line = "[10/Oct/2000:13:55:36 -0700]";
  size_t at = 1;
  TimeParts parts;
  ASSERT_TRUE(pattern.Read(line, at, parts));
  EXPECT_EQ(at, 21u);
  EXPECT_EQ(parts.month, 10);
  EXPECT_EQ(parts.second, 36);
  // A text cut short anywhere before its last digit does not match; numbers take one digit or
  // two, so the cut before the last leaves a second of 3.
  for (size_t length = 0; length < 20; ++length) {
    at = 1;
    EXPECT_FALSE(pattern.Read(line.substr(0, length), at, parts)) << length;
  }
  at = 1;
  ASSERT_TRUE(pattern.Read(line.substr(0, 20), at, parts));
  EXPECT_EQ(parts.second, 3);
}

TEST(TimePattern, FormatsRefusedWhereTheyGoWrong) {
  EXPECT_EQ(Refusal("%d/%b/%Y"), (std::pair<long, std::string>{-1, ""}));
  // Positions count from the format's place in the whole format string.
  EXPECT_EQ(Refusal("%d/%Q", 10).first, 13);
  EXPECT_EQ(Refusal("%d/%Q", 10).second, "unknown time conversion '%Q'");
  EXPECT_EQ(Refusal("%Y %", 4),
            (std::pair<long, std::string>{7, "a time format cannot end in '%'"}));
  EXPECT_EQ(Refusal("%Y %E", 0).first, 3);  // a modifier with nothing after it
  EXPECT_EQ(Refusal("%Ek").first, 0);
  // Nothing but literals, however they are written, reads no time.
  for (const char *literal : {"[]", "%%", "%n%t"}) {
    EXPECT_EQ(Refusal(literal, 5),
              (std::pair<long, std::string>{5, "a time format without a % conversion"}))
        << literal;
  }
}

}  // namespace
