#include "common/Helpers.h"

#include <gtest/gtest.h>

#include "platform/sim/FakeClock.h"

namespace kavon {
namespace {

TEST(ElapsedSec, AcrossMidnightAndJitter) {
  EXPECT_FLOAT_EQ(ElapsedBetween(86399.5, 0.5), 1.0);
  EXPECT_FLOAT_EQ(ElapsedBetween(100.2, 100.0), 0.0);  // jitter, not a day
  EXPECT_FLOAT_EQ(ElapsedBetween(100.0, 98.9), 86398.9f);
  EXPECT_FLOAT_EQ(ElapsedBetween(10.0, 12.5), 2.5);
  EXPECT_FLOAT_EQ(ElapsedBetween(10.0, 90000.0), 86389.999f);  // a reading past the day is clamped

  platform::FakeClock clock;
  clock.SetLocal(2024, 3, 1, 23, 59, 59, 500);
  const double start = clock.SecondsSinceMidnight();
  clock.Advance(1.0);
  EXPECT_NEAR(ElapsedSec(clock, start), 1.0, 1e-6);
}

TEST(WaitMS, ServesThePumpUntilTheTimeHasPassed) {
  platform::FakeClock clock;
  clock.SetLocal(2024, 3, 1, 23, 59, 59, 900);
  int pumps = 0;
  WaitMS(clock, 0, 0, [&] { ++pumps; });
  EXPECT_EQ(pumps, 1);
  pumps = 0;
  // The wait crosses midnight: 250 ms in 100 ms steps.
  WaitMS(clock, 250, 100, [&] { ++pumps; }, [&](int ms) { clock.AdvanceMs(ms); });
  EXPECT_EQ(pumps, 4);  // passes at 0, 100, 200 and 300 ms
}

TEST(SplitList, CsvAndPlainModes) {
  struct Case {
    std::string text;
    bool csv;
    std::vector<std::string> fields;
  };
  const Case cases[] = {
      {"a,\"b,c\",d", true, {"a", "b,c", "d"}},
      {"a,,b", true, {"a", "", "b"}},
      {"a,b,", true, {"a", "b"}},
      {"\"\",\"x\"", true, {"", "x"}},
      {"\"1\",\"3600\",\"\",\"06:00:00\",\"10\",\"\",\"News\"", true, {"1", "3600", "", "06:00:00", "10", "", "News"}},
      {"\"unterminated,field", true, {"unterminated,field"}},
      {"a,b,", false, {"a", "b", ""}},
      {"", true, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<std::string> out{"stale"};
    EXPECT_EQ(SplitList(out, c.text, ",", c.csv), static_cast<int>(c.fields.size()));
    EXPECT_EQ(out, c.fields);
  }
}

TEST(SmallHelpers, ConversionsAtTheirEdges) {
  EXPECT_DOUBLE_EQ(LinToDB(0), -110);
  EXPECT_DOUBLE_EQ(LinToDB(1), 0);
  EXPECT_DOUBLE_EQ(DBToLin(-110), 0);
  EXPECT_DOUBLE_EQ(DBToLin(0), 1);
  EXPECT_NEAR(DBToLin(6), 1.9953, 1e-4);
  EXPECT_EQ(UnsignedToLong(4294967295LL), -1);
  EXPECT_EQ(UnsignedToLong(2147483648LL), INT32_MIN);
  EXPECT_EQ(UnsignedToLong(4294967296LL), -1);
  EXPECT_EQ(UnsignedToLong(-5), 0);
  EXPECT_EQ(LongToUnsigned(-1), 4294967295LL);
  EXPECT_EQ(TrimNull(std::string("  ab\0cd", 7)), "ab");
  EXPECT_EQ(IsOdd(3.7), 1);
  EXPECT_EQ(IsOdd(-2), 0);
}

}  // namespace
}  // namespace kavon
