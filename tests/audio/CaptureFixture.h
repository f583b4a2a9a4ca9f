#pragma once
// A capture engine over simulated devices and a fake clock: time moves only
// when the test says, and the devices fill buffers exactly as it moves.
#include <memory>

#include "audio/WaveFCT.h"
#include "audio/WaveMMIO.h"
#include "common/Log.h"
#include "platform/sim/FakeClock.h"
#include "platform/sim/SimWaveIn.h"
#include "support/TempDir.h"

namespace kavon::test {

struct CaptureFixture {
  TempDir dir;
  platform::FakeClock clock;
  std::unique_ptr<platform::SimWaveIn> sim;
  Log log{clock};
  std::unique_ptr<WaveFCT> engine;

  explicit CaptureFixture(std::vector<platform::SimDeviceSpec> devices, CaptureSettings settings = {}) {
    clock.SetLocal(2024, 3, 1, 10, 0, 0);
    sim = std::make_unique<platform::SimWaveIn>(clock, std::move(devices));
    clock.OnAdvance([this] { sim->Pump(); });
    log.SetFolder(dir.File("log"));
    engine = std::make_unique<WaveFCT>(*sim, log);
    engine->SetFormat(settings);
  }

  // Creates the file and opens channel ch on device name.
  std::string Open(int ch, const std::string& deviceName, const std::string& file = "rec.wav") {
    ChannelCapture& c = engine->Channel(ch);
    c.DevInName = deviceName;
    c.RecFileName = dir.File(file);
    CreateWaveFile(engine->Format().samplesPerSec, 16, 2, c.RecFileName);
    return engine->OpenCapture(ch) == 1 ? c.RecFileName : "";
  }

  // Advances time in 100 ms ticks, serving the channel as the tick does;
  // returns the first kMustStop seen, else kNotYet.
  int Run(int ch, double seconds) {
    const int ticks = static_cast<int>(seconds * 10 + 0.5);
    for (int t = 0; t < ticks; ++t) {
      clock.AdvanceMs(100);
      const int r = engine->ServiceCapture(ch);
      if (r == kMustStop) return r;
    }
    return kNotYet;
  }

  std::string ErrLog() { return ReadWholeFile(dir.File("log/kavon20240301.err")); }
};

}  // namespace kavon::test
