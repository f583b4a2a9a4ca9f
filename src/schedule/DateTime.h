#pragma once
// Date and time texts of the display day. A day begins dayStart seconds
// after midnight (HourAdjust, 05:00:00 by default); a time before that
// belongs to the previous date, written with hours from 24 up. Dates are
// yyyy/mm/dd and times hh:mm:ss, fixed width, so callers may order instants
// by comparing texts. Pure functions: NowText reads only the clock it is
// given. Nothing here throws; bad texts give "", 0 or false.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/Clock.h"

namespace kavon {

using Date = std::chrono::year_month_day;

// A date (and, when given, a time of day) read from a text: y/m/d with "/",
// "-" or "." between the parts, or eight digits yyyymmdd, optionally
// followed by a blank and h:mm[:ss]. Years 100..9999.
struct DateTimeValue {
  Date date;
  int secondOfDay = 0;
};
std::optional<DateTimeValue> ParseDateTimeText(const std::string& text);

// The name of a weekday (index 1 = Sunday "日" ... 7 = Saturday "土").
std::string DayOfWeekName(const Date& date, int index, int firstDay);
// 1 = Sunday ... 7 = Saturday.
int WeekdayNumber(const Date& date);

bool IsDateText(const std::string& text);

// The present instant as text. One reading of the clock gives date and time.
// sepStyle 0 "2024/05/01 13:05:09", 2 "2024-05-01 13_05_09", other: no
// separators. parts: bit 0 date, bit 1 time, bit 2 milliseconds (0 = 3).
// timeSource 0 now, 2 23:59:59, 3 the day start, other 00:00:00.
// yearStyle 1 two digits, 2 no year.
std::string NowText(const platform::Clock& clock, int dayStart = 0, int dayOffset = 0, int sepStyle = 0,
                    int parts = 3, int timeSource = 0, int yearStyle = 0, double extraSeconds = 0);

// A local civil time as "yyyy/mm/dd hh:mm:ss" of the display day that
// begins dayStart seconds after midnight.
std::string DisplayDateTime(const platform::CivilTime& t, int dayStart);

// style 0 yyyy/mm/dd, 1 yyyy-mm-dd, 2 yyyymmdd.
std::string FormatDateText(const std::string& text, int style = 0, int dayOffset = 0);
std::string DigitsToDateText(const std::string& digits, int style = 0, int parts = 3);

// Styles 0..11 of durations and times; 12 and above give "".
std::string MsToTimeText(int64_t ms, int style, bool allowNegative = false);
// Reads a time or duration ("90", "1:30", "01:30:00", "1'30", "2:00:00.25").
// Invalid texts, and values beyond 32 bits of milliseconds, give -1 with
// errorValue, else 0; ok (when given) is set true only on success.
int64_t TimeTextToMs(const std::string& text, bool errorValue = false, bool* ok = nullptr);

bool IsClockText(const std::string& text, int dayStart, bool skipSeparatorCheck = false);

// Seconds from a to b, both "yyyy/mm/dd hh:mm:ss" (hours may pass 23).
int64_t SecondsBetween(const std::string& a, const std::string& b);
// text plus add seconds, normalised into the display day of dayStart.
std::string ShiftDateTimeText(const std::string& text, int64_t add, int dayStart, bool compact = false);

// "yyyy/mm/dd" of a date.
std::string DateText(const Date& date);
// "hh:mm:ss" of a second count (hours may pass 23).
std::string ClockText(int64_t seconds);

}  // namespace kavon
