#pragma once
// The timing functions every polling loop rests on, the list splitter and
// the small conversions shared by several modules.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Clock.h"

namespace kavon {

// Serves the event loop once: Qt's processEvents in the window, the headless
// runner's own loop, nothing in tests.
using PumpHook = std::function<void()>;

// Seconds since midnight, clamped to [0, 86399.999].
double ClampedSecondsSinceMidnight(const platform::Clock& clock);
// Seconds from start to now on the seconds-since-midnight clock, across
// midnight; a step back of up to one second is jitter and gives 0.
double ElapsedBetween(double start, double now);
double ElapsedSec(const platform::Clock& clock, double start);

// Waits ms milliseconds on the clock, serving pump on every pass and sleeping
// sleepMs (real time) between passes; ms <= 0 serves the pump once.
// sleeper replaces the real sleep (tests advance a fake clock there).
void WaitMS(const platform::Clock& clock, int ms, int sleepMs, const PumpHook& pump,
            const std::function<void(int)>& sleeper = {});

// Splits text at delim. With csv and delim "," double quotes group fields
// that hold commas and are never copied; a trailing comma gives no empty
// last field. Returns the number of fields.
int SplitList(std::vector<std::string>& out, const std::string& text, const std::string& delim, bool csv);

// Trims blanks and cuts at the first NUL character.
std::string TrimNull(const std::string& text);

// 20 × log10(value) above 0, else -110.
double LinToDB(double value);
// 0 for -110 dB and below, else 10^(dB/20).
double DBToLin(double db);

// The bit pattern of an unsigned 32-bit value read as signed.
int32_t UnsignedToLong(int64_t value);
int64_t LongToUnsigned(int32_t value);
int IsOdd(double value);

}  // namespace kavon
