#include "app/FrmMain.h"

#include <chrono>
#include <exception>
#include <filesystem>
#include <set>
#include <utility>

#include "app/ControlCommands.h"
#include "audio/WaveMMIO.h"
#include "common/FileHelpers.h"
#include "common/Text.h"
#include "platform/FileSync.h"
#include "platform/Utf8Path.h"

namespace kavon {

namespace {
constexpr int kLogKeepDays = 90;
// Entries that can never fire are named up to this many per load.
constexpr int kMaxUnfireableReports = 20;
constexpr double kTimerFileCheckSeconds = 0.5;
// A changed timer.txt is taken once it has stayed the same this long.
constexpr double kTimerSettleSeconds = 1.0;

std::string ChannelNumber(const TimerEntry& e) { return std::to_string(static_cast<int64_t>(e.Ch) + 1); }
}  // namespace

bool IsOwnLogFileName(const std::string& fileName) {
  const std::string base = kAppName;
  if (fileName.size() != base.size() + 12 || !StartsWith(fileName, base)) return false;
  const std::string digits = fileName.substr(base.size(), 8);
  const std::string ext = fileName.substr(base.size() + 8);
  return IsDigits(digits) && (ext == ".log" || ext == ".err");
}

FrmMain::FrmMain(ProgramPaths paths, platform::Clock& clock, platform::SettingsBackend& settingsBackend,
                 platform::WaveIn& waveIn)
    : app_(std::move(paths), clock, settingsBackend, waveIn),
      rec_(app_),
      tick_(app_, rec_),
      heartbeat_(app_.paths.RunFile(), clock) {}

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
  app_.log.RepairTails();
  // The log folder may be shared with other programs: only our own daily
  // files are old enough to go, and nothing below the folder is touched.
  DeleteOldGuard guard;
  guard.accept = IsOwnLogFileName;
  DeleteOldFiles(folder, true, kLogKeepDays, "", true, app_.clock, guard);
  for (const auto& kv : app_.settings.rejected) app_.log.WriteLog("設定値が範囲外 " + kv, 1);
}

void FrmMain::SetUpChannels() {
  const Settings& s = app_.settings;
  app_.capture.SetFormat(CaptureSettings{s.nFreq, s.MuonInLevel, s.MuonOutLevel, s.MuonMS, s.PreRollMS});
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
  std::filesystem::create_directories(platform::U8Path(app_.paths.programFolder), ec);
  std::filesystem::current_path(platform::U8Path(app_.paths.programFolder), ec);

  {
    // The defaults of missing keys go to disk in one save.
    SettingsBatch batch(app_.store);
    app_.settings = ReadAllSettings(app_.store);
  }
  loaded_ = app_.settings;
  app_.errorCatch = app_.settings.ErrorCatch != 0 || FileExists(app_.paths.ErrorCatchMarker());
  app_.lang = Lang(Lang::ModeFor(Lang::EnvironmentLocale(), app_.settings.LangMode));
  Guarded("Load", [&] { SetUpLog(); });
  for (const std::string& note : app_.store.TakeNotes()) app_.log.WriteLog(note, 1);
  Guarded("Load", [&] { SetUpChannels(); });
  Guarded("Load", [&] {
    app_.capture.SetSync(app_.settings.SyncWrites != 0);
    app_.capture.SetJournal(&app_.journal);
    if (!useWriterThread_) return;
    writer_ = std::make_unique<DiskWriter>(app_.capture.Format().samplesPerSec, app_.settings.SyncWrites != 0,
                                           &app_.journal);
    app_.capture.SetWriter(writer_.get());
  });
  Guarded("Load", [&] { RepairHeaders(); });
  app_.TimerOn = app_.settings.TimerOn;
  Guarded("Load", [&] {
    RemoveStaleSaves(app_.paths.TimerFile());
    timerVersion_ = FileVersionOf(app_.paths.TimerFile());
    app_.timers.InputTimer(app_.paths.TimerFile());
    ReportUnfireable();
  });
  Guarded("Load", [&] { InitSerial(); });
  Guarded("Load", [&] { InitHID(); });
  Guarded("Load", [&] {
    for (int ch = 0; ch <= app_.settings.NumRec; ++ch) rec_.SetLamp(ch, 0, 0);
  });
  app_.timerWindowShown = app_.settings.FrmTimerVisible != 0 ? 1 : 0;
  timerCheckedAt_ = app_.clock.SteadySeconds();
  heartbeat_.ReadPrevious();
  tick_.Start(heartbeat_.Previous());
  heartbeat_.Beat(true);
  timerQuietAt_ = app_.displayDate + " " + app_.displayTime;
  app_.counters.startTime = std::chrono::duration<double>(app_.clock.NowUtc().time_since_epoch()).count();
  Guarded("Load", [&] { StartHttp(); });
}

