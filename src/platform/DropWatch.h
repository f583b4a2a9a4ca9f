#pragma once
// Frames a capture device dropped, told from outside the device: the time
// it has run, at its rate, against the frames it handed back. For drivers
// that never say they dropped anything (winmm). The device's clock may run
// a little fast or slow against the system's; the watch follows that
// slowly, and counts only a shortfall that comes at once and stays.
#include <algorithm>
#include <cstdint>

namespace kavon::platform {

class DropWatch {
 public:
  // A shortfall above buffer + kSlackSeconds counts; a slower drift does not.
  static constexpr double kSlackSeconds = 0.25;
  // How long a shortfall must last before it counts: a process that was
  // stopped as a whole gets the audio its driver held only after a moment.
  static constexpr double kConfirmSeconds = 1.0;
  // A driver that has just started delivers unevenly for a moment.
  static constexpr double kSettleSeconds = 2.0;
  // Sound cards are within a few hundred ppm of the system clock.
  static constexpr double kDriftPerSecond = 500e-6;

  DropWatch(uint32_t rate, double bufferSeconds)
      : rate_(rate), threshold_((bufferSeconds + kSlackSeconds) * rate) {}

  // The device started at `now` (seconds on a steady clock); best the
  // moment its first buffer came back, so that the time it took to begin
  // is not counted as lost.
  void Start(double now) {
    started_ = true;
    start_ = last_ = now;
    baseline_ = 0;
    dropped_ = 0;
    pending_ = false;
  }

  // Frames dropped since Start, given the frames delivered by `now`.
  uint64_t Update(double now, uint64_t delivered) {
    if (!started_) return dropped_;
    const double deficit = (now - start_) * rate_ - static_cast<double>(delivered) - static_cast<double>(dropped_);
    const double dt = std::max(0.0, now - last_);
    last_ = now;
    if (now - start_ < kSettleSeconds) {
      baseline_ = deficit;
      return dropped_;
    }
    baseline_ = std::min(deficit, baseline_ + kDriftPerSecond * rate_ * dt);
    const double excess = deficit - baseline_;
    if (excess < threshold_) {
      pending_ = false;
      return dropped_;
    }
    if (!pending_) {
      pending_ = true;
      pendingSince_ = now;
      pendingLeast_ = excess;
      return dropped_;
    }
    pendingLeast_ = std::min(pendingLeast_, excess);
    if (now - pendingSince_ < kConfirmSeconds) return dropped_;
    dropped_ += static_cast<uint64_t>(pendingLeast_);
    pending_ = false;
    return dropped_;
  }

 private:
  uint32_t rate_;
  double threshold_;
  bool started_ = false;
  double start_ = 0;
  double last_ = 0;
  double baseline_ = 0;
  uint64_t dropped_ = 0;
  bool pending_ = false;  // a shortfall waits to be confirmed
  double pendingSince_ = 0;
  double pendingLeast_ = 0;
};

}  // namespace kavon::platform
