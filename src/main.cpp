// kavon: command line, single instance, then the headless runner (the
// window comes with the user-interface build).
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Version.h"
#include "app/FrmMain.h"
#include "app/Paths.h"
#include "platform/InstanceLock.h"
#include "platform/linux/AlsaWaveIn.h"
#include "platform/linux/IniFile.h"
#include "platform/linux/LinuxClock.h"
#include "platform/sim/SimWaveIn.h"

namespace {

volatile std::sig_atomic_t gStopRequested = 0;

void OnStopSignal(int) { gStopRequested = 1; }

struct Options {
  std::string home;
  std::string audio = "alsa";
  bool headless = false;
  bool version = false;
  bool help = false;
  bool listDevices = false;
  double recordTest = 0;  // seconds; 0 = no test recording
};

constexpr const char* kUsage =
    "Usage: kavon [options]\n"
    "  --home DIR    keep settings, timer list, logs and lock under DIR\n"
    "  --headless    run without a window until SIGINT or SIGTERM\n"
    "  --audio KIND  wave input: alsa (default) or sim (simulated devices)\n"
    "  --list-devices  print the input devices (number, tab, name) and exit\n"
    "  --record-test SECONDS  record channel 1 for SECONDS, print the file and exit\n"
    "  --version     print the version and exit\n"
    "  --help        print this help and exit\n";

// The value of an option that takes one ("--x V" or "--x=V"), or nullopt
// after saying what is missing.
std::optional<std::string> OptionValue(const std::vector<std::string>& args, size_t& i, const std::string& name) {
  const std::string& a = args[i];
  if (a.rfind(name + "=", 0) == 0) return a.substr(name.size() + 1);
  if (i + 1 < args.size()) return args[++i];
  std::cerr << "kavon: " << name << " needs a value\n";
  return std::nullopt;
}

bool IsOption(const std::string& a, const std::string& name) { return a == name || a.rfind(name + "=", 0) == 0; }

// Parses argv; on a bad option prints why and returns false.
bool ParseOptions(const std::vector<std::string>& args, Options& o) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (IsOption(a, "--audio")) {
      const auto v = OptionValue(args, i, "--audio");
      if (!v) return false;
      if (*v != "sim" && *v != "alsa") {
        std::cerr << "kavon: unknown audio back end '" << *v << "' (alsa or sim)\n";
        return false;
      }
      o.audio = *v;
    } else if (a == "--list-devices") {
      o.listDevices = true;
    } else if (IsOption(a, "--record-test")) {
      const auto v = OptionValue(args, i, "--record-test");
      if (!v) return false;
      char* end = nullptr;
      o.recordTest = std::strtod(v->c_str(), &end);
      if (end == v->c_str() || *end != '\0' || !(o.recordTest > 0) || o.recordTest > 86400) {
        std::cerr << "kavon: --record-test needs a number of seconds (up to 86400)\n";
        return false;
      }
    } else if (a == "--headless") {
      o.headless = true;
    } else if (a == "--version") {
      o.version = true;
    } else if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--home" || a.rfind("--home=", 0) == 0) {
      if (a == "--home") {
        if (i + 1 >= args.size()) {
          std::cerr << "kavon: --home needs a folder\n";
          return false;
        }
        o.home = args[++i];
      } else {
        o.home = a.substr(7);
      }
      if (o.home.empty()) {
        std::cerr << "kavon: --home needs a folder\n";
        return false;
      }
    } else {
      std::cerr << "kavon: unknown option '" << a << "'\n" << kUsage;
      return false;
    }
  }
  return true;
}

bool HasDisplay() {
  const char* x = std::getenv("DISPLAY");
  const char* w = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (w && *w);
}

// Messages meant for a box go to stderr when there is no window.
void ShowMessages(kavon::FrmMain& app) {
  auto& messages = app.state().messages;
  while (!messages.empty()) {
    std::cerr << "kavon: " << messages.front() << "\n";
    messages.pop_front();
  }
}

// Runs the 100 ms tick on the steady clock until a stop signal arrives or,
// with a limit, that many seconds have passed. Ticks never overlap: the
// next one is due only after this one returned.
void RunHeadless(kavon::FrmMain& app, double limitSeconds = 0) {
  using namespace std::chrono;
  const auto begin = steady_clock::now();
  auto next = begin;
  while (gStopRequested == 0) {
    if (limitSeconds > 0 && duration<double>(steady_clock::now() - begin).count() >= limitSeconds) break;
    next += milliseconds(100);
    const auto now = steady_clock::now();
    if (next < now) next = now;  // a late tick is not made up by a burst
    std::this_thread::sleep_until(next);
    if (gStopRequested != 0) break;
    app.Tick();
    ShowMessages(app);
  }
}

int ListDevices(kavon::platform::WaveIn& wave) {
  const int count = wave.DeviceCount();
  for (int id = 0; id < count; ++id) std::cout << id << "\t" << wave.DeviceName(id) << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(std::vector<std::string>(argv + 1, argv + argc), options)) return 2;
  if (options.help) {
    std::cout << kUsage;
    return 0;
  }
  if (options.version) {
    std::cout << "kavon " << kavon::kVersion << "\n";
    return 0;
  }

  kavon::platform::LinuxClock clock;
  std::unique_ptr<kavon::platform::WaveIn> wave;
  kavon::platform::SimWaveIn* sim = nullptr;
  if (options.audio == "sim") {
    auto simulated = std::make_unique<kavon::platform::SimWaveIn>(clock, kavon::platform::SimWaveIn::DemoDevices());
    sim = simulated.get();
    wave = std::move(simulated);
  } else {
    wave = std::make_unique<kavon::platform::AlsaWaveIn>();
  }
  if (options.listDevices) return ListDevices(*wave);

  const kavon::ProgramPaths paths = kavon::ResolvePaths(options.home);
  auto lock = kavon::platform::MakeInstanceLock(paths.lockFile);
  if (!lock->Acquire()) return 0;  // another instance runs: end silently

  if (!options.headless && options.recordTest == 0) {
    std::cerr << (HasDisplay() ? "kavon: this build has no window yet; running headless\n"
                               : "kavon: no display; running headless\n");
  }

  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);

  kavon::platform::IniSettingsBackend settingsBackend(paths.configFolder);
  kavon::FrmMain app(paths, clock, settingsBackend, *wave);
  if (sim) sim->StartRealtime();
  app.Load();
  if (app.store().WriteFailed()) {
    std::cerr << "kavon: cannot save settings in " << paths.configFolder << ": " << settingsBackend.LastError()
              << "\n";
  }
  int rc = 0;
  if (options.recordTest > 0) {
    app.recording().RecButtonClick(0, 0);
    ShowMessages(app);
    const auto& channel = app.state().capture.Channel(0);
    if (channel.IsOpen != 1) {
      rc = 1;
    } else {
      RunHeadless(app, options.recordTest);
      std::cout << channel.RecFileName << "\n";
    }
  } else {
    RunHeadless(app);
  }
  app.Unload();
  if (sim) sim->StopRealtime();
  return rc;
}
