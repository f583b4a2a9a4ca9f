#include "app/Heartbeat.h"

#include <fstream>

#include "common/FileHelpers.h"
#include "common/Text.h"
#include "platform/Utf8Path.h"

namespace kavon {

void Heartbeat::ReadPrevious() {
  std::ifstream in(platform::U8Path(path_));
  std::string text;
  std::getline(in, text);
  // A file cut by a power cut reads as empty or short: then nothing is known.
  const auto ms = ParseInteger(Trim(text), 1, INT64_MAX);
  if (ms && IsDigits(Trim(text))) previous_ = platform::SysMs{std::chrono::milliseconds{*ms}};
}

Heartbeat::~Heartbeat() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  if (writer_.joinable()) writer_.join();
}

void Heartbeat::Beat(bool force) {
  const double now = clock_.SteadySeconds();
  if (!force && lastBeat_ && now - *lastBeat_ < kHeartbeatSeconds) return;
  lastBeat_ = now;
  std::unique_lock lock(mutex_);
  pending_ = std::to_string(clock_.NowUtc().time_since_epoch().count()) + "\n";
  if (!writer_.joinable()) writer_ = std::thread([this] { Run(); });
  wake_.notify_one();
  if (force) written_.wait(lock, [this] { return !pending_ && !busy_; });
}

void Heartbeat::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || pending_; });
    if (!pending_) return;  // stopped, everything written
    const std::string line = std::move(*pending_);
    pending_.reset();
    busy_ = true;
    lock.unlock();
    // Written in place, not synced: a lost beat only makes the next start
    // know a few seconds less; the disk is not woken for it. Overwritten,
    // never truncated (a truncation waits for the file system's journal on
    // a busy disk): the line is always 13 digits long until the year 2286.
    WriteFileAt(line.data(), line.size(), 0, path_);
    lock.lock();
    busy_ = false;
    written_.notify_all();
  }
}

}  // namespace kavon
