#include "app/ClockAdjust.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "common/Helpers.h"
#include "common/Text.h"

namespace kavon {

platform::CivilTime AdjustedTime(const platform::CivilTime& now, const Settings& s) {
  int c = 0;
  if (s.AdjustMode == 0) {
    const int d = s.ASecond - now.second;
    c = d > 30 ? -1 : d <= -30 ? 1 : 0;
  } else if (s.AdjustMode == 1) {
    int d = s.AMinute - now.minute;
    if (d > 30) {
      d -= 60;
    } else if (d <= -30) {
      d += 60;
    }
    c = d;
  } else if (s.AdjustMode == 2) {
    int e = s.AHour - now.hour;
    if (e > 12) {
      e -= 24;
    } else if (e <= -12) {
      e += 24;
    }
    c = 60 * e - now.minute + s.AMinute;
  }
  int t = 60 * now.hour + now.minute + c;
  using namespace std::chrono;
  sys_days day{year{now.year} / now.month / now.day};
  if (t >= 1440) {
    t -= 1440;
    day += days{1};
  } else if (t < 0) {
    t += 1440;
    day -= days{1};
  }
  const year_month_day ymd{day};
  platform::CivilTime out;
  out.year = static_cast<int>(ymd.year());
  out.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
  out.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
  out.hour = t / 60;
  out.minute = t % 60;
  out.second = s.ASecond;
  return out;
}

void AdjustClock(AppState& app) {
  const double t0 = app.clock.SecondsSinceMidnight();
  const platform::CivilTime before = app.clock.NowLocal();
  const int error = app.clock.SetLocalTime(AdjustedTime(before, app.settings));
  if (error != 0) {
    app.log.WriteLog("時刻修正エラー " + std::string(std::strerror(error)));
    // Once a run: what the user can do about it.
    if (error == EPERM && !std::exchange(app.toldClockRight, true)) {
      app.messages.push_back(app.lang.Text(
          "時計を合わせる権限がありません。kavon をサービスとして動かすか、sudo setcap cap_sys_time+ep で権限を与えてください。",
          "kavon may not set the clock. Run it as a service with CAP_SYS_TIME, or grant it with: "
          "sudo setcap cap_sys_time+ep <path of kavon>"));
    }
    return;
  }
  const platform::CivilTime after = app.clock.NowLocal();
  ++app.counters.clockCorrections;
  app.log.WriteLog("時刻修正終了 " + FormatFixed(after.SecondsSinceMidnight() - t0, 6) + " " + StampText(before) + "--" +
                   StampText(after));
}

}  // namespace kavon
