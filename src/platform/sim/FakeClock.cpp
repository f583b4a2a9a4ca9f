#include "platform/sim/FakeClock.h"

namespace kavon::platform {
namespace {

using namespace std::chrono;

CivilTime CivilOf(SysMs instant, int offset) {
  const SysMs local = instant + seconds(offset);
  const auto day = floor<days>(local);
  const year_month_day ymd{day};
  const hh_mm_ss hms{local - day};
  CivilTime c;
  c.year = static_cast<int>(ymd.year());
  c.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
  c.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
  c.hour = static_cast<int>(hms.hours().count());
  c.minute = static_cast<int>(hms.minutes().count());
  c.second = static_cast<int>(hms.seconds().count());
  c.millisecond = static_cast<int>(hms.subseconds().count());
  c.utcOffsetSec = offset;
  return c;
}

}  // namespace

FakeClock::FakeClock(SysMs start, int utcOffsetSec) : now_(start), offset_(utcOffsetSec) {}

CivilTime FakeClock::ToLocal(SysMs instant) const {
  return CivilOf(instant, zone_ ? zone_(instant) : offset_);
}

int FakeClock::SetLocalTime(const CivilTime& local) {
  if (setError_ != 0) return setError_;
  ++setCount_;
  SetLocal(local.year, local.month, local.day, local.hour, local.minute, local.second,
           local.millisecond);
  return 0;
}

void FakeClock::SetLocal(int year, int month, int day, int hour, int minute, int second, int ms) {
  const sys_days d{std::chrono::year{year} / month / day};
  const SysMs asUtc = SysMs(d) + hours(hour) + minutes(minute) + seconds(second) + milliseconds(ms);
  if (!zone_) {
    now_ = asUtc - seconds(offset_);
    return;
  }
  // The offset of the instant found; in a repeated hour the earlier one.
  now_ = asUtc - seconds(zone_(asUtc - seconds(zone_(asUtc))));
}

int FakeClock::CentralEuropean(SysMs utc) {
  // Summer time from 01:00 UTC on the last Sunday of March to 01:00 UTC on
  // the last Sunday of October.
  const auto lastSunday = [](std::chrono::year y, unsigned month) {
    return sys_days{y / std::chrono::month{month} / std::chrono::Sunday[std::chrono::last]} + hours(1);
  };
  const std::chrono::year y = year_month_day{floor<days>(utc)}.year();
  return utc >= lastSunday(y, 3) && utc < lastSunday(y, 10) ? 7200 : 3600;
}

void FakeClock::Advance(double secondsToAdd) {
  AdvanceMs(static_cast<int64_t>(secondsToAdd * 1000.0 + (secondsToAdd >= 0 ? 0.5 : -0.5)));
}

void FakeClock::AdvanceMs(int64_t ms) {
  now_ += milliseconds(ms);
  steadyMs_ += ms;
  for (auto& listener : listeners_) listener();
}

}  // namespace kavon::platform
