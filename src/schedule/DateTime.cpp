#include "schedule/DateTime.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>

#include "common/Text.h"

namespace kavon {
namespace {

using namespace std::chrono;

constexpr std::array<const char*, 7> kDayNames = {"日", "月", "火", "水", "木", "金", "土"};
constexpr int64_t kMsLimit = INT32_MAX;

Date AddDays(const Date& d, int64_t n) { return Date{sys_days{d} + days{n}}; }

std::optional<int> Digits(const std::string& s, size_t pos, size_t len) {
  if (pos + len > s.size()) return std::nullopt;
  const std::string part = s.substr(pos, len);
  if (!IsDigits(part)) return std::nullopt;
  return std::stoi(part);
}

std::optional<Date> MakeDate(int y, int m, int d) {
  if (y < 100 || y > 9999) return std::nullopt;
  const Date date{year{y}, month{static_cast<unsigned>(m)}, day{static_cast<unsigned>(d)}};
  if (!date.ok()) return std::nullopt;
  return date;
}

// h:mm[:ss] with hours below 24.
std::optional<int> ParseTimeOfDay(const std::string& t) {
  const auto first = t.find(':');
  if (first == std::string::npos) return std::nullopt;
  const auto second = t.find(':', first + 1);
  const std::string hs = t.substr(0, first);
  const std::string ms = t.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
  const std::string ss = second == std::string::npos ? "0" : t.substr(second + 1);
  if (!IsDigits(hs) || !IsDigits(ms) || !IsDigits(ss) || hs.size() > 2 || ms.size() > 2 || ss.size() > 2) {
    return std::nullopt;
  }
  const int h = std::stoi(hs), m = std::stoi(ms), s = std::stoi(ss);
  if (h > 23 || m > 59 || s > 59) return std::nullopt;
  return h * 3600 + m * 60 + s;
}

std::string Sep(int style, int which) {
  // date, date-time, time, milliseconds
  static const std::array<std::array<const char*, 4>, 3> kSeps = {{{"/", " ", ":", "."}, {"", "", "", ""}, {"-", " ", "_", "_"}}};
  const int row = style == 0 ? 0 : style == 2 ? 2 : 1;
  return kSeps[row][which];
}

}  // namespace

std::string DateText(const Date& date) {
  return Pad(static_cast<int>(date.year()), 4) + "/" + Pad(static_cast<unsigned>(date.month()), 2) + "/" +
         Pad(static_cast<unsigned>(date.day()), 2);
}

std::string ClockText(int64_t seconds) {
  return Pad(seconds / 3600, 2) + ":" + Pad(seconds % 3600 / 60, 2) + ":" + Pad(seconds % 60, 2);
}

std::optional<DateTimeValue> ParseDateTimeText(const std::string& raw) {
  const std::string text = Trim(raw);
  const auto blank = text.find(' ');
  const std::string datePart = text.substr(0, blank);
  const std::string timePart = blank == std::string::npos ? "" : Trim(text.substr(blank + 1));
  std::optional<Date> date;
  if (datePart.size() == 8 && IsDigits(datePart)) {
    date = MakeDate(std::stoi(datePart.substr(0, 4)), std::stoi(datePart.substr(4, 2)), std::stoi(datePart.substr(6, 2)));
  } else {
    const auto p1 = datePart.find_first_of("/-.");
    if (p1 == std::string::npos) return std::nullopt;
    const char sep = datePart[p1];
    const auto p2 = datePart.find(sep, p1 + 1);
    if (p2 == std::string::npos || datePart.find(sep, p2 + 1) != std::string::npos) return std::nullopt;
    const std::string y = datePart.substr(0, p1), m = datePart.substr(p1 + 1, p2 - p1 - 1), d = datePart.substr(p2 + 1);
    if (y.size() != 4 || !IsDigits(y) || !IsDigits(m) || !IsDigits(d) || m.size() > 2 || d.size() > 2) {
      return std::nullopt;
    }
    date = MakeDate(std::stoi(y), std::stoi(m), std::stoi(d));
  }
  if (!date) return std::nullopt;
  DateTimeValue v{*date, 0};
  if (timePart.empty()) return v;
  const auto tod = ParseTimeOfDay(timePart);
  if (!tod) return std::nullopt;
  v.secondOfDay = *tod;
  return v;
}

int WeekdayNumber(const Date& date) { return static_cast<int>(weekday{sys_days{date}}.c_encoding()) + 1; }

std::string DayOfWeekName(const Date& date, int index, int firstDay) {
  const int n = index == 0 ? WeekdayNumber(date) : firstDay + index - 1;
  if (n < 1 || n > 14) return {};
  return kDayNames[static_cast<size_t>((n - 1) % 7)];
}

bool IsDateText(const std::string& text) {
  return text.size() >= 8 && !IsNumeric(text) && ParseDateTimeText(text).has_value();
}

std::string NowText(const platform::Clock& clock, int dayStart, int dayOffset, int sepStyle, int parts,
                    int timeSource, int yearStyle, double extraSeconds) {
  if (parts == 0) parts = 3;
  const platform::CivilTime now = clock.NowLocal();
  const Date today{year{now.year}, month{static_cast<unsigned>(now.month)}, day{static_cast<unsigned>(now.day)}};
  // Whole milliseconds from one reading, so 999.6 ms never becomes 1000.
  int64_t t = std::clamp<int64_t>(((now.hour * 60LL + now.minute) * 60 + now.second) * 1000 + now.millisecond, 0, 86399999);
  t += static_cast<int64_t>(std::llround(extraSeconds * 1000.0));
  Date d = AddDays(today, dayOffset);
  if (t >= 86400000) {
    t -= 86400000;
    d = AddDays(today, dayOffset + 1LL);
  } else if (t < 0) {
    t += 86400000;
    d = AddDays(today, dayOffset - 1LL);
  }
  int64_t h = 0, m = 0, s = 0, ms = 0;
  if (timeSource == 0) {
    h = t / 3600000;
    m = t / 60000 % 60;
    s = t / 1000 % 60;
    ms = t % 1000;
  } else if (timeSource == 2) {
    h = 23, m = 59, s = 59;
  } else if (timeSource == 3) {
    h = dayStart / 3600, m = dayStart % 3600 / 60, s = dayStart % 60;
  }
  if (h * 3600 + m * 60 + s < dayStart) {
    h += 24;
    d = AddDays(d, -1);
  }
  std::string yearText = Pad(static_cast<int>(d.year()), 4);
  if (yearStyle == 1) yearText = yearText.substr(yearText.size() - 2);
  if (yearStyle == 2) yearText.clear();
  std::string out;
  if (parts & 1) {
    out += yearText + Sep(sepStyle, 0) + Pad(static_cast<unsigned>(d.month()), 2) + Sep(sepStyle, 0) +
           Pad(static_cast<unsigned>(d.day()), 2);
  }
  if (parts & 2) {
    if (parts & 1) out += Sep(sepStyle, 1);
    out += Pad(h, 2) + Sep(sepStyle, 2) + Pad(m, 2) + Sep(sepStyle, 2) + Pad(s, 2);
  }
  if (parts & 4) out += Sep(sepStyle, 3) + Pad(ms, 3);
  return out;
}

std::string DisplayDateTime(const platform::CivilTime& t, int dayStart) {
  Date d{year{t.year}, month{static_cast<unsigned>(t.month)}, day{static_cast<unsigned>(t.day)}};
  int hour = t.hour;
  if (t.hour * 3600 + t.minute * 60 + t.second < dayStart) {
    hour += 24;
    d = AddDays(d, -1);
  }
  return DateText(d) + " " + Pad(hour, 2) + ":" + Pad(t.minute, 2) + ":" + Pad(t.second, 2);
}

std::string FormatDateText(const std::string& text, int style, int dayOffset) {
  const std::string source = IsDigits(Trim(text)) ? DigitsToDateText(Trim(text), 0, 3) : text;
  const auto v = ParseDateTimeText(source);
  if (!v) return {};
  const Date d = AddDays(v->date, dayOffset);
  const std::string y = Pad(static_cast<int>(d.year()), 4), m = Pad(static_cast<unsigned>(d.month()), 2),
                    dd = Pad(static_cast<unsigned>(d.day()), 2);
  switch (style) {
    case 0: return y + "/" + m + "/" + dd;
    case 1: return y + "-" + m + "-" + dd;
    case 2: return y + m + dd;
    default: return {};
  }
}

std::string DigitsToDateText(const std::string& text, int style, int parts) {
  if (!IsDigits(text)) return {};
  static const std::array<std::array<const char*, 6>, 3> kSeps = {
      {{"/", "/", "", ":", ":", ""}, {"年", "月", "日", "時", "分", "秒"}, {"-", "-", " ", "_", "_", ""}}};
  const auto& sep = kSeps[static_cast<size_t>(style >= 0 && style <= 2 ? style : 0)];
  auto dateOf = [&](const std::string& y, size_t from) {
    return y + sep[0] + text.substr(from, 2) + sep[1] + text.substr(from + 2, 2) + sep[2];
  };
  switch (text.size()) {
    case 6: return dateOf(text.substr(0, 2), 2);
    case 8: return dateOf(text.substr(0, 4), 4);
    case 14: {
      std::string out;
      if (parts & 1) out = dateOf(text.substr(0, 4), 4);
      if (parts & 2) {
        if (!out.empty()) out += " ";
        out += text.substr(8, 2) + sep[3] + text.substr(10, 2) + sep[4] + text.substr(12, 2) + sep[5];
      }
      return out;
    }
    default: return {};
  }
}

std::string MsToTimeText(int64_t ms, int style, bool allowNegative) {
  std::string sign;
  if (ms < 0) {
    if (allowNegative) {
      sign = "-";
      ms = -ms;
    } else {
      ms = 0;
    }
  }
  const int64_t H = ms / 3600000, M = ms / 60000, m = M % 60, S = ms / 1000, s = S % 60;
  const int64_t f3 = ms % 1000, f2 = ms / 10 % 100, f1 = ms / 100 % 10;
  const std::string hms2 = Pad(H, 2) + ":" + Pad(m, 2) + ":" + Pad(s, 2);
  std::string out;
  switch (style) {
    case 0: out = Pad(M, 3) + "'" + Pad(s, 2) + "." + Pad(f3, 3); break;
    case 1: out = Pad(M, 2) + "'" + Pad(s, 2) + "." + Pad(f1, 1); break;
    case 2: out = hms2; break;
    case 3: out = Pad(H, 1) + ":" + Pad(m, 2) + ":" + Pad(s, 2) + "." + Pad(f1, 1); break;
    case 4: out = Pad(M, 2) + ":" + Pad(s, 2); break;
    case 5: out = Pad(S, 3) + "." + Pad(f3, 3); break;
    case 6: out = Pad(S, 3) + "." + Pad(f2, 2); break;
    case 7: out = Pad(M, 2) + ":" + Pad(s, 2) + "." + Pad(f3, 3); break;
    case 8: out = hms2 + "." + Pad(f1, 1); break;
    case 9: out = hms2 + "." + Pad(f2, 2); break;
    case 10: out = hms2 + "." + Pad(f3, 3); break;
    case 11: out = Pad(H, 2) + "時" + Pad(m, 2) + "分" + Pad(s, 2) + "秒"; break;
    default: return {};
  }
  return sign + out;
}

int64_t TimeTextToMs(const std::string& raw, bool errorValue, bool* ok) {
  const int64_t failure = errorValue ? -1 : 0;
  if (IsNumeric(raw)) {
    const double v = std::nearbyint(*ParseNumber(raw) * 1000.0);
    if (std::fabs(v) > static_cast<double>(kMsLimit)) return failure;
    if (ok) *ok = true;
    return static_cast<int64_t>(v);
  }
  std::string text = raw;
  if (text.size() < 2) return 0;
  int64_t sign = 1;
  if (text[0] == '-') {
    sign = -1;
    text.erase(0, 1);
  }
  int dots = 0, colons = 0, seps = 0;
  for (const char c : text) {
    if (c == '.') {
      ++dots, ++seps;
    } else if (c == ':') {
      ++colons, ++seps;
    } else if (c == '\'' || c == '"') {
      ++seps;
    } else if (c < '0' || c > '9') {
      return failure;
    }
  }
  bool hoursFixed = true;
  if (seps >= 3 || colons >= 2) {
    hoursFixed = false;
  } else if (colons == 1 && !(dots == 1) && seps == 1) {
    hoursFixed = false;
  }
  // Fields: 0 hours, 1 minutes, 2 seconds, 3 fraction.
  std::array<std::optional<int64_t>, 4> fields{};
  int next = hoursFixed ? 1 : 0;
  std::string collected;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool isSep = c == '.' || c == ':' || c == '\'' || c == '"';
    const bool last = i + 1 == text.size();
    if (!isSep) collected += c;
    if (!isSep && !last) continue;
    if (!IsDigits(collected) || (last && isSep)) return failure;
    if (next <= 3) {
      // Only the first three digits of a fraction count; others would overflow.
      const std::string digits = next == 3 ? collected.substr(0, 3) : collected.substr(0, 12);
      if (collected.size() > 12 && next != 3) return failure;
      int64_t v = std::stoll(digits);
      if (next == 3) v *= digits.size() == 1 ? 100 : digits.size() == 2 ? 10 : 1;
      fields[static_cast<size_t>(next)] = v;
      ++next;
    }
    collected.clear();
  }
  if (!fields[1] && !fields[2] && !fields[3]) return failure;
  const int64_t total = fields[0].value_or(0) * 3600000 + fields[1].value_or(0) * 60000 +
                        fields[2].value_or(0) * 1000 + fields[3].value_or(0);
  if (total > kMsLimit) return failure;
  if (ok) *ok = true;
  return sign * total;
}

