#pragma once
// Sets the computer clock to the time that an hourly (or per-minute, or
// daily) time signal marks, from the calibration settings.
#include "app/AppState.h"

namespace kavon {

// The local time the clock is set to when a mark arrives at `now`
// (mode 0 every minute at ASecond, 1 every hour at AMinute:ASecond, 2 every
// day at AHour:AMinute:ASecond).
platform::CivilTime AdjustedTime(const platform::CivilTime& now, const Settings& s);
// Sets the clock and logs "時刻修正終了" with the size of the step, or
// "時刻修正エラー" when the clock may not be set.
void AdjustClock(AppState& app);

}  // namespace kavon
