#pragma once
// A serial port: open by name and line settings, non-blocking read of what
// has arrived, write, close. The Linux back end uses termios; tests drive it
// through pseudo-terminals.
#include <cstdint>
#include <string>
#include <vector>

namespace kavon::platform {

struct SerialSettings {
  int baudRate = 38400;
  int dataBits = 8;
  int parity = 0;    // 0 none, 1 odd, 2 even
  int stopBits = 0;  // 0 one, 2 two
};

class SerialPort {
 public:
  virtual ~SerialPort() = default;
  virtual bool Open(const std::string& name, const SerialSettings& settings) = 0;
  // Up to maxBytes bytes that have arrived; never waits.
  virtual std::vector<uint8_t> Read(size_t maxBytes) = 0;
  virtual bool Write(const std::vector<uint8_t>& bytes) = 0;
  virtual void Close() = 0;
  virtual std::vector<std::string> PortNames() = 0;
};

}  // namespace kavon::platform
