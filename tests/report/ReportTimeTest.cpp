#include "report/ReportTime.h"

#include <gtest/gtest.h>

#include "base/TimeStamp.h"
#include "support/LocalZone.h"

namespace {

using report::FormatDuration;
using report::FormatMoment;
using report::MomentFromDateText;
using report::MomentFromSerial;

int64_t Gap(const char *from, const char *to) {
  return *MomentFromSerial(to) - *MomentFromSerial(from);
}

TEST(ReportTime, SerialGapsAreRealTimeAcrossEveryBoundary) {
  const testing_support::LocalZone zone("UTC");
  EXPECT_EQ(Gap("261207080615000", "261207080624250"), 9250);
  EXPECT_EQ(Gap("261207235959900", "261208000000100"), 200);           // midnight
  EXPECT_EQ(Gap("260228235959000", "260301000001000"), 2000);          // end of February
  EXPECT_EQ(Gap("281231235959500", "290101000000000"), 500);           // new year
  EXPECT_EQ(Gap("240228120000000", "240301120000000"), 2 * 86400000);  // leap day
  EXPECT_EQ(FormatMoment(*MomentFromSerial("261207080615250")), "2026-12-07T08:06:15+00:00");
  // Written without leading zeros: the year 2004.
  EXPECT_EQ(FormatMoment(*MomentFromSerial("40305140709250")), "2004-03-05T14:07:09+00:00");
  EXPECT_EQ(FormatMoment(*MomentFromSerial("991231235959999")), "1999-12-31T23:59:59+00:00");
}

// Every time flowdeck writes is RFC 3339 with the offset this machine's zone has at that time,
// half hours and summer time included; earlier versions' UTC times are still read.
TEST(ReportTime, TimesCarryTheLocalOffsetOfTheirDate) {
  const int64_t winter = 1796837400;  // 2026-12-09T17:30:00Z
  const int64_t summer = 1783783800;  // 2026-07-11T15:30:00Z
  {
    const testing_support::LocalZone zone("Asia/Kolkata");
    EXPECT_EQ(host::FormatTimeStamp(winter), "2026-12-09T23:00:00+05:30");
    EXPECT_EQ(FormatMoment(*MomentFromSerial("261209230000000")), "2026-12-09T23:00:00+05:30");
    EXPECT_EQ(report::FormatTimeOfDay(*MomentFromSerial("261209230000000")), "23:00:00");
    EXPECT_EQ(report::MomentFromTimeStamp("2026-12-09T17:30:00Z"),
              MomentFromSerial("261209230000000"));
  }
  {
    const testing_support::LocalZone zone("America/New_York");
    EXPECT_EQ(host::FormatTimeStamp(winter), "2026-12-09T12:30:00-05:00");
    EXPECT_EQ(host::FormatTimeStamp(summer), "2026-07-11T11:30:00-04:00");
    EXPECT_EQ(FormatMoment(*MomentFromSerial("260711113000000")), "2026-07-11T11:30:00-04:00");
    EXPECT_EQ(report::MomentFromTimeStamp("2026-12-09T23:00:00+05:30"),
              MomentFromSerial("261209123000000"));
  }
  for (const char *text : {"2026-12-09T23:00:00+05:30", "2026-12-09T12:30:00-05:00",
                           "2026-12-09T17:30:00Z", "2026-12-09T17:30:00.250+00:00"}) {
    EXPECT_EQ(host::ReadTimeStamp(text), winter) << text;
  }
  for (const char *text :
       {"", "2026-12-09 17:30:00Z", "2026-12-09T17:30:00", "2026-13-09T17:30:00Z",
        "2026-02-30T17:30:00Z", "2026-12-09T17:30:00+5:30", "2026-12-09T17:30:00+24:00",
        "2026-12-09T17:30:00Zjunk", "12/09/2026 05:30:00 PM", "1796722200"}) {
    EXPECT_FALSE(host::ReadTimeStamp(text)) << text;
  }
}

TEST(ReportTime, SerialDigitsThatNameNoTimeGiveNothing) {
  for (const char *digits : {"", "261307080615000", "261200080615000", "260230080615000",
                             "261207240000000", "261207086000000", "261207080660000",
                             "2612070806150001", "26120708061500x", "-61207080615000"}) {
    EXPECT_FALSE(MomentFromSerial(digits)) << digits;
  }
}

TEST(ReportTime, DateTextsOfTheThreeFiles) {
  const report::Moment evening = *MomentFromSerial("261207213455000");
  EXPECT_EQ(MomentFromDateText("12/07/2026 21:34:55"), evening);     // an alert
  EXPECT_EQ(MomentFromDateText("12/07/2026 09:34:55 PM"), evening);  // a shield
  EXPECT_EQ(MomentFromDateText("12/7/2026 9:34:55 PM"), evening);    // a snapshot start
  EXPECT_EQ(MomentFromDateText("12/7/2026 12:00:05 AM"), *MomentFromSerial("261207000005000"));
  EXPECT_EQ(MomentFromDateText("12/7/2026 12:00:05 PM"), *MomentFromSerial("261207120005000"));
  EXPECT_EQ(MomentFromDateText("12/7/2026"), *MomentFromSerial("261207000000000"));
  for (const char *text : {"", "12/07/2026 21:34", "13/07/2026 01:00:00", "12/07/2026 13:00:00 PM",
                           "12/07/2026 00:00:00 AM", "12/07/26 01:00:00", "12/07/2026 01:00:00 XM",
                           "12-07-2026 01:00:00", "02/30/2026"}) {
    EXPECT_FALSE(MomentFromDateText(text)) << text;
  }
}

TEST(ReportTime, ElapsedTextsAndDurations) {
  EXPECT_EQ(report::MillisecondsFromElapsedText(""), 0);
  EXPECT_EQ(report::MillisecondsFromElapsedText("59m, 32s"), 3572000);
  EXPECT_EQ(report::MillisecondsFromElapsedText("1dy, 2h, 3m, 4s, 5ms"), 93784005);
  EXPECT_EQ(report::MillisecondsFromElapsedText("2mths, 1yr"), (60 + 365) * 86400000LL);
  EXPECT_FALSE(report::MillisecondsFromElapsedText("12 s"));
  EXPECT_FALSE(report::MillisecondsFromElapsedText("4s,5ms"));
  EXPECT_EQ(FormatDuration(0), "0s");
  EXPECT_EQ(FormatDuration(1250), "1.25s");
  EXPECT_EQ(FormatDuration(60000), "1m");
  EXPECT_EQ(FormatDuration(3572000), "59m 32s");
  EXPECT_EQ(FormatDuration(93784005), "1d 2h");
  EXPECT_EQ(FormatDuration(-4000), "-4s");
}

}  // namespace
