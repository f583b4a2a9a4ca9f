#pragma once
// The application: startup, the 100 ms tick and shutdown, without a window.
// The Qt window and the headless runner both drive this object; it owns the
// program-wide state (settings in memory, log, timer list, capture engine).
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/AppState.h"
#include "app/Heartbeat.h"
#include "app/HttpEndpoint.h"
#include "app/MainTick.h"
#include "app/Metrics.h"
#include "app/RecordingControl.h"
#include "app/HidControl.h"
#include "app/SerialControl.h"
#include "audio/DiskWriter.h"
#include "platform/ControlSocket.h"

namespace kavon {

class FrmMain {
 public:
  FrmMain(ProgramPaths paths, platform::Clock& clock, platform::SettingsBackend& settingsBackend,
          platform::WaveIn& waveIn);
  ~FrmMain();
  FrmMain(const FrmMain&) = delete;
  FrmMain& operator=(const FrmMain&) = delete;

  // Startup, in order: error mode, log, settings, channels, timer list,
  // control devices, lamps off, the tick's clocks. The lock is the caller's.
  void Load();
  // One tick of the main timer; does nothing once Unload has begun. Ticks
  // never overlap: a call made while one runs returns at once.
  void Tick();
  // Shutdown, in order: stop ticking, close every channel (files flushed),
  // switches, timer list (only when the program changed it), lamps off,
  // last log line.
  void Unload();
  // Reads timer.txt again (it changed on disk, or SIGHUP asked for it). A
  // file that cannot be read keeps the list; running entries keep running.
  void ReloadTimerList();
  // Writes timer.txt now (the editor changed the list), keeping the old
  // file as timer.txt.bak; the file watch takes the new file as ours. False
  // when it could not be written (logged; the next change tries again).
  bool SaveTimerList();

  // The control boxes, opened by their modules (none by default).
  void SetControlDevices(ControlDevice* serial, ControlDevice* hid);
  // Flushes go through a writer thread (the default); tests may write
  // inline instead. Before Load.
  void UseWriterThread(bool on) { useWriterThread_ = on; }
  // How long shutdown waits for the disk before it gives up.
  void SetShutdownWait(double seconds) { shutdownWait_ = seconds; }
  DiskWriter* writer() { return writer_.get(); }
  // The machine's serial ports: with one, startup opens the serial control
  // box of the settings (InitSerial). Before Load.
  void SetSerialSystem(platform::SerialSystem* system) { serialSystem_ = system; }
  platform::SerialSystem* serialSystem() const { return serialSystem_; }
  // The socket `kavon ctl` talks to; served after each tick.
  void SetControlServer(platform::ControlServer* server) { controlServer_ = server; }
  // (Re)opens the serial control box from the settings; 1 when open.
  int InitSerial();
  // The machine's HID devices: with them, startup opens the HID control
  // box of the settings (USBHIDID). Before Load.
  void SetHidSystem(platform::HidSystem* system) { hidSystem_ = system; }
  // (Re)opens the HID control box from the settings; 1 when open.
  int InitHID();
  // The detection check boxes of a channel's row.
  void SetMuonStart(int ch, int on);
  void SetMuonStop(int ch, int on);

  AppState& state() { return app_; }
  const Settings& settings() const { return app_.settings; }
  Log& log() { return app_.log; }
  SettingsStore& store() { return app_.store; }
  TimerList& timers() { return app_.timers; }
  RecordingControl& recording() { return rec_; }
  MainTick& tick() { return tick_; }
  bool errorCatch() const { return app_.errorCatch; }

 private:
  // Runs one step of startup, tick or shutdown. Unless the diagnostic mode
  // is on, whatever escapes the step is logged as an error and the program
  // goes on with the next step.
  void Guarded(const char* step, const std::function<void()>& work);
  void SetUpLog();
  void SetUpChannels();
  void LampsOffAtExit(ControlDevice* device);
  // Logs the entries that can never fire, a bounded number of lines.
  void ReportUnfireable();
  // Twice a second: has timer.txt changed on disk, and has the change
  // settled (unchanged for kTimerSettleSeconds, its last line whole)?
  void WatchTimerFile();
  // Takes timer.txt's bytes as the new list (the list stays when they are
  // not one: false); changedAfter: the display second after which the file began
  // to change, so starts the change held up are made up.
  bool TakeTimerFile(std::string bytes, const std::string& changedAfter);
  // The switches the user may change while we run, at exit.
  void SaveSwitches();
  // Headers a power cut left disagreeing with their files, or lost, at start.
  void RepairHeaders();
  // Shutdown: waits (bounded) for the disk and says what it could not write.
  void FinishWrites();
  // The HTTP endpoint of HttpListen, if any, and what it serves: published
  // by the tick once a second.
  void StartHttp();
  void PublishMetrics();

  AppState app_;
  bool useWriterThread_ = true;
  double shutdownWait_ = 30;
  std::unique_ptr<DiskWriter> writer_;
  platform::SerialSystem* serialSystem_ = nullptr;
  platform::ControlServer* controlServer_ = nullptr;
  std::unique_ptr<SerialControl> serialControl_;
  platform::HidSystem* hidSystem_ = nullptr;
  std::unique_ptr<HidControl> hidControl_;
  RecordingControl rec_;
  MainTick tick_;
  Heartbeat heartbeat_;
  MetricsBoard board_;  // outlives the endpoint that reads it
  std::unique_ptr<HttpEndpoint> http_;
  double publishedAt_ = 0;  // steady seconds
  Settings loaded_;  // as read at startup
  FileVersion timerVersion_;  // of the file the list was read from or written to
  double timerCheckedAt_ = 0;  // steady seconds
  // A version of timer.txt that differs from the list's, waiting to settle.
  struct SettlingFile {
    FileVersion version;
    size_t hash = 0;
    double since = 0;  // steady seconds
  };
  std::optional<SettlingFile> settling_;
  // The display date and time of the last check that found the list and
  // timer.txt in agreement; the list is behind while the file on disk is
  // one it could not take (half written, empty, missing).
  std::string timerQuietAt_;
  bool listBehind_ = false;
  bool timerMissingTold_ = false;
  bool ticking_ = false;
  bool unloading_ = false;
};

// The log files of ours: kavon + yyyymmdd + ".log" or ".err".
bool IsOwnLogFileName(const std::string& fileName);

}  // namespace kavon
