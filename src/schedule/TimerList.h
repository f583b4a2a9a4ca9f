#pragma once
// The timer list: the schedule of recordings, shared by the tick (which
// fires entries), recording control (which clears their running mark) and
// the editor. Its file holds one entry per line as seven quoted fields:
// Ch, Length, Date, StartTime, WeekMask, Ref, FileTitle; UTF-8, CR LF.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kavon {

class Log;

struct TimerEntry {
  std::string StartTime;  // hh:mm:ss of the display day; hours 24 and up for the night after
  std::string Date;       // yyyy/mm/dd for a one-time entry, empty for a weekly one
  int32_t WeekMask = 0;   // bit w-1 for weekday w, 1 = Sunday
  int32_t Length = 0;     // seconds
  std::string Ref;        // remark
  int32_t Ch = 0;         // 0-based channel; any number the file held
  std::string FileTitle;
  int32_t Active = 0;     // 1 from firing until its channel stops; not stored

  bool IsOneTime() const { return !Date.empty(); }
  // Whether the entry can ever fire: a start of exactly hh:mm:ss and a
  // length of at least one second.
  bool IsFireable() const;
};

// What tells one entry from another (everything but Ref, Length and Active).
std::string EntryKey(const TimerEntry& e);

// A "5:00:00" start becomes "05:00:00"; other texts stay as they are.
std::string NormalizeStartTime(const std::string& text);
// Reads one line of the file into entry; false for a line of fewer than
// seven fields.
bool ParseTimerLine(const std::string& line, TimerEntry& entry);
std::string FormatTimerLine(const TimerEntry& entry);

class TimerList {
 public:
  explicit TimerList(Log& log) : log_(log) {}

  std::vector<TimerEntry>& entries() { return entries_; }
  const std::vector<TimerEntry>& entries() const { return entries_; }
  size_t Count() const { return entries_.size(); }

  // Replaces the list by the file's entries when the whole file was read. A
  // missing file leaves the list as it was and counts as success; a file
  // that cannot be read, holds nothing, or of whose lines none could be
  // read, or whose last line is cut short (being written), leaves the list
  // as it was, logs why and gives false.
  bool InputTimer(const std::string& path);
  // The same for the bytes of a file already read (raw, as on disk).
  bool TakeText(std::string bytes, const std::string& path);
  // Replaces the file atomically by the list; an empty list leaves no file.
  // The file it replaces is first kept as path + ".bak".
  bool OutputTimer(const std::string& path);

  // Whether the program changed the list since it was read or written:
  // only then is the user's file written back.
  bool Modified() const { return modified_; }
  void MarkModified() {
    modified_ = true;
    ++version_;
  }
  // Counts the changes of the list (read from a file or edited), so a view
  // knows when to draw it again.
  uint64_t Version() const { return version_; }

 private:
  Log& log_;
  std::vector<TimerEntry> entries_;
  bool modified_ = false;
  uint64_t version_ = 0;
};

// The raw bytes of a timer or list file, or nullopt (logged) when it cannot
// be read or is too large to be one.
std::optional<std::string> ReadTimerBytes(const std::string& path, Log& log);
// Whether a file's text ends on a whole record: its last line ends with a
// line break, or is seven fields with the last one's closing quote. A file
// cut in the middle of a line is still being written.
bool EndsOnWholeRecord(const std::string& text);
// Removes what a crash may have left of saves of the file at path (its and
// its .bak's temporary files), when the process that made them is gone.
void RemoveStaleSaves(const std::string& path);

// What identifies a version of a file on disk, to notice edits.
struct FileVersion {
  bool exists = false;
  bool regular = false;
  uintmax_t size = 0;
  int64_t modified = 0;  // nanoseconds of the last write
  bool operator==(const FileVersion&) const = default;
};
FileVersion FileVersionOf(const std::string& path);

}  // namespace kavon
