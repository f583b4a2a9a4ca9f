#include "app/MainTick.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "app/AppFixture.h"
#include "support/WavCheck.h"

namespace kavon {
namespace {

using namespace std::string_literals;

using test::AppFixture;
using test::Count;

void WriteTimer(AppFixture& f, const std::string& lines) { test::WriteWholeFile(f.dir.File("timer.txt"), lines); }

// The timer's start log lines in a log text.
int TimerStarts(const std::string& log) { return Count(log, "録音開始（タイマー）"); }

TEST(Tick, TimerCatchUpWindowAndResume) {
  struct Case {
    int lateSeconds;  // how far past the start the late tick comes
    int resume;       // ResumeTimer
    const char* line;  // what the log says, if anything starts
  };
  for (const Case c : {Case{0, 0, "録音開始（タイマー）"}, Case{3, 0, "録音開始（タイマー）"}, Case{5, 0, "録音開始（タイマー）"},
                       Case{6, 0, nullptr}, Case{6, 1, "録音再開（タイマー）1 "}, Case{12, 1, nullptr}}) {
    SCOPED_TRACE(std::to_string(c.lateSeconds) + " " + std::to_string(c.resume));
    AppFixture f("NumRec=0\nResumeTimer=" + std::to_string(c.resume) + "\n");
    WriteTimer(f, "\"0\",\"10\",\"2024/03/01\",\"10:00:10\",\"0\",\"\",\"News\"\r\n");
    f.Load();
    f.Run(9.5);  // to 10:00:09.5, the last display second handled is 10:00:09
    f.clock.AdvanceMs(500 + 1000 * c.lateSeconds);  // the tick is held up
    f.app->Tick();
    EXPECT_EQ(f.channel(0).IsOpen, c.line ? 1 : 0);
    f.Run(1);
    EXPECT_EQ(Count(f.LogText(), c.line ? c.line : "録音"), c.line ? 1 : 0);
    if (c.lateSeconds == 6 && c.resume == 1) {
      // Named by its real start, it ends on schedule: 4 s are left.
      EXPECT_EQ(f.channel(0).RecFileName, f.dir.File("News 2024-03-01 10_00_10.wav"));
      f.Run(3.5);
      EXPECT_EQ(f.channel(0).IsOpen, 0);
      EXPECT_EQ(test::IndependentRead(f.dir.File("News 2024-03-01 10_00_10.wav")).frames, 4 * 44100);
    }
  }
}

TEST(Tick, ARestartInsideAnEntryRecordsWhatIsLeft) {
  struct Case {
    int minutesIn;
    bool records;
  };
  for (const Case c : {Case{10, true}, Case{61, false}}) {
    SCOPED_TRACE(c.minutesIn);
    AppFixture f("NumRec=1\n");
    WriteTimer(f, "\"0\",\"3600\",\"\",\"10:00:00\",\"32\",\"\",\"Hour\"\r\n"  // Fridays
                  "\"1\",\"3600\",\"\",\"09:30:00\",\"32\",\"\",\"Busy\"\r\n"
                  "\"1\",\"3600\",\"\",\"09:40:00\",\"32\",\"\",\"Later\"\r\n");
    f.clock.SetLocal(2024, 3, 1, 10, c.minutesIn, 0);
    f.Load();
    f.Run(0.5);
    ASSERT_EQ(f.channel(0).IsOpen, c.records ? 1 : 0);
    if (!c.records) continue;
    EXPECT_EQ(f.channel(0).RecFileName, f.dir.File("Hour 2024-03-01 10_00_00_1.wav"));
    EXPECT_EQ(f.channel(0).RecLimitFrames, 50 * 60 * 44100LL);
    EXPECT_NE(f.LogText().find("録音再開（タイマー）1 " + f.dir.File("Hour") + " 残り3000秒 " + f.channel(0).RecFileName),
              std::string::npos);
    // Channel 2 resumes its first entry; the second finds it busy and says so.
    EXPECT_EQ(f.channel(1).RecFileName, f.dir.File("Busy 2024-03-01 09_30_00_2.wav"));
    EXPECT_EQ(Count(f.ErrText(), "録音再開できません（チャンネル使用中）2 " + f.dir.File("Later")), 1);
  }
}

TEST(Tick, AStartJustBeforeKavonStartsIsNeverLost) {
  struct Case {
    int secondsIn;  // kavon starts this long after the entry's start
    int resume;     // ResumeTimer
    bool records;
  };
  for (const Case c : {Case{1, 1, true}, Case{2, 1, true}, Case{5, 1, true}, Case{6, 1, true}, Case{3, 0, true},
                       Case{6, 0, false}}) {
    SCOPED_TRACE(std::to_string(c.secondsIn) + " " + std::to_string(c.resume));
    AppFixture f("NumRec=0\nResumeTimer=" + std::to_string(c.resume) + "\n");
    WriteTimer(f, "\"0\",\"20\",\"2024/03/01\",\"10:00:10\",\"0\",\"\",\"News\"\r\n");
    f.clock.SetLocal(2024, 3, 1, 10, 0, 10 + c.secondsIn, 300);
    f.Load();
    f.Run(0.1);
    ASSERT_EQ(f.channel(0).IsOpen, c.records ? 1 : 0);
    if (!c.records) continue;
    // Named by its real start, it ends on schedule.
    const std::string file = f.dir.File("News 2024-03-01 10_00_10.wav");
    EXPECT_EQ(f.channel(0).RecFileName, file);
    f.Run(20 - c.secondsIn + 0.5);
    EXPECT_EQ(f.channel(0).IsOpen, 0);
    EXPECT_EQ(test::IndependentRead(file).frames, (20 - c.secondsIn) * 44100);
  }
}

TEST(Tick, ARestartAfterACrashKeepsThePartRecordedBeforeIt) {
  AppFixture f("NumRec=1\n");
  WriteTimer(f, "\"0\",\"100\",\"2024/03/01\",\"10:00:01\",\"0\",\"\",\"Show\"\r\n"
                "\"1\",\"11\",\"2024/03/01\",\"10:00:30\",\"0\",\"\",\"Gone\"\r\n"
                "\"1\",\"20\",\"2024/03/01\",\"10:01:00\",\"0\",\"\",\"Late\"\r\n");
  f.Load();
  f.Run(9);
  const std::string first = f.dir.File("Show 2024-03-01 10_00_01_1.wav");
  ASSERT_EQ(f.channel(0).RecFileName, first);
  f.app.reset();  // killed: no shutdown, the file holds what was flushed
  f.sim->ProcessDied();
  const std::string kept = test::ReadWholeFile(first);
  ASSERT_GE(test::IndependentRead(first).frames, 4 * 44100);
  f.clock.Advance(60);  // down for a minute: Gone came and went, Late began
  f.Load();
  f.Run(0.1);
  const std::string second = f.dir.File("Show 2024-03-01 10_00_01_1 (2).wav");
  EXPECT_EQ(f.channel(0).RecFileName, second);
  EXPECT_EQ(f.channel(1).RecFileName, f.dir.File("Late 2024-03-01 10_01_00_2.wav"));
  f.app->Unload();
  EXPECT_EQ(test::ReadWholeFile(first), kept);  // never opened for writing again
  EXPECT_TRUE(test::IndependentRead(second).valid);
  EXPECT_NE(f.LogText().find("録音再開（タイマー）1 " + f.dir.File("Show") + " 残り32秒 " + second + "（前の部分 " + first + "）"),
            std::string::npos);
  // Only the programme that fell wholly into the downtime is named as lost.
  EXPECT_EQ(Count(f.ErrText(), "録音できなかった番組 "), 1);
  EXPECT_EQ(Count(f.ErrText(), "録音できなかった番組 2 2024/03/01 10:00:30 11秒 Gone\r\n"), 1);
  EXPECT_EQ(f.state().missedProgrammes, 1);
}

TEST(Tick, ProgrammesSwallowedByAStallOrAClockStepAreNamedAndNeverRefired) {
  AppFixture f("NumRec=0\n");
  WriteTimer(f, "\"0\",\"11\",\"2024/03/01\",\"10:00:01\",\"0\",\"\",\"Stalled\"\r\n"
                "\"0\",\"11\",\"\",\"10:01:00\",\"127\",\"\",\"Daily\"\r\n");
  f.Load();
  f.Run(0.5);
  f.clock.Advance(12);  // the process stood still through the whole of Stalled
  f.Run(0.5);
  EXPECT_EQ(f.channel(0).IsOpen, 0);
  EXPECT_EQ(Count(f.ErrText(), "録音できなかった番組 1 2024/03/01 10:00:01 11秒 Stalled"), 1);
  f.Run(60);  // Daily records at 10:01:00
  EXPECT_EQ(TimerStarts(f.LogText()), 1);
  // Three days forward: the two days in between are named; back again,
  // nothing fires a second time into the same name.
  const platform::SysMs back = f.clock.NowUtc();
  f.clock.SetUtc(back + std::chrono::hours(72));
  f.Run(1);
  EXPECT_EQ(Count(f.AllErrText(), "録音できなかった番組 1 "), 4);
  f.clock.SetUtc(back - std::chrono::seconds(20));
  f.Run(30);
  EXPECT_EQ(TimerStarts(f.LogText()), 1);
  EXPECT_EQ(f.state().missedProgrammes, 4);
  EXPECT_EQ(Count(f.AllErrText(), "制御戻らず"), 1);  // the stall; the clock steps are no stalls
}

TEST(Tick, OnlyAnEntryStartingAtTheEndOfTheLastJoinsIt) {
  AppFixture f("NumRec=0\n");
  WriteTimer(f, "\"0\",\"11\",\"2024/03/01\",\"10:00:05\",\"0\",\"\",\"A\"\r\n"
                "\"0\",\"11\",\"2024/03/01\",\"10:00:17\",\"0\",\"\",\"B\"\r\n");  // a gap of one second
  f.Load();
  f.Run(40);
  const std::string a = f.dir.File("A 2024-03-01 10_00_05.wav"), b = f.dir.File("B 2024-03-01 10_00_17.wav");
  EXPECT_EQ(test::IndependentRead(a).frames, 11 * 44100);
  EXPECT_EQ(test::IndependentRead(b).frames, 11 * 44100);
  const std::string log = f.LogText();
  EXPECT_NE(log.find("10:00:16 録音停止（終了）1 " + a), std::string::npos);
  EXPECT_NE(log.find("10:00:17 録音開始 1 " + b), std::string::npos);  // B begins at its own start
}

TEST(Tick, EntriesThatMustNotFire) {
  AppFixture f("NumRec=1\nTimerOn=0\n");
  WriteTimer(f,
             "\"0\",\"10\",\"2024/03/01\",\"10:00:00\",\"0\",\"\",\"A\"\r\n"    // before TimerOn
             "\"9\",\"10\",\"2024/03/01\",\"10:00:05\",\"0\",\"\",\"NoCh\"\r\n"  // channel 10
             "\"-1\",\"10\",\"2024/03/01\",\"10:00:05\",\"0\",\"\",\"Neg\"\r\n"
             "\"0\",\"0\",\"2024/03/01\",\"10:00:05\",\"0\",\"\",\"Len0\"\r\n"
             "\"0\",\"10\",\"2024/03/01\",\"10:0:05\",\"0\",\"\",\"BadTime\"\r\n"
             "\"0\",\"10\",\"2024/03/02\",\"10:00:05\",\"0\",\"\",\"Tomorrow\"\r\n"
             "\"0\",\"10\",\"\",\"10:00:05\",\"1\",\"\",\"SundaysOnly\"\r\n");
  f.clock.SetLocal(2024, 3, 1, 9, 59, 58);
  f.Load();
  f.Run(5);  // to 10:00:03
  f.app->tick().ToggleTimer();
  f.Run(30);
  EXPECT_EQ(TimerStarts(f.LogText()), 0);
  EXPECT_EQ(f.channel(0).IsOpen, 0);
  const std::string err = f.ErrText();
  EXPECT_EQ(Count(err, "タイマーのチャンネルがありません 10 NoCh"), 1);  // once per run
  EXPECT_EQ(Count(err, "タイマーのチャンネルがありません 0 Neg"), 1);
  EXPECT_EQ(Count(err, "タイマー設定が不正のため実行しません"), 2);
}

TEST(Tick, WeeklyEntryInTheNightAndTheLengthLimit) {
  AppFixture f("NumRec=0\n");
  // Friday 25:30:00 is 01:30 in the night to Saturday.
  WriteTimer(f, "\"0\",\"60\",\"\",\"25:30:00\",\"32\",\"\",\"Late Show\"\r\n");
  f.clock.SetLocal(2024, 3, 2, 1, 29, 58);
  f.Load();
  f.Run(3);
  ASSERT_EQ(f.channel(0).IsOpen, 1);
  const std::string file = f.dir.File("Late Show 2024-03-01 25_30_00.wav");
  EXPECT_EQ(f.channel(0).RecFileName, file);
  EXPECT_EQ(f.state().timers.entries()[0].Active, 1);
  f.Run(58.5);  // 59.5 s captured
  EXPECT_EQ(f.channel(0).IsOpen, 1);
  f.Run(0.6);  // the first tick with 60 s captured stops it
  EXPECT_EQ(f.channel(0).IsOpen, 0);
  EXPECT_EQ(f.state().timers.entries()[0].Active, 0);
  EXPECT_EQ(test::IndependentRead(file).frames, 60 * 44100);
  EXPECT_NE(f.LogText("20240302").find("録音停止（終了）1 " + file), std::string::npos);
  EXPECT_NE(f.LogText("20240302").find("録音開始（タイマー）1 " + f.dir.File("Late Show")), std::string::npos);
}

TEST(Tick, BackToBackEntriesHandTheDeviceOverWithoutAGap) {
  // 22050 Hz makes buffers of 5512 frames, which do not divide 3 s.
  for (const int rate : {44100, 22050}) {
    SCOPED_TRACE(rate);
    test::TempDir src;
    test::RampWav(src.File("ramp.wav"), 40 * 44100);
    AppFixture f("NumRec=0\nnFreq=" + std::to_string(rate) + "\n", {{"Ramp", platform::SimSource::Wav(src.File("ramp.wav"))}});
    std::string lines;
    for (int i = 0; i < 6; ++i) lines += "\"0\",\"3\",\"2024/03/01\",\"10:00:" + Pad(3 * i, 2) + "\",\"0\",\"\",\"P\"\r\n";
    WriteTimer(f, lines);
    f.clock.SetLocal(2024, 3, 1, 10, 0, 0, 30);
    f.Load();  // the entry due in the very second we start fires
    f.Run(22);
    int64_t next = 0;
    for (int i = 0; i < 6; ++i) {
      const std::string file = f.dir.File("P 2024-03-01 10_00_" + Pad(3 * i, 2) + ".wav");
      const auto samples = test::Samples(file);
      ASSERT_EQ(samples.size(), static_cast<size_t>(3 * rate * 2)) << file;
      test::ExpectRamp(samples, next);  // the frame after the last of the file before
      next += 3 * rate;
    }
    const std::string log = f.LogText();
    EXPECT_EQ(TimerStarts(log), 6);
    EXPECT_EQ(Count(log, "録音停止（終了）1 "), 6);
    EXPECT_EQ(f.sim->OpenHandles(), 0);
  }
}

TEST(Tick, HandOverKeepsLampsEntriesAndTheOverlapRule) {
  AppFixture f("NumRec=1\n");
  WriteTimer(f,
             "\"0\",\"5\",\"2024/03/01\",\"10:00:01\",\"0\",\"\",\"A\"\r\n"
             "\"0\",\"5\",\"2024/03/01\",\"10:00:06\",\"0\",\"\",\"B\"\r\n"
             "\"0\",\"5\",\"2024/03/01\",\"10:00:08\",\"0\",\"\",\"RunsOn\"\r\n"  // B still runs: no start
             "\"1\",\"30\",\"2024/03/01\",\"10:00:20\",\"0\",\"\",\"C\"\r\n");
  f.Load();
  f.Run(5.5);
  f.hid.lamps.clear();
  f.Run(1);  // A ends, B begins on the same device
  EXPECT_EQ(f.hid.lamps, (std::vector<int>{101, 5, 1, 105}));
  EXPECT_EQ(f.state().timers.entries()[0].Active, 0);
  EXPECT_EQ(f.state().timers.entries()[1].Active, 1);
  f.Run(10);
  EXPECT_EQ(TimerStarts(f.LogText()), 2);
  // A manual recording is never handed over.
  f.app->recording().RecButtonClick(1, 0);
  f.Run(10);
  EXPECT_EQ(TimerStarts(f.LogText()), 2);
  EXPECT_EQ(f.state().timers.entries()[3].Active, 0);
}

TEST(Tick, ALateTickAcrossTheDayBoundaryCatchesTheLastSecondsOfTheDayBefore) {
  AppFixture f("NumRec=0\n");
  WriteTimer(f, "\"0\",\"10\",\"2024/02/29\",\"28:59:59\",\"0\",\"\",\"Night\"\r\n");
  f.clock.SetLocal(2024, 3, 1, 4, 59, 58, 500);
  f.Load();
  f.app->Tick();
  f.clock.AdvanceMs(3000);  // held up until 05:00:01.5 of the next display day
  f.app->Tick();
  EXPECT_EQ(f.channel(0).IsOpen, 1);
  EXPECT_EQ(f.channel(0).RecFileName, f.dir.File("Night 2024-03-01 05_00_01.wav"));
}

TEST(Tick, TimerFileEditedByHandIsReloadedAndNeverRewrittenUnchanged) {
  AppFixture f("NumRec=1\n");
  const std::string path = f.dir.File("timer.txt");
  const std::string a = "\"0\",\"60\",\"2024/03/01\",\"10:00:01\",\"0\",\"\",\"A\"\n";  // LF, as an editor saves it
  WriteTimer(f, a);
  f.Load();
  f.Run(3);
  ASSERT_EQ(f.channel(0).IsOpen, 1);
  WriteTimer(f, a + "\"1\",\"5\",\"2024/03/01\",\"10:00:08\",\"0\",\"\",\"B\"\n");
  f.Run(6);
  EXPECT_NE(f.LogText().find("タイマー再読込 " + path + " 2件"), std::string::npos);
  EXPECT_EQ(f.channel(0).IsOpen, 1);  // A records on
  EXPECT_EQ(f.state().timers.entries()[0].Active, 1);
  EXPECT_EQ(f.channel(1).IsOpen, 1);  // B, added by hand, fired
  // Hostile replacements: each keeps the list and says so.
  test::WriteWholeFile(path, "\0\x01binary\n\xFF\n"s);
  f.Run(1.5);
  std::filesystem::remove(path);
  std::filesystem::create_directory(path);
  f.Run(1.5);
  EXPECT_EQ(f.state().timers.Count(), 2u);
  EXPECT_EQ(Count(f.ErrText(), "タイマー読込エラー " + path), 2);
  std::filesystem::remove(path);
  WriteTimer(f, a);
  f.Run(1.5);
  EXPECT_EQ(f.state().timers.Count(), 1u);
  f.app->Unload();
  EXPECT_EQ(test::ReadWholeFile(path), a);  // unchanged list: the file is left alone, byte for byte
  EXPECT_FALSE(std::filesystem::exists(path + ".bak"));
}

TEST(Tick, AfterAStallATimerRecordingEndsOnScheduleWithTheLossLogged) {
  AppFixture f("NumRec=0\n");
  WriteTimer(f, "\"0\",\"120\",\"2024/03/01\",\"10:00:01\",\"0\",\"\",\"Show\"\r\n");
  f.Load();
  f.Run(10);
  // A tick 20 s late (a starved process) loses nothing: it takes every
  // buffer that waited at once.
  f.clock.Advance(19.9);
  f.Run(0.1);  // to 10:00:30
  EXPECT_GE(f.channel(0).FramesCaptured, 28.75 * 44100);
  EXPECT_EQ(Count(f.ErrText(), "音声欠落"), 0);
  f.Run(10);
  f.clock.Advance(40);  // the process stood still (stopped, a paused machine)
  f.Run(40.5);          // to 10:02:00.5
  ASSERT_EQ(f.channel(0).IsOpen, 1);
  f.Run(1.5);
  EXPECT_EQ(f.channel(0).IsOpen, 0);  // at its scheduled end, not 10 s later
  const std::string file = f.dir.File("Show 2024-03-01 10_00_01.wav");
  const std::string err = f.ErrText();
  const std::string lost = "音声欠落 1 " + file + " ";
  const size_t at = err.find(lost);
  ASSERT_NE(at, std::string::npos);
  const double lostSeconds = std::stod(err.substr(at + lost.size()));
  EXPECT_NEAR(lostSeconds, 10, 0.3);  // 40 s less the 30 s of queued buffers
  // What was lost counts toward the length: the file holds the rest.
  EXPECT_EQ(test::IndependentRead(file).frames, std::llround((120 - lostSeconds) * 44100));
  EXPECT_NE(err.find("制御戻らず 40.100"), std::string::npos);
  EXPECT_EQ(Count(err, "時計の変更"), 0);  // a stall is no change of the clock
  f.clock.SetLocal(2024, 3, 1, 12, 0, 0);   // but this is
  f.Run(1);
  EXPECT_EQ(Count(f.ErrText(), "時計の変更"), 1);
}

TEST(Tick, HealthWarningsBeginAndEndOnce) {
  using platform::SimSegment;
  AppFixture f("NumRec=1\nDeadAirSec=3\nDiskWarnMin=0\nDevInID_1=Talk\nDevInID_2=Tone\n",
               {{"Talk", platform::SimSource::Script({{2, SimSegment::Kind::Tone, 440, -20}, {5, SimSegment::Kind::Silence},
                                                       {600, SimSegment::Kind::Tone, 440, -20}})},
                {"Tone", platform::SimSource::Tone(1000, -20)}});
  f.Load();
  f.app->recording().RecButtonClick(0, 0);
  f.app->recording().RecButtonClick(1, 0);
  f.Run(6);
  EXPECT_EQ(f.state().view[0].warning, "無音");  // five seconds of silence from second 2
  f.Run(6);
  f.sim->FreezeDevice(1, true);  // channel 2's device stops delivering
  f.Run(3);
  EXPECT_EQ(f.state().view[1].warning, "デバイス停止");
  f.sim->FreezeDevice(1, false);
  f.Run(1);
  f.state().settings.DiskWarnMin = 100000000;  // more than any disk holds
  f.Run(10);
  EXPECT_EQ(f.state().view[0].warning, "空き容量不足");
  f.state().settings.DiskWarnMin = 1;
  f.Run(10);
  const std::string err = f.ErrText();
  for (const char* line : {"無音警告 1 ", "無音警告解消 1 ", "録音デバイス停止 2 ", "録音デバイス再開 2 ", "空き容量不足 ", "空き容量回復 "}) {
    EXPECT_EQ(Count(err, line), 1) << line;
  }
  EXPECT_EQ(Count(err, "無音警告 2 "), 0);
  EXPECT_TRUE(f.state().view[0].warning.empty());
}

TEST(Tick, ABusyChannelDoesNotFireItsEntry) {
  AppFixture f("NumRec=1\n");
  WriteTimer(f, "\"1\",\"10\",\"2024/03/01\",\"10:00:02\",\"0\",\"\",\"Busy\"\r\n");
  f.Load();
  f.app->recording().RecButtonClick(1, 0);  // channel 2 is already recording
  f.Run(5);
  EXPECT_EQ(TimerStarts(f.LogText()), 0);
  EXPECT_EQ(f.state().timers.entries()[0].Active, 0);
}

// A channel that should be recording and is not (its device went away or
// would not open) tries again every 2 s while its time lasts: it goes on in
// the next file of its series with the gap logged, and a programme none of
// which could be recorded is named and counted as missed.
TEST(Tick, AChannelWithoutItsDeviceTriesAgainWhileItsTimeLasts) {
  struct Case {
    const char* name;
    bool timer;         // a 20 s timer entry at 10:00:02, else a manual start then
    double lostAt;      // seconds after the start the device goes (0: it is gone at the start)
    double backAfter;   // seconds it stays away
    const char* line;   // the log line that ends the wait
    int files;          // recordings left
    int missed;
  };
  const Case cases[] = {
      {"timer start, device back in 3 s", true, 0, 3, "録音再開（デバイス復帰）1 ", 1, 0},
      {"timer start, device never back", true, 0, 60, "録音できなかった番組 1 2024/03/01 10:00:02 20秒 News", 0, 1},
      {"timer, lost in the middle, back", true, 5, 4, "録音再開（デバイス復帰）1 ", 2, 0},
      {"timer, lost in the middle, never back", true, 5, 60, "録音終了（再開できず）1 ", 1, 0},
      {"manual, lost for 10 s", false, 5, 10, "録音再開（デバイス復帰）1 ", 2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AppFixture f("NumRec=0\n");
    if (c.timer) WriteTimer(f, "\"0\",\"20\",\"2024/03/01\",\"10:00:02\",\"0\",\"\",\"News\"\r\n");
    f.Load();
    f.Run(1.5);
    if (c.lostAt == 0) f.sim->LoseDevice(0);
    if (!c.timer) f.app->recording().RecButtonClick(0, 0, Origin::ControlCode);
    f.Run(c.lostAt + 0.5);
    if (c.lostAt > 0) f.sim->LoseDevice(0);
    f.Run(c.backAfter);
    EXPECT_TRUE(f.state().view[0].waitingToRecord || c.backAfter > 25);
    f.sim->LoseDevice(0, false);
    f.Run(30);
    const std::string err = f.ErrText();
    EXPECT_EQ(Count(err, c.line), 1) << err;
    EXPECT_EQ(f.state().missedProgrammes, c.missed);
    EXPECT_FALSE(f.state().view[0].waitingToRecord);
    if (!c.timer) f.app->recording().RecButtonClick(0, 1);
    int files = 0;
    int64_t frames = 0;
    for (const auto& e : std::filesystem::directory_iterator(f.dir.path())) {
      if (e.path().extension() != ".wav") continue;
      ++files;
      frames += test::IndependentRead(e.path().string()).frames;
    }
    EXPECT_EQ(files, c.files);
    if (c.timer && c.files > 0) {
      // The entry ends on schedule: its parts hold its length less the gap.
      EXPECT_NEAR(static_cast<double>(frames) / 44100, c.backAfter > 25 ? c.lostAt : 20 - c.backAfter, 2.5);
    }
    EXPECT_EQ(err.find("（前の部分 ") != std::string::npos, c.files == 2);
  }
}

// The next entry of a channel that still waits for its device for the
// last one takes the channel over; the last one is named, never dropped.
TEST(Tick, AnEntryThatTakesOverAWaitingChannelNamesTheOneBefore) {
  AppFixture f("NumRec=0\n");
  WriteTimer(f,
             "\"0\",\"20\",\"2024/03/01\",\"10:00:02\",\"0\",\"\",\"First\"\r\n"
             "\"0\",\"20\",\"2024/03/01\",\"10:00:10\",\"0\",\"\",\"Second\"\r\n");
  f.Load();
  f.sim->LoseDevice(0);
  f.Run(12);
  f.sim->LoseDevice(0, false);
  f.Run(20);
  const std::string err = f.ErrText();
  EXPECT_EQ(Count(err, "録音できなかった番組 1 2024/03/01 10:00:02 20秒 First"), 1) << err;
  EXPECT_EQ(Count(err, "録音再開（デバイス復帰）1 " + f.dir.File("Second")), 1) << err;
  EXPECT_EQ(f.state().missedProgrammes, 1);
}

TEST(Tick, CorrectionWindowAndHoldOff) {
  struct Case {
    int h, m, s;
    int corrections;
  };
  for (const Case c : {Case{10, 1, 59, 1}, Case{10, 2, 0, 0}, Case{9, 58, 1, 1}, Case{9, 57, 59, 0}}) {
    SCOPED_TRACE(std::to_string(c.h) + ":" + std::to_string(c.m) + ":" + std::to_string(c.s));
    AppFixture f("NumRec=0\nAdjustPin_2=20\nAMinute=0\nASecond=0\nNoAdjustSec=120\n");
    f.clock.SetLocal(2024, 3, 1, c.h, c.m, c.s, 500);
    f.Load();
    f.hid.codes = {20};
    f.app->Tick();
    EXPECT_EQ(f.clock.SetCount(), c.corrections);
  }
  AppFixture f("NumRec=0\nAdjustPin_1=20\nAdjustPin_2=21\n");
  f.clock.SetLocal(2024, 3, 1, 10, 0, 1);
  f.Load();
  f.serial.codes = {20};
  f.app->Tick();
  f.Run(3);
  f.hid.codes = {21};  // a second signal within 10 s is the same one
  f.Run(1);
  EXPECT_EQ(f.clock.SetCount(), 1);
  EXPECT_NE(f.LogText().find("時刻修正終了 "), std::string::npos);
  f.clock.FailSetting(1);
  f.Run(10);
  f.hid.codes = {21};
  f.Run(1);
  EXPECT_NE(f.LogText().find("時刻修正エラー"), std::string::npos);
}

TEST(Tick, ControlCodesStartAndStopTheirChannels) {
  AppFixture six("NumRec=5\n");
  six.Load();
  six.hid.codes = {10};  // start channel 6
  six.Run(1);
  EXPECT_EQ(six.channel(5).IsOpen, 1);
  six.serial.codes = {14};  // stop channel 6
  six.Run(1);
  EXPECT_EQ(six.channel(5).IsOpen, 0);
  six.hid.codes = {3, 99, 0};
  six.Run(1);
  EXPECT_EQ(six.channel(2).IsOpen, 1);

  AppFixture four("NumRec=3\n");
  four.Load();
  four.hid.codes = {10};
  four.Run(1);
  EXPECT_EQ(four.channel(5).IsOpen, 0);  // no channel 6
  // Stopping channel 5 of eight sends 113 then 17.
  AppFixture eight("NumRec=7\n");
  eight.Load();
  eight.hid.codes = {9};
  eight.Run(1);
  eight.hid.lamps.clear();
  eight.hid.codes = {13};
  eight.Run(1);
  EXPECT_EQ(eight.hid.lamps, (std::vector<int>{113, 17}));
}

TEST(Tick, ShutdownFlushesEveryChannelAndSwitchesAllLampsOff) {
  AppFixture f("NumRec=5\n");
  f.Load();
  EXPECT_EQ(f.serial.lamps, (std::vector<int>{101, 102, 103, 104, 113, 114}));  // recording lamps off at start
  for (int ch = 0; ch <= 5; ++ch) f.app->recording().RecButtonClick(ch, 0);
  f.Run(2.05);
  f.serial.lamps.clear();
  f.app->Unload();
  f.app->Tick();  // no tick after the unload began
  for (int ch = 0; ch <= 5; ++ch) {
    EXPECT_EQ(f.channel(ch).IsOpen, 0);
    EXPECT_EQ(test::IndependentRead(f.channel(ch).RecFileName).frames, static_cast<int64_t>(2.1 * 44100 + 0.5));
  }
  const std::vector<int> tail(f.serial.lamps.end() - 12, f.serial.lamps.end());
  EXPECT_EQ(tail, (std::vector<int>{101, 102, 103, 104, 105, 106, 107, 108, 113, 117, 114, 118}));
  EXPECT_EQ(Count(f.LogText(), "録音停止（終了時）"), 6);
  EXPECT_NE(f.LogText().find("****終了****"), std::string::npos);
}

TEST(Tick, WatchdogAndDisplayClock) {
  AppFixture f("NumRec=0\n");
  f.clock.SetLocal(2024, 3, 1, 4, 59, 58);
  f.Load();
  EXPECT_EQ(f.state().displayDate, "2024/02/29");
  EXPECT_EQ(f.state().displayTime, "28:59:58");
  f.Run(2);
  EXPECT_EQ(f.state().displayDate, "2024/03/01");
  EXPECT_EQ(f.state().displayTime, "05:00:00");
  f.clock.AdvanceMs(6250);
  f.app->Tick();
  EXPECT_NE(f.ErrText().find("制御戻らず 6.250"), std::string::npos);
}

// Daylight saving in a zone that has it.
platform::SysMs Utc(int y, unsigned mo, unsigned d, int h, int mi, int s) {
  using namespace std::chrono;
  return platform::SysMs(sys_days{year{y} / mo / d}) + hours(h) + minutes(mi) + seconds(s);
}

TEST(TickDst, SpringForwardFiresSkippedStartsAtTheFirstSecondAfter) {
  AppFixture f("NumRec=0\nHourAdjust=0\n");
  // 02:30 does not exist on 31 March 2024 in Berlin.
  WriteTimer(f, "\"0\",\"5\",\"2024/03/31\",\"02:30:00\",\"0\",\"\",\"Skipped\"\r\n");
  f.clock.UseZone(platform::FakeClock::CentralEuropean);
  f.clock.SetUtc(Utc(2024, 3, 31, 0, 59, 50));  // 01:59:50 CET
  f.Load();
  f.Run(9.5);
  EXPECT_EQ(f.channel(0).IsOpen, 0);
  f.Run(1);  // 03:00:00 CEST
  EXPECT_EQ(f.channel(0).IsOpen, 1);
  EXPECT_EQ(f.channel(0).RecFileName, f.dir.File("Skipped 2024-03-31 03_00_00.wav"));
  EXPECT_NE(f.ErrText("20240331").find("時刻帯変更（進み）"), std::string::npos);
  EXPECT_EQ(Count(f.ErrText("20240331"), "制御戻らず"), 0);  // the hour skipped is no stall
  EXPECT_EQ(Count(f.ErrText("20240331"), "録音できなかった番組"), 0);
}

TEST(TickDst, FallBackFiresARepeatedHourOnce) {
  AppFixture f("NumRec=0\nHourAdjust=0\n");
  WriteTimer(f, "\"0\",\"5\",\"\",\"02:30:00\",\"1\",\"\",\"Twice\"\r\n");  // Sundays
  f.clock.UseZone(platform::FakeClock::CentralEuropean);
  f.clock.SetUtc(Utc(2024, 10, 27, 0, 29, 50));  // 02:29:50 CEST
  f.Load();
  f.Run(3620);  // through 02:30 CEST and again 02:30 CET
  EXPECT_EQ(TimerStarts(f.LogText("20241027")), 1);
  EXPECT_NE(f.ErrText("20241027").find("時刻帯変更（戻り）"), std::string::npos);
}

}  // namespace
}  // namespace kavon
