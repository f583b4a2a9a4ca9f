// The ALSA back end on a machine without sound hardware: ALSA's own file
// plugin over a null slave stands in for a sound card, reading a known raw
// file as its input.
#include "platform/linux/AlsaWaveIn.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "audio/WaveDevices.h"
#include "audio/WaveFCT.h"
#include "audio/WaveMMIO.h"
#include "common/Log.h"
#include "platform/linux/LinuxClock.h"
#include "support/TempDir.h"
#include "support/WavCheck.h"

namespace kavon {
namespace {

constexpr int64_t kRawFrames = 3 * 44100;

class AlsaTest : public ::testing::Test {
 protected:
  // One configuration for the whole run: ALSA reads it once per process.
  static void SetUpTestSuite() {
    dir_ = new test::TempDir();
    std::string raw;
    for (int64_t n = 0; n < kRawFrames; ++n) {
      const auto v = static_cast<int16_t>(n % 30000);
      for (const int16_t s : {v, static_cast<int16_t>(-v)}) {
        raw += static_cast<char>(s & 0xFF);
        raw += static_cast<char>((s >> 8) & 0xFF);
      }
    }
    test::WriteWholeFile(dir_->File("ramp.raw"), raw);
    test::WriteWholeFile(dir_->File("asound.conf"),
                         "pcm.kavon_null { type null }\n"
                         "pcm.kavon_file {\n"
                         "  type file\n  slave.pcm \"kavon_null\"\n  file \"/dev/null\"\n"
                         "  infile \"" + dir_->File("ramp.raw") + "\"\n  format \"raw\"\n"
                         "  hint { show on description \"Kavon Test Card, Ramp Input\" }\n"
                         "}\n"
                         // One channel only: opening it for stereo must fail.
                         "pcm.kavon_mono {\n"
                         "  type multi\n  slaves.a.pcm \"kavon_null\"\n  slaves.a.channels 1\n"
                         "  bindings.0.slave a\n  bindings.0.channel 0\n"
                         "  hint { show on description \"Kavon Mono Input\" }\n"
                         "}\n");
    setenv("ALSA_CONFIG_PATH", dir_->File("asound.conf").c_str(), 1);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  // Services the channel until it has written `frames` or the device ends
  // (real time: this is a real driver thread).
  static void RecordUntil(WaveFCT& engine, int ch, int64_t frames) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (engine.Channel(ch).FramesWritten < frames && std::chrono::steady_clock::now() < until) {
      const int r = engine.ServiceCapture(ch);
      if (r == kMustStop) return;
      if (r == kNotYet) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

  // Channel 0 of engine set up for device, recording into file (created
  // with its header) when one is named.
  static ChannelCapture& SetUpChannel(WaveFCT& engine, const std::string& device, const std::string& file = "") {
    engine.SetFormat({44100, -50, -60, 3000});
    ChannelCapture& c = engine.Channel(0);
    c.DevInName = device;
    if (!file.empty()) {
      c.RecFileName = dir_->File(file);
      EXPECT_EQ(CreateWaveFile(44100, 16, 2, c.RecFileName), platform::NewFile::Created);
    }
    return c;
  }

  // The test card recording into file, its reads failing with `error`
  // once `afterFrames` frames were read.
  struct InjectedRecording {
    platform::LinuxClock clock;
    Log log{clock};
    platform::AlsaWaveIn alsa;
    WaveFCT engine{alsa, log};
    ChannelCapture* channel = nullptr;
    InjectedRecording(int error, uint64_t afterFrames, const std::string& file) {
      log.SetFolder(dir_->File("log-" + file));
      alsa.InjectReadError(error, afterFrames);
      channel = &SetUpChannel(engine, "Kavon Test Card, Ramp Input", file);
    }
  };

  static test::TempDir* dir_;
};

test::TempDir* AlsaTest::dir_ = nullptr;

TEST_F(AlsaTest, ListsTheCapturePcmsWithReadableNames) {
  platform::AlsaWaveIn alsa;
  const int count = alsa.DeviceCount();
  ASSERT_GE(count, 2);
  std::vector<std::string> names, labels;
  for (int id = 0; id < count; ++id) {
    names.push_back(alsa.DeviceName(id));
    labels.push_back(alsa.DeviceLabel(id));
  }
  EXPECT_EQ(names[0], "default");
  // Stored by its PCM's name, shown by its description.
  const auto card = std::find(names.begin(), names.end(), "kavon_file");
  ASSERT_NE(card, names.end());
  EXPECT_EQ(labels[static_cast<size_t>(card - names.begin())], "Kavon Test Card, Ramp Input");
  EXPECT_EQ(std::find(names.begin(), names.end(), "kavon_null"), names.end());  // no hint, not offered
  // A label stored by an older kavon finds the same device as its name.
  EXPECT_EQ(GetDeviceID(alsa, "kavon test card, ramp input"), card - names.begin());
  EXPECT_EQ(GetDeviceID(alsa, "kavon_file"), card - names.begin());
}

TEST_F(AlsaTest, RecordsTheKnownAudioFrameForFrame) {
  platform::LinuxClock clock;
  Log log(clock);
  log.SetFolder(dir_->File("log"));
  platform::AlsaWaveIn alsa;
  WaveFCT engine(alsa, log);
  ChannelCapture& c = SetUpChannel(engine, "Kavon Test Card, Ramp Input", "alsa.wav");
  ASSERT_EQ(engine.OpenCapture(0), 1) << alsa.ErrorText(c.LastError);
  RecordUntil(engine, 0, kRawFrames);
  engine.CloseCapture(0);
  const auto samples = test::Samples(c.RecFileName);
  ASSERT_GE(static_cast<int64_t>(samples.size()) / 2, kRawFrames);
  test::ExpectRamp(std::vector<int16_t>(samples.begin(), samples.begin() + 2 * kRawFrames), 0);
  EXPECT_TRUE(test::IndependentRead(c.RecFileName).valid);
}

TEST_F(AlsaTest, OpenErrorsGiveTheirTextAndLeaveNothingOpen) {
  platform::LinuxClock clock;
  Log log(clock);
  platform::AlsaWaveIn alsa;
  WaveFCT engine(alsa, log);
  ChannelCapture& c = SetUpChannel(engine, "Kavon Mono Input");  // cannot take 2 channels
  EXPECT_EQ(engine.OpenCapture(0), 0);
  EXPECT_EQ(c.LastError, platform::kWaveBadFormat) << alsa.LastOpenDetail();
  EXPECT_NE(alsa.ErrorText(c.LastError).find("対応していません"), std::string::npos);

  platform::WaveHandle h = 0;
  EXPECT_EQ(alsa.Open(&h, 99, engine.Format()), platform::kWaveBadDeviceId);
  EXPECT_FALSE(WaveErrorText(alsa, platform::kWaveBadDeviceId).empty());
  for (const platform::WaveResult code : {platform::kWaveError, platform::kWaveAllocated, platform::kWaveNoDriver,
                                          platform::kWaveNoMemory, platform::kWaveDeviceLost, 12345}) {
    EXPECT_FALSE(alsa.ErrorText(code).empty()) << code;
  }
}

TEST_F(AlsaTest, ADeviceFailingInTheMiddleStopsTheChannelWithAValidFile) {
  InjectedRecording run(ENODEV, 50000, "fail.wav");
  WaveFCT& engine = run.engine;
  platform::AlsaWaveIn& alsa = run.alsa;
  ChannelCapture& c = *run.channel;
  ASSERT_EQ(engine.OpenCapture(0), 1);
  int r = kNotYet;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (r != kMustStop && std::chrono::steady_clock::now() < until) {
    r = engine.ServiceCapture(0);
    if (r == kNotYet) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_EQ(r, kMustStop);
  EXPECT_TRUE(c.DeviceLost);
  engine.CloseCapture(0);
  const auto messages = alsa.TakeMessages();
  ASSERT_FALSE(messages.empty());
  EXPECT_NE(messages.back().find("録音デバイスのエラー kavon_file"), std::string::npos);
  const auto info = test::IndependentRead(c.RecFileName);
  ASSERT_TRUE(info.valid) << info.error;
  EXPECT_EQ(info.frames, 50000);  // every frame read before the failure, the partial buffer too
  const auto samples = test::Samples(c.RecFileName);
  test::ExpectRamp(samples, 0);
}

// An overrun or a suspend of the system is recovered and the recording goes
// on: a resumed stream is not started again (that would end it).
TEST_F(AlsaTest, AnOverrunOrASuspendDoesNotEndTheRecording) {
  for (const int error : {EPIPE, ESTRPIPE}) {
    SCOPED_TRACE(error);
    InjectedRecording run(error, 30000, "resume" + std::to_string(error) + ".wav");
    ASSERT_EQ(run.engine.OpenCapture(0), 1);
    RecordUntil(run.engine, 0, 80000);
    EXPECT_FALSE(run.channel->DeviceLost);
    EXPECT_GE(run.channel->FramesWritten, 80000);
    run.engine.CloseCapture(0);
    // Besides the recovery, a user without real-time rights is told so once.
    const auto messages = run.alsa.TakeMessages();
    const std::string recovered = error == EPIPE ? "オーバーランから回復" : "休止から回復";
    EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                            [&](const std::string& m) { return m.find(recovered) != std::string::npos; }),
              1);
    EXPECT_LE(messages.size(), 2u);
  }
}

}  // namespace
}  // namespace kavon
