#include "audio/DiskWriter.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "audio/WaveMMIO.h"
#include "common/FileHelpers.h"
#include "platform/FileSync.h"

namespace kavon {
namespace {

constexpr int64_t kFrameBytes = 4;
constexpr size_t kSpareBuffers = 16;

// The file cut back to whole frames after a partial write.
void CutToWholeFrames(const std::string& fileName) {
  const int64_t size = FileSizeOfPath(fileName);
  const int64_t data = WaveDataOffset(fileName);
  if (size < 0 || data < 0 || size < data) return;
  SetFileSize(fileName, static_cast<uint64_t>(data + (size - data) / kFrameBytes * kFrameBytes));
}

// A status 0 with the reason of the call that just failed.
int Failed(std::string& why) {
  why = errno != 0 ? std::strerror(errno) : "sync failed";
  return 0;
}

}  // namespace

WriteOutcome ExecuteWrite(const WriteJob& job, uint32_t rate, bool sync) {
  WriteOutcome out;
  out.ch = job.ch;
  out.file = job.file;
  if (job.kind == WriteJob::Kind::SetLength) {
    out.status = SetWaveDataLength(job.file, job.length) ? 1 : -1;
    return out;
  }
  if (job.kind == WriteJob::Kind::SyncNew) {
    if (!platform::SyncNewFile(job.file)) out.status = Failed(out.why);
    return out;
  }
  out.bytes = static_cast<int64_t>(job.bytes.size());
  // Raw PCM never stands under a missing or broken header: a file that
  // vanished gets a new one, a file of ours cut below its header (by
  // someone else) gets it back in place.
  const int64_t size = FileSizeOfPath(job.file);
  if (size < 0) CreateWaveFile(rate, 16, 2, job.file, 0);
  if (size >= 0 && size < static_cast<int64_t>(kPlainHeaderBytes)) {
    const std::string header = WaveHeaderBytes(rate, 16, 2, 0);
    WriteFileAt(header.data(), header.size(), 0, job.file);
  }
  const int64_t before = std::max<int64_t>(0, FileSizeOfPath(job.file));
  out.status = AppendWaveData(job.file, job.bytes.data(), job.bytes.size(), &out.why, sync);
  if (out.status == 0) {
    CutToWholeFrames(job.file);
    const int64_t kept = std::max<int64_t>(0, FileSizeOfPath(job.file) - before);
    out.bytesLost = std::max<int64_t>(0, out.bytes - kept);
  }
  if (out.status != 1) UpdateWaveHeader(job.file);
  return out;
}

DiskWriter::DiskWriter(uint32_t rate, bool sync, size_t maxJobsPerChannel)
    : rate_(rate), sync_(sync), maxJobs_(maxJobsPerChannel), thread_([this] { Run(); }) {}

DiskWriter::~DiskWriter() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

bool DiskWriter::Push(WriteJob job) {
  {
    std::lock_guard lock(mutex_);
    // A length change is never refused: it only ever follows audio.
    if (job.kind == WriteJob::Kind::Append && pending_[job.ch] >= maxJobs_) return false;
    ++pending_[job.ch];
    queue_.push_back(std::move(job));
    if (held_ > 0) return true;
  }
  wake_.notify_one();
  return true;
}

void DiskWriter::Hold() {
  std::lock_guard lock(mutex_);
  ++held_;
}

void DiskWriter::Release() {
  {
    std::lock_guard lock(mutex_);
    if (--held_ > 0 || queue_.empty()) return;
  }
  wake_.notify_one();
}

std::vector<WriteOutcome> DiskWriter::Take() {
  std::lock_guard lock(mutex_);
  return std::exchange(done_, {});
}

size_t DiskWriter::Pending(int ch) {
  std::lock_guard lock(mutex_);
  const auto it = pending_.find(ch);
  return it == pending_.end() ? 0 : it->second;
}

bool DiskWriter::Drain(double seconds) {
  // Whoever waits for the writer wants it running, held or not.
  wake_.notify_one();
  std::unique_lock lock(mutex_);
  return idle_.wait_for(lock, std::chrono::duration<double>(seconds), [this] {
    for (const auto& [ch, n] : pending_) {
      if (n > 0) return false;
    }
    return true;
  });
}

std::map<int, int64_t> DiskWriter::Waiting() {
  std::lock_guard lock(mutex_);
  std::map<int, int64_t> bytes;
  for (const auto& job : queue_) bytes[job.ch] += static_cast<int64_t>(job.bytes.size());
  return bytes;
}

std::vector<char> DiskWriter::TakeBuffer(size_t size) {
  std::vector<char> buffer;
  {
    std::lock_guard lock(mutex_);
    if (!spare_.empty()) {
      buffer = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  buffer.resize(size);
  return buffer;
}

void DiskWriter::KeepSpares(size_t count, size_t size) {
  count = std::min(count, kSpareBuffers);
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (spare_.size() >= count) return;
    }
    std::vector<char> buffer(size);  // allocated and touched outside the lock
    std::lock_guard lock(mutex_);
    spare_.push_back(std::move(buffer));
  }
}

void DiskWriter::Abandon() {
  std::lock_guard lock(mutex_);
  for (const auto& job : queue_) --pending_[job.ch];
  queue_.clear();
  idle_.notify_all();
}

void DiskWriter::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopped with nothing left
    WriteJob job = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    if (const int ms = delayMs_.load(); ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    WriteOutcome outcome = ExecuteWrite(job, rate_, sync_);
    lock.lock();
    done_.push_back(std::move(outcome));
    // A few buffers are kept for the tick's next flushes.
    if (job.kind == WriteJob::Kind::Append && spare_.size() < kSpareBuffers) spare_.push_back(std::move(job.bytes));
    --pending_[job.ch];
    idle_.notify_all();
  }
}

}  // namespace kavon
