#pragma once
// Serial ports on Windows: the communications API on \\.\COMn, reads that
// return at once with what has arrived, writes with a time-out. The ports
// present are the ones the system's device map lists.
#include "platform/SerialPort.h"

namespace kavon::platform {

class WinSerialSystem : public SerialSystem {
 public:
  std::vector<SerialDevice> List() override;
  bool Exists(const std::string& device) override;
  std::unique_ptr<SerialPort> NewPort() override;
};

}  // namespace kavon::platform
