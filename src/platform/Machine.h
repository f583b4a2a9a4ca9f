#pragma once
// The machine's own services, as the platform's back end makes them: the
// real clock, wave input, serial ports and HID devices, the settings store
// of a normal start, the default folders, and the requests to stop or to
// read the timer list again that reach a running kavon from outside
// (signals on Linux, console events on Windows).
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/Hid.h"
#include "platform/SerialPort.h"
#include "platform/SettingsBackend.h"
#include "platform/WaveIn.h"

namespace kavon::platform {

std::unique_ptr<Clock> MakeSystemClock();
std::unique_ptr<WaveIn> MakeSystemWaveIn();
std::unique_ptr<SerialSystem> MakeSerialSystem();
std::unique_ptr<HidSystem> MakeHidSystem();
// The store of a start without --home, or nullptr for the INI files in the
// configuration folder (Linux). Windows keeps its settings in the registry.
std::unique_ptr<SettingsBackend> MakeUserSettings();

struct SystemFolders {
  std::string program;  // timer.txt, log/, ec.txt
  std::string config;   // kavon.ini, common.ini
  std::string runtime;  // a control endpoint whose home's path is too long; may be empty
  std::string service;  // the system service's home, which `kavon ctl` falls back to; may be empty
};
SystemFolders DefaultFolders();

// The program's arguments (without its name) in UTF-8. Windows hands main()
// the ANSI code page, which cannot hold every name: there they are read
// again from the UTF-16 command line.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// The terminal shows what kavon prints, Japanese included (Windows: the
// console's code page becomes UTF-8; elsewhere nothing to do).
void PrepareConsole();

// Whether standard error is systemd's journal (JOURNAL_STREAM names it):
// lines there carry their priority as "<N>" and no time stamp of their own.
bool StderrIsJournal();

// The language of the user's account where the system keeps one apart from
// the environment (Windows: "ja" for Japanese, else "en"); "" elsewhere.
std::string UserUiLanguage();

// Stop: end cleanly (SIGINT, SIGTERM; Ctrl+C, the console closing, logoff
// and shutdown).
// Reload: read the timer list again (SIGHUP). Output that cannot be written
// (a closed pipe, a file size limit) makes the write fail, never the process.
void InstallRequestHandlers();
bool StopRequested();
bool TakeReloadRequest();
// Runs the recorder under the system's service manager (Windows: stop and
// shutdown become stop requests, and the service reports stopped once
// body returned): body's exit code, or nullopt where there is no service
// manager to talk to (Linux, where systemd runs the plain headless kavon;
// or a kavon.exe not started as a service).
std::optional<int> RunAsService(const std::function<int()>& body);

// Every file is flushed and closed: the end a stop request waits for
// (Windows ends the process as soon as a console or session handler
// returns, so the handler holds on until this, for a bounded time).
void FinishedCleanly();

}  // namespace kavon::platform
