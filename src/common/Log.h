#pragma once
// The program's one log writer: one ".log" file for ordinary entries and one
// ".err" file for error entries per calendar day, UTF-8, CR LF. Each line is
// appended and the file closed at once, so it can be read while we run.
#include <functional>
#include <string>

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

  // Also hands every line written (stamp and text) to echo: the headless
  // runner shows it on the terminal.
  using Echo = std::function<void(const std::string& line, bool error)>;
  void SetEcho(Echo echo) { echo_ = std::move(echo); }

  // Path of the day's file for an instant, for tests and the cleanup.
  std::string DayFile(const platform::CivilTime& day, bool error) const;

 private:
  const platform::Clock& clock_;
  std::string folder_;
  std::string base_ = "kavon";
  bool enabled_ = true;
  bool failing_ = false;  // the last write failed and stderr was told
  Echo echo_;
};

// The yyyy/mm/dd hh:mm:ss stamp of a local time.
std::string StampText(const platform::CivilTime& t);

}  // namespace kavon
