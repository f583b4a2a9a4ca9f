#include "platform/linux/TermiosSerial.h"

// termios2 and its flags come from the kernel's headers, which clash with
// the C library's <termios.h>: this file uses the kernel's alone.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

extern "C" int ioctl(int fd, unsigned long request, ...);

namespace kavon::platform {
namespace {

std::string Reason(const std::string& what, int err) { return what + ": " + std::strerror(err); }

// Parity and stop bits into the control flags; "" or why not.
std::string LineFlags(const SerialSettings& s, tcflag_t& cflag) {
  cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
  cflag |= CS8 | CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
  switch (s.parity) {
    case 0: break;
    case 1: cflag |= PARENB | PARODD; break;
    case 2: cflag |= PARENB; break;
    case 3: cflag |= PARENB | CMSPAR | PARODD; break;
    case 4: cflag |= PARENB | CMSPAR; break;
    default: return "unknown parity " + std::to_string(s.parity);
  }
  if (s.stopBits == 1) return "one and a half stop bits are not supported";
  if (s.stopBits == 2) cflag |= CSTOPB;
  return {};
}

// Full raw mode: no line editing, no signals, no translation of CR and
// LF, no flow control, reads that return at once.
void MakeRaw(termios2& t) {
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                      IXANY | INPCK | IUCLC | IMAXBEL);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
}

// The trailing number of a device name, for a natural order.
long NumberOf(const std::string& name) {
  const auto digits = name.find_first_of("0123456789");
  return digits == std::string::npos ? -1 : std::strtol(name.c_str() + digits, nullptr, 10);
}

std::vector<std::string> Devices(const std::string& prefix) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/dev", ec)) {
    const std::string name = e.path().filename().string();
    if (name.rfind(prefix, 0) == 0 && name.size() > prefix.size()) out.push_back(e.path().string());
  }
  std::sort(out.begin(), out.end(), [](const std::string& a, const std::string& b) {
    const std::string na = std::filesystem::path(a).filename().string();
    const std::string nb = std::filesystem::path(b).filename().string();
    return NumberOf(na) < NumberOf(nb);
  });
  return out;
}

// A built-in port that has a UART behind it.
bool Answers(const std::string& device) {
  const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  serial_struct info{};
  const bool ok = ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
  close(fd);
  return ok;
}

// The USB product name of a tty, when the kernel tells it.
std::string ProductOf(const std::string& device) {
  const std::string tty = std::filesystem::path(device).filename().string();
  for (const char* up : {"/device/../product", "/device/../../product"}) {
    std::ifstream in("/sys/class/tty/" + tty + up);
    std::string product;
    if (in && std::getline(in, product) && !product.empty()) return product;
  }
  return {};
}

// The names udev gives each USB adapter by its serial number, by the
// device each stands for now.
std::map<std::string, std::string> StableNames() {
  std::map<std::string, std::string> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/dev/serial/by-id", ec)) {
    const auto target = std::filesystem::canonical(e.path(), ec);
    if (!ec) out[target.string()] = e.path().string();
  }
  return out;
}

}  // namespace

TermiosSerialPort::~TermiosSerialPort() { Close(); }

