// kavon: command line, single instance, then the headless runner (the
// window comes with the user-interface build).
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "Version.h"
#include "app/FrmMain.h"
#include "app/Paths.h"
#include "platform/InstanceLock.h"
#include "platform/linux/IniFile.h"
#include "platform/linux/LinuxClock.h"

namespace {

volatile std::sig_atomic_t gStopRequested = 0;

void OnStopSignal(int) { gStopRequested = 1; }

struct Options {
  std::string home;
  bool headless = false;
  bool version = false;
  bool help = false;
};

constexpr const char* kUsage =
    "Usage: kavon [options]\n"
    "  --home DIR    keep settings, timer list, logs and lock under DIR\n"
    "  --headless    run without a window until SIGINT or SIGTERM\n"
    "  --version     print the version and exit\n"
    "  --help        print this help and exit\n";

// Parses argv; on a bad option prints why and returns false.
bool ParseOptions(const std::vector<std::string>& args, Options& o) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--headless") {
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

// Runs the 100 ms tick on the steady clock until a stop signal arrives.
// Ticks never overlap: the next one is due only after this one returned.
void RunHeadless(kavon::FrmMain& app) {
  using namespace std::chrono;
  auto next = steady_clock::now();
  while (gStopRequested == 0) {
    next += milliseconds(100);
    const auto now = steady_clock::now();
    if (next < now) next = now;  // a late tick is not made up by a burst
    std::this_thread::sleep_until(next);
    if (gStopRequested != 0) break;
    app.Tick();
  }
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

  const kavon::ProgramPaths paths = kavon::ResolvePaths(options.home);
  auto lock = kavon::platform::MakeInstanceLock(paths.lockFile);
  if (!lock->Acquire()) return 0;  // another instance runs: end silently

  if (!options.headless) {
    std::cerr << (HasDisplay() ? "kavon: this build has no window yet; running headless\n"
                               : "kavon: no display; running headless\n");
  }

  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);

  kavon::platform::LinuxClock clock;
  kavon::platform::IniSettingsBackend settingsBackend(paths.configFolder);
  kavon::FrmMain app(paths, clock, settingsBackend);
  app.Load();
  if (app.store().WriteFailed()) {
    std::cerr << "kavon: cannot save settings in " << paths.configFolder << ": " << settingsBackend.LastError()
              << "\n";
  }
  RunHeadless(app);
  app.Unload();
  return 0;
}
