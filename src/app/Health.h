#pragma once
// Warnings for a recorder nobody watches: dead air on a recording channel,
// a device that stopped delivering, and free space below what the open
// channels need for DiskWarnMin minutes. Each is logged once when it
// begins and once when it ends, and shown on the channel while it lasts.
#include <array>
#include <map>
#include <string>
#include <vector>

#include "app/AppState.h"

namespace kavon {

class Health {
 public:
  explicit Health(AppState& app) : app_(app) {}

  // A buffer of channel ch came back with this peak level (dB, louder side).
  void BufferArrived(int ch, double peakDb);
  // Once a tick, after the channels were serviced.
  void Check();
  struct Active {
    bool deadAir = false;
    bool stalled = false;
    bool lowDisk = false;
    bool backlog = false;
  };
  // Which warnings channel ch has now.
  Active ActiveOn(int ch) const;
  // What is wrong on channel ch now ("" for nothing).
  std::string Warnings(int ch) const;

 private:
  struct Channel {
    bool open = false;
    double lastBuffer = 0;   // steady seconds
    double quietSince = -1;  // steady seconds, -1 while not quiet
    bool deadAir = false;
    bool stalled = false;
  };
  void Begin(bool& flag, const std::string& text);
  void End(bool& flag, const std::string& text);
  void CheckDisks();

  AppState& app_;
  std::array<Channel, kMaxChannels> channels_{};
  std::map<std::string, bool> lowDisk_;  // folder -> warned
  double lastDiskCheck_ = -1e9;
};

// A device that has delivered nothing for this long is stalled.
inline constexpr double kStalledSeconds = 2.0;

}  // namespace kavon
