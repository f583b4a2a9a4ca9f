#pragma once
// USB HID devices: list the HID interfaces with their IDs and report
// lengths, open one, write output reports and take input reports, waiting
// at most a given time. Reports are laid out as the Windows HID layer
// counts them: byte 0 is the report ID (0 for a device without numbered
// reports) and the lengths include it. The Linux back end uses hidraw; the
// simulated one plays a control box or a jog controller.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kavon::platform {

struct HidDeviceInfo {
  std::string path;  // the node to open, e.g. /dev/hidraw3
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  int inputLength = 0;   // bytes of the longest input report, report ID included
  int outputLength = 0;  // likewise for output reports
  // Usage page (high 16 bits) and usage of the first top-level collection.
  uint32_t usage = 0;
  // The report ID that output reports carry first (0 for a device whose
  // reports are not numbered).
  uint8_t outputReportId = 0;
};

enum class HidStatus {
  Done,     // the whole report was moved
  Pending,  // nothing arrived, or the write did not complete, within the wait
  Failed,   // this transfer failed; the device may still be there
  Gone,     // the device went away (unplugged, hung up)
};

class HidDevice {
 public:
  virtual ~HidDevice() = default;
  // Writes one output report, report ID first, waiting at most waitMs in
  // all: for an earlier write still going, then for this one. Pending when
  // it has not completed by then: not taken when the earlier write held it
  // up; else, where the driver cannot take a write back (usbhid keeps one
  // for seconds, whatever O_NONBLOCK says), going on on its own. A box that
  // takes no reports never holds the caller longer than waitMs.
  virtual HidStatus Write(const std::vector<uint8_t>& report, int waitMs) = 0;
  // The next input report that arrived, report ID first; waits up to waitMs
  // (0: does not wait). Reports that arrive late stay queued for the next
  // call: there is no cancelling a read.
  virtual HidStatus Read(std::vector<uint8_t>& report, int waitMs) = 0;
  // Why the last transfer failed, in words.
  virtual std::string Error() const = 0;
};

class HidSystem {
 public:
  virtual ~HidSystem() = default;
  virtual std::vector<HidDeviceInfo> List() = 0;
  // Opens for reading and writing, else for reading only; nullptr with the
  // reason (e.g. "Permission denied") when neither works.
  virtual std::unique_ptr<HidDevice> Open(const HidDeviceInfo& info, std::string& reason) = 0;
};

}  // namespace kavon::platform
