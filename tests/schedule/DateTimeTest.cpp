#include "schedule/DateTime.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/sim/FakeClock.h"

namespace kavon {
namespace {

using namespace std::chrono;

TEST(DateTime, DayOfWeekNames) {
  const Date friday{year{2024}, March, day{1}};
  EXPECT_EQ(DayOfWeekName(friday, 0, 1), "金");
  EXPECT_EQ(DayOfWeekName(friday, 1, 1), "日");
  EXPECT_EQ(DayOfWeekName(friday, 1, 2), "月");
  EXPECT_EQ(DayOfWeekName(friday, 1, 7), "土");
  EXPECT_EQ(DayOfWeekName(friday, 8, 7), "土");  // n = 14
  EXPECT_EQ(DayOfWeekName(friday, 9, 7), "");    // n = 15
  EXPECT_EQ(WeekdayNumber(Date{year{2000}, February, day{29}}), 3);  // Tuesday
  EXPECT_EQ(WeekdayNumber(Date{year{1900}, January, day{1}}), 2);    // Monday
}

TEST(DateTime, NowTextAtTheDisplayDayBoundary) {
  platform::FakeClock clock;
  struct Case {
    int h, m, s, ms, dayStart, sepStyle, parts, yearStyle;
    const char* expected;
  };
  const Case cases[] = {
      {2, 30, 0, 0, 18000, 0, 3, 0, "2024/05/01 26:30:00"},
      {5, 0, 0, 0, 18000, 0, 3, 0, "2024/05/02 05:00:00"},
      {4, 59, 59, 999, 18000, 0, 7, 0, "2024/05/01 28:59:59.999"},
      {0, 0, 0, 0, 0, 0, 3, 0, "2024/05/02 00:00:00"},
      {13, 5, 9, 0, 0, 2, 3, 0, "2024-05-02 13_05_09"},
      {13, 5, 9, 0, 0, 1, 1, 0, "20240502"},
      {13, 5, 9, 0, 0, 0, 1, 2, "/05/02"},
      {13, 5, 9, 0, 0, 0, 1, 1, "24/05/02"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    clock.SetLocal(2024, 5, 2, c.h, c.m, c.s, c.ms);
    EXPECT_EQ(NowText(clock, c.dayStart, 0, c.sepStyle, c.parts, 0, c.yearStyle), c.expected);
  }
  // Day ends and leap days, with extra seconds carrying over midnight.
  clock.SetLocal(2024, 2, 28, 23, 59, 59, 500);
  EXPECT_EQ(NowText(clock, 0, 0, 0, 3, 0, 0, 1.0), "2024/02/29 00:00:00");
  clock.SetLocal(2023, 12, 31, 23, 59, 59);
  EXPECT_EQ(NowText(clock, 0, 0, 0, 3, 0, 0, 2.0), "2024/01/01 00:00:01");
  clock.SetLocal(2024, 3, 1, 0, 0, 0);
  EXPECT_EQ(NowText(clock, 18000), "2024/02/29 24:00:00");
  EXPECT_EQ(NowText(clock, 0, 0, 0, 3, 0, 0, -1.0), "2024/02/29 23:59:59");
  EXPECT_EQ(NowText(clock, 18000, 0, 0, 3, 3), "2024/03/01 05:00:00");
  EXPECT_EQ(NowText(clock, 0, 0, 0, 3, 2), "2024/03/01 23:59:59");
}

TEST(DateTime, DateTexts) {
  EXPECT_TRUE(IsDateText("2024/02/29"));
  EXPECT_TRUE(IsDateText("2024/2/9 13:00"));
  EXPECT_FALSE(IsDateText("2023/02/29"));
  EXPECT_FALSE(IsDateText("20240229"));  // numeric
  EXPECT_FALSE(IsDateText("2024/13/01"));
  EXPECT_FALSE(IsDateText("short"));
  EXPECT_EQ(FormatDateText("2024/2/9"), "2024/02/09");
  EXPECT_EQ(FormatDateText("20240229", 1), "2024-02-29");
  EXPECT_EQ(FormatDateText("2024/02/28", 2, 2), "20240301");
  EXPECT_EQ(FormatDateText("2100/12/31", 0, 1), "2101/01/01");
  EXPECT_EQ(FormatDateText("1900/03/01", 0, -1), "1900/02/28");  // 1900 is no leap year
  EXPECT_EQ(FormatDateText("junk"), "");
  EXPECT_EQ(FormatDateText("2024/01/01", 3), "");
  EXPECT_EQ(DigitsToDateText("240501"), "24/05/01");
  EXPECT_EQ(DigitsToDateText("20240501", 1), "2024年05月01日");
  EXPECT_EQ(DigitsToDateText("20240501133000", 2), "2024-05-01  13_30_00");
  EXPECT_EQ(DigitsToDateText("20240501133000", 0, 2), "13:30:00");
  EXPECT_EQ(DigitsToDateText("2024050"), "");
  EXPECT_EQ(DigitsToDateText("2024a501"), "");
}

TEST(DateTime, MsToTimeTextStyles) {
  const int64_t ms = 3723456;  // 1:02:03.456
  const char* expected[] = {"062'03.456", "62'03.4",    "01:02:03",    "1:02:03.4",
                            "62:03",      "3723.456",   "3723.45",     "62:03.456",
                            "01:02:03.4", "01:02:03.45", "01:02:03.456", "01時02分03秒"};
  for (int style = 0; style < 12; ++style) EXPECT_EQ(MsToTimeText(ms, style), expected[style]) << style;
  EXPECT_EQ(MsToTimeText(ms, 12), "");
  EXPECT_EQ(MsToTimeText(5400000, 2), "01:30:00");
  EXPECT_EQ(MsToTimeText(360000000, 2), "100:00:00");
  EXPECT_EQ(MsToTimeText(-1500, 4), "00:00");
  EXPECT_EQ(MsToTimeText(-1500, 4, true), "-00:01");
  EXPECT_EQ(MsToTimeText(int64_t{1} << 40, 2), "305419:53:47");  // no 32-bit wrap
}

TEST(DateTime, TimeTextToMsCases) {
  struct Case {
    const char* text;
    int64_t value;  // with the error value on
  };
  const Case cases[] = {
      {"90", 90000},          {"1:30", 5400000},    {"01:30:00", 5400000}, {"1:30.5", 90500},
      {"1'30", 90000},        {"2:00:00.25", 7200250}, {"abc", -1},        {"1:", -1},
      {"::", -1},             {"5", 5000},          {"-1:30", -5400000},  {"0:00:01.2345", 1234},
      {"1193:336:07.296", -1}, {"596:31:23.647", 2147483647}, {"596:31:23.648", -1},
      {"99999999999", -1},    {"x", 0},             {"1.5", 1500},        {"1:2:3:4", 3723400},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    bool ok = false;
    EXPECT_EQ(TimeTextToMs(c.text, true, &ok), c.value);
    if (c.value == -1) {
      EXPECT_FALSE(ok);
    }
  }
  EXPECT_EQ(TimeTextToMs("abc"), 0);
}

TEST(DateTime, ClockTextsOfTheDisplayDay) {
  EXPECT_TRUE(IsClockText("24:00:00", 0));
  EXPECT_FALSE(IsClockText("24:00:01", 0));
  EXPECT_FALSE(IsClockText("23:60:00", 0));
  EXPECT_TRUE(IsClockText("28:59:59", 18000));
  EXPECT_TRUE(IsClockText("29:00:00", 18000));
  EXPECT_FALSE(IsClockText("04:59:59", 18000));
  EXPECT_TRUE(IsClockText("05:00:00.5", 18000));
  EXPECT_FALSE(IsClockText("5:00:00", 0));
  EXPECT_FALSE(IsClockText("05-00-00", 0));
  EXPECT_TRUE(IsClockText("050000", 0, true));
}

TEST(DateTime, SecondsBetweenAndShift) {
  EXPECT_EQ(SecondsBetween("2024/04/30 23:00:00", "2024/05/01 01:00:00"), 7200);
  EXPECT_EQ(SecondsBetween("2024/02/28 25:30:00", "2024/02/29 01:30:00"), 0);  // same instant written twice
  EXPECT_EQ(SecondsBetween("2024/03/01 00:00:00", "2023/03/01 00:00:00"), -366 * 86400);
  EXPECT_EQ(SecondsBetween("1900/01/01 00:00:00", "2100/01/01 00:00:00"), 2147483647);
  EXPECT_EQ(SecondsBetween("2024/02/30 00:00:00", "2024/03/01 00:00:00"), 0);
  EXPECT_EQ(SecondsBetween("short", "2024/03/01 00:00:00"), 0);

  EXPECT_EQ(ShiftDateTimeText("2024/05/01 04:00:00", 0, 18000, true), "20240430280000");
  EXPECT_EQ(ShiftDateTimeText("2024/04/30 28:59:59", 1, 18000), "2024/05/01 05:00:00");
  EXPECT_EQ(ShiftDateTimeText("2024/02/28 23:00:00", 3600, 0), "2024/02/29 00:00:00");
  EXPECT_EQ(ShiftDateTimeText("2024/03/01 05:00:00", -1, 18000), "2024/02/29 28:59:59");
  EXPECT_EQ(ShiftDateTimeText("2024/03/01 00:00:00", 365LL * 86400 * 10, 0), "2034/02/27 00:00:00");
  EXPECT_EQ(ShiftDateTimeText("2024/03/01 0x:00:00", 0, 0), "");
}

// Random and mutated texts never crash, hang or overflow (run under the
// sanitizers).
TEST(DateTime, ParsersSurviveRandomTexts) {
  std::mt19937 rng(7);
  const std::string alphabet = "0123456789:.'\"-/ ax\xE3\x81\x82";
  const std::string seeds[] = {"01:30:00", "2024/05/01 26:30:00", "1:30.5", "99999:99:99.999"};
  for (int i = 0; i < 20000; ++i) {
    std::string s = seeds[static_cast<size_t>(i) % 4];
    const int edits = static_cast<int>(rng() % 6);
    for (int k = 0; k < edits; ++k) {
      const size_t pos = s.empty() ? 0 : rng() % s.size();
      s.insert(pos, 1, alphabet[rng() % alphabet.size()]);
      if (rng() % 2 && !s.empty()) s.erase(rng() % s.size(), 1);
    }
    const int64_t v = TimeTextToMs(s, true);
    EXPECT_LE(v, 2147483647);
    EXPECT_GE(v, -2147483647);
    IsClockText(s, 18000);
    SecondsBetween(s, "2024/05/01 00:00:00");
    ShiftDateTimeText(s, static_cast<int64_t>(rng()), 18000);
    FormatDateText(s);
  }
}

}  // namespace
}  // namespace kavon
