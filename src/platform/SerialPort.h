#pragma once
// A serial port: open a device with line settings, read what has arrived
// without waiting, write with a time-out, close. The Linux back end uses
// termios; tests drive it through pseudo-terminals.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kavon::platform {

// Line settings. The character is always 8 bits.
struct SerialSettings {
  int baudRate = 38400;
  int parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  int stopBits = 0;  // 0 one, 1 one and a half, 2 two
};

class SerialPort {
 public:
  virtual ~SerialPort() = default;
  // "" when the port is open with exactly these settings (and ours alone);
  // else the reason, with the port closed again.
  virtual std::string Open(const std::string& device, const SerialSettings& settings) = 0;
  virtual bool IsOpen() const = 0;
  // Up to maxBytes bytes that have arrived; never waits.
  virtual std::vector<uint8_t> Read(size_t maxBytes) = 0;
  // All bytes within timeoutMs; false on an error or the time-out.
  virtual bool Write(const uint8_t* data, size_t length, int timeoutMs) = 0;
  // The device hung up or went away; the port must be opened again.
  virtual bool Lost() const = 0;
  virtual void Close() = 0;
};

struct SerialDevice {
  std::string path;         // "/dev/ttyUSB0"
  std::string description;  // what the list shows beside it
  // A name that stays the adapter's across boots and replugs
  // ("/dev/serial/by-id/usb-FTDI_…-if00-port0"), "" when there is none.
  std::string stablePath;
};

// The serial devices of the machine and new ports on them.
class SerialSystem {
 public:
  virtual ~SerialSystem() = default;
  // The present devices in a stable order: USB adapters first, then the
  // built-in ports that answer.
  virtual std::vector<SerialDevice> List() = 0;
  virtual bool Exists(const std::string& device) = 0;
  virtual std::unique_ptr<SerialPort> NewPort() = 0;
};

}  // namespace kavon::platform
