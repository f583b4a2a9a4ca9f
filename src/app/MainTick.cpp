#include "app/MainTick.h"

#include <cmath>
#include <cstdlib>
#include <utility>

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
// A difference between the wall and the steady clock beyond this is a
// change of the clock, not a late tick.
constexpr double kClockStepNoticed = 2.0;
// How far a sound card's clock may run ahead of the wall clock: a second
// per thousand seconds of recording (1000 ppm, ten times the 100 ppm that
// sound cards' crystals are made to), plus a second for the step of the
// display second itself.
constexpr int64_t kDriftPerMille = 1;
// A gap is searched this far back for programmes it swallowed.
constexpr int64_t kMaxMissedDays = 7;
// A handled start is remembered this long by the steady clock.
constexpr double kRememberStartsSeconds = 8 * 86400.0;

}  // namespace

std::string FileStamp(const std::string& date, const std::string& time) {
  return ReplaceAll(date, "/", "-") + " " + ReplaceAll(time, ":", "_");
}

MainTick::MainTick(AppState& app, RecordingControl& rec) : app_(app), rec_(rec) {}

void MainTick::Start(std::optional<platform::SysMs> previousRun) {
  lastTick_ = app_.clock.SteadySeconds();
  UpdateClockText();
  // The second we start in has not been scanned: the first tick does it.
  lastHandled_ = ShiftDateTimeText(app_.displayDate + " " + app_.displayTime, -1, app_.settings.HourAdjust);
  firstScan_ = true;
  missed_ = true;  // whatever ran while kavon did not
  gapSince_ = previousRun ? DisplayDateTime(app_.clock.ToLocal(*previousRun), app_.settings.HourAdjust) : "";
  lastOffset_ = app_.clock.NowLocal().utcOffsetSec;
  lastWall_ = app_.clock.NowUtc();
  lastSteady_ = app_.clock.SteadySeconds();
}

void MainTick::ToggleTimer() {
  app_.TimerOn = app_.TimerOn == 0 ? 1 : 0;
  UpdateClockText();
  lastHandled_ = app_.displayDate + " " + app_.displayTime;
}

