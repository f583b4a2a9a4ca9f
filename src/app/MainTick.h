#pragma once
// The 100 ms main tick: the correction window, the control boxes, the
// clock correction, control codes, the watchdog, the display clock, the
// timer list and the service of every open channel, in that order.
#include <array>
#include <optional>
#include <set>
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

  // Startup: the last timer check and last tick are now.
  void Start();
  void Tick();
  // The timer switch: toggles TimerOn and restarts the catch-up window.
  void ToggleTimer();

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
  // A timer entry waiting to take its channel's device over.
  struct Successor {
    TimerEntry entry;
    std::string date;
  };

  int CorrectionRequest(double now) const;
  void PollDevices(int& request, int& pending);
  void DispatchCode(int code);
  void Watchdog(double now);
  // Compares the wall clock with the steady clock since the last tick.
  void WatchClock();
  void ScanTimerList(const platform::CivilTime& local);
  // The display seconds from the last handled one (exclusive) to now, at
  // most the catch-up window, newest first.
  std::vector<DueSecond> CatchUpSeconds(const platform::CivilTime& local);
  DueSecond MakeDueSecond(const std::string& dateTime) const;
  static bool DueAt(const TimerEntry& e, const DueSecond& s);
  // Starts entry e on its own device.
  void Fire(TimerEntry& e);
  // Starts missed by more than the catch-up window (kavon was not running,
  // stood still, or the clock was put forward) whose recordings would still
  // run: started now for what is left, named by their real start.
  void ResumeMissed();
  // e, due `late` seconds ago, finds its channel held by a timer recording:
  // true when that recording ends where e begins, so e takes its device over.
  bool QueueHandOver(const TimerEntry& e, const DueSecond& s, int64_t late);
  // At the end of a timer recording: an entry due in the next seconds
  // (the audio clock may run a little ahead of the wall clock).
  std::optional<Successor> LookAhead(int ch);
  bool HandOverAtLimit(int ch);
  // The file base of an entry's recordings: channel folder and title.
  std::string BaseOf(const TimerEntry& e) const;
  // The entry of the list that is e (the list may have been read again).
  TimerEntry* Find(const TimerEntry& e);
  void ServiceChannels();
  void ServiceChannel(int ch);
  // Two days on, a start can no longer come round again.
  void ForgetOldStarts();
  void LogDropped(int ch, int64_t frames);

  AppState& app_;
  RecordingControl& rec_;
  std::optional<double> lastCorrection_;
  double lastTick_ = 0;
  // The display date and time at the last handled change of the display
  // second, and the UTC offset then.
  std::string lastHandled_;
  int lastOffset_ = 0;
  bool firstScan_ = false;  // the second we started in is still to scan
  bool missed_ = false;     // this scan follows a gap beyond the catch-up window
  std::set<std::string> fired_;  // "date time|entry" of every start handled
  std::array<std::optional<Successor>, kMaxChannels> successor_{};
  Health health_{app_};
  std::optional<platform::SysMs> lastWall_;
  double lastSteady_ = 0;
  double stepSeconds_ = 0;  // wall against steady clock over the last tick
};

// The file-name stamp of a display date and start time:
// "2024/03/01" and "25:30:00" give "2024-03-01 25_30_00".
std::string FileStamp(const std::string& date, const std::string& time);

}  // namespace kavon
