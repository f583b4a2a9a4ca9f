#include "platform/linux/Hidraw.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/linux/HidDescriptor.h"

namespace kavon::platform {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// "HID_ID=0003:00001209:00000001": bus, vendor, product in hex.
bool ParseHidId(const std::string& uevent, uint16_t& vendor, uint16_t& product) {
  std::istringstream lines(uevent);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("HID_ID=", 0) != 0) continue;
    unsigned bus = 0;
    unsigned long v = 0, p = 0;
    if (std::sscanf(line.c_str() + 7, "%x:%lx:%lx", &bus, &v, &p) != 3) return false;
    vendor = static_cast<uint16_t>(v);
    product = static_cast<uint16_t>(p);
    return true;
  }
  return false;
}

bool IsGone(int error) { return error == ENODEV || error == EIO || error == ESHUTDOWN || error == EPIPE; }

// A write in flight. usbhid's write waits up to 5 s for a box that takes
// no reports and cannot be interrupted, so it runs on a short-lived thread
// of its own; the caller waits only as long as it is willing to. The
// state is shared with that thread, which closes the node when the device
// was dropped while it still wrote.
struct WriteState {
  std::mutex m;
  std::condition_variable done;
  bool busy = false;
  ssize_t result = 0;
  int error = 0;
  int fd = -1;
  bool closeWhenDone = false;
};

class HidrawDevice : public HidDevice {
 public:
  HidrawDevice(int fd, const HidDeviceInfo& info, bool numbered, HidrawSystem::WriteCall write)
      : fd_(fd), info_(info), numbered_(numbered), write_(std::move(write)), writing_(std::make_shared<WriteState>()) {
    writing_->fd = fd;
  }
  ~HidrawDevice() override {
    std::lock_guard lock(writing_->m);
    if (writing_->busy) {
      writing_->closeWhenDone = true;  // the writer closes it; we never wait for it
      return;
    }
    ::close(fd_);
  }

  HidStatus Write(const std::vector<uint8_t>& report, int waitMs) override {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(waitMs, 0));
    std::unique_lock lock(writing_->m);
    // A write still going delays this one (within the wait), never drops it.
    if (!writing_->done.wait_until(lock, deadline, [this] { return !writing_->busy; })) {
      error_ = "an earlier write has not completed";
      return HidStatus::Pending;
    }
    writing_->busy = true;
    std::thread([state = writing_, write = write_, bytes = report] {
      const ssize_t n = write(state->fd, bytes.data(), bytes.size());
      const int error = n < 0 ? errno : 0;
      std::lock_guard inner(state->m);
      state->result = n;
      state->error = error;
      state->busy = false;
      if (state->closeWhenDone) ::close(state->fd);
      state->done.notify_all();
    }).detach();
    if (!writing_->done.wait_until(lock, deadline, [this] { return !writing_->busy; })) {
      error_ = "write did not complete";
      return HidStatus::Pending;
    }
    if (writing_->result == static_cast<ssize_t>(report.size())) return HidStatus::Done;
    return Fail(writing_->error, writing_->result);
  }

  HidStatus Read(std::vector<uint8_t>& report, int waitMs) override {
    pollfd p{fd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, std::max(waitMs, 0));
    if (ready < 0) return errno == EINTR ? HidStatus::Pending : Fail(errno, -1);
    if (ready == 0) return HidStatus::Pending;
    if ((p.revents & POLLIN) == 0) {
      error_ = "hung up";
      return HidStatus::Gone;
    }
    // Unnumbered reports arrive without the report ID: 0 goes in front.
    const size_t offset = numbered_ ? 0 : 1;
    report.assign(static_cast<size_t>(std::max(info_.inputLength, 1)), 0);
    const ssize_t n = ::read(fd_, report.data() + offset, report.size() - offset);
    if (n < 0) return errno == EAGAIN || errno == EINTR ? HidStatus::Pending : Fail(errno, -1);
    if (n == 0) {
      error_ = "end of file";
      return HidStatus::Gone;
    }
    report.resize(offset + static_cast<size_t>(n));
    return HidStatus::Done;
  }

  std::string Error() const override { return error_; }

 private:
  HidStatus Fail(int error, ssize_t moved) {
    error_ = error != 0 ? std::strerror(error) : "short transfer " + std::to_string(moved);
    return IsGone(error) ? HidStatus::Gone : HidStatus::Failed;
  }

  int fd_;
  HidDeviceInfo info_;
  bool numbered_;
  HidrawSystem::WriteCall write_;
  std::shared_ptr<WriteState> writing_;
  std::string error_;
};

}  // namespace

std::vector<HidDeviceInfo> HidrawSystem::List() {
  std::vector<HidDeviceInfo> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(classFolder_, ec)) {
    const fs::path device = entry.path() / "device";
    HidDeviceInfo info;
    if (!ParseHidId(ReadFile(device / "uevent"), info.vendorId, info.productId)) continue;
    const std::string descriptor = ReadFile(device / "report_descriptor");
    const HidReportLayout layout =
        ParseReportDescriptor(reinterpret_cast<const uint8_t*>(descriptor.data()), descriptor.size());
    info.inputLength = layout.inputLength;
    info.outputLength = layout.outputLength;
    info.outputReportId = layout.outputReportId;
    info.usage = layout.usage;
    info.path = (fs::path(deviceFolder_) / entry.path().filename()).string();
    found.push_back(info);
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
  return found;
}

std::unique_ptr<HidDevice> HidrawSystem::Open(const HidDeviceInfo& info, std::string& reason) {
  int fd = ::open(info.path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) fd = ::open(info.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    reason = std::strerror(errno);
    return nullptr;
  }
  // The node may have been replugged as another device since the listing:
  // the kernel's own IDs (signed 16-bit fields) must still agree.
  hidraw_devinfo raw{};
  if (::ioctl(fd, HIDIOCGRAWINFO, &raw) == 0 &&
      (static_cast<uint16_t>(raw.vendor) != info.vendorId || static_cast<uint16_t>(raw.product) != info.productId)) {
    ::close(fd);
    reason = "another device";
    return nullptr;
  }
  // Whether reports are numbered, from the node's own descriptor when the
  // kernel gives it, else from the listing.
  bool numbered = false;
  int size = 0;
  hidraw_report_descriptor rd{};
  if (::ioctl(fd, HIDIOCGRDESCSIZE, &size) == 0 && size > 0 && size <= HID_MAX_DESCRIPTOR_SIZE) {
    rd.size = static_cast<uint32_t>(size);
    if (::ioctl(fd, HIDIOCGRDESC, &rd) == 0) numbered = ParseReportDescriptor(rd.value, rd.size).numbered;
  } else {
    const std::string descriptor = ReadFile(fs::path(classFolder_) / fs::path(info.path).filename() / "device" /
                                            "report_descriptor");
    numbered = ParseReportDescriptor(reinterpret_cast<const uint8_t*>(descriptor.data()), descriptor.size()).numbered;
  }
  return std::make_unique<HidrawDevice>(fd, info, numbered, write_);
}

}  // namespace kavon::platform
