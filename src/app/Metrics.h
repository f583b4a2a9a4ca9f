#pragma once
// kavon's state for monitoring: the Prometheus text exposition format
// (version 0.0.4) of `kavon ctl metrics` and the HTTP endpoint's /metrics,
// and the small read-only status page the endpoint serves at /. The tick
// only copies its state into a snapshot (cheap); the texts are made from
// the snapshot by whoever reads it, the endpoint on its own threads.
#include <array>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/Counters.h"
#include "app/Health.h"
#include "audio/WaveFCT.h"

namespace kavon {

class FrmMain;

struct MetricsSnapshot {
  struct Channel {
    bool open = false;
    bool recording = false;
    bool waitingForDevice = false;  // should record, its device (or file) tried every 2 s
    CaptureTotals totals;
    Health::Active warnings;
    std::array<double, 2> meanDb{};
    std::string timeText;
    std::string file;
    std::string trouble;  // as the window shows it
  };
  double startTime = 0;
  std::vector<Channel> channels;
  std::string now;  // display date and time
  bool timerOn = false;
  size_t timerEntries = 0;
  uint64_t timerFired = 0;
  uint64_t timerMissed = 0;
  std::optional<double> nextStart;  // Unix seconds
  std::string nextText;             // "date time channel N title (length s)"
  std::vector<std::pair<std::string, double>> diskFree;  // folder, bytes
  TickHistogram tick;
  uint64_t clockCorrections = 0;
  bool serialOpen = false;
  bool hidOpen = false;
};

MetricsSnapshot CollectMetrics(FrmMain& app);
std::string RenderMetrics(const MetricsSnapshot& s);
std::string RenderStatusPage(const MetricsSnapshot& s);

// The last snapshot the tick published. The tick never waits on it: when a
// reader holds it at that moment, the publication waits for the next one.
class MetricsBoard {
 public:
  void Publish(std::shared_ptr<const MetricsSnapshot> snapshot) {
    const std::unique_lock lock(mutex_, std::try_to_lock);
    if (lock.owns_lock()) latest_.swap(snapshot);
  }
  std::shared_ptr<const MetricsSnapshot> Latest() const {
    const std::lock_guard lock(mutex_);
    return latest_;
  }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const MetricsSnapshot> latest_;
};

}  // namespace kavon
