#pragma once
// What kavon counts for monitoring since the process started: counters
// only grow and start at 0 with the process, as a scraper expects.
#include <array>
#include <cstdint>

namespace kavon {

// Durations of the main tick, in the buckets a histogram is exposed with.
struct TickHistogram {
  static constexpr std::array<double, 10> kBounds{0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.5, 2.0};
  std::array<uint64_t, kBounds.size()> counts{};  // per bucket, not cumulative
  uint64_t count = 0;
  double sum = 0;

  void Observe(double seconds) {
    ++count;
    sum += seconds;
    for (size_t i = 0; i < kBounds.size(); ++i) {
      if (seconds <= kBounds[i]) {
        ++counts[i];
        return;
      }
    }
  }
};

struct ProgramCounters {
  double startTime = 0;  // Unix seconds
  uint64_t timerFired = 0;
  uint64_t clockCorrections = 0;
  TickHistogram tick;
};

}  // namespace kavon
