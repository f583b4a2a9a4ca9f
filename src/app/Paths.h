#pragma once
// Where kavon keeps its files. The program folder holds timer.txt, log/,
// ec.txt, the single-instance lock and the control socket; the
// configuration folder holds kavon.ini and common.ini. --home DIR puts all
// of them under DIR.
#include <string>

namespace kavon {

struct ProgramPaths {
  std::string programFolder;  // ends with "/"
  std::string configFolder;
  std::string lockFile;    // one kavon per program folder
  std::string socketFile;  // where `kavon ctl` reaches the running kavon

  std::string TimerFile() const { return programFolder + "timer.txt"; }
  std::string DefaultLogFolder() const { return programFolder + "log/"; }
  std::string ErrorCatchMarker() const { return programFolder + "ec.txt"; }
  // When kavon last ran here (see Heartbeat).
  std::string RunFile() const { return programFolder + "kavon.run"; }
  // The recordings open now (see RecordingJournal).
  std::string JournalFile() const { return programFolder + "kavon.journal"; }
};

// From --home (when not empty) or the platform's default folders.
ProgramPaths ResolvePaths(const std::string& home);

// The paths `kavon ctl` asks: those of --home; without it the caller's own,
// or, when the caller runs no kavon of its own and the system service's
// home exists, the service's (then *service is set).
ProgramPaths ResolveControlPaths(const std::string& home, bool* service);

}  // namespace kavon
