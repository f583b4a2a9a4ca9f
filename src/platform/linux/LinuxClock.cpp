#include "platform/linux/LinuxClock.h"

#include <cerrno>
#include <ctime>

namespace kavon::platform {

CivilTime LocalCivilTime(SysMs instant) {
  const auto ms = instant.time_since_epoch().count();
  time_t secs = static_cast<time_t>(ms / 1000);
  int milli = static_cast<int>(ms % 1000);
  if (milli < 0) {
    milli += 1000;
    --secs;
  }
  struct tm tmv {};
  localtime_r(&secs, &tmv);
  CivilTime c;
  c.year = tmv.tm_year + 1900;
  c.month = tmv.tm_mon + 1;
  c.day = tmv.tm_mday;
  c.hour = tmv.tm_hour;
  c.minute = tmv.tm_min;
  c.second = tmv.tm_sec > 59 ? 59 : tmv.tm_sec;
  c.millisecond = milli;
  c.utcOffsetSec = static_cast<int>(tmv.tm_gmtoff);
  return c;
}

SysMs InstantOfLocal(const CivilTime& local) {
  struct tm tmv {};
  tmv.tm_year = local.year - 1900;
  tmv.tm_mon = local.month - 1;
  tmv.tm_mday = local.day;
  tmv.tm_hour = local.hour;
  tmv.tm_min = local.minute;
  tmv.tm_sec = local.second;
  tmv.tm_isdst = -1;
  const time_t secs = mktime(&tmv);
  return SysMs(std::chrono::milliseconds(static_cast<int64_t>(secs) * 1000 + local.millisecond));
}

SysMs LinuxClock::NowUtc() const {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return SysMs(std::chrono::milliseconds(static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000));
}

CivilTime LinuxClock::ToLocal(SysMs instant) const { return LocalCivilTime(instant); }

double LinuxClock::SteadySeconds() const {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

int LinuxClock::SetLocalTime(const CivilTime& local) {
  const auto ms = InstantOfLocal(local).time_since_epoch().count();
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(ms / 1000);
  ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000;
  if (clock_settime(CLOCK_REALTIME, &ts) != 0) return errno;
  return 0;
}

}  // namespace kavon::platform
