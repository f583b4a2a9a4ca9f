// 8 channels x one hour of audio through ServiceCapture, gain != 1 and both
// detections on, into files on the same disk; against cat of the same
// bytes on the same file system in the same run (neither side syncs).
// Prints x real time per channel and the ratio.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "audio/WaveFCT.h"
#include "audio/WaveMMIO.h"
#include "common/Log.h"
#include "platform/sim/FakeClock.h"
#include "platform/sim/SimWaveIn.h"

using namespace kavon;

int main(int argc, char** argv) {
  const std::string folder = argc > 1 ? argv[1] : "bench-out";
  const double seconds = argc > 2 ? std::atof(argv[2]) : 3600.0;
  std::filesystem::create_directories(folder);
  platform::FakeClock clock;
  platform::SimWaveIn sim(clock, {{"Silence", platform::SimSource::Silence()}});
  Log log(clock);
  log.SetFolder(folder + "/log");
  WaveFCT engine(sim, log);
  engine.SetFormat({44100, -50, -60, 3000});
  const FrameCount buf = engine.BufFrames();

  // One quarter second of programme-like audio, reused for every buffer.
  std::vector<int16_t> pattern(static_cast<size_t>(buf) * 2);
  for (FrameCount i = 0; i < buf; ++i) {
    pattern[static_cast<size_t>(2 * i)] = static_cast<int16_t>(8000 * std::sin(i * 0.0627));
    pattern[static_cast<size_t>(2 * i + 1)] = static_cast<int16_t>(6000 * std::sin(i * 0.0411));
  }
  constexpr int kChannels = 8;
  for (int ch = 0; ch < kChannels; ++ch) {
    ChannelCapture& c = engine.Channel(ch);
    c.DevInName = "Silence";
    c.RecGain = 1.4125;  // +3 dB
    c.UseMuonIn = 1;
    c.UseMuonOut = 1;
    c.RecFileName = folder + "/ch" + std::to_string(ch + 1) + ".wav";
    CreateWaveFile(44100, 16, 2, c.RecFileName);
    if (engine.OpenCapture(ch) != 1) {
      std::fprintf(stderr, "open failed\n");
      return 1;
    }
  }
  const auto buffers = static_cast<int64_t>(seconds * 4);
  double serviceSec = 0;
  for (int64_t n = 0; n < buffers; ++n) {
    for (int ch = 0; ch < kChannels; ++ch) {
      ChannelCapture& c = engine.Channel(ch);
      platform::WaveBuffer& b = c.Buffers[static_cast<size_t>(c.NextBuf)];
      std::copy(pattern.begin(), pattern.end(), b.samples.begin());
      b.Complete(static_cast<uint32_t>(buf * 4));
    }
    const auto t0 = std::chrono::steady_clock::now();
    for (int ch = 0; ch < kChannels; ++ch) engine.ServiceCapture(ch);
    serviceSec += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  const auto c0 = std::chrono::steady_clock::now();
  for (int ch = 0; ch < kChannels; ++ch) engine.CloseCapture(ch);
  serviceSec += std::chrono::duration<double>(std::chrono::steady_clock::now() - c0).count();
  const auto bytes = std::filesystem::file_size(folder + "/ch1.wav");

  // The same bytes copied with cat, per channel, on the same file system,
  // as capture writes them: no sync on either side.
  const auto d0 = std::chrono::steady_clock::now();
  for (int ch = 0; ch < kChannels; ++ch) {
    const std::string cmd = "cat '" + folder + "/ch" + std::to_string(ch + 1) + ".wav' > '" + folder + "/copy.bin'";
    if (std::system(cmd.c_str()) != 0) return 1;
  }
  const double copySec = std::chrono::duration<double>(std::chrono::steady_clock::now() - d0).count();
  std::filesystem::remove(folder + "/copy.bin");
  for (int ch = 0; ch < kChannels; ++ch) std::filesystem::remove(folder + "/ch" + std::to_string(ch + 1) + ".wav");

  const double perChannel = serviceSec / kChannels;
  std::printf("audio per channel: %.0f s, file %.1f MB\n", seconds, bytes / 1e6);
  std::printf("capture: %.2f s for %d channels -> %.0fx real time per channel\n", serviceSec, kChannels,
              seconds / perChannel);
  std::printf("copy (cat): %.2f s -> ratio capture/copy %.2f\n", copySec, serviceSec / copySec);
  return 0;
}
