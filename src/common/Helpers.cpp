#include "common/Helpers.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace kavon {

double ClampedSecondsSinceMidnight(const platform::Clock& clock) {
  return std::clamp(clock.SecondsSinceMidnight(), 0.0, 86399.999);
}

double ElapsedBetween(double start, double now) {
  now = std::clamp(now, 0.0, 86399.999);
  double d = now - start;
  if (d < 0) d = d >= -1.0 ? 0.0 : d + 86400.0;
  return d < 0 ? 0.0 : d;
}

double ElapsedSec(const platform::Clock& clock, double start) {
  return ElapsedBetween(start, ClampedSecondsSinceMidnight(clock));
}

void WaitMS(const platform::Clock& clock, int ms, int sleepMs, const PumpHook& pump,
            const std::function<void(int)>& sleeper) {
  auto serve = [&] {
    if (pump) pump();
  };
  if (ms <= 0) {
    serve();
    return;
  }
  const double limit = ms / 1000.0;
  const double start = ClampedSecondsSinceMidnight(clock);
  for (;;) {
    serve();
    const double now = ClampedSecondsSinceMidnight(clock);
    const double elapsed = now >= start ? now - start : now + 86400.0 - start;
    if (elapsed > limit) return;
    if (sleeper) {
      sleeper(sleepMs);
    } else if (sleepMs > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(sleepMs));
    }
  }
}

int SplitList(std::vector<std::string>& out, const std::string& text, const std::string& delim, bool csv) {
  out.clear();
  if (text.empty() || delim.empty()) return 0;
  if (delim != "," || !csv) {
    size_t start = 0;
    for (;;) {
      const size_t pos = text.find(delim, start);
      out.push_back(text.substr(start, pos == std::string::npos ? std::string::npos : pos - start));
      if (pos == std::string::npos) break;
      start = pos + delim.size();
    }
    return static_cast<int>(out.size());
  }
  std::string field;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool last = i + 1 == text.size();
    bool endField = last;
    if (c == '"') {
      if (field.empty() && !quoted) {
        quoted = true;
      } else if (quoted && (last || text[i + 1] == ',')) {
        quoted = false;
      }
    } else if (c == ',' && !quoted) {
      endField = true;
    } else {
      field += c;
    }
    if (endField) {
      out.push_back(field);
      field.clear();
    }
  }
  return static_cast<int>(out.size());
}

std::string TrimNull(const std::string& text) {
  const auto nul = text.find('\0');
  const std::string cut = nul == std::string::npos ? text : text.substr(0, nul);
  const auto first = cut.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return cut.substr(first, cut.find_last_not_of(' ') - first + 1);
}

double LinToDB(double value) { return value > 0 ? 20.0 * std::log10(value) : -110.0; }

double DBToLin(double db) { return db <= -110.0 ? 0.0 : std::pow(10.0, db / 20.0); }

int32_t UnsignedToLong(int64_t value) {
  if (value > 4294967295LL) return -1;
  if (value < 0) return 0;
  if (value >= 2147483648LL) return static_cast<int32_t>(value - 4294967296LL);
  return static_cast<int32_t>(value);
}

int64_t LongToUnsigned(int32_t value) { return value < 0 ? value + 4294967296LL : value; }

int IsOdd(double value) { return static_cast<int64_t>(std::trunc(value)) % 2 != 0 ? 1 : 0; }

}  // namespace kavon
