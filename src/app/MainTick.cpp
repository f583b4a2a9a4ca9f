#include "app/MainTick.h"

#include <cmath>
#include <cstdlib>

#include "app/ClockAdjust.h"
#include "common/Helpers.h"
#include "common/Text.h"
#include "schedule/DateTime.h"

namespace kavon {
namespace {

// Two corrections closer than this are one signal.
constexpr double kCorrectionHoldOff = 10.0;
constexpr double kLateTick = 5.0;
constexpr int64_t kMaxCatchUp = 5;

std::string EntryKey(const TimerEntry& e) {
  return e.Date + "|" + e.StartTime + "|" + std::to_string(e.WeekMask) + "|" + std::to_string(e.Ch) + "|" + e.FileTitle;
}

}  // namespace

MainTick::MainTick(AppState& app, RecordingControl& rec) : app_(app), rec_(rec) {}

void MainTick::Start() {
  lastTick_ = ClampedSecondsSinceMidnight(app_.clock);
  UpdateClockText();
  lastHandled_ = app_.displayDate + " " + app_.displayTime;
  lastOffset_ = app_.clock.NowLocal().utcOffsetSec;
}

void MainTick::ToggleTimer() {
  app_.TimerOn = app_.TimerOn == 0 ? 1 : 0;
  UpdateClockText();
  lastHandled_ = app_.displayDate + " " + app_.displayTime;
}

int MainTick::CorrectionRequest(double now) const {
  const Settings& s = app_.settings;
  if (s.NoAdjustSec <= 0) return 0;
  const int64_t t = static_cast<int64_t>(now);
  const int64_t d = std::llabs(t % 3600 - (s.AMinute * 60LL + s.ASecond));
  return s.NoAdjustSec <= d && d <= 3600 - s.NoAdjustSec ? -1 : 0;
}

void MainTick::PollDevices(int& request, int& pending) {
  auto signal = [&request] {
    if (request != -1) request = 1;
  };
  if (app_.serial) {
    if (app_.serial->TimeSignalMode()) {
      app_.serial->ReadTimeSignal();
    } else if (const int c = app_.serial->ReadCode(); c > 0) {
      // A pin of 0 means none: a NUL byte is never a time signal.
      if (app_.settings.AdjustPin_1 != 0 && c == app_.settings.AdjustPin_1) {
        signal();
      } else {
        pending = c;
      }
    }
  }
  if (app_.hid) {
    if (const int v = app_.hid->ReadCode(); v > 0) {
      if (app_.settings.AdjustPin_2 != 0 && v == app_.settings.AdjustPin_2) {
        signal();
      } else {
        pending = v;
      }
    }
  }
}

void MainTick::DispatchCode(int code) {
  if (code >= 1 && code <= 4) rec_.RecButtonClick(code - 1, 0, Origin::ControlCode);
  if (code >= 5 && code <= 8) rec_.RecButtonClick(code - 5, 1, Origin::ControlCode);
  if (code >= 9 && code <= 12) rec_.RecButtonClick(code - 5, 0, Origin::ControlCode);
  if (code >= 13 && code <= 16) rec_.RecButtonClick(code - 9, 1, Origin::ControlCode);
}

void MainTick::Watchdog(double now) {
  double gap = now - lastTick_;
  if (gap < -43200) gap += 86400;  // the previous tick was before midnight
  if (gap > kLateTick) app_.log.WriteLog("制御戻らず " + FormatFixed(gap, 3), 1);
  lastTick_ = now;
}

int MainTick::UpdateClockText() { return UpdateClockText(app_.clock.NowLocal()); }

int MainTick::UpdateClockText(const platform::CivilTime& t) {
  using namespace std::chrono;
  Date day{year{t.year}, month{static_cast<unsigned>(t.month)}, std::chrono::day{static_cast<unsigned>(t.day)}};
  int hour = t.hour;
  if (t.hour * 3600 + t.minute * 60 + t.second < app_.settings.HourAdjust) {
    hour += 24;
    day = Date{sys_days{day} - days{1}};
  }
  const std::string date = DateText(day);
  const std::string time = Pad(hour, 2) + ":" + Pad(t.minute, 2) + ":" + Pad(t.second, 2);
  int changed = 0;
  if (time != app_.displayTime) {
    app_.displayTime = time;
    changed = 1;
  }
  if (date != app_.displayDate) {
    app_.displayDate = date;
    changed = 3;
  }
  return changed;
}

void MainTick::LogOnce(const std::string& key, const std::string& text) {
  if (logged_.insert(key).second) app_.log.WriteLog(text, 1);
}

int64_t MainTick::CatchUpWindow(const platform::CivilTime& local) {
  const std::string now = app_.displayDate + " " + app_.displayTime;
  const int64_t k = SecondsBetween(lastHandled_, now);
  int64_t window = std::clamp<int64_t>(k - 1, 0, kMaxCatchUp);
  const int shift = local.utcOffsetSec - lastOffset_;
  if (shift > 0) {
    // Local time skipped forward (daylight saving): starts in the skipped
    // part fire now, at the first second after the change.
    window = std::clamp<int64_t>(k - 1, 0, kMaxCatchUp + shift);
    app_.log.WriteLog("時刻帯変更（進み） " + lastHandled_ + " -> " + now, 1);
  } else if (shift < 0) {
    app_.log.WriteLog("時刻帯変更（戻り） " + lastHandled_ + " -> " + now, 1);
  } else if (k < 0 || k > kMaxCatchUp + 1) {
    app_.log.WriteLog("時計の変更 " + lastHandled_ + " -> " + now, 1);
  }
  lastHandled_ = now;
  lastOffset_ = local.utcOffsetSec;
  return window;
}

void MainTick::ScanTimerList(const platform::CivilTime& local) {
  const int64_t window = CatchUpWindow(local);
  if (app_.timers.Count() == 0 || app_.TimerOn != 1) return;
  const auto parsed = ParseDateTimeText(app_.displayDate);
  if (!parsed) return;
  const int weekday = WeekdayNumber(parsed->date);
  for (auto& e : app_.timers.entries()) {
    if (!e.IsFireable()) {
      LogOnce("bad|" + EntryKey(e), "タイマー設定が不正のため実行しません " + e.StartTime + " " + std::to_string(e.Length) + " " + e.FileTitle);
      continue;
    }
    if (!app_.IsChannel(e.Ch)) {
      LogOnce("ch|" + EntryKey(e), "タイマーのチャンネルがありません " + std::to_string(static_cast<int64_t>(e.Ch) + 1) + " " + e.FileTitle);
      continue;
    }
    if (app_.capture.Channel(e.Ch).IsOpen == 1) continue;
    if (e.IsOneTime()) {
      if (e.Date != app_.displayDate) continue;
    } else if ((e.WeekMask & (1 << (weekday - 1))) == 0) {
      continue;
    }
    const int64_t d = e.StartTime == app_.displayTime
                          ? 0
                          : SecondsBetween(app_.displayDate + " " + e.StartTime, app_.displayDate + " " + app_.displayTime);
    if (d < 0 || d > window) continue;
    // One start second fires once, however the clock moved around it.
    if (!fired_.insert(app_.displayDate + " " + EntryKey(e)).second) continue;
    const std::string base = rec_.ChannelFolder(e.Ch) + SafeTitle(e.FileTitle);
    const int64_t limit = static_cast<int64_t>(e.Length) * app_.settings.nFreq;
    rec_.StartRecording(e.Ch, limit, base, 0, Origin::Timer);
    if (app_.capture.Channel(e.Ch).IsOpen != 1) continue;
    app_.log.WriteLog("録音開始（タイマー）" + std::to_string(e.Ch + 1) + " " + base);
    e.Active = 1;
  }
}

void MainTick::ForgetOldStarts() {
  // Keys begin with the fixed-width display date, so they sort by day.
  const std::string cutoff = ShiftDateTimeText(app_.displayDate + " 00:00:00", -2 * 86400, 0).substr(0, 10);
  fired_.erase(fired_.begin(), fired_.lower_bound(cutoff));
}

void MainTick::ServiceChannels() {
  for (int ch = 0; ch <= app_.settings.NumRec; ++ch) {
    ChannelCapture& c = app_.capture.Channel(ch);
    if (c.IsOpen != 1) continue;
    app_.capture.ReadPosition(ch);
    const int64_t elapsed =
        c.IsRecording ? std::max<int64_t>(0, static_cast<int64_t>(c.Position) - c.SoundStartFrame) : 0;
    app_.view[static_cast<size_t>(ch)].timeText =
        MsToTimeText(std::llround(static_cast<double>(elapsed) * 1000.0 / app_.settings.nFreq), 1);
    const int r = app_.capture.ServiceCapture(ch);
    if (r >= 0) {
      rec_.DrawChannelMeter(ch, r);
      if (c.IsOpen != 1) rec_.ResetChannelDisplay(ch);
    } else if (r == kMustStop) {
      if (c.FileFull && rec_.ContinueInNextFile(ch)) continue;
      rec_.StopRecording(ch);
      app_.log.WriteLog("録音停止（中断）" + std::to_string(ch + 1) + " " + c.RecFileName);
      continue;
    }
    if (c.RecLimitFrames >= 1 && c.RecLimitFrames <= c.FramesCaptured) {
      rec_.StopRecording(ch, false);
      app_.log.WriteLog("録音停止（終了）" + std::to_string(ch + 1) + " " + c.RecFileName);
    }
  }
}

void MainTick::Tick() {
  const double start = ClampedSecondsSinceMidnight(app_.clock);
  int request = CorrectionRequest(start);
  int pending = 0;
  PollDevices(request, pending);
  if (request == 1 && (!lastCorrection_ || ElapsedSec(app_.clock, *lastCorrection_) > kCorrectionHoldOff)) {
    AdjustClock(app_);
    lastCorrection_ = ClampedSecondsSinceMidnight(app_.clock);
  }
  DispatchCode(pending);
  const double now = ClampedSecondsSinceMidnight(app_.clock);
  Watchdog(now);
  const platform::CivilTime local = app_.clock.NowLocal();
  const int changed = UpdateClockText(local);
  if (changed == 3) ForgetOldStarts();
  if (changed != 0) {
    app_.TimerScanning = 1;
    ScanTimerList(local);
    app_.TimerScanning = 0;
  }
  ServiceChannels();
  for (const auto& text : app_.waveIn.TakeMessages()) app_.log.WriteLog(text, 1);
  rec_.retention().Step();
  rec_.NoteTick(app_.clock.NowUtc());
}

}  // namespace kavon
