// The writer thread: flushes leave the tick and reach the disk in order; a
// slow disk is a warning, an overflowing queue drops the newest audio; torn
// headers are repaired at start; shutdown waits a bounded time.
#include "audio/DiskWriter.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/AppFixture.h"
#include "audio/WaveMMIO.h"
#include "support/WavCheck.h"

namespace kavon {
namespace {

using test::AppFixture;
using test::Count;

// Eight channels of the same ramp, through the writer thread.
struct ThreadFixture : AppFixture {
  test::TempDir src;
  static std::vector<platform::SimDeviceSpec> Ramps(const std::string& wav) {
    test::RampWav(wav, 120 * 44100);
    std::vector<platform::SimDeviceSpec> d;
    for (int i = 0; i < 8; ++i) d.push_back({"Ramp " + std::to_string(i), platform::SimSource::Wav(wav)});
    return d;
  }
  explicit ThreadFixture(const std::string& ini, const std::string& wav) : AppFixture(ini, Ramps(wav)) {
    writerThread = true;
  }
};

TEST(DiskWriter, EveryFrameAndHeaderOfEightChannelsInOrder) {
  test::TempDir src;
  ThreadFixture f("NumRec=7\nSyncWrites=1\n"
                  "DevInID_1=Ramp 0\nDevInID_2=Ramp 1\nDevInID_3=Ramp 2\nDevInID_4=Ramp 3\n"
                  "DevInID_5=Ramp 4\nDevInID_6=Ramp 5\nDevInID_7=Ramp 6\nDevInID_8=Ramp 7\n",
                  src.File("ramp.wav"));
  test::WriteWholeFile(f.dir.File("timer.txt"),
                       "\"0\",\"5\",\"2024/03/01\",\"10:00:00\",\"0\",\"\",\"A\"\r\n"
                       "\"0\",\"5\",\"2024/03/01\",\"10:00:05\",\"0\",\"\",\"B\"\r\n");
  f.Load();
  for (int ch = 1; ch < 8; ++ch) f.app->recording().RecButtonClick(ch, 0);
  f.Run(21);
  std::vector<std::string> files;
  for (int ch = 1; ch < 8; ++ch) files.push_back(f.channel(ch).RecFileName);
  f.app->Unload();  // waits for the disk
  for (const auto& file : files) {
    SCOPED_TRACE(file);
    EXPECT_TRUE(test::SizesAgree(file));
    const auto samples = test::Samples(file);
    EXPECT_GE(samples.size(), static_cast<size_t>(2 * 20 * 44100));
    test::ExpectRamp(samples, 0);
  }
  // The hand-over goes through the same queue: the second file goes on
  // where the first ended.
  const auto a = test::Samples(f.dir.File("A 2024-03-01 10_00_00_1.wav"));
  const auto b = test::Samples(f.dir.File("B 2024-03-01 10_00_05_1.wav"));
  ASSERT_EQ(a.size(), static_cast<size_t>(2 * 5 * 44100));
  test::ExpectRamp(b, 5 * 44100);
}

TEST(DiskWriter, ASlowDiskWarnsAndAFullQueueDropsTheNewestAudio) {
  test::TempDir src;
  ThreadFixture f("NumRec=0\nSyncWrites=0\nDevInID_1=Ramp 0\n", src.File("ramp.wav"));
  f.Load();
  f.app->recording().RecButtonClick(0, 0);
  f.Run(1);
  f.app->state().capture.WaitForWrites(5);
  // From now on each flush takes the disk two seconds: a minute and a half
  // of audio (22 flushes) outgrows the queue of 16.
  auto* writer = f.app->writer();
  ASSERT_NE(writer, nullptr);
  writer->SetDelayMs(2000);
  f.Run(90);
  // The tick never waited for the disk: had it, no more than one flush
  // would ever wait, and the queue of 16 could not have overflowed (below).
  EXPECT_EQ(f.state().view[0].warning, "書き込み遅延");
  writer->SetDelayMs(0);
  f.Run(0.1);
  ASSERT_TRUE(f.app->state().capture.WaitForWrites(10));
  f.Run(0.1);
  const std::string err = f.ErrText();
  EXPECT_EQ(Count(err, "書き込み遅延 1 "), 1);
  EXPECT_EQ(Count(err, "書き込み遅延解消 1 "), 1);
  EXPECT_GE(Count(err, "書き込み待ちが一杯のため音声を破棄 1 "), 1);
  EXPECT_TRUE(f.state().view[0].warning.empty());
  const std::string file = f.channel(0).RecFileName;
  const int64_t written = f.channel(0).FramesWritten;
  f.app->recording().RecButtonClick(0, 1);
  f.app->state().capture.WaitForWrites(10);
  const auto info = test::IndependentRead(file);
  ASSERT_TRUE(info.valid) << info.error;
  EXPECT_GE(info.frames, written);  // what was kept is all there, the stop's last flush too
  EXPECT_LT(info.frames, static_cast<int64_t>(91 * 44100));  // the dropped flushes are not
}

TEST(DiskWriter, ShutdownWaitsABoundedTimeAndSaysWhatItCouldNotWrite) {
  test::TempDir src;
  ThreadFixture f("NumRec=0\nSyncWrites=0\nDevInID_1=Ramp 0\n", src.File("ramp.wav"));
  f.Load();
  f.app->SetShutdownWait(0.2);
  f.app->recording().RecButtonClick(0, 0);
  f.app->writer()->SetDelayMs(400);
  f.Run(12);
  f.app->Unload();
  EXPECT_NE(f.ErrText().find("書き込めなかった音声 1 "), std::string::npos);
  EXPECT_NE(f.LogText().find("****終了****"), std::string::npos);
}

// Another program has the file for a while (here: its name is a folder):
// the failed append is carried and goes in, in order, ahead of the next.
TEST(DiskWriter, AFailedAppendIsCarriedAndWrittenFirstLater) {
  test::TempDir dir;
  const std::string wav = dir.File("rec.wav");
  ASSERT_EQ(CreateWaveFile(44100, 16, 2, wav), platform::NewFile::Created);
  DiskWriter writer(44100, false);
  const auto audio = [](char first) {
    std::vector<char> bytes(4000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(first + i % 7);
    return bytes;
  };
  std::filesystem::rename(wav, wav + ".away");
  std::filesystem::create_directory(wav);
  ASSERT_TRUE(writer.Push({WriteJob::Kind::Append, 0, wav, audio('a'), 0}));
  ASSERT_TRUE(writer.Drain(5));
  std::vector<WriteOutcome> out = writer.Take();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].status, 0);
  EXPECT_EQ(out[0].bytesLost, 0) << "carried, not lost";
  EXPECT_EQ(writer.Pending(0), 1u);
  EXPECT_EQ(writer.Waiting()[0], 4000);

