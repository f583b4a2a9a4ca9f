#pragma once
// HID devices on Linux through hidraw. The devices are listed from sysfs
// (IDs from the uevent's HID_ID, report lengths from the report
// descriptor), so a node is matched by what it is, not by its name, which
// changes on replug. Both folders are parameters: tests list a fake tree.
#include <unistd.h>

#include <functional>
#include <string>

#include "platform/Hid.h"

namespace kavon::platform {

class HidrawSystem : public HidSystem {
 public:
  // The system call that writes a report; tests put one in its place that
  // blocks as usbhid's does for a box that takes no reports.
  using WriteCall = std::function<ssize_t(int fd, const void* data, size_t size)>;

  explicit HidrawSystem(std::string classFolder = "/sys/class/hidraw", std::string deviceFolder = "/dev",
                        WriteCall write = ::write)
      : classFolder_(std::move(classFolder)), deviceFolder_(std::move(deviceFolder)), write_(std::move(write)) {}

  std::vector<HidDeviceInfo> List() override;
  std::unique_ptr<HidDevice> Open(const HidDeviceInfo& info, std::string& reason) override;

 private:
  std::string classFolder_;
  std::string deviceFolder_;
  WriteCall write_;
};

}  // namespace kavon::platform
