// kavon: command line, single instance, then the window or, without a
// display (or with --headless), the headless runner.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Version.h"
#include "app/FrmMain.h"
#include "app/Paths.h"
#include "audio/WaveDevices.h"
#include "common/Lang.h"
#include "common/Translate.h"
#include "platform/ControlSocket.h"
#include "platform/InstanceLock.h"
#include "platform/Machine.h"
#include "platform/ini/IniFile.h"
#include "platform/sim/SimHid.h"
#include "platform/sim/SimWaveIn.h"
#include "ui/GuiRunner.h"
#include "platform/Utf8Path.h"

namespace {

struct Options {
  std::string home;
  std::string audio = "alsa";
  std::string hid = "hidraw";
  bool headless = false;
  std::string screenshot;  // --screenshot FILE
  bool version = false;
  bool help = false;
  bool listDevices = false;
  double recordTest = 0;  // seconds; 0 = no test recording
  bool ctl = false;       // ctl REQUEST...: ask the running kavon
  bool service = false;   // run headless under the service manager (Windows)
  std::string ctlRequest;
};

constexpr const char* kUsage =
    "Usage: kavon [options]\n"
    "  --home DIR    keep settings, timer list, logs and lock under DIR\n"
    "  --headless    run without a window until SIGINT or SIGTERM\n"
    "  --service     Windows: run headless under the service manager (the installer registers it)\n"
    "  --screenshot FILE  run the window for about two seconds, save it as a PNG and exit\n"
    "                     (an open timer editor as FILE-timer.png beside it)\n"
    "  --audio KIND  wave input: alsa (default; winmm on Windows) or sim (simulated devices)\n"
    "  --hid KIND    HID control box: hidraw (default; Windows HID on Windows) or sim (a quiet simulated box)\n"
    "  --list-devices  print the input devices (number, tab, name) and exit\n"
    "  --record-test SECONDS  record channel 1 for SECONDS, print the file and exit\n"
    "  ctl REQUEST   ask the running kavon (same --home): status [--json], metrics, start N,\n"
    "                stop N, reload-timers, quit\n"
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
    if (a == "ctl") {
      o.ctl = true;
      for (size_t k = i + 1; k < args.size(); ++k) o.ctlRequest += (k > i + 1 ? " " : "") + args[k];
      if (o.ctlRequest.empty()) {
        std::cerr << "kavon: ctl needs a request: status [--json], start N, stop N, reload-timers, quit\n";
        return false;
      }
      return true;
    }
    if (IsOption(a, "--audio")) {
      const auto v = OptionValue(args, i, "--audio");
      if (!v) return false;
      if (*v != "sim" && *v != "alsa") {
        std::cerr << "kavon: unknown audio back end '" << *v << "' (alsa or sim)\n";
        return false;
      }
      o.audio = *v;
    } else if (IsOption(a, "--hid")) {
      const auto v = OptionValue(args, i, "--hid");
      if (!v) return false;
      if (*v != "sim" && *v != "hidraw") {
        std::cerr << "kavon: unknown HID back end '" << *v << "' (hidraw or sim)\n";
        return false;
      }
      o.hid = *v;
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
    } else if (a == "--service") {
      o.service = true;
      o.headless = true;
    } else if (IsOption(a, "--screenshot")) {
      const auto v = OptionValue(args, i, "--screenshot");
      if (!v || v->empty()) {
        std::cerr << "kavon: --screenshot needs a file name\n";
        return false;
      }
      // Absolute now: startup makes the program folder the current one.
      o.screenshot = kavon::platform::U8String(std::filesystem::absolute(kavon::platform::U8Path(*v)));
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

// The simulated back end has a quiet box for every product ID the settings
// offer.
std::unique_ptr<kavon::platform::HidSystem> MakeHidSystem(const std::string& kind) {
  if (kind != "sim") return kavon::platform::MakeHidSystem();
  auto sim = std::make_unique<kavon::platform::SimHidSystem>();
  for (uint16_t product = 1; product <= 8; ++product) sim->AddBox(kavon::C_HID::BoxVendorID, product);
  return sim;
}

// Messages meant for a box go to stderr when there is no window.
void ShowMessages(kavon::FrmMain& app) {
  auto& messages = app.state().messages;
  while (!messages.empty()) {
    std::cerr << "kavon: " << kavon::Translate(app.state().lang, messages.front()) << "\n";
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
  while (!kavon::platform::StopRequested() && !app.state().quitRequested) {
    if (limitSeconds > 0 && duration<double>(steady_clock::now() - begin).count() >= limitSeconds) break;
    next += milliseconds(100);
    const auto now = steady_clock::now();
    if (next < now) next = now;  // a late tick is not made up by a burst
    std::this_thread::sleep_until(next);
    if (kavon::platform::StopRequested()) break;
    if (kavon::platform::TakeReloadRequest()) app.ReloadTimerList();
    app.Tick();
    ShowMessages(app);
  }
}

// What a headless kavon is about to do, once, at start.
void PrintSummary(kavon::FrmMain& app, kavon::platform::WaveIn& wave, const kavon::ProgramPaths& paths,
                  const std::string& settingsFile, const kavon::Lang& lang) {
  const auto& s = app.settings();
  std::cout << "kavon " << kavon::kVersion << lang.Text(" 録音を始めます（ウィンドウなし）", " recording headless") << "\n";
  if (!wave.HasSoundHardware()) {
    // Every start would fail: say why before the first failure does.
    std::cout << lang.Text("  この機械にはサウンドカードがありません。シミュレーションで試すには --audio sim、"
                           "見つかるデバイスは --list-devices",
                           "  this machine has no sound card: try --audio sim (simulated devices); "
                           "--list-devices shows what kavon finds")
              << "\n";
  }
  std::cout << lang.Text("  ホーム        ", "  home          ") << paths.programFolder << "\n";
  std::cout << lang.Text("  設定          ", "  settings      ") << settingsFile << "\n";
  for (int ch = 0; ch <= s.NumRec; ++ch) {
    const int id = kavon::GetDeviceID(wave, s.DevInName[static_cast<size_t>(ch)]);
    const std::string device = id == kavon::platform::kWaveMapper ? "default" : kavon::GetDeviceName(wave, id);
    std::cout << lang.Text("  チャンネル ", "  channel ") << ch + 1 << "  \"" << device << "\" -> "
              << app.recording().ChannelFolder(ch) << "\n";
  }
  std::cout << lang.Text("  タイマー      ", "  timer list    ") << paths.TimerFile() << ": " << app.timers().Count()
            << lang.Text(" 件", app.timers().Count() == 1 ? " entry" : " entries");
  if (app.state().TimerOn != 1) {
    std::cout << lang.Text("（タイマーは切）", " (the timer is off)");
  } else if (const auto next = app.tick().NextDue()) {
    std::cout << lang.Text("、次は ", ", next ") << next->first << " " << lang.Text("チャンネル ", "channel ")
              << next->second.Ch + 1 << " \"" << next->second.FileTitle << "\"";
  }
  std::cout << "\n";
  std::cout << lang.Text("  ログ          ", "  log           ") << app.log().DayFile(app.state().clock.NowLocal(), false)
            << "\n" << std::flush;
}

// `kavon ctl REQUEST`: the running kavon's answer on stdout.
int RunControlRequest(const Options& options) {
  bool service = false;
  const kavon::ProgramPaths paths = kavon::ResolveControlPaths(options.home, &service);
  if (service) std::cerr << "kavon: asking the system service in " << paths.programFolder << "\n";
  std::string why;
  const auto answer = kavon::platform::SendControlRequest(paths.socketFile, options.ctlRequest, &why);
  if (!answer) {
    std::cerr << "kavon: no running kavon answers at " << kavon::platform::ControlEndpointName(paths.socketFile) << " ("
              << why << ")\n";
    return 1;
  }
  const bool ok = answer->rfind("OK", 0) == 0;
  // The metrics are for a scraper or a file: the text alone.
  if (ok && options.ctlRequest == "metrics") {
    std::cout << answer->substr(answer->find('\n') + 1);
    return 0;
  }
  std::cout << *answer;
  return ok ? 0 : 1;
}

int ListDevices(kavon::platform::WaveIn& wave) {
  const int count = wave.DeviceCount();
  for (int id = 0; id < count; ++id) std::cout << id << "\t" << wave.DeviceName(id) << "\n";
  return 0;
}

// The recorder itself: one kavon per home, then the window or headless
// until a stop request.
int RunRecorder(const Options& options, int argc, char** argv) {
  const std::unique_ptr<kavon::platform::Clock> systemClock = kavon::platform::MakeSystemClock();
  kavon::platform::Clock& clock = *systemClock;
  std::unique_ptr<kavon::platform::WaveIn> wave;
  kavon::platform::SimWaveIn* sim = nullptr;
  if (options.audio == "sim") {
    auto simulated = std::make_unique<kavon::platform::SimWaveIn>(clock, kavon::platform::SimWaveIn::DemoDevices());
    sim = simulated.get();
    wave = std::move(simulated);
  } else {
    wave = kavon::platform::MakeSystemWaveIn();
  }
  const kavon::ProgramPaths paths = kavon::ResolvePaths(options.home);
  auto lock = kavon::platform::MakeInstanceLock(paths.lockFile);
  const kavon::Lang lang(kavon::Lang::ModeFor(kavon::Lang::EnvironmentLocale(), 0));
  std::string lockProblem;
  switch (lock->Acquire(&lockProblem)) {
    case kavon::platform::InstanceLock::Result::Acquired: break;
    case kavon::platform::InstanceLock::Result::HeldByAnother:
      // Two recorders on one home would write into each other's files.
      std::cerr << "kavon: "
                << lang.Text("別の kavon がこのホームで動いています（" + paths.programFolder + "）",
                             "another kavon is running with this home (" + paths.programFolder + ")")
                << "\n";
      return 1;
    case kavon::platform::InstanceLock::Result::Failed:
      std::cerr << "kavon: "
                << lang.Text("ホームをロックできません: " + lockProblem, "cannot lock the home: " + lockProblem) << "\n";
      return 1;
  }
  if (options.listDevices) return ListDevices(*wave);

  const bool withWindow = options.recordTest == 0 && !options.headless && kavon::ui::HasWindow(!options.screenshot.empty());
  if (!withWindow && !options.headless && options.recordTest == 0) {
    // A build without Qt (Windows here) has no window to show at all.
    const bool built = kavon::ui::HasWindow(true);
    std::cerr << "kavon: "
              << (built ? lang.Text("ディスプレイがないため、ウィンドウなしで動きます", "no display; running headless")
                        : lang.Text("この kavon にはウィンドウがないため、ウィンドウなしで動きます",
                                    "this kavon has no window; running headless"))
              << "\n";
  }

  kavon::platform::InstallRequestHandlers();

  // Without --home, the platform's own store (the registry on Windows);
  // with it, or where the platform has none, the INI files.
  kavon::platform::IniSettingsBackend iniStore(paths.configFolder);
  const std::unique_ptr<kavon::platform::SettingsBackend> userStore =
      options.home.empty() ? kavon::platform::MakeUserSettings() : nullptr;
  kavon::platform::SettingsBackend& settingsBackend = userStore ? *userStore : iniStore;
  kavon::FrmMain app(paths, clock, settingsBackend, *wave);
  const std::unique_ptr<kavon::platform::SerialSystem> serialPorts = kavon::platform::MakeSerialSystem();
  app.SetSerialSystem(serialPorts.get());
  std::unique_ptr<kavon::platform::HidSystem> hidDevices = MakeHidSystem(options.hid);
  app.SetHidSystem(hidDevices.get());
  auto control = kavon::platform::MakeControlServer();
  if (options.recordTest == 0) {
    if (const std::string why = control->Listen(paths.socketFile); !why.empty()) {
      std::cerr << "kavon: " << lang.Text("kavon ctl はこの kavon に届きません: ", "kavon ctl will not reach this kavon: ") << why
                << "\n";
    } else {
      app.SetControlServer(control.get());
    }
  }
  // The terminal sees what the log gets: ordinary lines on stdout, errors
  // on stderr (all on stderr for --record-test, whose stdout is the file's
  // path). A closed stream only makes these writes fail.
  const bool quietStdout = options.recordTest > 0;
  // A picture of the window is all --screenshot is asked for.
  if (options.screenshot.empty()) {
    if (kavon::platform::StderrIsJournal()) {
      // The journal stamps each line itself and files it by priority:
      // the .err lines as warnings, so "journalctl -p warning" shows them.
      app.log().SetEcho([](const std::string& line, bool error) {
        std::cerr << (error ? "<4>" : "<6>") << kavon::WithoutLogStamp(line) << std::endl;
      });
    } else {
      app.log().SetEcho([quietStdout](const std::string& line, bool error) {
        (error || quietStdout ? std::cerr : std::cout) << line << std::endl;
      });
    }
  }
  if (sim) sim->StartRealtime();
  // The tick never waits for a log line to reach its file.
  app.log().SetWriteBehind(true);
  app.Load();
  if (app.store().WriteFailed()) {
    std::cerr << "kavon: " << lang.Text("設定を保存できません ", "cannot save settings in ") << paths.configFolder << ": "
              << settingsBackend.LastError() << "\n";
  }
  if (withWindow) {
    kavon::ui::GuiOptions gui;
    gui.screenshot = options.screenshot;
    gui.stopRequested = [&app] { return kavon::platform::StopRequested() || app.state().quitRequested; };
    gui.afterTick = [&app] {
      if (kavon::platform::TakeReloadRequest()) app.ReloadTimerList();
    };
    const int rc = kavon::ui::RunGui(argc, argv, app, gui);
    if (sim) sim->StopRealtime();
    return rc;
  }
  if (options.recordTest == 0) {
    PrintSummary(app, *wave, paths, settingsBackend.Location("kavon"),
                 kavon::Lang(kavon::Lang::ModeFor(kavon::Lang::EnvironmentLocale(), app.settings().LangMode)));
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
  kavon::platform::FinishedCleanly();
  if (sim) sim->StopRealtime();
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  kavon::platform::PrepareConsole();
  Options options;
  if (!ParseOptions(kavon::platform::CommandLineArguments(argc, argv), options)) return 2;
  if (options.help) {
    std::cout << kUsage;
    return 0;
  }
  if (options.version) {
    std::cout << "kavon " << kavon::kVersion << "\n";
    return 0;
  }

  if (options.ctl) return RunControlRequest(options);
  if (options.service) {
    // Started by the service manager: stop and shutdown are its requests.
    const auto rc = kavon::platform::RunAsService([&] { return RunRecorder(options, argc, argv); });
    if (rc) return *rc;
    std::cerr << "kavon: --service is for the Windows service manager (the installer registers it); use --headless\n";
    return 2;
  }
  return RunRecorder(options, argc, argv);
}