  std::filesystem::remove(wav);
  std::filesystem::rename(wav + ".away", wav);
  ASSERT_TRUE(writer.Push({WriteJob::Kind::Append, 0, wav, audio('A'), 0}));
  ASSERT_TRUE(writer.Drain(5));
  out = writer.Take();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].status, 1);
  EXPECT_EQ(writer.Pending(0), 0u);
  std::vector<char> both = audio('a');
  const std::vector<char> second = audio('A');
  both.insert(both.end(), second.begin(), second.end());
  const std::string file = test::ReadWholeFile(wav);
  ASSERT_EQ(file.size(), kPlainHeaderBytes + both.size());
  EXPECT_EQ(file.substr(kPlainHeaderBytes), std::string(both.begin(), both.end()));
  EXPECT_EQ(UpdateWaveHeader(wav), 1);
}

std::string Le32(uint32_t v) {
  std::string b;
  for (int i = 0; i < 4; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
  return b;
}

// Folders of recordings are shared with other programs: a start repairs
// what this kavon had open at a cut, as its journal names it, and nothing
// else, whatever the other files' headers say.
TEST(DiskWriter, AStartRepairsOnlyTheRecordingsOpenAtACut) {
  AppFixture f("NumRec=0\nRecPath_1=$HOME/rec\n");
  const std::string folder = f.dir.File("rec") + "/";
  const std::string journal = f.dir.File("kavon.journal");
  f.Load();
  f.app->recording().RecButtonClick(0, 0);
  f.Run(2);
  const std::string ours = f.channel(0).RecFileName;
  EXPECT_EQ(test::ReadWholeFile(journal), ours + "\n") << "entered before its audio";
  f.app->recording().RecButtonClick(0, 1);
  EXPECT_EQ(test::ReadWholeFile(journal), "") << "a clean end leaves the journal";
  f.app->Unload();
  f.app.reset();

  auto put = [&](const std::string& name, const std::string& bytes) {
    test::WriteWholeFile(folder + name, bytes);
    return folder + name;
  };
  const std::string audio(4000, '\x01');
  // Other programs' files: a valid WAV with metadata after its audio, a
  // reference recording still growing (its header behind), a 24-bit one.
  const std::string list = "LIST" + Le32(12) + "INFOISFT" + Le32(0);
  const std::vector<std::string> foreign = {
      put("edited.wav", WaveHeaderBytes(44100, 16, 2, 4000) + audio + list),
      put("reference.wav", WaveHeaderBytes(44100, 16, 2, 0) + audio + audio),
      put("deep.wav", WaveHeaderBytes(48000, 24, 2, 0) + std::string(6000, '\x02')),
      put("notes.wav", "RIFF....AVI not ours")};
  // What a cut left of files this kavon had open: the recording's header
  // block come back as zeros, headers that claim too much or too little,
  // an empty file, one cut inside its header, one someone put a chunk
  // behind, one since deleted.
  const std::string recorded = test::ReadWholeFile(ours);
  test::WriteWholeFile(ours, std::string(44, '\0') + recorded.substr(44));
  const std::string longer = put("longer.wav", WaveHeaderBytes(44100, 16, 2, 400000) + audio);
  const std::string shorter = put("shorter.wav", WaveHeaderBytes(44100, 16, 2, 0) + audio + "\x01\x01");
  const std::string empty = put("empty.wav", "");
  const std::string cut = put("cut.wav", WaveHeaderBytes(22050, 16, 2, 0).substr(0, 30));
  const std::string tagged = put("tagged.wav", WaveHeaderBytes(44100, 16, 2, 4000) + audio + list);
  std::vector<std::string> before;
  for (const auto& file : foreign) before.push_back(test::ReadWholeFile(file));
  const std::string taggedBefore = test::ReadWholeFile(tagged);
  test::WriteWholeFile(journal + ".tmp999999999", "cut short");  // a journal save a cut interrupted
  test::WriteWholeFile(journal, ours + "\n" + longer + "\n" + shorter + "\n" + empty + "\n" + cut + "\n" + tagged +
                                    "\n" + folder + "gone.wav\n");
  f.Load();

  // Compared whole, reported by name: the bytes would fill the screen.
  for (size_t i = 0; i < foreign.size(); ++i) EXPECT_TRUE(test::ReadWholeFile(foreign[i]) == before[i]) << foreign[i];
  EXPECT_TRUE(test::ReadWholeFile(tagged) == taggedBefore) << tagged;
  const auto info = test::IndependentRead(ours);
  ASSERT_TRUE(info.valid) << info.error;
  EXPECT_EQ(info.frames, static_cast<int64_t>(recorded.size() - 44) / 4);
  EXPECT_TRUE(test::ReadWholeFile(ours).substr(44) == recorded.substr(44)) << "the audio is all kept";
  EXPECT_EQ(test::IndependentRead(longer).frames, 1000);
  EXPECT_EQ(test::IndependentRead(shorter).frames, 1000);
  EXPECT_EQ(std::filesystem::file_size(shorter), 44u + 4002u);  // the audio is never shortened
  EXPECT_EQ(test::IndependentRead(empty).frames, 0);
  EXPECT_EQ(test::IndependentRead(cut).rate, 22050);  // the rate that survived is the file's own
  const std::string err = f.ErrText();
  EXPECT_EQ(Count(err, "ヘッダ修復 "), 5);
  EXPECT_NE(err.find("ヘッダ修復 " + longer + " 1000"), std::string::npos);
  EXPECT_NE(err.find("ヘッダ修復せず（kavonの形式ではありません） " + tagged), std::string::npos);
  EXPECT_NE(err.find("ヘッダ修復せず（ファイルがありません） " + folder + "gone.wav"), std::string::npos);
  EXPECT_EQ(test::ReadWholeFile(journal), "") << "each cut is repaired once";
  EXPECT_FALSE(std::filesystem::exists(journal + ".tmp999999999"));
}

}  // namespace
}  // namespace kavon
