#pragma once
// The real clock: clock_gettime for reading, clock_settime for setting
// (needs CAP_SYS_TIME), localtime_r for the local zone.
#include "platform/Clock.h"

namespace kavon::platform {

class LinuxClock : public Clock {
 public:
  SysMs NowUtc() const override;
  CivilTime ToLocal(SysMs instant) const override;
  double SteadySeconds() const override;
  int SetLocalTime(const CivilTime& local) override;
};

}  // namespace kavon::platform