void MainTick::TimerListChanged(const std::string& since) {
  if (missed_) return;  // a gap of kavon's own is made up anyway
  missed_ = true;
  gapSince_ = since;
  gapIsListChange_ = true;
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

void MainTick::Watchdog() {
  const double now = app_.clock.SteadySeconds();
  const double gap = now - lastTick_;
  if (gap > kLateTick) app_.log.WriteLog("制御戻らず " + FormatFixed(gap, 3), 1);
  lastTick_ = now;
}

void MainTick::WatchClock() {
  const platform::SysMs wall = app_.clock.NowUtc();
  const double steady = app_.clock.SteadySeconds();
  stepSeconds_ = 0;
  if (lastWall_) {
    const double wallGap = std::chrono::duration<double>(wall - *lastWall_).count();
    stepSeconds_ = wallGap - (steady - lastSteady_);
  }
  lastWall_ = wall;
  lastSteady_ = steady;
  if (std::abs(stepSeconds_) > kClockStepNoticed) rec_.NoteClockStep(stepSeconds_);
}

int MainTick::UpdateClockText() { return UpdateClockText(app_.clock.NowLocal()); }

int MainTick::UpdateClockText(const platform::CivilTime& t) {
  const std::string both = DisplayDateTime(t, app_.settings.HourAdjust);
  const std::string date = both.substr(0, 10);
  const std::string time = both.substr(11);
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

MainTick::DueSecond MainTick::MakeDueSecond(const std::string& dateTime) const {
  DueSecond s;
  s.date = dateTime.substr(0, 10);
  s.time = dateTime.size() > 11 ? dateTime.substr(11) : "";
  if (const auto parsed = ParseDateTimeText(s.date)) s.weekday = WeekdayNumber(parsed->date);
  return s;
}

std::vector<MainTick::DueSecond> MainTick::CatchUpSeconds(const platform::CivilTime& local) {
  const std::string now = app_.displayDate + " " + app_.displayTime;
  const int64_t k = SecondsBetween(lastHandled_, now);
  int64_t window = std::clamp<int64_t>(k - 1, 0, kMaxCatchUp);
  if (k - 1 > kMaxCatchUp) {
    missed_ = true;
    gapSince_ = lastHandled_;
    gapIsListChange_ = false;
  }
  const int shift = local.utcOffsetSec - lastOffset_;
  if (shift > 0) {
    // Local time skipped forward (daylight saving): starts in the skipped
    // part fire now, at the first second after the change.
    window = std::clamp<int64_t>(k - 1, 0, kMaxCatchUp + shift);
    app_.log.WriteLog("時刻帯変更（進み） " + lastHandled_ + " -> " + now, 1);
  } else if (shift < 0) {
    app_.log.WriteLog("時刻帯変更（戻り） " + lastHandled_ + " -> " + now, 1);
  } else if (std::abs(stepSeconds_) > kClockStepNoticed) {
    app_.log.WriteLog("時計の変更 " + lastHandled_ + " -> " + now, 1);
  }
  lastHandled_ = now;
  lastOffset_ = local.utcOffsetSec;
  // Display seconds, not texts of today's date: a late tick just after the
  // day boundary still catches 28:59:59 of the day before.
  std::vector<DueSecond> seconds;
  seconds.push_back(MakeDueSecond(now));
  for (int64_t i = 1; i <= window; ++i) {
    const std::string earlier = ShiftDateTimeText(now, -i, app_.settings.HourAdjust);
    if (earlier.empty()) break;
    seconds.push_back(MakeDueSecond(earlier));
  }
  return seconds;
}

bool MainTick::DueAt(const TimerEntry& e, const DueSecond& s) {
  if (e.StartTime != s.time) return false;
  if (e.IsOneTime()) return e.Date == s.date;
  return s.weekday >= 1 && (e.WeekMask & (1 << (s.weekday - 1))) != 0;
}

std::optional<std::pair<std::string, TimerEntry>> MainTick::NextDue() const {
  if (app_.TimerOn != 1 || app_.displayDate.empty()) return std::nullopt;
  std::optional<std::pair<std::string, TimerEntry>> best;
  for (int day = 0; day <= 7; ++day) {
    const DueSecond date = MakeDueSecond(ShiftDateTimeText(app_.displayDate + " 00:00:00", day * 86400LL, 0));
    for (const auto& e : app_.timers.entries()) {
      if (!e.IsFireable() || !app_.IsChannel(e.Ch) || !IsClockText(e.StartTime, app_.settings.HourAdjust)) continue;
      if (day == 0 && e.StartTime <= app_.displayTime) continue;
      DueSecond s = date;
      s.time = e.StartTime;
      const std::string at = s.date + " " + s.time;
      if (DueAt(e, s) && (!best || at < best->first)) best = std::make_pair(at, e);
    }
    if (best) return best;
  }
  return best;
}

std::string MainTick::BaseOf(const TimerEntry& e) const { return rec_.ChannelFolder(e.Ch) + SafeTitle(e.FileTitle); }

TimerEntry* MainTick::Find(const TimerEntry& entry) {
  const std::string key = EntryKey(entry);
  for (auto& e : app_.timers.entries()) {
    if (EntryKey(e) == key) return &e;
  }
  return nullptr;
}

bool MainTick::MarkFired(const std::string& date, const TimerEntry& e) {
  return fired_.try_emplace(date + " " + EntryKey(e), app_.clock.SteadySeconds()).second;
}

bool MainTick::WasFired(const std::string& date, const TimerEntry& e) const {
  return fired_.contains(date + " " + EntryKey(e));
}

void MainTick::Fire(TimerEntry& e, const DueSecond& s, std::optional<int64_t> limitSeconds) {
  // A throw while starting (a name the file system cannot take, …) must
  // neither pass unlogged nor keep the other entries of this second from
  // starting.
  try {
    StartEntry(e, s, limitSeconds);
  } catch (const std::exception& ex) {
    ReportMissed(e, s.date + " " + s.time, ex.what());
  }
}

void MainTick::StartEntry(TimerEntry& e, const DueSecond& s, std::optional<int64_t> limitSeconds) {
  const std::string base = BaseOf(e);
  const int64_t seconds = limitSeconds.value_or(e.Length);
  // A start made up after a gap is named by its real start; one on time,
  // or a few seconds late, by the moment it began.
  const std::optional<std::string> stamp = limitSeconds ? std::optional(FileStamp(s.date, s.time)) : std::nullopt;
  const std::string programme = s.date + " " + s.time + " " + std::to_string(e.Length) + "秒 " + e.FileTitle;
  rec_.StartRecording(e.Ch, seconds * app_.settings.nFreq, base, 0, Origin::Timer, stamp, programme);
  const ChannelCapture& c = app_.capture.Channel(e.Ch);
  const std::string ch = std::to_string(e.Ch + 1);
  // Logged whether the start succeeded or not: a failure has its own line.
  if (!limitSeconds) {
    app_.log.WriteLog("録音開始（タイマー）" + ch + " " + base);
    ++app_.counters.timerFired;
  } else {
    std::string line = "録音再開（タイマー）" + ch + " " + base + " 残り" + std::to_string(seconds) + "秒";
    if (c.IsOpen == 1) line += " " + c.RecFileName;
    if (const std::string before = rec_.PreviousPart(e.Ch); c.IsOpen == 1 && !before.empty()) line += "（前の部分 " + before + "）";
    app_.log.WriteLog(line);
  }
  if (c.IsOpen != 1) return;
  e.Active = 1;
  scheduledEnd_[static_cast<size_t>(e.Ch)] = ShiftDateTimeText(s.date + " " + s.time, e.Length, app_.settings.HourAdjust);
}

bool MainTick::QueueHandOver(const TimerEntry& e, const DueSecond& s, int64_t late) {
  const ChannelCapture& c = app_.capture.Channel(e.Ch);
  if (!rec_.IsTimerRecording(e.Ch) || c.RecLimitFrames < 1) return false;
  auto& next = successor_[static_cast<size_t>(e.Ch)];
  if (next) return false;
  // Only an entry that starts the very second the open one was scheduled
  // to end joins it. Any other waits only for a recording that is about
  // to end (what it lacks is the audio of the seconds this tick is late,
  // plus a second of buffers in flight), then starts on its own.
  const bool join = scheduledEnd_[static_cast<size_t>(e.Ch)] == s.date + " " + s.time;
  const int64_t left = c.RecLimitFrames - app_.capture.FramesElapsed(e.Ch);
  if (!join && left > (late + 1) * app_.settings.nFreq + app_.capture.BufFrames()) return false;
  if (!MarkFired(s.date, e)) return true;
  next = Successor{e, s.date, join};
  return true;
}

void MainTick::ScanTimerList(const platform::CivilTime& local) {
  const std::vector<DueSecond> seconds = CatchUpSeconds(local);
  const bool resume = std::exchange(missed_, false);
  if (app_.timers.Count() == 0 || app_.TimerOn != 1) return;
  for (auto& e : app_.timers.entries()) {
    // Entries that can never fire were reported when the list was read.
    if (!e.IsFireable() || !app_.IsChannel(e.Ch)) continue;
    for (size_t late = 0; late < seconds.size(); ++late) {
      const DueSecond& s = seconds[late];
      if (!DueAt(e, s)) continue;
      if (app_.capture.Channel(e.Ch).IsOpen == 1) {
        // Busy: it does not fire, now or when a later gap is made up.
        if (!QueueHandOver(e, s, static_cast<int64_t>(late))) MarkFired(s.date, e);
        break;
      }
      // One start second fires once, however the clock moved around it.
      if (MarkFired(s.date, e)) Fire(e, s);
      break;
    }
  }
  if (resume) ResumeMissed(std::exchange(gapSince_, std::string()), std::exchange(gapIsListChange_, false));
}

void MainTick::ResumeMissed(const std::string& since, bool onlySince) {
  const std::string now = app_.displayDate + " " + app_.displayTime;
  const int64_t gapDays = since.empty() ? 0 : std::clamp<int64_t>(SecondsBetween(since, now) / 86400 + 1, 0, kMaxMissedDays);
  for (auto& e : app_.timers.entries()) {
    if (!e.IsFireable() || !app_.IsChannel(e.Ch)) continue;
    // Back as many display days as the entry can last or the gap lasted,
    // oldest first.
    for (int64_t day = std::max<int64_t>(e.Length / 86400 + 1, gapDays); day >= 0; --day) {
      DueSecond s = MakeDueSecond(ShiftDateTimeText(app_.displayDate + " 00:00:00", -day * 86400, 0));
      s.time = e.StartTime;
      if (!DueAt(e, s) || WasFired(s.date, e)) continue;
      const std::string start = s.date + " " + s.time;
      const int64_t elapsed = SecondsBetween(start, now);
      if (elapsed < 1) continue;  // to come, or this second's own scan
      if (onlySince && start <= since) continue;
      if (elapsed >= e.Length) {
        if (!since.empty() && start > since && MarkFired(s.date, e)) ReportMissed(e, start);
        continue;
      }
      // Still running: made up for what is left (only the catch-up
      // window's seconds when resuming is off).
      if (app_.settings.ResumeTimer != 1 && elapsed > kMaxCatchUp) continue;
      MarkFired(s.date, e);
      if (app_.capture.Channel(e.Ch).IsOpen == 1) {
        // The channel records something else: the entry is told, not forced.
        app_.log.WriteLog("録音再開できません（チャンネル使用中）" + std::to_string(e.Ch + 1) + " " + BaseOf(e), 1);
        continue;
      }
      Fire(e, s, e.Length - elapsed);
    }
  }
}

void MainTick::ReportMissed(const TimerEntry& e, const std::string& start, const std::string& why) {
  ++app_.missedProgrammes;
  app_.log.WriteLog("録音できなかった番組 " + std::to_string(e.Ch + 1) + " " + start + " " + std::to_string(e.Length) + "秒 " +
                        e.FileTitle + (why.empty() ? "" : " " + why),
                    1);
}

std::optional<MainTick::Successor> MainTick::LookAhead(int ch) {
  const std::string& end = scheduledEnd_[static_cast<size_t>(ch)];
  if (app_.TimerOn != 1 || end.empty()) return std::nullopt;
  // The recording reached its length before the wall clock reached its
  // scheduled end: the sound card's clock runs fast. Within the drift a
  // sound card can have, the entry starting at that end takes the device.
  const int64_t ahead = SecondsBetween(app_.displayDate + " " + app_.displayTime, end);
  const int64_t recorded = app_.capture.Channel(ch).RecLimitFrames / app_.settings.nFreq;
  if (ahead < 1 || ahead > 1 + recorded * kDriftPerMille / 1000) return std::nullopt;
  const DueSecond s = MakeDueSecond(end);
  for (const auto& e : app_.timers.entries()) {
    if (e.Ch != ch || !e.IsFireable() || !DueAt(e, s)) continue;
    if (MarkFired(s.date, e)) return Successor{e, s.date, true};
  }
  return std::nullopt;
}

bool MainTick::HandOverAtLimit(int ch) {
  auto& queued = successor_[static_cast<size_t>(ch)];
  // An entry that does not join waits for this recording to stop.
  if (queued && !queued->join) return false;
  std::optional<Successor> next = queued ? queued : LookAhead(ch);
  queued.reset();
  if (!next) return false;
  const TimerEntry& e = next->entry;
  const std::string base = BaseOf(e);
  const int64_t limit = static_cast<int64_t>(e.Length) * app_.settings.nFreq;
  if (!rec_.HandOver(ch, limit, base, FileStamp(next->date, e.StartTime))) {
    // It is tried once more on a device of its own when this one has stopped.
    queued = next;
    queued->join = false;
    return false;
  }
  app_.log.WriteLog("録音開始（タイマー）" + std::to_string(ch + 1) + " " + base);
  ++app_.counters.timerFired;
  if (TimerEntry* listed = Find(e)) listed->Active = 1;
  scheduledEnd_[static_cast<size_t>(ch)] =
      ShiftDateTimeText(next->date + " " + e.StartTime, e.Length, app_.settings.HourAdjust);
  return true;
}

void MainTick::ForgetOldStarts() {
  const double now = app_.clock.SteadySeconds();
  std::erase_if(fired_, [now](const auto& f) { return now - f.second > kRememberStartsSeconds; });
}

void MainTick::NoteDropped(int ch, int64_t frames) {
  if (frames <= 0) return;
  droppedRun_[static_cast<size_t>(ch)] += frames;
  droppingNow_[static_cast<size_t>(ch)] = true;
}

void MainTick::LogDropped(int ch) {
  // A loss that goes on over several ticks (a device stalling, a sound
  // server dying) is one line with its whole length, once it has ended.
  int64_t& run = droppedRun_[static_cast<size_t>(ch)];
  if (run <= 0 || std::exchange(droppingNow_[static_cast<size_t>(ch)], false)) return;
  const ChannelCapture& c = app_.capture.Channel(ch);
  const std::string text = "音声欠落 " + std::to_string(ch + 1) + " " + c.RecFileName + " " +
                           FormatFixed(static_cast<double>(run) / app_.settings.nFreq, 3) + "秒";
  run = 0;
  app_.log.WriteLog(text, 1);
  app_.view[static_cast<size_t>(ch)].error = text;
}

void MainTick::ServiceChannels() {
  for (int ch = 0; ch <= app_.settings.NumRec; ++ch) {
    ChannelCapture& c = app_.capture.Channel(ch);
    if (c.IsOpen == 1) ServiceChannel(ch);
    if (c.IsOpen == 1) continue;
    droppingNow_[static_cast<size_t>(ch)] = false;
    LogDropped(ch);  // a loss the recording ended with
    scheduledEnd_[static_cast<size_t>(ch)].clear();
    // A recording that was to hand its device over ended otherwise (or the
    // hand-over failed, or the entry does not join it): the entry that was
    // due gets its start on a device of its own.
    auto& next = successor_[static_cast<size_t>(ch)];
    if (!next) continue;
    const Successor s = *std::exchange(next, std::nullopt);
    if (TimerEntry* e = Find(s.entry)) Fire(*e, MakeDueSecond(s.date + " " + s.entry.StartTime));
  }
}

void MainTick::ServiceChannel(int ch) {
  // A tick that comes late finds several buffers waiting and takes them
  // all: a machine too busy to tick ten times a second never falls behind
  // the device, as one buffer a tick would.
  droppingNow_[static_cast<size_t>(ch)] = false;
  for (int n = 0; n < kCaptureBuffers && ServiceOneBuffer(ch); ++n) {
  }
  LogDropped(ch);
}

bool MainTick::ServiceOneBuffer(int ch) {
  ChannelCapture& c = app_.capture.Channel(ch);
  app_.capture.ReadPosition(ch);
  NoteDropped(ch, app_.capture.ReadDropped(ch));
  const int64_t elapsed =
      c.IsRecording ? std::max<int64_t>(0, static_cast<int64_t>(c.Position) - c.SoundStartFrame) : 0;
  app_.view[static_cast<size_t>(ch)].timeText =
      MsToTimeText(std::llround(static_cast<double>(elapsed) * 1000.0 / app_.settings.nFreq), 1);
  const int r = app_.capture.ServiceCapture(ch);
  if (r >= 0) {
    rec_.DrawChannelMeter(ch, r);
    const ChannelView& v = app_.view[static_cast<size_t>(ch)];
    health_.BufferArrived(ch, std::max(v.peakDb[0], v.peakDb[1]));
    if (c.IsOpen != 1) rec_.ResetChannelDisplay(ch);
  } else if (r == kMustStop) {
    if (c.FileFull && rec_.ContinueInNextFile(ch)) return false;
    const std::string text = "録音停止（中断）" + std::to_string(ch + 1) + " " + c.RecFileName;
    // A device that went away is waited for: the recording goes on once it is back.
    if (c.DeviceLost) rec_.DeviceLost(ch);
    rec_.StopRecording(ch);
    app_.log.WriteLog(text);
    app_.view[static_cast<size_t>(ch)].error = c.DeviceLost ? "録音デバイス切断 " + c.RecFileName : text;
    return false;
  }
  // A failing disk shows on the row for as long as the recording lasts
  // and after it, until the next start.
  ChannelView& view = app_.view[static_cast<size_t>(ch)];
  if (c.WriteFailing) view.error = "書き込みエラー " + c.RecFileName;
  if (c.RecLimitFrames >= 1 && c.RecLimitFrames <= app_.capture.FramesElapsed(ch)) {
    if (rec_.IsTimerRecording(ch) && HandOverAtLimit(ch)) return false;
    rec_.StopRecording(ch, false);
    app_.log.WriteLog("録音停止（終了）" + std::to_string(ch + 1) + " " + c.RecFileName);
    return false;
  }
  return r >= 0 && c.IsOpen == 1;
}

void MainTick::Tick() {
  // The disk writes this tick hands over begin when it is done: the writer
  // must not take the tick's core from it on a busy machine.
  const WriteHold writes = app_.capture.HoldWrites();
  const double start = ClampedSecondsSinceMidnight(app_.clock);
  int request = CorrectionRequest(start);
  int pending = 0;
  PollDevices(request, pending);
  if (request == 1 && (!lastCorrection_ || ElapsedSec(app_.clock, *lastCorrection_) > kCorrectionHoldOff)) {
    AdjustClock(app_);
    lastCorrection_ = ClampedSecondsSinceMidnight(app_.clock);
  }
  DispatchCode(pending);
  Watchdog();
  WatchClock();
  const platform::CivilTime local = app_.clock.NowLocal();
  const int changed = UpdateClockText(local);
  if (changed == 3) ForgetOldStarts();
  const bool firstScan = std::exchange(firstScan_, false);
  if (changed != 0 || firstScan) {
    app_.TimerScanning = 1;
    ScanTimerList(local);
    app_.TimerScanning = 0;
  }
  app_.capture.CollectWrites();
  ServiceChannels();
  rec_.StepRetries();
  health_.Check();
  for (int ch = 0; ch <= app_.settings.NumRec; ++ch) app_.view[static_cast<size_t>(ch)].warning = health_.Warnings(ch);
  for (const auto& text : app_.waveIn.TakeMessages()) app_.log.WriteLog(text, 1);
  rec_.StepRetention();
}

}  // namespace kavon
