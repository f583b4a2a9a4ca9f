#pragma once
// The 100 ms main tick: the correction window, the control boxes, the
// clock correction, control codes, the watchdog, the display clock, the
// timer list and the service of every open channel, in that order.
#include <optional>
#include <set>
#include <string>

#include "app/AppState.h"
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

  // 0 nothing changed, 1 the display time changed, 3 the display date.
  int UpdateClockText();
  int UpdateClockText(const platform::CivilTime& local);

 private:
  int CorrectionRequest(double now) const;
  void PollDevices(int& request, int& pending);
  void DispatchCode(int code);
  void Watchdog(double now);
  void ScanTimerList(const platform::CivilTime& local);
  // How many display seconds before now are still to be caught up.
  int64_t CatchUpWindow(const platform::CivilTime& local);
  void ServiceChannels();
  // Two days on, a start can no longer come round again.
  void ForgetOldStarts();
  void LogOnce(const std::string& key, const std::string& text);

  AppState& app_;
  RecordingControl& rec_;
  std::optional<double> lastCorrection_;
  double lastTick_ = 0;
  // The display date and time at the last handled change of the display
  // second, and the UTC offset then.
  std::string lastHandled_;
  int lastOffset_ = 0;
  std::set<std::string> fired_;  // "date time|entry" of every start handled
  std::set<std::string> logged_;
};

}  // namespace kavon
