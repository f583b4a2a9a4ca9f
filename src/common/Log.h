#pragma once
// The program's one log writer: one ".log" file for ordinary entries and one
// ".err" file for error entries per calendar day, UTF-8, CR LF. Each line is
// appended and the file closed at once, so it can be read while we run.
// The log is what an engineer reads after a power cut, so it reaches the
// disk: an error line at once, ordinary lines within kLogSyncSeconds.
// The syncs run on a thread of their own: on a busy disk one can wait for
// the file system's journal for a tenth of a second and more, which the
// writer of the line (the tick) must not spend. With write-behind (the
// running program) the lines themselves are appended there too, in order:
// a buffered write can be held by the kernel as long when memory is full
// of dirty pages.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "common/BackgroundWork.h"
#include "platform/Clock.h"

namespace kavon {

class Log {
 public:
  explicit Log(const platform::Clock& clock) : clock_(clock) {}

  void SetFolder(const std::string& folder) { folder_ = folder; }
  const std::string& Folder() const { return folder_; }
  void SetEnabled(bool on) { enabled_ = on; }
  void SetBaseName(const std::string& base) { base_ = base; }

  // kind 0 ordinary, non-zero error; force writes even when logging is off.
  void WriteLog(const std::string& text, int kind = 0, int force = 0);

  // Lines are appended on a thread of their own from now on (echo stays
  // with the caller). Flush() waits until every line so far is in its file.
  void SetWriteBehind(bool on) { writeBehind_ = on; }
  void Flush();

  // Also hands every line written (stamp and text) to echo: the headless
  // runner shows it on the terminal.
  using Echo = std::function<void(const std::string& line, bool error)>;
  void SetEcho(Echo echo) { echo_ = std::move(echo); }

  // Path of the day's file for an instant, for tests and the cleanup.
  std::string DayFile(const platform::CivilTime& day, bool error) const;

  // Forces the ordinary lines written so far to the disk when the last
  // sync is kLogSyncSeconds old (force: now, after every line waiting is
  // written). The tick calls it.
  void SyncIfDue(bool force = false);
  // At start: today's files whose tail a power cut filled with NUL bytes
  // are cut back to their last whole line (logged), so new lines follow
  // readable ones.
  void RepairTails();

 private:
  // Forces file's data to the disk, off the caller's thread (with
  // write-behind: after the lines queued before it).
  void Sync(const std::string& file);
  std::string NextKey();  // write-behind: the next key, in order
  // Appends one line to its file (the day's .log or .err); errors are
  // forced to the disk at once.
  void Append(const std::string& folder, const std::string& file, const std::string& line, bool error);

  const platform::Clock& clock_;
  std::string folder_;
  std::string base_ = "kavon";
  bool enabled_ = true;
  std::atomic<bool> failing_{false};  // the last write failed and stderr was told
  std::atomic<bool> writeBehind_{false};
  uint64_t posted_ = 0;  // work handed to the line writer, for its order
  Echo echo_;
  std::string unsynced_;  // the .log file with lines not yet forced to the disk
  double lastSync_ = -1e9;  // steady seconds
  BackgroundWork syncer_;  // the syncs, off the writer's thread
  BackgroundWork lines_;   // with write-behind: the lines, in order
};

inline constexpr double kLogSyncSeconds = 2.0;

// Cuts a text file whose end is a run of NUL bytes back to the end of its
// last whole line; the bytes removed, 0 when there was no such tail.
int64_t CutNulTail(const std::string& path);

// The yyyy/mm/dd hh:mm:ss stamp of a local time.
std::string StampText(const platform::CivilTime& t);
// A log line's text without its "yyyy/mm/dd hh:mm:ss " stamp.
std::string WithoutLogStamp(const std::string& line);

}  // namespace kavon