std::string TermiosSerialPort::Open(const std::string& device, const SerialSettings& settings) {
  Close();
  lost_ = false;
  if (settings.baudRate <= 0) return "bad speed " + std::to_string(settings.baudRate);
  const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Reason(device, errno);
  // Every refusal leaves the port as it found it: a pseudo-terminal keeps
  // an exclusive flag while its far end is open, and would refuse every
  // later open by anyone but root.
  auto fail = [fd](const std::string& why) {
    ioctl(fd, TIOCNXCL);
    close(fd);
    return why;
  };
  // Another kavon (or any program that asks for the lock) holds the box.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(device + ": in use by another program");
  termios2 t{};
  if (ioctl(fd, TCGETS2, &t) != 0) {
    return fail(errno == ENOTTY || errno == EINVAL ? device + ": not a serial port" : Reason(device, errno));
  }
  MakeRaw(t);
  if (const std::string why = LineFlags(settings, t.c_cflag); !why.empty()) return fail(device + ": " + why);
  t.c_ispeed = t.c_ospeed = static_cast<speed_t>(settings.baudRate);
  if (ioctl(fd, TCSETS2, &t) != 0) return fail(Reason(device + " (line settings)", errno));
  // What the driver made of it: a rate it rounds by more than 2 % would
  // turn line noise into codes.
  termios2 back{};
  if (ioctl(fd, TCGETS2, &back) != 0) return fail(Reason(device + " (line settings)", errno));
  const double off = std::abs(static_cast<double>(back.c_ospeed) - settings.baudRate) / settings.baudRate;
  if (off > 0.02) {
    return fail(device + ": " + std::to_string(settings.baudRate) + " bit/s is not taken (the port runs at " +
                std::to_string(back.c_ospeed) + ")");
  }
  const tcflag_t want = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
  if ((back.c_cflag & want) != (t.c_cflag & want) || (back.c_lflag & ICANON) != 0) {
    return fail(device + ": the line settings were not taken");
  }
  // Only a port we keep is made ours alone: no other program may open it
  // while we hold it (root excepted, whom TIOCEXCL does not stop).
  if (ioctl(fd, TIOCEXCL) != 0) return fail(Reason(device + " (exclusive use)", errno));
  fd_ = fd;
  return {};
}

std::vector<uint8_t> TermiosSerialPort::Read(size_t maxBytes) {
  std::vector<uint8_t> out;
  if (fd_ < 0 || lost_ || maxBytes == 0) return out;
  ++reads_;
  out.resize(maxBytes);
  const ssize_t n = read(fd_, out.data(), maxBytes);
  if (n > 0) {
    out.resize(static_cast<size_t>(n));
    return out;
  }
  out.clear();
  if (n < 0 && errno != EAGAIN && errno != EINTR) {
    lost_ = true;  // EIO and the like: the far end hung up, the device went away
    return out;
  }
  // With VMIN = VTIME = 0 "nothing yet" reads as 0 bytes, and so does a
  // tty that was hung up (a USB adapter pulled): poll tells them apart.
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) lost_ = true;
  return out;
}

bool TermiosSerialPort::Write(const uint8_t* data, size_t length, int timeoutMs) {
  if (fd_ < 0 || lost_) return false;
  size_t done = 0;
  int waited = 0;
  while (done < length) {
    const ssize_t n = write(fd_, data + done, length - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      if (errno == EIO || errno == ENXIO || errno == ENODEV) lost_ = true;
      return false;
    }
    if (waited >= timeoutMs) return false;
    pollfd p{fd_, POLLOUT, 0};
    const int slice = std::min(100, timeoutMs - waited);
    if (poll(&p, 1, slice) < 0 && errno != EINTR) return false;
    waited += slice;
  }
  return true;
}

void TermiosSerialPort::Close() {
  if (fd_ < 0) return;
  ioctl(fd_, TIOCNXCL);
  close(fd_);
  fd_ = -1;
}

std::vector<SerialDevice> LinuxSerialSystem::List() {
  std::vector<SerialDevice> out;
  const auto stable = StableNames();
  for (const char* prefix : {"ttyUSB", "ttyACM"}) {
    for (const auto& d : Devices(prefix)) {
      const std::string product = ProductOf(d);
      const auto byId = stable.find(d);
      out.push_back({d, product.empty() ? d : d + " (" + product + ")", byId == stable.end() ? "" : byId->second});
    }
  }
  for (const auto& d : Devices("ttyS")) {
    if (Answers(d)) out.push_back({d, d, ""});
  }
  return out;
}

bool LinuxSerialSystem::Exists(const std::string& device) {
  std::error_code ec;
  return !device.empty() && std::filesystem::exists(device, ec);
}

std::unique_ptr<SerialPort> LinuxSerialSystem::NewPort() { return std::make_unique<TermiosSerialPort>(); }

}  // namespace kavon::platform
