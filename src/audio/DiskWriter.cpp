#include "audio/DiskWriter.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <utility>

#include "audio/RecordingJournal.h"
#include "audio/WaveMMIO.h"
#include "common/FileHelpers.h"
#include "platform/FileSync.h"

namespace kavon {
namespace {

constexpr int64_t kFrameBytes = 4;
constexpr size_t kSpareBuffers = 16;
// A file another program holds for a moment (a backup, a virus scan) gets
// its audio late; one that stays unwritable this long loses what waited.
constexpr auto kRetryFor = std::chrono::seconds(60);
constexpr auto kRetryEvery = std::chrono::seconds(1);

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

WriteOutcome ExecuteWrite(const WriteJob& job, uint32_t rate, bool sync, RecordingJournal* journal) {
  WriteOutcome out;
  out.ch = job.ch;
  out.file = job.file;
  if (job.kind == WriteJob::Kind::SetLength) {
    out.status = SetWaveDataLength(job.file, job.length) ? 1 : -1;
    return out;
  }
  if (job.kind == WriteJob::Kind::Begin) {
    // A start that failed after its file was made removes it again: gone
    // is not a failure to write.
    if (FileSizeOfPath(job.file) < 0) {
      out.status = 2;
      return out;
    }
    if (sync && !platform::SyncNewFile(job.file)) out.status = Failed(out.why);
    if (journal) journal->Enter(job.file);
    return out;
  }
  if (job.kind == WriteJob::Kind::Release) {
    platform::ReleaseFile(job.file);
    if (journal) journal->Leave(job.file);
    out.status = 2;
    return out;
  }
  out.bytes = static_cast<int64_t>(job.bytes.size());
  // Raw PCM never stands under a missing or broken header: a file that
  // vanished gets a new one, a file of ours cut below its header (by
  // someone else) gets it back in place.
  // Held open for the rest of the recording where that keeps other
  // programs from locking us out of it (and let go of if someone deleted it).
  platform::HoldFile(job.file);
  const int64_t size = FileSizeOfPath(job.file);
  if (size < 0) {
    CreateWaveFile(rate, 16, 2, job.file, 0);
    platform::HoldFile(job.file);
  }
  if (size >= 0 && size < static_cast<int64_t>(kPlainHeaderBytes)) {
    const std::string header = WaveHeaderBytes(rate, 16, 2, 0);
    WriteFileAt(header.data(), header.size(), 0, job.file);
  }
  const int64_t before = std::max<int64_t>(0, FileSizeOfPath(job.file));
  out.status = AppendWaveData(job.file, job.bytes.data(), job.bytes.size(), &out.why, sync);
  if (out.status == 0) {
    // Let go of it: a file deleted while held stays in the way of its
    // name until then, and the next try makes it anew.
    platform::ReleaseFile(job.file);
    CutToWholeFrames(job.file);
    const int64_t kept = std::max<int64_t>(0, FileSizeOfPath(job.file) - before);
    out.bytesLost = std::max<int64_t>(0, out.bytes - kept);
  }
  if (out.status != 1) UpdateWaveHeader(job.file);
  return out;
}

DiskWriter::DiskWriter(uint32_t rate, bool sync, RecordingJournal* journal, size_t maxJobsPerChannel)
    : rate_(rate), sync_(sync), journal_(journal), maxJobs_(maxJobsPerChannel), thread_([this] { Run(); }) {}

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
  size_t n = it == pending_.end() ? 0 : it->second;
  for (const auto& [file, r] : retry_) n += r.ch == ch ? 1 : 0;
  return n;
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
  for (const auto& [file, r] : retry_) bytes[r.ch] += static_cast<int64_t>(r.bytes.size());
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

std::optional<DiskWriter::Retry> DiskWriter::TakeRetry(const std::string& file) {
  std::lock_guard lock(mutex_);
  const auto it = retry_.find(file);
  if (it == retry_.end()) return std::nullopt;
  Retry r = std::move(it->second);
  retry_.erase(it);
  return r;
}

std::vector<WriteOutcome> DiskWriter::Execute(WriteJob job) {
  std::vector<WriteOutcome> out;
  if (job.kind == WriteJob::Kind::Begin) return {ExecuteWrite(job, rate_, sync_, journal_)};
  auto since = std::chrono::steady_clock::now();
  if (std::optional<Retry> carried = TakeRetry(job.file)) {
    // What failed before goes first: the file's audio stays in order.
    since = carried->since;
    if (job.kind == WriteJob::Kind::Append) {
      job.bytes.insert(job.bytes.begin(), carried->bytes.begin(), carried->bytes.end());
    } else {
      out.push_back(AppendOrCarry({WriteJob::Kind::Append, carried->ch, job.file, std::move(carried->bytes), 0}, since));
    }
  }
  if (job.kind == WriteJob::Kind::Release && Carried(job.file)) {
    // Its audio is still to go in: the file stays in the journal until then.
    platform::ReleaseFile(job.file);
    std::lock_guard lock(mutex_);
    releasedWhileCarried_.insert(job.file);
    out.push_back({job.ch, job.file, 2, 0, 0, {}});
    return out;
  }
  out.push_back(job.kind == WriteJob::Kind::Append ? AppendOrCarry(job, since) : ExecuteWrite(job, rate_, sync_, journal_));
  if (job.kind == WriteJob::Kind::Append && !Carried(job.file)) LeaveIfReleased(job.file);
  return out;
}

bool DiskWriter::Carried(const std::string& file) {
  std::lock_guard lock(mutex_);
  return retry_.contains(file);
}

void DiskWriter::LeaveIfReleased(const std::string& file) {
  {
    std::lock_guard lock(mutex_);
    if (releasedWhileCarried_.erase(file) == 0) return;
  }
  if (journal_) journal_->Leave(file);
}

WriteOutcome DiskWriter::AppendOrCarry(const WriteJob& job, std::chrono::steady_clock::time_point since) {
  WriteOutcome out = ExecuteWrite(job, rate_, sync_, journal_);
  if (out.status != 0 || out.bytesLost <= 0) return out;
  // Given up: the outcome names what is lost.
  if (std::chrono::steady_clock::now() - since >= kRetryFor) return out;
  Retry r{job.ch, std::vector<char>(job.bytes.end() - out.bytesLost, job.bytes.end()), since};
  out.bytesLost = 0;
  std::lock_guard lock(mutex_);
  retry_[job.file] = std::move(r);
  return out;
}

void DiskWriter::RetryIdle(std::unique_lock<std::mutex>& lock) {
  std::vector<std::pair<std::string, int>> carried;
  for (const auto& [file, r] : retry_) carried.emplace_back(file, r.ch);
  for (const auto& [file, ch] : carried) {
    lock.unlock();
    std::vector<WriteOutcome> outcomes = Execute({WriteJob::Kind::Append, ch, file, {}, 0});
    lock.lock();
    for (auto& o : outcomes) done_.push_back(std::move(o));
  }
}

void DiskWriter::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (retry_.empty()) {
      wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    } else if (!wake_.wait_for(lock, kRetryEvery, [this] { return stop_ || !queue_.empty(); })) {
      RetryIdle(lock);
      continue;
    }
    if (queue_.empty()) return;  // stopped with nothing left
    WriteJob job = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    if (const int ms = delayMs_.load(); ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    std::vector<WriteOutcome> outcomes = Execute(job);
    lock.lock();
    for (auto& o : outcomes) done_.push_back(std::move(o));
    // A few buffers are kept for the tick's next flushes.
    if (job.kind == WriteJob::Kind::Append && spare_.size() < kSpareBuffers) spare_.push_back(std::move(job.bytes));
    --pending_[job.ch];
    idle_.notify_all();
  }
}

}  // namespace kavon
