#pragma once
// kavon's state for monitoring: the Prometheus text exposition format
// (version 0.0.4) of `kavon ctl metrics` and the HTTP endpoint's /metrics,
// and the small read-only status page the endpoint serves at /. Both are
// rendered on the tick's thread; the endpoint's threads only read what the
// tick published (MetricsBoard).
#include <memory>
#include <mutex>
#include <string>

namespace kavon {

class FrmMain;

std::string RenderMetrics(FrmMain& app);
std::string RenderStatusPage(FrmMain& app);

struct MetricsSnapshot {
  std::string metrics;
  std::string page;
};

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
