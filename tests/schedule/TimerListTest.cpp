#include "schedule/TimerList.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "common/Log.h"
#include "platform/sim/FakeClock.h"
#include "support/TempDir.h"

namespace kavon {
namespace {

using namespace std::string_literals;

struct Fixture {
  test::TempDir dir;
  platform::FakeClock clock;
  Log log{clock};
  TimerList list{log};
  Fixture() { log.SetFolder(dir.File("log")); }
  std::string ErrLog() { return test::ReadWholeFile(dir.File("log/kavon19700101.err")); }
};

TEST(TimerList, RoundTripKeepsCommasJapaneseAndTurnsQuotesFullWidth) {
  Fixture f;
  const std::string path = f.dir.File("timer.txt");
  test::WriteWholeFile(path,
                       "\"1\",\"3600\",\"\",\"06:00:00\",\"10\",\"\",\"News\"\r\n"
                       "\"0\",\"60\",\"2024/03/01\",\"25:30:00\",\"0\",\"深夜, 便\",\"A,B\"\r\n");
  ASSERT_TRUE(f.list.InputTimer(path));
  ASSERT_EQ(f.list.Count(), 2u);
  const TimerEntry& news = f.list.entries()[0];
  EXPECT_EQ(news.Ch, 1);
  EXPECT_EQ(news.Length, 3600);
  EXPECT_EQ(news.WeekMask, 10);
  EXPECT_EQ(news.FileTitle, "News");
  EXPECT_FALSE(news.IsOneTime());
  EXPECT_EQ(f.list.entries()[1].Ref, "深夜, 便");
  EXPECT_EQ(f.list.entries()[1].FileTitle, "A,B");
  const std::string before = test::ReadWholeFile(path);
  ASSERT_TRUE(f.list.OutputTimer(path));
  EXPECT_EQ(test::ReadWholeFile(path), before);  // written back unchanged

  f.list.entries()[0].Ref = "say \",\" here";
  ASSERT_TRUE(f.list.OutputTimer(path));
  ASSERT_TRUE(f.list.InputTimer(path));
  ASSERT_EQ(f.list.Count(), 2u);  // read again, not appended
  EXPECT_EQ(f.list.entries()[0].Ref, "say ”,” here");
  EXPECT_EQ(f.list.entries()[0].FileTitle, "News");
}

TEST(TimerList, LenientLinesAndWhatIsKept) {
  Fixture f;
  const std::string path = f.dir.File("timer.txt");
  test::WriteWholeFile(path,
                       "\"x\",\"abc\",\"\",\"5:00:00\",\"2\",\"\",\"T\",\"eighth\"\n"  // LF only, 8 fields
                       "\"1\",\"2\"\n"                                                 // skipped
                       "\"99999999999\",\"0\",\"\",\"bad\",\"1\",\"\",\"U\"\n");
  ASSERT_TRUE(f.list.InputTimer(path));
  ASSERT_EQ(f.list.Count(), 2u);
  const TimerEntry& a = f.list.entries()[0];
  EXPECT_EQ(a.Ch, 0);  // a letter reads as channel index 0
  EXPECT_EQ(a.Length, 0);
  EXPECT_EQ(a.StartTime, "05:00:00");
  EXPECT_EQ(a.FileTitle, "T");
  EXPECT_FALSE(a.IsFireable());  // length 0
  const TimerEntry& b = f.list.entries()[1];
  EXPECT_EQ(b.Ch, INT32_MAX);  // never aliases a real channel
  EXPECT_FALSE(b.IsFireable());
  EXPECT_NE(f.ErrLog().find("timer.txt 2\r\n"), std::string::npos);  // skipped line named once
}

TEST(TimerList, ShiftJisFilesAreRead) {
  Fixture f;
  const std::string utf8 = "\"2\",\"1800\",\"\",\"07:00:00\",\"62\",\"朝の番組\",\"ニュース\"\r\n";
  // The same line in CP932, as Japanese Windows saves it.
  test::WriteWholeFile(f.dir.File("timer.txt"),
                       "\"2\",\"1800\",\"\",\"07:00:00\",\"62\",\"\x92\xa9\x82\xcc\x94\xd4\x91\x67\","
                       "\"\x83\x6a\x83\x85\x81\x5b\x83\x58\"\r\n");
  ASSERT_TRUE(f.list.InputTimer(f.dir.File("timer.txt")));
  ASSERT_EQ(f.list.Count(), 1u);
  EXPECT_EQ(f.list.entries()[0].Ref, "朝の番組");
  EXPECT_EQ(f.list.entries()[0].FileTitle, "ニュース");
  ASSERT_TRUE(f.list.OutputTimer(f.dir.File("timer.txt")));
  EXPECT_EQ(test::ReadWholeFile(f.dir.File("timer.txt")), utf8);  // saved as UTF-8
}

TEST(TimerList, MissingEmptyAndUnreadableFiles) {
  Fixture f;
  f.list.entries().push_back(TimerEntry{"06:00:00", "", 2, 60, "", 0, "keep", 0});
  EXPECT_TRUE(f.list.InputTimer(f.dir.File("missing.txt")));
  EXPECT_EQ(f.list.Count(), 1u);  // unchanged
  test::WriteWholeFile(f.dir.File("huge.txt"), "");
  std::filesystem::resize_file(f.dir.File("huge.txt"), 65u << 20);
  EXPECT_FALSE(f.list.InputTimer(f.dir.File("huge.txt")));
  EXPECT_EQ(f.list.Count(), 1u);  // a failed read keeps the good list
  EXPECT_NE(f.ErrLog().find("huge.txt"), std::string::npos);

  // An empty file (an editor's truncate before its write) keeps the list too.
  test::WriteWholeFile(f.dir.File("empty.txt"), "");
  EXPECT_FALSE(f.list.InputTimer(f.dir.File("empty.txt")));
  EXPECT_EQ(f.list.Count(), 1u);
  EXPECT_NE(f.ErrLog().find("空のファイル"), std::string::npos);
  f.list.entries().clear();
  const std::string out = f.dir.File("out.txt");
  test::WriteWholeFile(out, "old");
  EXPECT_TRUE(f.list.OutputTimer(out));
  EXPECT_FALSE(std::filesystem::exists(out));  // an empty list leaves no file
}

TEST(TimerList, ByteOrderMarkBadLinesAndTheBackupOfAWrite) {
  Fixture f;
  const std::string path = f.dir.File("timer.txt");
  std::string text = "\xEF\xBB\xBF\"1\",\"60\",\"\",\"06:00:00\",\"2\",\"\",\"T\"\r\n";
  for (int i = 0; i < 100000; ++i) text += "garbage\r\n";
  test::WriteWholeFile(path, text);
  ASSERT_TRUE(f.list.InputTimer(path));
  ASSERT_EQ(f.list.Count(), 1u);
  EXPECT_EQ(f.list.entries()[0].Ch, 1);  // the mark is not part of the first field
  const std::string err = f.ErrLog();
  EXPECT_LE(std::count(err.begin(), err.end(), '\n'), 21);  // the first few lines and a count
  EXPECT_NE(err.find("計100000"), std::string::npos);
  // Writing keeps the old file, unreadable lines and all, as timer.txt.bak.
  f.list.MarkModified();
  ASSERT_TRUE(f.list.OutputTimer(path));
  EXPECT_FALSE(f.list.Modified());
  EXPECT_EQ(test::ReadWholeFile(path + ".bak"), text);
  // A file of which nothing can be read is no timer list: the list stays.
  test::WriteWholeFile(path, "\x7F" "ELF\0\x01\x02\n\xFF\xFE\n"s);
  EXPECT_FALSE(f.list.InputTimer(path));
  EXPECT_EQ(f.list.Count(), 1u);
}

#ifndef _WIN32  // fork and kill: POSIX only
// A crash at any moment of a save leaves the old or the new file whole.
TEST(TimerList, KillDuringOutputLeavesOldOrNewFile) {
  Fixture f;
  const std::string path = f.dir.File("timer.txt");
  for (int i = 0; i < 2000; ++i) {
    f.list.entries().push_back(TimerEntry{"06:00:00", "", 2, 60, std::string(200, 'r'), i % 8, "old", 0});
  }
  ASSERT_TRUE(f.list.OutputTimer(path));
  const std::string oldText = test::ReadWholeFile(path);
  for (auto& e : f.list.entries()) e.FileTitle = "new";
  std::string newText;
  for (const auto& e : f.list.entries()) newText += FormatTimerLine(e) + "\r\n";
  std::mt19937 rng(3);
  for (int round = 0; round < 12; ++round) {
    const pid_t pid = fork();
    if (pid == 0) {
      for (;;) f.list.OutputTimer(path);
    }
    usleep(200 + rng() % 3000);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    const std::string now = test::ReadWholeFile(path);
    EXPECT_TRUE(now == oldText || now == newText) << "round " << round << " size " << now.size();
  }
}

// Random bytes, NULs, long lines and unterminated quotes load without
// crashing and keep the list bounded.
#endif

TEST(TimerList, RandomAndMutatedFilesLoad) {
  Fixture f;
  const std::string path = f.dir.File("timer.txt");
  std::mt19937 rng(11);
  const std::string good = "\"1\",\"3600\",\"\",\"06:00:00\",\"10\",\"\",\"News\"\r\n";
  for (int round = 0; round < 200; ++round) {
    std::string text;
    for (int l = 0; l < 20; ++l) {
      std::string line = good;
      for (int k = static_cast<int>(rng() % 5); k > 0; --k) line[rng() % line.size()] = static_cast<char>(rng());
      text += line;
    }
    if (round % 50 == 0) text += std::string(1 << 20, ',') + "\"\r\n";  // 1 MB line
    if (round % 7 == 0) text += std::string("\"a\0b\",\"", 8);
    test::WriteWholeFile(path, text);
    // A file whose last line was cut (a mutated line end, a quote left
    // open) is one being written: it keeps the list instead.
    const bool taken = f.list.InputTimer(path);
    EXPECT_TRUE(taken || !EndsOnWholeRecord(text)) << "round " << round;
    EXPECT_LE(f.list.Count(), 21u);
  }
}

}  // namespace
}  // namespace kavon
