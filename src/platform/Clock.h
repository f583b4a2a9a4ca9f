#pragma once
// The one clock of the program. Nothing else reads or sets the system time:
// the back ends answer from the system clock, tests use FakeClock.
#include <chrono>
#include <cstdint>

namespace kavon::platform {

using SysMs = std::chrono::sys_time<std::chrono::milliseconds>;

// A local civil date and time, as a wall clock shows it.
struct CivilTime {
  int year = 1970;
  int month = 1;   // 1..12
  int day = 1;     // 1..31
  int hour = 0;    // 0..23
  int minute = 0;
  int second = 0;
  int millisecond = 0;
  int utcOffsetSec = 0;  // local minus UTC at that instant

  // Seconds since local midnight, with fraction.
  double SecondsSinceMidnight() const {
    return hour * 3600.0 + minute * 60.0 + second + millisecond / 1000.0;
  }
};

class Clock {
 public:
  virtual ~Clock() = default;

  virtual SysMs NowUtc() const = 0;
  // Local civil time of an instant in the machine's time zone.
  virtual CivilTime ToLocal(SysMs instant) const = 0;
  // Monotonic seconds: unaffected by clock steps; used to pace back ends.
  virtual double SteadySeconds() const = 0;
  // Sets the local date and time. 0 on success, else an errno-style code
  // (EPERM when the process may not change the clock).
  virtual int SetLocalTime(const CivilTime& local) = 0;

  CivilTime NowLocal() const { return ToLocal(NowUtc()); }
  double SecondsSinceMidnight() const { return NowLocal().SecondsSinceMidnight(); }
};

// The machine's time zone, from each back end: the local civil time of an
// instant, and the instant of a local civil time (in a gap or a repeat the
// system's own rule decides). The fake clock uses them to run in a zone with
// daylight saving.
CivilTime LocalCivilTime(SysMs instant);
SysMs InstantOfLocal(const CivilTime& local);

}  // namespace kavon::platform
