#pragma once
// Serial ports on Linux: termios in full raw mode (termios2, so that rates
// such as 14400 or 56000 work where the driver takes them), exclusive use,
// reads that never wait and writes with a time-out.
#include "platform/SerialPort.h"

namespace kavon::platform {

class TermiosSerialPort : public SerialPort {
 public:
  ~TermiosSerialPort() override;
  std::string Open(const std::string& device, const SerialSettings& settings) override;
  bool IsOpen() const override { return fd_ >= 0; }
  std::vector<uint8_t> Read(size_t maxBytes) override;
  bool Write(const uint8_t* data, size_t length, int timeoutMs) override;
  bool Lost() const override { return lost_; }
  void Close() override;

  // Read calls made, for tests that check a lost port is not polled in a loop.
  int Reads() const { return reads_; }

 private:
  int fd_ = -1;
  bool lost_ = false;
  int reads_ = 0;
};

class LinuxSerialSystem : public SerialSystem {
 public:
  std::vector<SerialDevice> List() override;
  bool Exists(const std::string& device) override;
  std::unique_ptr<SerialPort> NewPort() override;
};

}  // namespace kavon::platform
