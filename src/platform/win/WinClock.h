#pragma once
// The real clock on Windows: the system time with its precise reading, the
// time zone of the system for local time, the performance counter for
// steady time, SetLocalTime for corrections (the privilege is asked for).
#include "platform/Clock.h"

namespace kavon::platform {

class WinClock : public Clock {
 public:
  SysMs NowUtc() const override;
  CivilTime ToLocal(SysMs instant) const override;
  double SteadySeconds() const override;
  int SetLocalTime(const CivilTime& local) override;
};

}  // namespace kavon::platform
