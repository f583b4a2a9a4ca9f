// One tick with 8 channels recording from simulated devices at 48000 Hz:
// median and 99th percentile tick time over an hour of ticks, and the CPU
// the ticks take per hour of 8-channel recording. The devices' own work
// (filling buffers, the driver's part) is not counted.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/FrmMain.h"
#include "platform/ini/IniFile.h"
#include "platform/sim/FakeClock.h"
#include "platform/sim/SimWaveIn.h"

using namespace kavon;

int main(int argc, char** argv) {
  const std::string folder = argc > 1 ? argv[1] : "bench-tick";
  const double hours = argc > 2 ? std::atof(argv[2]) : 1.0;
  const int sync = argc > 3 ? std::atoi(argv[3]) : 1;
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  {
    std::FILE* ini = std::fopen((folder + "/kavon.ini").c_str(), "w");
    std::fprintf(ini, "[conf]\nNumRec=7\nnFreq=48000\nSyncWrites=%d\n", sync);
    for (int ch = 1; ch <= 8; ++ch) std::fprintf(ini, "DevInID_%d=%d\nRecLevelDB_%d=3\n", ch, ch - 1, ch);
    std::fclose(ini);
  }
  platform::FakeClock clock;
  clock.SetLocal(2024, 3, 1, 10, 0, 0);
  std::vector<platform::SimDeviceSpec> devices;
  for (int ch = 0; ch < 8; ++ch) devices.push_back({"Tone " + std::to_string(ch), platform::SimSource::Tone(440 + 100 * ch, -20)});
  platform::SimWaveIn sim(clock, devices);
  clock.OnAdvance([&] { sim.Pump(); });
  platform::IniSettingsBackend backend(folder);
  FrmMain app(ProgramPaths{folder + "/", folder, folder + "/kavon.lock", folder + "/kavon.sock"}, clock, backend, sim);
  app.Load();
  for (int ch = 0; ch < 8; ++ch) app.recording().RecButtonClick(ch, 0);

  const auto ticks = static_cast<size_t>(hours * 36000);
  std::vector<double> times;
  times.reserve(ticks);
  for (size_t t = 0; t < ticks; ++t) {
    clock.AdvanceMs(100);
    const auto t0 = std::chrono::steady_clock::now();
    app.Tick();
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  app.Unload();
  double total = 0;
  for (const double t : times) total += t;
  std::sort(times.begin(), times.end());
  std::printf("ticks: %zu (%.1f h of 8 channels at 48000 Hz, SyncWrites=%d, writer thread)\n", times.size(), hours, sync);
  std::printf("tick median %.3f ms, p99 %.3f ms, max %.3f ms\n", times[times.size() / 2], times[times.size() * 99 / 100],
              times.back());
  const auto over = std::count_if(times.begin(), times.end(), [](double t) { return t > 10.0; });
  std::printf("ticks over 10 ms: %ld of %zu\n", static_cast<long>(over), times.size());
  std::printf("CPU in ticks per hour of 8-channel recording: %.2f s\n", total / 1000.0 / hours);
  std::filesystem::remove_all(folder);
  return 0;
}