void FrmMain::StartHttp() {
  const std::string& listen = app_.settings.HttpListen;
  if (listen.empty()) return;
  std::string why;
  if (const auto address = ParseListenAddress(listen, &why)) {
    http_ = MakeHttpEndpoint(board_);
    if (http_) {
      publishedAt_ = app_.clock.SteadySeconds() - 1;
      PublishMetrics();  // the first scrape finds something
      why = http_->Listen(*address);
    } else {
      why = "this build has no HTTP server";
    }
  }
  if (!why.empty()) {
    http_.reset();
    app_.log.WriteLog("HTTP 待ち受けできません " + listen + " " + why, 1);
    return;
  }
  app_.log.WriteLog("HTTP 待ち受け " + listen);
}

void FrmMain::PublishMetrics() {
  if (!http_) return;
  const double now = app_.clock.SteadySeconds();
  if (now - publishedAt_ < 1.0) return;
  publishedAt_ = now;
  board_.Publish(std::make_shared<const MetricsSnapshot>(CollectMetrics(*this)));
}

void FrmMain::ReportUnfireable() {
  int count = 0;
  for (const auto& e : app_.timers.entries()) {
    std::string text;
    if (!e.IsFireable()) {
      text = "タイマー設定が不正のため実行しません " + e.StartTime + " " + std::to_string(e.Length) + " " + e.FileTitle;
    } else if (!app_.IsChannel(e.Ch)) {
      text = "タイマーのチャンネルがありません " + ChannelNumber(e) + " " + e.FileTitle;
    } else {
      continue;
    }
    if (++count <= kMaxUnfireableReports) app_.log.WriteLog(text, 1);
  }
  if (count > kMaxUnfireableReports) {
    app_.log.WriteLog("タイマー設定が不正のため実行しません 計" + std::to_string(count), 1);
  }
}

void FrmMain::ReloadTimerList() {
  const std::string path = app_.paths.TimerFile();
  settling_.reset();
  timerVersion_ = FileVersionOf(path);
  listBehind_ = true;  // until a file is taken
  if (!timerVersion_.exists) {
    if (!std::exchange(timerMissingTold_, true)) app_.log.WriteLog("タイマーファイルがありません（今のリストのまま） " + path, 1);
    return;
  }
  timerMissingTold_ = false;
  if (!timerVersion_.regular) {
    app_.log.WriteLog("タイマー読込エラー " + path + " ファイルではありません", 1);
    return;
  }
  if (auto bytes = ReadTimerBytes(path, app_.log)) TakeTimerFile(std::move(*bytes), "");
}

bool FrmMain::TakeTimerFile(std::string bytes, const std::string& changedAfter) {
  const std::string path = app_.paths.TimerFile();
  std::set<std::string> running;
  for (const auto& e : app_.timers.entries()) {
    if (e.Active == 1) running.insert(EntryKey(e));
  }
  // Logged when refused; the list stays as it was, behind the file.
  listBehind_ = !app_.timers.TakeText(std::move(bytes), path);
  if (listBehind_) return false;
  for (auto& e : app_.timers.entries()) {
    if (running.contains(EntryKey(e))) e.Active = 1;
  }
  app_.log.WriteLog("タイマー再読込 " + path + " " + std::to_string(app_.timers.Count()) + "件");
  ReportUnfireable();
  if (!changedAfter.empty()) tick_.TimerListChanged(changedAfter);
  return true;
}

