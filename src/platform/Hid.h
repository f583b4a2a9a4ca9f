#pragma once
// A HID interface: list devices with vendor and product IDs, open one, learn
// its report lengths, read input reports without waiting, write output
// reports. The Linux back end uses hidraw; tests use a scripted box.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kavon::platform {

struct HidDeviceInfo {
  std::string path;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
};

class HidDevice {
 public:
  virtual ~HidDevice() = default;
  virtual std::vector<HidDeviceInfo> List() = 0;
  virtual bool Open(const std::string& path) = 0;
  virtual int InputReportLength() const = 0;
  virtual int OutputReportLength() const = 0;
  // A complete input report when one has arrived, else nullopt; never waits.
  virtual std::optional<std::vector<uint8_t>> ReadReport() = 0;
  virtual bool WriteReport(const std::vector<uint8_t>& report) = 0;
  virtual void Close() = 0;
};

}  // namespace kavon::platform
