#include "common/Log.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/sim/FakeClock.h"
#include "support/TempDir.h"

namespace kavon {
namespace {

// Written by the caller, or behind it on the log's own thread (as the
// running program does): the same files, the same lines, in order.
TEST(Log, DailyFilesSwitchAtMidnightWithCrLf) {
  for (const bool behind : {false, true}) {
    test::TempDir dir;
    platform::FakeClock clock;
    clock.SetLocal(2024, 2, 28, 23, 59, 59, 900);
    Log log(clock);
    log.SetWriteBehind(behind);
    log.SetFolder(dir.File("nested/log/"));  // a missing nested folder is created
    log.WriteLog("録音開始 1 a.wav");
    log.WriteLog("err", 1);
    clock.AdvanceMs(100);  // 2024/02/29 00:00:00.000
    std::string many;
    for (int i = 0; i < 500; ++i) {
      log.WriteLog("line " + std::to_string(i));
      many += "2024/02/29 00:00:00 line " + std::to_string(i) + "\r\n";
    }
    log.SyncIfDue(true);  // as at exit: every line waiting is in its file first

    EXPECT_EQ(test::ReadWholeFile(dir.File("nested/log/kavon20240228.log")),
              "2024/02/28 23:59:59 録音開始 1 a.wav\r\n") << behind;
    EXPECT_EQ(test::ReadWholeFile(dir.File("nested/log/kavon20240228.err")), "2024/02/28 23:59:59 err\r\n") << behind;
    EXPECT_EQ(test::ReadWholeFile(dir.File("nested/log/kavon20240229.log")), many) << behind;
  }
}

// After a power cut a log may end in NUL bytes (its size reached the disk,
// its last block did not): at start it is cut back to its last whole line,
// and the new lines follow readable ones.
TEST(Log, ANulTailIsCutBackToTheLastWholeLineAtStart) {
  test::TempDir dir;
  platform::FakeClock clock;
  clock.SetLocal(2024, 5, 1, 12, 0, 0);
  const std::string good = "2024/05/01 11:00:00 録音開始 1 a.wav\r\n";
  struct Case {
    std::string bytes;
    std::string kept;
  };
  for (const Case& c : {Case{good + std::string(4096, '\0'), good}, Case{good + "2024/05/01 11:0" + std::string(70000, '\0'), good},
                        Case{std::string(10, '\0'), ""}, Case{good, good}, Case{good + std::string("\0x\r\n", 4), good + std::string("\0x\r\n", 4)}}) {
    test::WriteWholeFile(dir.File("kavon20240501.log"), c.bytes);
    EXPECT_EQ(CutNulTail(dir.File("kavon20240501.log")), static_cast<int64_t>(c.bytes.size() - c.kept.size()));
    EXPECT_EQ(test::ReadWholeFile(dir.File("kavon20240501.log")), c.kept);
  }
  test::WriteWholeFile(dir.File("kavon20240501.err"), good + std::string(512, '\0'));
  Log log(clock);
  log.SetFolder(dir.path());
  log.RepairTails();
  log.WriteLog("next", 1);
  EXPECT_EQ(test::ReadWholeFile(dir.File("kavon20240501.err")),
            good + "2024/05/01 12:00:00 ログの壊れた末尾を切り詰め " + log.DayFile(clock.NowLocal(), true) +
                " 512バイト\r\n2024/05/01 12:00:00 next\r\n");
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
