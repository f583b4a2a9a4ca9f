#pragma once
// When kavon last ran. The tick rewrites a small file in the program folder
// ("kavon.run") every few seconds with the present instant, so that the
// next start knows how long kavon was down (a crash, a power cut, a kill)
// and can name the programmes that fell wholly into that time.
// The file is written on a thread of its own: a buffered write may be held
// by the kernel for up to 200 ms when the machine has many dirty pages (a
// compile, a backup), and the tick must not wait for that.
#include <optional>
#include <string>

#include "common/BackgroundWork.h"
#include "platform/Clock.h"

namespace kavon {

inline constexpr double kHeartbeatSeconds = 5.0;

class Heartbeat {
 public:
  Heartbeat(std::string path, const platform::Clock& clock) : path_(std::move(path)), clock_(clock) {}

  // Reads what the previous run left (nothing when it never ran here, or
  // the file is unreadable); call once, before the first Beat.
  void ReadPrevious();
  // The last instant the previous run is known to have been alive.
  std::optional<platform::SysMs> Previous() const { return previous_; }
  // Writes the present instant, at most every kHeartbeatSeconds by the
  // steady clock unless forced (at start and shutdown: then it returns once
  // the file is written).
  void Beat(bool force = false);

 private:
  std::string path_;
  const platform::Clock& clock_;
  std::optional<platform::SysMs> previous_;
  std::optional<double> lastBeat_;  // steady seconds
  BackgroundWork writer_;  // last: it writes path_ until it ends
};

}  // namespace kavon