bool IsClockText(const std::string& text, int dayStart, bool skipSeparatorCheck) {
  std::string t = text;
  if (!skipSeparatorCheck) {
    if (t.size() == 8) {
      if (t[2] != ':' || t[5] != ':') return false;
    } else if (t.size() >= 10 && t.size() <= 12) {
      if (t[2] != ':' || t[5] != ':' || t[8] != '.') return false;
    } else {
      return false;
    }
    t.erase(std::remove_if(t.begin(), t.end(), [](char c) { return c == ':' || c == '.'; }), t.end());
  }
  if (!IsDigits(t)) return false;
  if (t.size() < 9) t.append(9 - t.size(), '0');
  if (t.size() != 9) return false;
  const int64_t hh = std::stoll(t.substr(0, 2)), mm = std::stoll(t.substr(2, 2)), ss = std::stoll(t.substr(4, 2)),
                fff = std::stoll(t.substr(6, 3));
  if (mm >= 60 || ss >= 60) return false;
  const int64_t v = hh * 3600000 + mm * 60000 + ss * 1000 + fff;
  return v >= dayStart * 1000LL && v <= dayStart * 1000LL + 86400000LL;
}

namespace {

// Date of characters 1-10 and seconds of characters 12-19 of a date-time text.
std::optional<std::pair<Date, int64_t>> SplitDateTime(const std::string& text) {
  if (text.size() < 19) return std::nullopt;
  const auto v = ParseDateTimeText(text.substr(0, 10));
  const auto h = Digits(text, 11, 2), m = Digits(text, 14, 2), s = Digits(text, 17, 2);
  if (!v || !h || !m || !s) return std::nullopt;
  return std::make_pair(v->date, *h * 3600LL + *m * 60LL + *s);
}

}  // namespace

