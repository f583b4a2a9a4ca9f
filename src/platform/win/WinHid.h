#pragma once
// HID devices on Windows: the HID class's interfaces from the device setup
// API, their IDs and report lengths from the HID layer, and overlapped
// reads and writes. A read that has not completed stays outstanding for the
// next call, so a late report is never lost.
#include "platform/Hid.h"

namespace kavon::platform {

class WinHidSystem : public HidSystem {
 public:
  std::vector<HidDeviceInfo> List() override;
  std::unique_ptr<HidDevice> Open(const HidDeviceInfo& info, std::string& reason) override;
};

}  // namespace kavon::platform