bool FrmMain::SaveTimerList() {
  const std::string path = app_.paths.TimerFile();
  // Edited by hand since we read it: the hand edit is what .bak keeps.
  if (FileVersionOf(path) != timerVersion_) app_.log.WriteLog("タイマーファイルは読み込み後に変更されていました " + path, 1);
  const bool written = app_.timers.OutputTimer(path);
  timerVersion_ = FileVersionOf(path);
  timerMissingTold_ = false;
  listBehind_ = false;
  settling_.reset();
  return written;
}

void FrmMain::WatchTimerFile() {
  const double now = app_.clock.SteadySeconds();
  if (now - timerCheckedAt_ < kTimerFileCheckSeconds) return;
  timerCheckedAt_ = now;
  const std::string path = app_.paths.TimerFile();
  const FileVersion version = FileVersionOf(path);
  if (version == timerVersion_) {
    settling_.reset();
    if (!listBehind_) timerQuietAt_ = app_.displayDate + " " + app_.displayTime;
    return;
  }
  if (!version.exists || !version.regular) {
    ReloadTimerList();  // says so once; the list stays
    return;
  }
  // A save in progress (an editor's truncate and write, a slow script) is
  // never read halfway: the file must stay the same, bytes and all, for a
  // while. Meanwhile the list read before keeps firing.
  auto bytes = ReadTimerBytes(path, app_.log);
  if (!bytes) {
    timerVersion_ = version;  // logged; tried again when it changes
    listBehind_ = true;
    return;
  }
  const size_t hash = std::hash<std::string>{}(*bytes);
  if (!settling_ || settling_->version != version || settling_->hash != hash) {
    settling_ = SettlingFile{version, hash, now};
    return;
  }
  if (now - settling_->since < kTimerSettleSeconds) return;
  settling_.reset();
  timerVersion_ = version;
  TakeTimerFile(std::move(*bytes), timerQuietAt_);
}

int FrmMain::InitSerial() {
  if (!serialSystem_) return 0;
  if (app_.serial == serialControl_.get()) app_.serial = nullptr;
  serialControl_ = std::make_unique<SerialControl>(app_, *serialSystem_);
  const int open = serialControl_->OpenSerial();
  // Not there yet, the box is still looked for: plugged in later, it works.
  if (app_.settings.ComNo > 0) {
    app_.serial = serialControl_.get();
  } else {
    serialControl_.reset();
  }
  return open;
}

