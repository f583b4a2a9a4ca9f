#pragma once
// The whole application without a window: FrmMain over an INI store in a
// temporary folder, simulated devices and a fake clock. Days of schedule run
// in seconds.
#include <deque>
#include <filesystem>
#include <memory>
#include <vector>

#include "app/FrmMain.h"
#include "common/Text.h"
#include "platform/ini/IniFile.h"
#include "platform/sim/FakeClock.h"
#include "platform/sim/SimWaveIn.h"
#include "support/TempDir.h"

namespace kavon::test {

// A control box that hands the tick scripted codes and keeps the lamps.
struct ScriptedBox : ControlDevice {
  std::deque<int> codes;
  std::vector<int> lamps;
  int ReadCode() override {
    if (codes.empty()) return 0;
    const int c = codes.front();
    codes.pop_front();
    return c;
  }
  void WriteLamp(int code) override { lamps.push_back(code); }
};

struct AppFixture {
  TempDir dir;
  platform::FakeClock clock;
  std::unique_ptr<platform::SimWaveIn> sim;
  std::unique_ptr<platform::IniSettingsBackend> backend;
  std::unique_ptr<FrmMain> app;
  ScriptedBox hid;
  ScriptedBox serial;
  bool writerThread = false;
  platform::HidSystem* hidSystem = nullptr;  // HID devices for startup to search

  // ini: lines of the [conf] section, "$HOME" standing for the temporary
  // folder; devices: the simulated inputs.
  explicit AppFixture(const std::string& ini, std::vector<platform::SimDeviceSpec> devices = {}) {
    clock.SetLocal(2024, 3, 1, 10, 0, 0);
    if (devices.empty()) devices = {{"Tone", platform::SimSource::Tone(1000, -20)}};
    sim = std::make_unique<platform::SimWaveIn>(clock, std::move(devices));
    clock.OnAdvance([this] { sim->Pump(); });
    WriteWholeFile(dir.File("kavon.ini"), "[conf]\n" + ReplaceAll(ini, "$HOME", dir.path()));
  }

  // Starts the application (after the test has set the clock and files).
  void Load(bool withBoxes = true) {
    backend = std::make_unique<platform::IniSettingsBackend>(dir.path());
    ProgramPaths paths{dir.path() + "/", dir.path(), dir.File("kavon.lock"), dir.File("kavon.sock")};
    app = std::make_unique<FrmMain>(paths, clock, *backend, *sim);
    // Files are written at once, so a test reads what it recorded; the
    // writer thread has tests of its own.
    app->UseWriterThread(writerThread);
    if (withBoxes) app->SetControlDevices(&serial, &hid);
    app->SetHidSystem(hidSystem);
    app->Load();
  }

  // Ticks every 100 ms of fake time for the given seconds.
  void Run(double seconds) {
    const int ticks = static_cast<int>(seconds * 10 + 0.5);
    for (int t = 0; t < ticks; ++t) {
      clock.AdvanceMs(100);
      app->Tick();
    }
  }

  AppState& state() { return app->state(); }
  ChannelCapture& channel(int ch) { return state().capture.Channel(ch); }
  std::string LogText(const std::string& day = "20240301") { return ReadWholeFile(dir.File("log/kavon" + day + ".log")); }
  std::string ErrText(const std::string& day = "20240301") { return ReadWholeFile(dir.File("log/kavon" + day + ".err")); }
  // Every day's error log, for tests whose clock is not 1 March 2024.
  std::string AllErrText() {
    std::string all;
    for (const auto& e : std::filesystem::directory_iterator(dir.File("log"))) {
      if (e.path().extension() == ".err") all += ReadWholeFile(e.path().string());
    }
    return all;
  }
};

// Occurrences of needle in hay.
inline int Count(const std::string& hay, const std::string& needle) {
  int n = 0;
  for (size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1)) ++n;
  return n;
}

}  // namespace kavon::test
