#pragma once
// Simulated HID devices: a control box that answers each inquiry from its
// queue of codes and keeps every other report written to it (the lamps),
// and plain devices (the jog controller) that hand out the input reports
// pushed to them. Devices can be unplugged, replugged, refused or silent.
// With a fake clock, a wait for a report that does not come takes its time
// on that clock.
#include <deque>
#include <memory>
#include <utility>
#include <vector>

#include "platform/Hid.h"
#include "platform/sim/FakeClock.h"

namespace kavon::platform {

struct SimHidState {
  HidDeviceInfo info;
  bool box = false;
  bool present = true;  // false: unplugged
  bool denied = false;  // opening fails for want of permission
  bool silent = false;  // the box takes inquiries but never answers
  // The box takes no reports at all: a write never completes (as usbhid
  // keeps it for seconds); a write meanwhile finds the first still going.
  bool wedged = false;
  bool writing = false;  // a write is held by the wedged box
  // A slow box: each report takes this long to go in (on the fake clock).
  int writeHoldMs = 0;
  // The next n writes are turned away at once, not taken (a driver that
  // refuses a write while one is in flight).
  int refuseNext = 0;
  std::vector<uint8_t> reportIds;  // the ID byte of every report written to the box
  int lateAnswers = 0;   // answers that come one inquiry late (a slow box)
  bool wrongPort = false;  // answers name another port than the one asked
  std::deque<int> codes;                     // what the box reports, one per event inquiry
  std::deque<std::vector<uint8_t>> input;    // reports waiting to be read
  std::vector<std::pair<int, int>> written;  // (value, port) of each report that was no inquiry
  int inquiries = 0;
  int reads = 0;
};

class SimHidSystem : public HidSystem {
 public:
  explicit SimHidSystem(FakeClock* clock = nullptr) : clock_(clock) {}

  // reportId: the ID its descriptor gives its output reports (0: unnumbered);
  // a report with another ID is ignored, as a real box ignores it.
  SimHidState& AddBox(uint16_t vendorId, uint16_t productId, int inputLength = 9, int outputLength = 9,
                      uint8_t reportId = 0);
  SimHidState& AddShuttle();
  SimHidState& Add(const HidDeviceInfo& info);

  std::vector<HidDeviceInfo> List() override;
  std::unique_ptr<HidDevice> Open(const HidDeviceInfo& info, std::string& reason) override;

 private:
  FakeClock* clock_;
  std::vector<std::shared_ptr<SimHidState>> devices_;
};

}  // namespace kavon::platform
