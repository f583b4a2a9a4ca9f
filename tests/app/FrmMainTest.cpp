// The application's own files while it runs: timer.txt edited by hand the
// ways editors and scripts write it, and what a crash left at start.
#include "app/FrmMain.h"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "app/AppFixture.h"
#include "support/WavCheck.h"

namespace kavon {
namespace {

using test::AppFixture;
using test::Count;

std::string Entry(int ch, int length, const std::string& start, const std::string& title) {
  return "\"" + std::to_string(ch) + "\",\"" + std::to_string(length) + "\",\"2024/03/01\",\"" + start + "\",\"0\",\"\",\"" +
         title + "\"\r\n";
}

// A writer that truncates timer.txt, writes half of it, stops for a while
// and writes the rest (nano's way, or a slow script): the list read before
// keeps firing meanwhile, a half-written line never becomes an entry, and
// a programme that only the new file has is still recorded in full title.
TEST(TimerFileByHand, ASlowWriterLosesNoProgramme) {
  AppFixture f("NumRec=1\n");
  const std::string path = f.dir.File("timer.txt");
  const std::string old = Entry(0, 20, "10:00:08", "Morning");
  test::WriteWholeFile(path, old);
  f.Load();
  f.Run(3);
  const std::string full = old + Entry(1, 20, "10:00:09", "Evening_News_Tonight");
  test::WriteWholeFile(path, "");  // truncated ...
  f.Run(0.5);
  test::WriteWholeFile(path, full.substr(0, full.size() - 12));  // ... half written, the title cut
  f.Run(8);                                                  // both starts pass meanwhile
  EXPECT_EQ(f.channel(0).RecFileName, f.dir.File("Morning 2024-03-01 10_00_08_1.wav"));
  EXPECT_EQ(f.channel(1).IsOpen, 0);
  test::WriteWholeFile(path, full);  // ... and the rest
  f.Run(3);
  ASSERT_EQ(f.channel(1).IsOpen, 1);
  EXPECT_EQ(f.channel(1).RecFileName, f.dir.File("Evening_News_Tonight 2024-03-01 10_00_09_2.wav"));
  f.Run(20);
  f.app->Unload();
  EXPECT_EQ(test::IndependentRead(f.dir.File("Morning 2024-03-01 10_00_08_1.wav")).frames, 20 * 44100);
  EXPECT_EQ(Count(f.LogText(), "録音開始（タイマー）1 "), 1);  // in both lists, fired once
  EXPECT_EQ(Count(f.LogText(), "録音再開（タイマー）2 "), 1);
  const std::string err = f.ErrText();
  EXPECT_EQ(Count(err, "空のファイル"), 0);  // the empty moment never settled
  EXPECT_EQ(Count(err, "最後の行が途中までです"), 1);
  EXPECT_EQ(Count(f.LogText(), "タイマー再読込 "), 1);
  int recordings = 0;  // and no third one, named after a title cut in half
  for (const auto& e : std::filesystem::directory_iterator(f.dir.path())) recordings += e.path().extension() == ".wav";
  EXPECT_EQ(recordings, 2);
}

TEST(TimerFileByHand, AnEmptyFileKeepsTheList) {
  AppFixture f("NumRec=0\n");
  test::WriteWholeFile(f.dir.File("timer.txt"), Entry(0, 20, "10:00:30", "Kept"));
  f.Load();
  test::WriteWholeFile(f.dir.File("timer.txt"), "");
  f.Run(5);
  EXPECT_EQ(f.state().timers.Count(), 1u);
  EXPECT_EQ(Count(f.ErrText(), "空のファイル（今のリストのまま）"), 1);
  f.Run(30);
  EXPECT_EQ(f.channel(0).RecFileName, f.dir.File("Kept 2024-03-01 10_00_30.wav"));
}

// What a crash left in the middle of a save: removed at start when its
// process is gone, left alone while it still runs.
TEST(TimerFileByHand, StaleSavesOfDeadProcessesAreRemovedAtStart) {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);  // a process that is gone
  AppFixture f("NumRec=0\n");
  const std::string dead = f.dir.File("timer.txt.bak.tmp" + std::to_string(child));
  const std::string deadList = f.dir.File("timer.txt.tmp" + std::to_string(child));
  const std::string live = f.dir.File("timer.txt.bak.tmp" + std::to_string(getppid()));
  for (const auto& p : {dead, deadList, live}) test::WriteWholeFile(p, "x");
  f.Load();
  EXPECT_FALSE(std::filesystem::exists(dead));
  EXPECT_FALSE(std::filesystem::exists(deadList));
  EXPECT_TRUE(std::filesystem::exists(live));
}

}  // namespace
}  // namespace kavon
