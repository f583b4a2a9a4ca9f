#pragma once
// A clock that moves only when told. Advance moves wall and steady time
// together and tells the listeners (simulated devices fill their buffers);
// SetUtc steps the wall clock alone, as a user or a time signal would.
#include <functional>
#include <vector>

#include "platform/Clock.h"

namespace kavon::platform {

class FakeClock : public Clock {
 public:
  // Local time is UTC plus a fixed offset, unless UseZone() gives a rule.
  explicit FakeClock(SysMs start = SysMs{}, int utcOffsetSec = 0);

  SysMs NowUtc() const override { return now_; }
  CivilTime ToLocal(SysMs instant) const override;
  double SteadySeconds() const override { return static_cast<double>(steadyMs_) / 1000.0; }
  int SetLocalTime(const CivilTime& local) override;

  // Sets the clock to a local time in its zone.
  void SetLocal(int year, int month, int day, int hour, int minute, int second, int ms = 0);
  void SetUtc(SysMs instant) { now_ = instant; }
  void Advance(double seconds);
  void AdvanceMs(int64_t ms);
  // The UTC offset in seconds at each instant: tests cover daylight saving
  // with a zone's rule, on any platform.
  using ZoneRule = std::function<int(SysMs utc)>;
  void UseZone(ZoneRule rule) { zone_ = std::move(rule); }
  // Central European Time with its summer time (the EU rule).
  static int CentralEuropean(SysMs utc);
  void FailSetting(int error) { setError_ = error; }
  int SetCount() const { return setCount_; }
  void OnAdvance(std::function<void()> listener) { listeners_.push_back(std::move(listener)); }

 private:
  SysMs now_;
  int64_t steadyMs_ = 1000000;
  int offset_ = 0;
  ZoneRule zone_;
  int setError_ = 0;
  int setCount_ = 0;
  std::vector<std::function<void()>> listeners_;
};

}  // namespace kavon::platform
