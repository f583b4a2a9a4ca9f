#include "app/RecordingControl.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "app/AppFixture.h"
#include "platform/Utf8Path.h"
#include "support/WavCheck.h"

namespace kavon {
namespace {

using test::AppFixture;
using test::Count;

TEST(Recording, ManualStartAndStopMakeTheNamedFileWithItsLength) {
  AppFixture f("NumRec=3\nRecPath_2=$HOME/ch2\n");
  f.Load();
  f.hid.lamps.clear();
  f.app->recording().RecButtonClick(1, 0);
  EXPECT_EQ(f.channel(1).RecFileName, f.dir.File("ch2/2024-03-01 10_00_00_2.wav"));  // folder made on demand
  EXPECT_TRUE(f.state().view[1].recordActive);
  EXPECT_EQ(f.hid.lamps, (std::vector<int>{2, 106}));
  f.Run(5);
  EXPECT_EQ(f.state().view[1].timeText, "00'05.0");
  f.app->recording().RecButtonClick(1, 1);
  EXPECT_EQ(f.hid.lamps, (std::vector<int>{2, 106, 102, 6}));
  const auto info = test::IndependentRead(f.dir.File("ch2/2024-03-01 10_00_00_2.wav"));
  ASSERT_TRUE(info.valid) << info.error;
  EXPECT_EQ(info.frames, 5 * 44100);  // nothing dropped at the stop
  EXPECT_EQ(f.state().view[1].timeText, "00'05.0");
  const std::string log = f.LogText();
  EXPECT_NE(log.find("録音開始 2 " + f.dir.File("ch2/2024-03-01 10_00_00_2.wav")), std::string::npos);
  EXPECT_NE(log.find("録音開始（手動）2\r\n"), std::string::npos);
  EXPECT_NE(log.find("録音停止（手動）2 " + f.dir.File("ch2/")), std::string::npos);
}

TEST(Recording, FileNamesOfOneChannelTheNightAndTitles) {
  AppFixture f("NumRec=0\n");
  f.clock.SetLocal(2024, 3, 2, 1, 30, 0);
  f.Load();
  RecordingControl& rec = f.app->recording();
  const std::string home = f.dir.path() + "/";
  EXPECT_EQ(rec.RecordingFileName(0, "", 1), home + "2024-03-01 25_30_00.wav");  // empty RecPath: program folder
  EXPECT_EQ(rec.RecordingFileName(0, home + "Talk 1.5", 0), home + "Talk 1.5 2024-03-01 25_30_00.wav");
  EXPECT_EQ(rec.RecordingFileName(0, home + "take.WAV", 1), home + "take.WAV");
  test::WriteWholeFile(home + "take.wav", "x");
  EXPECT_EQ(rec.RecordingFileName(0, home + "take.wav", 1), home + "take 2024-03-01 25_30_00.wav");
  EXPECT_EQ(SafeTitle("../../etc/x"), "．．／．．／etc／x");
  EXPECT_EQ(WithoutWavEnding("a.b.WAV"), "a.b");
  EXPECT_EQ(LampCode(4, 0), 13);
  EXPECT_EQ(LampCode(7, 1), 20);
  EXPECT_EQ(LampCode(8, 0), 0);
}

TEST(Recording, TitlesTooLongOrUnsafeForAFileNameStillRecord) {
  std::string kanji;
  for (int i = 0; i < 80; ++i) kanji += "番";  // 240 bytes before the stamp
  for (const std::string& title : {kanji, std::string("/\\:*?\"<>|"), std::string("..")}) {
    SCOPED_TRACE(title);
    AppFixture f("NumRec=1\n");
    f.Load();
    ASSERT_EQ(f.app->recording().StartRecording(1, 0, f.dir.path() + "/" + SafeTitle(title), 0, Origin::Timer), 1);
    const std::string file = f.channel(1).RecFileName;
    const std::string name = platform::U8String(platform::U8Path(file).filename());
    EXPECT_LE(name.size() + 6, 255u);  // room left for the series " (999)"
    EXPECT_TRUE(IsValidUtf8(name));
    EXPECT_TRUE(EndsWith(name, " 2024-03-01 10_00_00_2.wav"));
    EXPECT_TRUE(std::filesystem::exists(platform::U8Path(file)));
    EXPECT_EQ(Count(f.LogText(), "ファイル名を短縮 " + file), title == kanji ? 1 : 0);
  }
}

TEST(Recording, FailedStartsAreLoggedAndShownNeverBoxedForUnattendedStarts) {
  AppFixture f("NumRec=1\nSyncWrites=1\nRecPath_1=/proc/no/such/place/\n");
  f.writerThread = true;  // the new file's sync is queued when the device refuses
  f.Load();
  f.state().settings.RecPath[0] = f.dir.File("file-not-folder") + "/";
  test::WriteWholeFile(f.dir.File("file-not-folder"), "x");
  EXPECT_EQ(f.app->recording().StartRecording(0, 0, "", 1, Origin::Timer), 0);
  EXPECT_NE(f.ErrText().find("録音失敗 1 "), std::string::npos);
  EXPECT_FALSE(f.state().view[0].error.empty());
  EXPECT_TRUE(f.state().messages.empty());
  f.hid.lamps.clear();
  f.sim->FailNextOpen(platform::kWaveAllocated);
  {
    const WriteHold hold = f.state().capture.HoldWrites();  // as inside a tick
    f.app->recording().RecButtonClick(1, 0);  // the user's own click may show a box
  }
  EXPECT_EQ(f.channel(1).IsOpen, 0);
  ASSERT_EQ(f.state().messages.size(), 1u);
  EXPECT_TRUE(f.hid.lamps.empty());  // lamps unchanged
  EXPECT_EQ(Count(f.LogText(), "録音開始（手動）2"), 1);  // who asked is logged, also for a start that failed
  // The file made for it and removed again is no write error.
  f.Run(1);
  EXPECT_EQ(f.ErrText().find("WriteDiskBuffer"), std::string::npos) << f.ErrText();
}

TEST(Recording, MeterValuesOfABuffer) {
  AppFixture f("NumRec=0\n");
  f.Load();
  std::vector<int16_t> samples(static_cast<size_t>(f.state().capture.BufFrames()) * 2, 0);
  for (size_t i = 0; i < samples.size(); i += 2) samples[i] = -32768;  // full scale left, silent right
  f.channel(0).Levels = MeasureLevels(samples.data(), f.state().capture.BufFrames());
  f.app->recording().DrawChannelMeter(0, 0);
  const ChannelView& v = f.state().view[0];
  EXPECT_NEAR(v.peakDb[0], 20 * std::log10(32768.0 / 32767.0), 1e-9);  // no 16-bit overflow of |-32768|
  EXPECT_NEAR(v.meanDb[0], v.peakDb[0], 1e-9);                          // nor of the power sum
  EXPECT_EQ(v.peakDb[1], -110);
  EXPECT_EQ(v.meanDb[1], -60);
  f.app->recording().DrawChannelMeter(0, -1);
  EXPECT_EQ(v.peakDb[0], -110);
  EXPECT_EQ(v.meanDb[0], -60);
}

TEST(Recording, ATimerFileThatCouldNotBeReadIsNotOverwrittenAtExit) {
  AppFixture f("NumRec=0\n");
  test::WriteWholeFile(f.dir.File("timer.txt"), "\"0\",\"60\",\"\",\"06:00:00\",\"2\",\"\",\"T\"\r\n");
  std::filesystem::resize_file(f.dir.File("timer.txt"), 65u << 20);  // too large to be a timer list
  f.Load();
  EXPECT_EQ(f.state().timers.Count(), 0u);
  f.app->Unload();
  EXPECT_EQ(std::filesystem::file_size(f.dir.File("timer.txt")), 65u << 20);
  EXPECT_NE(f.ErrText().find("タイマー読込エラー"), std::string::npos);
}

TEST(Recording, ManualFileChoiceDeletesOnlyTheConfirmedFile) {
  AppFixture f("NumRec=1\n");
  f.Load();
  const std::string confirmed = f.dir.File("take.wav");
  test::WriteWholeFile(confirmed, "old");
  f.app->recording().ChooseManualFile(0, confirmed);
  EXPECT_FALSE(std::filesystem::exists(confirmed));
  const std::string other = f.dir.File("mix");
  test::WriteWholeFile(other + ".wav", "keep");
  f.app->recording().ChooseManualFile(0, other);  // confirmed "mix", not "mix.wav"
  EXPECT_TRUE(std::filesystem::exists(other + ".wav"));
  EXPECT_EQ(f.state().ManualFileName[0], other + ".wav");
  f.app->recording().RecButtonClick(0, 0);
  EXPECT_EQ(f.channel(0).RecFileName, other + " 2024-03-01 10_00_00_1.wav");
  f.app->recording().ChooseManualFile(1, f.channel(0).RecFileName);  // being written: kept
  EXPECT_TRUE(std::filesystem::exists(f.channel(0).RecFileName));
  f.app->recording().ChooseManualFile(0, "");
  EXPECT_EQ(f.state().ManualFileName[0], "");
}

TEST(Recording, LongRecordingsGoOnInNumberedFilesWithoutLosingAFrame) {
  test::TempDir src;
  test::RampWav(src.File("ramp.wav"), 400000);
  AppFixture f("NumRec=0\n", {{"Ramp", platform::SimSource::Wav(src.File("ramp.wav"))}});
  f.Load();
  f.state().capture.SetMaxFrames(100000);
  f.app->recording().RecButtonClick(0, 0);
  f.Run(6);
  f.app->recording().RecButtonClick(0, 1);
  const std::string base = f.dir.File("2024-03-01 10_00_00");
  const auto a = test::Samples(base + ".wav");
  const auto b = test::Samples(base + " (2).wav");
  const auto c = test::Samples(base + " (3).wav");
  EXPECT_EQ(a.size(), 200000u);
  EXPECT_EQ(b.size(), 200000u);
  test::ExpectRamp(a, 0);
  test::ExpectRamp(b, 100000);
  test::ExpectRamp(c, 200000);
  EXPECT_EQ(static_cast<int64_t>((a.size() + b.size() + c.size()) / 2), 6 * 44100);
  EXPECT_EQ(Count(f.LogText(), "録音継続 1 "), 2);
}

TEST(Recording, NoRecordingIsEverReplaced) {
  test::TempDir src;
  test::RampWav(src.File("ramp.wav"), 400000);
  AppFixture f("NumRec=0\n", {{"Ramp", platform::SimSource::Wav(src.File("ramp.wav"))}});
  f.Load();
  RecordingControl& rec = f.app->recording();
  const std::string first = f.dir.File("2024-03-01 10_00_00.wav");
  // Two starts within one second: the second takes the next free name.
  rec.RecButtonClick(0, 0);
  f.Run(0.5);
  rec.RecButtonClick(0, 1);
  const std::string before = test::ReadWholeFile(first);
  test::WriteWholeFile(f.dir.File("2024-03-01 10_00_00 (3).wav"), "someone else's");
  std::filesystem::permissions(f.dir.File("2024-03-01 10_00_00 (3).wav"), std::filesystem::perms::owner_read);
  rec.RecButtonClick(0, 0);
  EXPECT_EQ(f.channel(0).RecFileName, f.dir.File("2024-03-01 10_00_00 (2).wav"));
  EXPECT_EQ(Count(f.ErrText(), "同名のファイルがあるため別名で録音 1 " + f.channel(0).RecFileName), 1);
  // Its 4 GB continuation skips a name that is taken as well.
  f.state().capture.SetMaxFrames(22050);
  f.Run(0.6);
  EXPECT_EQ(f.channel(0).RecFileName, f.dir.File("2024-03-01 10_00_00 (4).wav"));
  rec.RecButtonClick(0, 1);
  EXPECT_EQ(test::ReadWholeFile(first), before);
  EXPECT_EQ(test::ReadWholeFile(f.dir.File("2024-03-01 10_00_00 (3).wav")), "someone else's");
  EXPECT_EQ(test::Samples(f.dir.File("2024-03-01 10_00_00 (2).wav")).size() / 2, 22050u);

  // A series used up to its end: the start fails, saying so, touching nothing.
  const std::string full = f.dir.File("full/2024-03-01 10_00_01.wav");
  for (int n = 1; n <= 999; ++n) test::WriteWholeFile(SeriesName(full, n), "n");
  f.state().settings.RecPath[0] = f.dir.File("full/");
  rec.RecButtonClick(0, 0);
  EXPECT_EQ(f.channel(0).IsOpen, 0);
  EXPECT_NE(f.ErrText().find("録音失敗 1 " + full), std::string::npos);
  EXPECT_EQ(test::ReadWholeFile(SeriesName(full, 999)), "n");

  // A chosen name at the length limit keeps its series within 255 bytes.
  const std::string longest = f.dir.File(std::string(251, 'x') + ".wav");
  EXPECT_EQ(SeriesName(longest, 999), f.dir.File(std::string(245, 'x') + " (999).wav"));
}

TEST(Recording, RetentionDeletesOldRecordingsButNeverOpenOnesOrAfterAClockJump) {
  AppFixture f("NumRec=1\nDeleteDate=1\nRecPath_1=$HOME/rec\nRecPath_2=$HOME/rec\n");
  f.clock.SetUtc(std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::system_clock::now()));
  const std::string folder = f.dir.File("rec");
  test::WriteWholeFile(folder + "/old.wav", "x");
  test::WriteWholeFile(folder + "/sub/old.wav", "x");
  test::WriteWholeFile(folder + "/fresh.wav", "x");
  test::AgeFile(folder + "/old.wav", 49);
  test::AgeFile(folder + "/sub/old.wav", 49);
  test::AgeFile(folder + "/fresh.wav", 2);
  f.Load();
  f.app->recording().RecButtonClick(0, 0);
  f.app->recording().RecButtonClick(1, 0);  // channel 2 writes into the same folder
  test::AgeFile(f.channel(1).RecFileName, 72);  // an open file never goes, however old it looks
  f.Run(1);
  f.app->recording().RecButtonClick(0, 1);
  f.Run(0.5);
  EXPECT_FALSE(std::filesystem::exists(folder + "/old.wav"));
  EXPECT_FALSE(std::filesystem::exists(folder + "/sub"));
  EXPECT_TRUE(std::filesystem::exists(folder + "/fresh.wav"));
  EXPECT_TRUE(std::filesystem::exists(f.channel(1).RecFileName));

}

TEST(Recording, AForwardClockStepNeverMakesRecentRecordingsOld) {
  AppFixture f("NumRec=0\nDeleteDate=1\nRecPath_1=$HOME/rec\n");
  f.clock.SetUtc(std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::system_clock::now()));
  const std::string folder = f.dir.File("rec");
  f.Load();
  std::vector<std::string> ours;
  for (const double gapHours : {11.0, 59.0 / 60, 1.0 / 60}) {  // recorded 12 h, 1 h and 1 min before the step
    f.app->recording().RecButtonClick(0, 0);
    f.Run(1);
    ours.push_back(f.channel(0).RecFileName);
    f.app->recording().RecButtonClick(0, 1);
    f.clock.Advance(gapHours * 3600);
  }
  f.Run(1);
  test::WriteWholeFile(folder + "/before.wav", "x");  // a recording of an earlier run
  f.app->recording().RecButtonClick(0, 0);
  // The clock is put three days forward: what we wrote now looks that old.
  f.clock.SetUtc(f.clock.NowUtc() + std::chrono::hours(72));
  f.Run(1);
  f.app->recording().RecButtonClick(0, 1);
  f.Run(2);
  EXPECT_TRUE(std::filesystem::exists(folder + "/before.wav"));  // nothing goes while the clock settles
  f.Run(kRetentionSettle + 5);
  f.app->recording().RecButtonClick(0, 0);
  f.Run(1);
  f.app->recording().RecButtonClick(0, 1);
  f.Run(1);
  for (const auto& file : ours) EXPECT_TRUE(std::filesystem::exists(file)) << file;
  EXPECT_FALSE(std::filesystem::exists(folder + "/before.wav"));
  EXPECT_EQ(Count(f.AllErrText(), "古い録音の削除を保留"), 1);
}

}  // namespace
}  // namespace kavon
