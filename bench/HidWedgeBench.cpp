// A HID box that takes no reports, on the real hidraw back end: every write
// is held 5 s in the kernel (as usbhid holds it) by a write seam, the node
// itself a FIFO that never answers. The whole application ticks on the real
// clock for the given seconds; printed are the slowest tick, the time all
// ticks spent, and how long shutdown took.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "app/FrmMain.h"
#include "platform/Machine.h"
#include "platform/ini/IniFile.h"
#include "platform/linux/Hidraw.h"
#include "platform/sim/SimWaveIn.h"

using namespace kavon;
using Steady = std::chrono::steady_clock;

namespace {

void Write(const std::filesystem::path& p, const std::string& bytes) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << bytes;
}

double Ms(Steady::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  const std::string folder = argc > 1 ? argv[1] : "bench-hid";
  const double seconds = argc > 2 ? std::atof(argv[2]) : 60;
  std::filesystem::remove_all(folder);
  const std::filesystem::path sys = folder + "/sys", dev = folder + "/dev";
  // A box: vendor 0x1209, product 2, 8-byte reports both ways.
  const std::string descriptor = {0x06, 0x00, '\xFF', 0x09, 0x01, '\xA1', 0x01, 0x75, 0x08, '\x95',
                                  0x08, '\x81', 0x02, '\x91', 0x02, '\xC0'};
  Write(sys / "hidraw0/device/uevent", "HID_ID=0003:00001209:00000002\n");
  Write(sys / "hidraw0/device/report_descriptor", descriptor);
  std::filesystem::create_directories(dev);
  mkfifo((dev / "hidraw0").c_str(), 0600);
  Write(folder + "/kavon.ini", "[conf]\nNumRec=1\nUSBHIDID=2\n");
  platform::HidrawSystem hid(sys.string(), dev.string(), [](int, const void*, size_t) -> ssize_t {
    std::this_thread::sleep_for(std::chrono::seconds(5));
    errno = ETIMEDOUT;
    return -1;
  });
  const auto clock = platform::MakeSystemClock();
  platform::SimWaveIn sim(*clock, platform::SimWaveIn::DemoDevices());
  platform::IniSettingsBackend backend(folder);
  FrmMain app(ProgramPaths{folder + "/", folder, folder + "/kavon.lock", folder + "/kavon.sock"}, *clock, backend, sim);
  app.SetHidSystem(&hid);
  app.Load();
  double worst = 0, total = 0;
  int ticks = 0;
  const auto end = Steady::now() + std::chrono::duration<double>(seconds);
  auto next = Steady::now();
  while (Steady::now() < end) {
    next += std::chrono::milliseconds(100);
    std::this_thread::sleep_until(next);
    const auto t0 = Steady::now();
    app.Tick();
    const double took = Ms(Steady::now() - t0);
    worst = std::max(worst, took);
    total += took;
    ++ticks;
    if (ticks == 50) app.recording().RecButtonClick(0, 0);  // lamp codes while it is wedged
  }
  const auto t0 = Steady::now();
  app.Unload();
  const double shutdown = Ms(Steady::now() - t0);
  std::printf("ticks: %d in %.0f s with a box that takes no reports\n", ticks, seconds);
  std::printf("slowest tick %.0f ms, all ticks %.0f ms, shutdown %.0f ms\n", worst, total, shutdown);
  std::filesystem::remove_all(folder);
  return 0;
}
