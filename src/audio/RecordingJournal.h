#pragma once
// The recordings kavon has open now, kept in a small file of its own, so
// that a start after a crash or a power cut repairs those files and no
// other: folders of recordings are shared with other programs, whose files
// kavon never changes. A recording is entered before its first audio is
// written and leaves at its clean end; every change replaces the file
// atomically and reaches the disk before it returns.
#include <mutex>
#include <string>
#include <vector>

namespace kavon {

class RecordingJournal {
 public:
  explicit RecordingJournal(std::string path) : path_(std::move(path)) {}
  RecordingJournal(const RecordingJournal&) = delete;
  RecordingJournal& operator=(const RecordingJournal&) = delete;

  // The recordings the file names: those a run that ended without closing
  // them left open. Unreadable or missing: none.
  std::vector<std::string> Read() const;
  // Any thread. False when the file could not be written (kept for
  // TakeFailure); the entry is still held and goes out with the next change.
  bool Enter(const std::string& file);
  void Leave(const std::string& file);
  // Starts from none (after the repair at start).
  void Reset();
  // The reason of the first failed write since the last call, or "".
  std::string TakeFailure();

 private:
  bool Save();  // with mutex_ held

  const std::string path_;
  std::mutex mutex_;
  std::vector<std::string> open_;
  std::string failure_;
};

}  // namespace kavon
