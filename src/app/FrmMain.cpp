#include "app/FrmMain.h"

#include <exception>
#include <filesystem>

#include "common/FileHelpers.h"
#include "common/Text.h"

namespace kavon {

namespace {
constexpr int kLogKeepDays = 90;
}

bool IsOwnLogFileName(const std::string& fileName) {
  const std::string base = kAppName;
  if (fileName.size() != base.size() + 12 || !StartsWith(fileName, base)) return false;
  const std::string digits = fileName.substr(base.size(), 8);
  const std::string ext = fileName.substr(base.size() + 8);
  return IsDigits(digits) && (ext == ".log" || ext == ".err");
}

FrmMain::FrmMain(ProgramPaths paths, platform::Clock& clock, platform::SettingsBackend& settingsBackend,
                 platform::WaveIn& waveIn)
    : app_(std::move(paths), clock, settingsBackend, waveIn), rec_(app_), tick_(app_, rec_) {}

FrmMain::~FrmMain() = default;

void FrmMain::Guarded(const char* step, const std::function<void()>& work) {
  if (app_.errorCatch) {
    work();
    return;
  }
  try {
    work();
  } catch (const std::exception& e) {
    app_.log.WriteLog(std::string("エラー ") + step + " " + e.what(), 1);
  } catch (...) {
    app_.log.WriteLog(std::string("エラー ") + step, 1);
  }
}

void FrmMain::SetUpLog() {
  const std::string& debugPath = app_.settings.DebugLogPath;
  const std::string folder = debugPath.empty() ? app_.paths.DefaultLogFolder() : Backslash(debugPath);
  app_.log.SetFolder(folder);
  app_.log.SetEnabled(app_.settings.LogError != 0);
  // The log folder may be shared with other programs: only our own daily
  // files are old enough to go, and nothing below the folder is touched.
  DeleteOldGuard guard;
  guard.accept = IsOwnLogFileName;
  DeleteOldFiles(folder, true, kLogKeepDays, "", true, app_.clock, guard);
}

void FrmMain::SetUpChannels() {
  const Settings& s = app_.settings;
  app_.capture.SetFormat(CaptureSettings{s.nFreq, s.MuonInLevel, s.MuonOutLevel, s.MuonMS});
  for (int ch = 0; ch <= s.NumRec; ++ch) {
    ChannelCapture& c = app_.capture.Channel(ch);
    c.DevInName = s.DevInName[static_cast<size_t>(ch)];
    c.RecGain = s.RecGain[static_cast<size_t>(ch)];
    c.UseMuonIn = s.UseMuonIn[static_cast<size_t>(ch)];
    c.UseMuonOut = s.UseMuonOut[static_cast<size_t>(ch)];
    rec_.DrawChannelMeter(ch, -1);
  }
}

void FrmMain::Load() {
  std::error_code ec;
  std::filesystem::create_directories(app_.paths.programFolder, ec);
  std::filesystem::current_path(app_.paths.programFolder, ec);

  app_.settings = ReadAllSettings(app_.store);
  app_.errorCatch = app_.settings.ErrorCatch != 0 || FileExists(app_.paths.ErrorCatchMarker());
  Guarded("Load", [&] { SetUpLog(); });
  Guarded("Load", [&] { SetUpChannels(); });
  app_.TimerOn = app_.settings.TimerOn;
  Guarded("Load", [&] { timerReadFailed_ = !app_.timers.InputTimer(app_.paths.TimerFile()); });
  Guarded("Load", [&] {
    for (int ch = 0; ch <= app_.settings.NumRec; ++ch) rec_.SetLamp(ch, 0, 0);
  });
  app_.timerWindowShown = app_.settings.FrmTimerVisible != 0 ? 1 : 0;
  tick_.Start();
}

void FrmMain::SetControlDevices(ControlDevice* serial, ControlDevice* hid) {
  app_.serial = serial;
  app_.hid = hid;
}

void FrmMain::SetMuonStart(int ch, int on) {
  if (!app_.IsChannel(ch)) return;
  app_.settings.UseMuonIn[static_cast<size_t>(ch)] = on ? 1 : 0;
  app_.capture.Channel(ch).UseMuonIn = on ? 1 : 0;  // from the channel's next start
}

void FrmMain::SetMuonStop(int ch, int on) {
  if (!app_.IsChannel(ch)) return;
  app_.settings.UseMuonOut[static_cast<size_t>(ch)] = on ? 1 : 0;
  app_.capture.Channel(ch).UseMuonOut = on ? 1 : 0;  // from the next buffer
}

void FrmMain::Tick() {
  if (unloading_ || ticking_) return;
  ticking_ = true;
  Guarded("Tick", [&] { tick_.Tick(); });
  ticking_ = false;
}

void FrmMain::LampsOffAtExit(ControlDevice* device) {
  if (!device) return;
  // 101..108 in order, as the boxes expect; then the lamps of channels 5..8.
  for (int code = 101; code <= 108; ++code) device->WriteLamp(code);
  for (int ch = 4; ch <= app_.settings.NumRec; ++ch) {
    device->WriteLamp(LampCode(ch, 0) + kLampOff);
    device->WriteLamp(LampCode(ch, 1) + kLampOff);
  }
}

void FrmMain::Unload() {
  // No tick may start a channel once the channels are being closed.
  unloading_ = true;
  Guarded("Unload", [&] { app_.store.WriteSetting("FrmTimerVisible", std::to_string(app_.timerWindowShown)); });
  for (int ch = 0; ch <= app_.settings.NumRec; ++ch) {
    Guarded("Unload", [&] {
      const bool wasOpen = app_.capture.Channel(ch).IsOpen == 1;
      app_.capture.CloseCapture(ch);
      rec_.ResetChannelDisplay(ch);
      if (wasOpen) app_.log.WriteLog("録音停止（終了時）" + std::to_string(ch + 1) + " " + app_.capture.Channel(ch).RecFileName);
    });
  }
  Guarded("Unload", [&] {
    for (int ch = 0; ch <= app_.settings.NumRec; ++ch) {
      app_.store.WriteSetting(ChannelKey("UseMuonIn", ch), std::to_string(app_.settings.UseMuonIn[static_cast<size_t>(ch)]));
      app_.store.WriteSetting(ChannelKey("UseMuonOut", ch), std::to_string(app_.settings.UseMuonOut[static_cast<size_t>(ch)]));
    }
  });
  Guarded("Unload", [&] { app_.store.WriteSetting("TimerOn", std::to_string(app_.TimerOn)); });
  Guarded("Unload", [&] {
    if (!timerReadFailed_) app_.timers.OutputTimer(app_.paths.TimerFile());
  });
  Guarded("Unload", [&] { LampsOffAtExit(app_.serial); });
  Guarded("Unload", [&] { LampsOffAtExit(app_.hid); });
  app_.log.WriteLog("****終了****");
}

}  // namespace kavon