int64_t SecondsBetween(const std::string& a, const std::string& b) {
  const auto pa = SplitDateTime(a), pb = SplitDateTime(b);
  if (!pa || !pb) return 0;
  const int64_t dayDiff = (sys_days{pb->first} - sys_days{pa->first}).count();
  return std::clamp<int64_t>(dayDiff * 86400 + pb->second - pa->second, -2147483647LL, 2147483647LL);
}

std::string ShiftDateTimeText(const std::string& text, int64_t add, int dayStart, bool compact) {
  const auto p = SplitDateTime(text);
  if (!p) return {};
  int64_t x = p->second + add;
  // Whole days at once: a large shift must not loop a day at a time.
  int64_t dayShift = 0;
  if (x >= dayStart + 86400LL) dayShift = (x - dayStart) / 86400;
  if (x < dayStart) dayShift = -((dayStart - x + 86399) / 86400);
  x -= dayShift * 86400;
  const Date d = AddDays(p->first, dayShift);
  if (!d.ok() || static_cast<int>(d.year()) < 100 || static_cast<int>(d.year()) > 9999) return {};
  const std::string date = DateText(d);
  const std::string clock = ClockText(x);
  if (!compact) return date + " " + clock;
  std::string out = date + clock;
  out.erase(std::remove_if(out.begin(), out.end(), [](char c) { return c == '/' || c == ':'; }), out.end());
  return out;
}

}  // namespace kavon
