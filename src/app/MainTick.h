#pragma once
// The 100 ms main tick: the correction window, the control boxes, the
// clock correction, control codes, the watchdog, the display clock, the
// timer list and the service of every open channel, in that order.
#include <array>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/AppState.h"
#include "app/Health.h"
#include "app/RecordingControl.h"

namespace kavon {

class MainTick {
 public:
  MainTick(AppState& app, RecordingControl& rec);

  // Startup: the last timer check and last tick are now. previousRun: the
  // last instant an earlier run was alive, when known; programmes that
  // fell wholly between it and now are named in the log.
  void Start(std::optional<platform::SysMs> previousRun = std::nullopt);
  void Tick();
  // The timer switch: toggles TimerOn and restarts the catch-up window.
  void ToggleTimer();
  // The list was replaced by a file that began to change after the display
  // second `since` (a hand edit that took a while to settle): starts since
  // then that the old list did not have are made up at the next scan.
  void TimerListChanged(const std::string& since);

  // The next start of the timer list within a week, as "yyyy/mm/dd
  // hh:mm:ss" of the display day with the entry; nullopt when none.
  std::optional<std::pair<std::string, TimerEntry>> NextDue() const;

  const Health& health() const { return health_; }

  // 0 nothing changed, 1 the display time changed, 3 the display date.
  int UpdateClockText();
  int UpdateClockText(const platform::CivilTime& local);

 private:
  // One display second that a scan covers.
  struct DueSecond {
    std::string date;  // yyyy/mm/dd of the display day
    std::string time;  // hh:mm:ss, hours 24 and up before the day boundary
    int weekday = 0;   // 1 = Sunday
  };
  // A timer entry due while its channel still records the one before.
  // join: it starts the second that one ends, so it takes the open device
  // over; else it starts on a device of its own once the channel is free.
  struct Successor {
    TimerEntry entry;
    std::string date;
    bool join = false;
  };

  int CorrectionRequest(double now) const;
  void PollDevices(int& request, int& pending);
  void DispatchCode(int code);
  // A tick late by the steady clock is a stall; a jump of the local time
  // (daylight saving, a clock set) is not.
  void Watchdog();
  // Compares the wall clock with the steady clock since the last tick.
  void WatchClock();
  void ScanTimerList(const platform::CivilTime& local);
  // The display seconds from the last handled one (exclusive) to now, at
  // most the catch-up window, newest first.
  std::vector<DueSecond> CatchUpSeconds(const platform::CivilTime& local);
  DueSecond MakeDueSecond(const std::string& dateTime) const;
  static bool DueAt(const TimerEntry& e, const DueSecond& s);
  // Starts entry e, due at s, on its own device for limitSeconds (its
  // length when not given), named by its start second s.
  void Fire(TimerEntry& e, const DueSecond& s, std::optional<int64_t> limitSeconds = std::nullopt);
  void StartEntry(TimerEntry& e, const DueSecond& s, std::optional<int64_t> limitSeconds);
  // The starts that a gap passed over (kavon was not running, stood still,
  // or the clock was put forward): an entry still running is started now
  // for what is left, named by its real start; one that ended in the gap is
  // named in the log as not recorded. since: the last display second known
  // to have been handled ("" when unknown: nothing is reported missed);
  // onlySince: entries that began before it are left alone (a list that
  // changed is no gap of kavon's).
  void ResumeMissed(const std::string& since, bool onlySince);
  // An entry that fell wholly into a gap: one line, counted.
  void ReportMissed(const TimerEntry& e, const std::string& start, const std::string& why = {});
  // e, due `late` seconds ago, finds its channel held by a timer recording:
  // true when e waits for it (joined when e starts where it ends).
  bool QueueHandOver(const TimerEntry& e, const DueSecond& s, int64_t late);
  // At the end of a timer recording: the entry that starts exactly where
  // it was scheduled to end, when the audio clock got there first.
  std::optional<Successor> LookAhead(int ch);
  // Remembers a start as handled; false when it already was.
  bool MarkFired(const std::string& date, const TimerEntry& e);
  bool WasFired(const std::string& date, const TimerEntry& e) const;
  bool HandOverAtLimit(int ch);
  // The file base of an entry's recordings: channel folder and title.
  std::string BaseOf(const TimerEntry& e) const;
  // The entry of the list that is e (the list may have been read again).
  TimerEntry* Find(const TimerEntry& e);
  void ServiceChannels();
  void ServiceChannel(int ch);
  // One waiting buffer and what follows from it; whether to look for another.
  bool ServiceOneBuffer(int ch);
  // Starts handled more than a week ago by the steady clock can no longer
  // come round again, whatever the wall clock did meanwhile.
  void ForgetOldStarts();
  void NoteDropped(int ch, int64_t frames);
  // Logs the channel's loss once a tick passed without more of it.
  void LogDropped(int ch);

  AppState& app_;
  RecordingControl& rec_;
  std::optional<double> lastCorrection_;
  double lastTick_ = 0;  // steady seconds
  // The display date and time at the last handled change of the display
  // second, and the UTC offset then.
  std::string lastHandled_;
  int lastOffset_ = 0;
  bool firstScan_ = false;  // the second we started in is still to scan
  // This scan follows a gap beyond the catch-up window, which began after
  // the display second gapSince_ ("" when not known).
  bool missed_ = false;
  std::string gapSince_;
  bool gapIsListChange_ = false;
  // "date time|entry" of every start handled, with the steady second then.
  std::map<std::string, double> fired_;
  std::array<std::optional<Successor>, kMaxChannels> successor_{};
  // Where each channel's timer recording is scheduled to end (display
  // date and time), "" when it records no timer entry.
  std::array<std::string, kMaxChannels> scheduledEnd_{};
  // Frames a channel's device has dropped in a loss not yet logged.
  std::array<int64_t, kMaxChannels> droppedRun_{};
  std::array<bool, kMaxChannels> droppingNow_{};  // more was dropped this tick
  Health health_{app_};
  std::optional<platform::SysMs> lastWall_;
  double lastSteady_ = 0;
  double stepSeconds_ = 0;  // wall against steady clock over the last tick
};

// The file-name stamp of a display date and start time:
// "2024/03/01" and "25:30:00" give "2024-03-01 25_30_00".
std::string FileStamp(const std::string& date, const std::string& time);

}  // namespace kavon
