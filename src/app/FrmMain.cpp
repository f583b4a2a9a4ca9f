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

FrmMain::FrmMain(ProgramPaths paths, platform::Clock& clock, platform::SettingsBackend& settingsBackend)
    : paths_(std::move(paths)), clock_(clock), store_(settingsBackend), log_(clock), timers_(log_) {}

FrmMain::~FrmMain() = default;

void FrmMain::Guarded(const char* step, const std::function<void()>& work) {
  if (errorCatch_) {
    work();
    return;
  }
  try {
    work();
  } catch (const std::exception& e) {
    log_.WriteLog(std::string("エラー ") + step + " " + e.what(), 1);
  } catch (...) {
    log_.WriteLog(std::string("エラー ") + step, 1);
  }
}

void FrmMain::SetUpLog() {
  const std::string debugPath = settings_.DebugLogPath;
  const std::string folder = debugPath.empty() ? paths_.DefaultLogFolder() : Backslash(debugPath);
  log_.SetFolder(folder);
  log_.SetEnabled(settings_.LogError != 0);
  // The log folder may be shared with other programs: only our own daily
  // files are old enough to go, and nothing below the folder is touched.
  DeleteOldGuard guard;
  guard.accept = IsOwnLogFileName;
  DeleteOldFiles(folder, true, kLogKeepDays, "", true, clock_, guard);
}

void FrmMain::Load() {
  std::error_code ec;
  std::filesystem::create_directories(paths_.programFolder, ec);
  std::filesystem::current_path(paths_.programFolder, ec);

  settings_ = ReadAllSettings(store_);
  errorCatch_ = settings_.ErrorCatch != 0 || FileExists(paths_.ErrorCatchMarker());
  Guarded("Load", [&] { SetUpLog(); });
  Guarded("Load", [&] { timerReadFailed_ = !timers_.InputTimer(paths_.TimerFile()); });
  timerWindowShown_ = settings_.FrmTimerVisible != 0 ? 1 : 0;
}

void FrmMain::Tick() {}

void FrmMain::Unload() {
  Guarded("Unload", [&] { store_.WriteSetting("FrmTimerVisible", std::to_string(timerWindowShown_)); });
  Guarded("Unload", [&] {
    for (int ch = 0; ch <= settings_.NumRec; ++ch) {
      store_.WriteSetting(ChannelKey("UseMuonIn", ch), std::to_string(settings_.UseMuonIn[ch]));
      store_.WriteSetting(ChannelKey("UseMuonOut", ch), std::to_string(settings_.UseMuonOut[ch]));
    }
  });
  Guarded("Unload", [&] { store_.WriteSetting("TimerOn", std::to_string(settings_.TimerOn)); });
  Guarded("Unload", [&] {
    if (!timerReadFailed_) timers_.OutputTimer(paths_.TimerFile());
  });
  log_.WriteLog("****終了****");
}

}  // namespace kavon
