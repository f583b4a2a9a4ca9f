#pragma once
// The application: startup, the 100 ms tick and shutdown, without a window.
// The Qt window and the headless runner both drive this object; it owns the
// program-wide state (settings in memory, log, timer list, capture engine).
#include <functional>
#include <memory>
#include <string>

#include "app/Paths.h"
#include "app/Settings.h"
#include "app/SettingsStore.h"
#include "app/TimerList.h"
#include "common/Log.h"
#include "platform/Clock.h"
#include "platform/SettingsBackend.h"

namespace kavon {

class FrmMain {
 public:
  FrmMain(ProgramPaths paths, platform::Clock& clock, platform::SettingsBackend& settingsBackend);
  ~FrmMain();
  FrmMain(const FrmMain&) = delete;
  FrmMain& operator=(const FrmMain&) = delete;

  // Startup, in order: error mode, log, settings. The lock is the caller's.
  void Load();
  // One tick of the main timer. Never called again while it runs.
  void Tick();
  // Shutdown, in order: channels, switches, timer list, devices, last log line.
  void Unload();

  const Settings& settings() const { return settings_; }
  Settings& settings() { return settings_; }
  Log& log() { return log_; }
  SettingsStore& store() { return store_; }
  const ProgramPaths& paths() const { return paths_; }
  bool errorCatch() const { return errorCatch_; }
  int timerWindowShown() const { return timerWindowShown_; }
  TimerList& timers() { return timers_; }

 private:
  // Runs one step of startup, tick or shutdown. Unless the diagnostic mode
  // is on, whatever escapes the step is logged as an error and the program
  // goes on with the next step.
  void Guarded(const char* step, const std::function<void()>& work);
  void SetUpLog();

  ProgramPaths paths_;
  platform::Clock& clock_;
  SettingsStore store_;
  Settings settings_;
  Log log_;
  TimerList timers_;
  // When the startup read of timer.txt failed, exit must not replace the
  // file with the (empty) list in memory.
  bool timerReadFailed_ = false;
  bool errorCatch_ = false;
  int timerWindowShown_ = 0;
};

// The log files of ours: kavon + yyyymmdd + ".log" or ".err".
bool IsOwnLogFileName(const std::string& fileName);

}  // namespace kavon
