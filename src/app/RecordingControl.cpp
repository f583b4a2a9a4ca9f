#include "app/RecordingControl.h"

#include <cmath>
#include <filesystem>
#include <limits>

#include "audio/WaveDevices.h"
#include "audio/WaveMMIO.h"
#include "common/FileHelpers.h"
#include "common/Helpers.h"
#include "common/Text.h"
#include "schedule/DateTime.h"
#include "platform/Utf8Path.h"

namespace fs = std::filesystem;

namespace kavon {
namespace {

// The longest file name the file systems we write to take, in bytes. A
// name of ours leaves room for the series mark " (999)" behind its title.
constexpr size_t kMaxFileNameBytes = 255;
constexpr int kMaxSeries = 999;
constexpr size_t kSeriesRoom = 6;

// text cut to at most bytes, at a UTF-8 character boundary.
std::string CutUtf8(const std::string& text, size_t bytes) {
  if (text.size() <= bytes) return text;
  size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

// stem + tail, the stem's last path part shortened so the name takes at
// most limit bytes.
std::string FitName(const std::string& stem, const std::string& tail, size_t limit, bool* shortened = nullptr) {
  const size_t slash = stem.find_last_of(platform::kPathSeparators);
  const size_t start = slash == std::string::npos ? 0 : slash + 1;
  const std::string title = stem.substr(start);
  if (title.size() + tail.size() <= limit) return stem + tail;
  if (shortened) *shortened = true;
  const size_t room = limit > tail.size() ? limit - tail.size() : 0;
  return stem.substr(0, start) + Trim(CutUtf8(title, room)) + tail;
}

}  // namespace

int LampCode(int ch, int lamp) {
  if (ch >= 0 && ch <= 3) return lamp == 0 ? ch + 1 : ch + 5;
  if (ch >= 4 && ch <= 7) return lamp == 0 ? ch + 9 : ch + 13;
  return 0;
}

std::vector<int> LampStateCodes(const AppState& app) {
  std::vector<int> codes;
  for (int ch = 0; ch <= app.settings.NumRec; ++ch) {
    const bool open = app.capture.Channel(ch).IsOpen == 1;
    codes.push_back(LampCode(ch, 0) + (open ? 0 : kLampOff));
    codes.push_back(LampCode(ch, 1) + (open ? kLampOff : 0));
  }
  return codes;
}

std::string SafeTitle(const std::string& title) {
  return ReplaceAll(SafeFileName(title), "..", "\xEF\xBC\x8E\xEF\xBC\x8E");  // ．．
}

std::string WithoutWavEnding(const std::string& base) {
  return EndsWith(ToLower(base), ".wav") ? base.substr(0, base.size() - 4) : base;
}

std::string SeriesName(const std::string& first, int index) {
  if (index <= 1) return first;
  return FitName(WithoutWavEnding(first), " (" + std::to_string(index) + ").wav", kMaxFileNameBytes);
}

RecordingControl::RecordingControl(AppState& app)
    : app_(app), retention_([this](const fs::path& p) { return IsProtected(p); }) {}

bool RecordingControl::IsProtected(const fs::path& p) {
  std::error_code ec;
  for (int ch = 0; ch < kMaxChannels; ++ch) {
    const auto& c = app_.capture.Channel(ch);
    if (c.IsOpen && !c.RecFileName.empty() && fs::equivalent(p, platform::U8Path(c.RecFileName), ec)) return true;
  }
  // What this run wrote is judged by the steady clock, which no step of
  // the wall clock can move.
  const auto w = written_.find(platform::U8String(p.lexically_normal()));
  return w != written_.end() && app_.clock.SteadySeconds() - w->second < app_.settings.DeleteDate * 86400.0;
}

void RecordingControl::NoteWritten(const std::string& path) {
  const double now = app_.clock.SteadySeconds();
  const double keep = std::max(1, app_.settings.DeleteDate) * 86400.0;
  std::erase_if(written_, [&](const auto& w) { return now - w.second >= keep; });
  written_[platform::U8String(platform::U8Path(path).lexically_normal())] = now;
}

void RecordingControl::NoteClockStep(double seconds) {
  if (std::abs(seconds) <= kClockStepHoldOff) return;
  holdRetentionUntil_ = app_.clock.SteadySeconds() + kRetentionSettle;
  toldHold_ = false;
}

void RecordingControl::StepRetention() {
  if (holdRetentionUntil_ && app_.clock.SteadySeconds() < *holdRetentionUntil_) {
    if (!retention_.Idle() && !toldHold_) {
      app_.log.WriteLog("古い録音の削除を保留（時計の変更の後、時計が落ち着くまで）", 1);
      toldHold_ = true;
    }
    return;
  }
  holdRetentionUntil_.reset();
  retention_.Step();
}

std::string RecordingControl::ChannelFolder(int ch) const {
  // An empty folder means the program folder, not whatever the current
  // directory has become.
  const std::string& path = app_.settings.RecPath[static_cast<size_t>(ch)];
  return path.empty() ? app_.paths.programFolder : path;
}

std::string RecordingControl::RecordingFileName(int ch, const std::string& base, int manual,
                                                const std::optional<std::string>& stampText,
                                                bool* shortened) const {
  std::string stamp = stampText ? *stampText : NowText(app_.clock, app_.settings.HourAdjust, 0, 2);
  if (app_.settings.NumRec >= 1) stamp += "_" + std::to_string(ch + 1);
  const std::string& recPath = app_.settings.RecPath[static_cast<size_t>(ch)];
  if (base.empty() || base == recPath || base == ChannelFolder(ch)) return ChannelFolder(ch) + stamp + ".wav";
  if (FileExists(EnsureExtension(base, "wav")) || manual == 0) {
    return FitName(WithoutWavEnding(base), " " + stamp + ".wav", kMaxFileNameBytes - kSeriesRoom, shortened);
  }
  return EnsureExtension(base, "wav");
}

std::string RecordingControl::NameRecording(int ch, const std::string& base, int manual,
                                            const std::optional<std::string>& stamp) {
  bool shortened = false;
  const std::string name = RecordingFileName(ch, base, manual, stamp, &shortened);
  if (shortened) app_.log.WriteLog("ファイル名を短縮 " + name);
  return name;
}

std::string RecordingControl::ClaimFile(int ch, int from, std::string& why) {
  Series& series = series_[static_cast<size_t>(ch)];
  const std::string folder = SplitPath(series.first, true, false, false, false, false);
  if (!folder.empty()) MakeDirs(folder);
  for (int index = std::max(1, from); index <= kMaxSeries; ++index) {
    const std::string name = SeriesName(series.first, index);
    switch (CreateWaveFile(app_.capture.Format().samplesPerSec, 16, 2, name, 0, &why)) {
      case platform::NewFile::NameTaken: continue;
      case platform::NewFile::Failed: return {};
      case platform::NewFile::Created: break;
    }
    series.index = index;
    app_.capture.NewFileMade(ch, name);
    return name;
  }
  why = "名前の空きがありません（" + std::to_string(kMaxSeries) + "まで使用中）";
  return {};
}

std::string RecordingControl::ClaimRecordingFile(int ch, const std::string& intended, std::string& why) {
  series_[static_cast<size_t>(ch)] = Series{intended, 1};
  const std::string name = ClaimFile(ch, 1, why);
  if (!name.empty() && name != intended) {
    app_.log.WriteLog("同名のファイルがあるため別名で録音 " + std::to_string(ch + 1) + " " + name, 1);
  }
  return name;
}

std::string RecordingControl::PreviousPart(int ch) const {
  const Series& series = series_[static_cast<size_t>(ch)];
  return series.index > 1 ? SeriesName(series.first, series.index - 1) : std::string();
}

void RecordingControl::Fail(int ch, const std::string& why, Origin origin) {
  ChannelCapture& c = app_.capture.Channel(ch);
  app_.log.WriteLog("録音失敗 " + std::to_string(ch + 1) + " " + c.RecFileName + " " + why, 1);
  app_.view[static_cast<size_t>(ch)].error = why;
  // Only the user's own click may raise a box: an unattended start must
  // never wait for someone to press OK.
  if (origin == Origin::User) app_.messages.push_back(why);
}

int RecordingControl::StartRecording(int ch, int64_t limitFrames, const std::string& base, int manual, Origin origin,
                                     const std::optional<std::string>& stamp, const std::string& programme) {
  if (!app_.IsChannel(ch)) return 0;
  ChannelCapture& c = app_.capture.Channel(ch);
  if (c.IsOpen) return 1;
  if (const auto& w = waiting_[static_cast<size_t>(ch)]) {
    // A new start takes the channel from a recording still waiting for its
    // device: that one ends here, and is named (missed, if none of it was
    // recorded).
    const Waiting ended = *w;
    EndWaiting(ch);
    GiveUp(ch, ended);
  }
  const std::string intended = NameRecording(ch, base, manual, stamp);
  std::string why;
  const std::string name = ClaimRecordingFile(ch, intended, why);
  c.RecFileName = name.empty() ? intended : name;
  const double now = app_.clock.SteadySeconds();
  const double until = limitFrames >= 1 ? now + static_cast<double>(limitFrames) / app_.settings.nFreq
                                        : std::numeric_limits<double>::infinity();
  if (name.empty()) {
    Fail(ch, "ファイルを作成できません " + c.RecFileName + " (" + why + ")", origin);
    StartWaiting(ch, {origin, now, until, now + kRetrySeconds, false, programme, why});
    return 0;
  }
  c.RecLimitFrames = limitFrames;
  if (app_.capture.OpenCapture(ch) != 1) {
    // No recording, no file: an empty .wav would only look like one.
    DeleteFileForce(c.RecFileName);
    app_.capture.NewFileDropped(ch, c.RecFileName);
    const std::string text = WaveErrorText(app_.waveIn, c.LastError);
    Fail(ch, text, origin);
    StartWaiting(ch, {origin, now, until, now + kRetrySeconds, false, programme, text});
    return 0;
  }
  ShowStarted(ch, origin);
  return 1;
}

void RecordingControl::DeviceLost(int ch) {
  ChannelCapture& c = app_.capture.Channel(ch);
  const double now = app_.clock.SteadySeconds();
  const int64_t left = c.RecLimitFrames - app_.capture.FramesElapsed(ch);
  if (c.RecLimitFrames >= 1 && left <= 0) return;  // its time is up anyway
  const double until = c.RecLimitFrames >= 1 ? now + static_cast<double>(left) / app_.settings.nFreq
                                             : std::numeric_limits<double>::infinity();
  const Origin origin = IsTimerRecording(ch) ? Origin::Timer : Origin::ControlCode;
  StartWaiting(ch, {origin, now, until, now + kRetrySeconds, true, {}, "録音デバイス切断"});
}

void RecordingControl::StartWaiting(int ch, Waiting w) {
  waiting_[static_cast<size_t>(ch)] = std::move(w);
  app_.view[static_cast<size_t>(ch)].waitingToRecord = true;
}

void RecordingControl::EndWaiting(int ch) {
  waiting_[static_cast<size_t>(ch)].reset();
  app_.view[static_cast<size_t>(ch)].waitingToRecord = false;
}

void RecordingControl::StepRetries() {
  const double now = app_.clock.SteadySeconds();
  for (int ch = 0; ch <= app_.settings.NumRec; ++ch) {
    auto& w = waiting_[static_cast<size_t>(ch)];
    if (!w || now < w->nextTry) continue;
    if (now >= w->until) {
      const Waiting ended = *w;
      EndWaiting(ch);
      GiveUp(ch, ended);
      continue;
    }
    w->nextTry = now + kRetrySeconds;
    if (TryAgain(ch, *w)) EndWaiting(ch);
  }
}

bool RecordingControl::TryAgain(int ch, Waiting& w) {
  ChannelCapture& c = app_.capture.Channel(ch);
  const double now = app_.clock.SteadySeconds();
  // The device first: a file is made only for audio that can come.
  c.RecLimitFrames = std::isinf(w.until) ? 0 : std::max<int64_t>(1, std::llround((w.until - now) * app_.settings.nFreq));
  if (app_.capture.OpenCapture(ch) != 1) {
    w.why = WaveErrorText(app_.waveIn, c.LastError);
    return false;
  }
  std::string why;
  const std::string name = ClaimFile(ch, w.wrote ? series_[static_cast<size_t>(ch)].index + 1 : 1, why);
  if (name.empty()) {
    app_.capture.CloseCapture(ch, false);
    w.why = why;
    return false;
  }
  c.RecFileName = name;
  ShowStarted(ch, w.origin);
  std::string line = "録音再開（デバイス復帰）" + std::to_string(ch + 1) + " " + name;
  if (const std::string before = PreviousPart(ch); !before.empty()) line += "（前の部分 " + before + "）";
  app_.log.WriteLog(line + " 欠落 " + FormatFixed(now - w.since, 3) + "秒", 1);
  return true;
}

void RecordingControl::GiveUp(int ch, const Waiting& w) {
  const double lost = app_.clock.SteadySeconds() - w.since;
  ResetChannelDisplay(ch);
  if (!w.wrote && !w.programme.empty()) {
    ++app_.missedProgrammes;
    app_.log.WriteLog("録音できなかった番組 " + std::to_string(ch + 1) + " " + w.programme + " " + w.why, 1);
    return;
  }
  app_.log.WriteLog("録音終了（再開できず）" + std::to_string(ch + 1) + " " + series_[static_cast<size_t>(ch)].first +
                        " 欠落 " + FormatFixed(lost, 3) + "秒 " + w.why,
                    1);
}

void RecordingControl::ShowStarted(int ch, Origin origin) {
  ChannelCapture& c = app_.capture.Channel(ch);
  byTimer_[static_cast<size_t>(ch)] = origin == Origin::Timer;
  ChannelView& v = app_.view[static_cast<size_t>(ch)];
  v.recordActive = true;
  v.timeLit = true;
  v.error.clear();
  SetLamp(ch, 0, 1);
  SetLamp(ch, 1, 0);
  app_.log.WriteLog("録音開始 " + std::to_string(ch + 1) + " " + c.RecFileName);
}

bool RecordingControl::HandOver(int ch, int64_t limitFrames, const std::string& base, const std::string& stamp) {
  if (!app_.IsChannel(ch)) return false;
  ChannelCapture& c = app_.capture.Channel(ch);
  if (c.IsOpen != 1) return false;
  const std::string old = c.RecFileName;
  const Series oldSeries = series_[static_cast<size_t>(ch)];
  const std::string intended = NameRecording(ch, base, 0, stamp);
  std::string why;
  const std::string next = ClaimRecordingFile(ch, intended, why);
  if (next.empty()) {
    series_[static_cast<size_t>(ch)] = oldSeries;  // the old recording runs on in its own series
    app_.log.WriteLog("録音失敗 " + std::to_string(ch + 1) + " " + intended + " ファイルを作成できません (" + why + ")", 1);
    return false;
  }
  app_.capture.HandOver(ch, next, limitFrames);
  app_.log.WriteLog("録音停止（終了）" + std::to_string(ch + 1) + " " + old);
  NoteWritten(old);
  ResetChannelDisplay(ch);
  ScheduleRetention(ch);
  ShowStarted(ch, Origin::Timer);
  return true;
}

bool RecordingControl::ContinueInNextFile(int ch) {
  ChannelCapture& c = app_.capture.Channel(ch);
  NoteWritten(c.RecFileName);
  std::string why;
  const std::string next = ClaimFile(ch, series_[static_cast<size_t>(ch)].index + 1, why);
  if (next.empty() || !app_.capture.ContinueInFile(ch, next)) {
    app_.log.WriteLog("録音失敗 " + std::to_string(ch + 1) + " " + c.RecFileName + " 続きのファイルを作成できません" +
                          (why.empty() ? "" : " (" + why + ")"),
                      1);
    return false;
  }
  app_.log.WriteLog("録音継続 " + std::to_string(ch + 1) + " " + c.RecFileName);
  return true;
}

void RecordingControl::ScheduleRetention(int ch) {
  const std::string& path = app_.settings.RecPath[static_cast<size_t>(ch)];
  if (path.empty() || app_.settings.DeleteDate < 1) return;
  retention_.Schedule(path, app_.clock.NowUtc() - std::chrono::days(app_.settings.DeleteDate), "wav");
}

void RecordingControl::StopRecording(int ch, bool keepReturned) {
  if (!app_.IsChannel(ch)) return;
  ChannelCapture& c = app_.capture.Channel(ch);
  if (c.IsOpen != 1) return;
  app_.capture.CloseCapture(ch, keepReturned);
  NoteWritten(c.RecFileName);
  byTimer_[static_cast<size_t>(ch)] = false;
  ResetChannelDisplay(ch);
  ScheduleRetention(ch);
}

void RecordingControl::ResetChannelDisplay(int ch) {
  if (!app_.IsChannel(ch)) return;
  ChannelView& v = app_.view[static_cast<size_t>(ch)];
  v.recordActive = false;
  ++v.meterResets;
  DrawChannelMeter(ch, -1);
  v.timeLit = false;
  const FrameCount written = app_.capture.Channel(ch).FramesWritten;
  v.timeText = MsToTimeText(std::llround(static_cast<double>(written) * 1000.0 / app_.settings.nFreq), 1);
  SetLamp(ch, 0, 0);
  SetLamp(ch, 1, 1);
  for (auto& e : app_.timers.entries()) {
    if (e.Ch == ch && e.Active == 1) e.Active = 0;
  }
}

void RecordingControl::SetLamp(int ch, int lamp, int on) {
  const int code = LampCode(ch, lamp) + (on == 0 ? kLampOff : 0);
  if (app_.hid) app_.hid->WriteLamp(code);
  if (app_.serial) app_.serial->WriteLamp(code);
}

void RecordingControl::DrawChannelMeter(int ch, int b) {
  ChannelView& v = app_.view[static_cast<size_t>(ch)];
  ++v.meterDraws;
  const BufferLevels& l = app_.capture.Channel(ch).Levels;
  if (b < 0 || l.frames <= 0) {
    v.meanDb = {-60, -60};
    v.peakDb = {-110, -110};
    return;
  }
  for (size_t side = 0; side < 2; ++side) {
    v.peakDb[side] = LinToDB(l.peak[side] / 32767.0);
    v.meanDb[side] = l.power[side] == 0 ? -60 : LinToDB(std::sqrt(l.power[side] / l.frames) / 32767.0);
  }
}

void RecordingControl::RecButtonClick(int ch, int b, Origin origin) {
  if (!app_.IsChannel(ch)) return;
  ChannelCapture& c = app_.capture.Channel(ch);
  if (b == 0) {
    if (c.IsOpen == 1) {
      app_.view[static_cast<size_t>(ch)].recordActive = true;
      return;
    }
    StartRecording(ch, 0, app_.ManualFileName[static_cast<size_t>(ch)], 1, origin);
    // Logged whether the start succeeded or not: a failed start's own line
    // says why, this one who asked.
    app_.log.WriteLog("録音開始（手動）" + std::to_string(ch + 1));
    return;
  }
  if (b == 1 && c.IsOpen != 0) {
    StopRecording(ch);
    app_.log.WriteLog("録音停止（手動）" + std::to_string(ch + 1) + " " + c.RecFileName);
    return;
  }
  if (b == 1 && IsWaitingToRecord(ch)) {
    // Stopped by hand while it waited for its device: no more tries.
    EndWaiting(ch);
    ResetChannelDisplay(ch);
    app_.view[static_cast<size_t>(ch)].error.clear();
    app_.log.WriteLog("録音停止（手動）" + std::to_string(ch + 1) + " " + series_[static_cast<size_t>(ch)].first);
  }
}

void RecordingControl::ChooseManualFile(int ch, const std::string& confirmedPath) {
  if (!app_.IsChannel(ch)) return;
  std::string& manual = app_.ManualFileName[static_cast<size_t>(ch)];
  if (confirmedPath.empty()) {
    manual.clear();
    return;
  }
  manual = EnsureExtension(confirmedPath, "wav");
  // Only the very file whose replacement the user confirmed is deleted (not
  // one whose name gained ".wav"), and never one an open channel writes.
  std::error_code ec;
  for (int k = 0; k < kMaxChannels; ++k) {
    const auto& c = app_.capture.Channel(k);
    if (c.IsOpen && fs::equivalent(platform::U8Path(manual), platform::U8Path(c.RecFileName), ec)) return;
  }
  if (manual == confirmedPath && FileExists(manual)) DeleteFileForce(manual);
}

}  // namespace kavon
