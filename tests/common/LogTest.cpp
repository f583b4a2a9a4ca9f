#include "common/Log.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/sim/FakeClock.h"
#include "support/TempDir.h"

namespace kavon {
namespace {

TEST(Log, DailyFilesSwitchAtMidnightWithCrLf) {
  test::TempDir dir;
  platform::FakeClock clock;
  clock.SetLocal(2024, 2, 28, 23, 59, 59, 900);
  Log log(clock);
  log.SetFolder(dir.File("nested/log/"));  // a missing nested folder is created
  log.WriteLog("録音開始 1 a.wav");
  log.WriteLog("err", 1);
  clock.AdvanceMs(100);  // 2024/02/29 00:00:00.000
  log.WriteLog("next day");

  EXPECT_EQ(test::ReadWholeFile(dir.File("nested/log/kavon20240228.log")),
            "2024/02/28 23:59:59 録音開始 1 a.wav\r\n");
  EXPECT_EQ(test::ReadWholeFile(dir.File("nested/log/kavon20240228.err")), "2024/02/28 23:59:59 err\r\n");
  EXPECT_EQ(test::ReadWholeFile(dir.File("nested/log/kavon20240229.log")), "2024/02/29 00:00:00 next day\r\n");
}

TEST(Log, SwitchedOffWritesNothingUnlessForced) {
  test::TempDir dir;
  platform::FakeClock clock;
  clock.SetLocal(2024, 5, 1, 12, 0, 0);
  Log log(clock);
  log.SetFolder(dir.path());
  log.SetEnabled(false);
  log.WriteLog("quiet");
  log.WriteLog("quiet error", 1);
  EXPECT_FALSE(std::filesystem::exists(dir.File("kavon20240501.log")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("kavon20240501.err")));
  log.WriteLog("forced", 0, 1);
  EXPECT_EQ(test::ReadWholeFile(dir.File("kavon20240501.log")), "2024/05/01 12:00:00 forced\r\n");
}

TEST(Log, ALogThatCannotBeWrittenIsToldOnceAndAgainWhenItRecovers) {
  test::TempDir dir;
  platform::FakeClock clock;
  Log log(clock);
  const std::string folder = dir.File("log");
  test::WriteWholeFile(folder, "a file where the folder should be");
  log.SetFolder(folder);
  testing::internal::CaptureStderr();
  for (int i = 0; i < 5; ++i) log.WriteLog("lost line", i % 2);
  std::filesystem::remove(folder);
  log.WriteLog("back");
  log.WriteLog("and on");
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(said,
            "kavon: cannot write the log in " + folder + " (Not a directory); going on without it\n"
            "kavon: the log in " + folder + " can be written again\n");
  EXPECT_EQ(test::ReadWholeFile(folder + "/kavon19700101.log"), "1970/01/01 00:00:00 back\r\n1970/01/01 00:00:00 and on\r\n");
}

}  // namespace
}  // namespace kavon
