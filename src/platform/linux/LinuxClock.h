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

// Local civil time of an instant through the C library's zone rules (TZ).
// Shared with the fake clock so that tests can run in a zone with daylight
// saving.
CivilTime LocalCivilTime(SysMs instant);
// The instant of a local civil time (mktime rules for gaps and repeats).
SysMs InstantOfLocal(const CivilTime& local);

}  // namespace kavon::platform
