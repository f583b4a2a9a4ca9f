#pragma once
// The disk side of capture: each flush of a channel's disk buffer (its
// audio, then the header patch) is a job, done in order per file. Run by
// one writer thread, so that a slow or throttled disk never holds up the
// tick, or inline (the same work, at once, on the caller's thread). With
// sync the audio reaches the disk before the header claims it.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace kavon {

class RecordingJournal;

struct WriteJob {
  // Begin: a new file entered in the journal of open recordings and, with
  // sync, forced to the disk with its folder entry, ahead of its first audio.
  // Release: the channel is done with the file (it is no longer held open,
  // and leaves the journal).
  enum class Kind { Append, SetLength, Begin, Release };
  Kind kind = Kind::Append;
  int ch = 0;
  std::string file;
  std::vector<char> bytes;  // Append: the audio
  uint64_t length = 0;      // SetLength: the data chunk's new length in bytes
};

struct WriteOutcome {
  int ch = 0;
  std::string file;
  // 1 written, 0 failed (bytesLost of it did not reach the file, the rest
  // is carried for another try), -1 header not patched, 2 nothing to write
  int status = 1;
  int64_t bytes = 0;
  int64_t bytesLost = 0;
  std::string why;
};

// Does one job now; rate is the files' sampling rate (for a header that
// has to be written again), sync forces audio and header to the disk, and
// the journal (if any) learns which files are open.
WriteOutcome ExecuteWrite(const WriteJob& job, uint32_t rate, bool sync, RecordingJournal* journal);

class DiskWriter {
 public:
  // At most maxJobsPerChannel flushes wait per channel (16 = about a
  // minute of audio); a flush beyond that is refused.
  DiskWriter(uint32_t rate, bool sync, RecordingJournal* journal = nullptr, size_t maxJobsPerChannel = 16);
  ~DiskWriter();
  DiskWriter(const DiskWriter&) = delete;
  DiskWriter& operator=(const DiskWriter&) = delete;

  // False when the channel's queue is full: the job is not taken.
  bool Push(WriteJob job);
  // What was done since the last call, in order.
  std::vector<WriteOutcome> Take();
  // Jobs of the channel not yet done (waiting or being written), and its
  // files with audio carried after a failed append.
  size_t Pending(int ch);
  // Waits until every job is done, at most `seconds`; true when none is left.
  bool Drain(double seconds);
  // Bytes of audio still waiting (queued, or carried after a failed
  // append), per channel, for a report at shutdown.
  std::map<int, int64_t> Waiting();
  // Drops every job not yet begun (shutdown gave up waiting).
  void Abandon();
  // A buffer of `size` bytes for the next flush: one that a finished job
  // gave back when there is one, so the tick neither allocates nor faults
  // in fresh pages while the disk is busy.
  std::vector<char> TakeBuffer(size_t size);
  // Keeps at least `count` spare buffers of `size` bytes ready, so that even
  // the first flushes after a start find one.
  void KeepSpares(size_t count, size_t size);
  // While held (Hold nests), jobs pushed do not wake the writer: Release
  // does. The tick holds it, so that a flush it hands over never has the
  // writer take the tick's core before the tick is done.
  void Hold();
  void Release();
  // A slow disk, for tests: each job waits this long first.
  void SetDelayMs(int ms) { delayMs_ = ms; }

 private:
  // Audio a failed append could not write, tried again ahead of the
  // file's next audio, or on its own, until it is in or too old.
  struct Retry {
    int ch = 0;
    std::vector<char> bytes;
    std::chrono::steady_clock::time_point since;
  };
  void Run();
  // Runs a job, the audio carried for its file first; one outcome each.
  std::vector<WriteOutcome> Execute(WriteJob job);
  // Appends; what did not reach the file is carried, unless it has waited
  // since `since` for too long.
  WriteOutcome AppendOrCarry(const WriteJob& job, std::chrono::steady_clock::time_point since);
  std::optional<Retry> TakeRetry(const std::string& file);
  bool Carried(const std::string& file);
  // A file released while its audio was carried leaves the journal now.
  void LeaveIfReleased(const std::string& file);
  // The carried audio of files that got no new job for a while, tried again.
  void RetryIdle(std::unique_lock<std::mutex>& lock);

  const uint32_t rate_;
  const bool sync_;
  RecordingJournal* const journal_;
  const size_t maxJobs_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<WriteJob> queue_;
  std::map<int, size_t> pending_;
  std::vector<WriteOutcome> done_;
  std::vector<std::vector<char>> spare_;
  std::map<std::string, Retry> retry_;  // by file
  // Released while audio was still carried: they leave the journal once
  // that audio is in or given up.
  std::set<std::string> releasedWhileCarried_;
  bool stop_ = false;
  int held_ = 0;
  std::atomic<int> delayMs_{0};
  std::thread thread_;
};

// Holds a writer (when there is one) for as long as it lives.
class WriteHold {
 public:
  explicit WriteHold(DiskWriter* writer) : writer_(writer) {
    if (writer_) writer_->Hold();
  }
  ~WriteHold() {
    if (writer_) writer_->Release();
  }
  WriteHold(const WriteHold&) = delete;
  WriteHold& operator=(const WriteHold&) = delete;

 private:
  DiskWriter* writer_;
};

}  // namespace kavon
