#include "common/BackgroundWork.h"

#include <utility>

namespace kavon {

BackgroundWork::~BackgroundWork() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void BackgroundWork::Post(const std::string& key, std::function<void()> work) {
  {
    const std::lock_guard lock(mutex_);
    pending_[key] = std::move(work);
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  }
  wake_.notify_one();
}

void BackgroundWork::Flush() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return pending_.empty() && !busy_; });
}

void BackgroundWork::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || !pending_.empty(); });
    // What was posted before the end is still done.
    if (pending_.empty()) return;
    auto work = std::exchange(pending_, {});
    busy_ = true;
    lock.unlock();
    for (auto& [key, w] : work) w();
    lock.lock();
    busy_ = false;
    idle_.notify_all();
  }
}

}  // namespace kavon