int FrmMain::InitHID() {
  if (!hidSystem_) return 0;
  if (app_.hid == hidControl_.get()) app_.hid = nullptr;
  if (hidControl_) hidControl_->Close();
  hidControl_ = std::make_unique<HidControl>(app_, *hidSystem_);
  const int open = hidControl_->InitHID();
  // Not found, the box is still looked for: plugged in later, it works.
  if (app_.settings.USBHIDID != 0) app_.hid = hidControl_.get();
  return open;
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
  const auto began = std::chrono::steady_clock::now();
  Guarded("Tick", [&] { tick_.Tick(); });
  Guarded("Tick", [&] { heartbeat_.Beat(); });
  Guarded("Tick", [&] { app_.log.SyncIfDue(); });
  Guarded("Tick", [&] {
    const std::string why = app_.journal.TakeFailure();
    if (!why.empty()) app_.log.WriteLog("録音中リスト書き込みエラー " + why, 1);
  });
  Guarded("Tick", [&] { WatchTimerFile(); });
  Guarded("Tick", [&] {
    if (controlServer_) controlServer_->Poll([this](const std::string& r) { return AnswerControlRequest(*this, r); });
  });
  Guarded("Tick", [&] { PublishMetrics(); });
  app_.counters.tick.Observe(std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count());
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

void FrmMain::RepairHeaders() {
  // A journal write cut short left its temporary file (its process is gone).
  platform::RemoveStaleTemporaries(app_.paths.programFolder, "kavon.journal");
  // Only what this kavon had open at a cut: other programs' files in the
  // same folders are never ours to change, whatever their headers say.
  for (const std::string& file : app_.journal.Read()) {
    const RecordingRepair r = RepairRecording(file, app_.capture.Format().samplesPerSec);
    switch (r.result) {
      case RecordingRepair::Result::Repaired:
        app_.log.WriteLog("ヘッダ修復 " + file + " " + std::to_string(r.frames), 1);
        break;
      case RecordingRepair::Result::Missing:
        app_.log.WriteLog("ヘッダ修復せず（ファイルがありません） " + file, 1);
        break;
      case RecordingRepair::Result::NotOurs:
        app_.log.WriteLog("ヘッダ修復せず（kavonの形式ではありません） " + file, 1);
        break;
      case RecordingRepair::Result::Whole:
        break;
    }
  }
  app_.journal.Reset();
}

void FrmMain::FinishWrites() {
  if (!writer_) return;
  if (!app_.capture.WaitForWrites(shutdownWait_)) {
    const double bytesPerSecond = app_.capture.Format().avgBytesPerSec;
    for (const auto& [ch, bytes] : writer_->Waiting()) {
      app_.log.WriteLog("書き込めなかった音声 " + std::to_string(ch + 1) + " " +
                            FormatFixed(static_cast<double>(bytes) / bytesPerSecond, 3) + "秒",
                        1);
    }
    writer_->Abandon();
    app_.capture.WaitForWrites(1.0);
  }
  app_.capture.SetWriter(nullptr);
  // A write that never returns (a dead network disk) keeps its thread: the
  // writer is left to the end of the process rather than waited for.
  if (!writer_->Drain(0)) {
    (void)writer_.release();
    return;
  }
  writer_.reset();
}

void FrmMain::SaveSwitches() {
  // Only what changed since startup is written, in one save, so that hand
  // edits of other keys (and of these, when we did not touch them) stay.
  SettingsBatch batch(app_.store);
  auto save = [&](const std::string& key, int now, int then) {
    if (now != then) app_.store.WriteSetting(key, std::to_string(now));
  };
  save("FrmTimerVisible", app_.timerWindowShown, loaded_.FrmTimerVisible != 0 ? 1 : 0);
  for (int ch = 0; ch <= app_.settings.NumRec; ++ch) {
    const auto i = static_cast<size_t>(ch);
    save(ChannelKey("UseMuonIn", ch), app_.settings.UseMuonIn[i], loaded_.UseMuonIn[i]);
    save(ChannelKey("UseMuonOut", ch), app_.settings.UseMuonOut[i], loaded_.UseMuonOut[i]);
  }
  save("TimerOn", app_.TimerOn, loaded_.TimerOn);
}

void FrmMain::Unload() {
  // No tick may start a channel once the channels are being closed.
  unloading_ = true;
  if (http_) http_->Stop();
  for (int ch = 0; ch <= app_.settings.NumRec; ++ch) {
    Guarded("Unload", [&] {
      const bool wasOpen = app_.capture.Channel(ch).IsOpen == 1;
      app_.capture.CloseCapture(ch);
      rec_.ResetChannelDisplay(ch);
      if (wasOpen) app_.log.WriteLog("録音停止（終了時）" + std::to_string(ch + 1) + " " + app_.capture.Channel(ch).RecFileName);
    });
  }
  Guarded("Unload", [&] { FinishWrites(); });
  Guarded("Unload", [&] { SaveSwitches(); });
  Guarded("Unload", [&] {
    // timer.txt is the user's file: written back only when we changed it.
    if (app_.timers.Modified()) app_.timers.OutputTimer(app_.paths.TimerFile());
  });
  Guarded("Unload", [&] { LampsOffAtExit(app_.serial); });
  Guarded("Unload", [&] {
    if (serialControl_) serialControl_->Close();
  });
  Guarded("Unload", [&] { LampsOffAtExit(app_.hid); });
  Guarded("Unload", [&] {
    if (hidControl_) hidControl_->Close();
  });
  heartbeat_.Beat(true);
  app_.log.WriteLog("****終了****");
  app_.log.SyncIfDue(true);
}

}  // namespace kavon
