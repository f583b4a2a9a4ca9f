#include "platform/win/WinHid.h"

#include <windows.h>
#include <setupapi.h>

// mingw's HID headers lack C linkage for C++.
extern "C" {
#include <hidsdi.h>
}

#include <vector>

#include "platform/win/WinText.h"

namespace kavon::platform {
namespace {

bool IsGone(DWORD error) {
  return error == ERROR_DEVICE_NOT_CONNECTED || error == ERROR_GEN_FAILURE || error == ERROR_INVALID_HANDLE ||
         error == ERROR_BAD_COMMAND || error == ERROR_FILE_NOT_FOUND;
}

class WinHidDevice : public HidDevice {
 public:
  WinHidDevice(HANDLE file, int inputLength)
      : file_(file), buffer_(static_cast<size_t>(inputLength > 0 ? inputLength : 1)) {
    readOl_.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    writeOl_.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  ~WinHidDevice() override {
    CancelIo(file_);
    DWORD n = 0;
    if (reading_) GetOverlappedResult(file_, &readOl_, &n, TRUE);
    CloseHandle(readOl_.hEvent);
    CloseHandle(writeOl_.hEvent);
    CloseHandle(file_);
  }

  HidStatus Write(const std::vector<uint8_t>& report, int waitMs) override {
    ResetEvent(writeOl_.hEvent);
    DWORD n = 0;
    if (!WriteFile(file_, report.data(), static_cast<DWORD>(report.size()), &n, &writeOl_)) {
      const DWORD error = GetLastError();
      if (error != ERROR_IO_PENDING) return Fail(error);
      if (WaitForSingleObject(writeOl_.hEvent, static_cast<DWORD>(waitMs < 0 ? 0 : waitMs)) != WAIT_OBJECT_0) {
        // An overlapped write can be taken back: nothing goes on behind.
        CancelIoEx(file_, &writeOl_);
        GetOverlappedResult(file_, &writeOl_, &n, TRUE);
        error_ = "write timed out";
        return HidStatus::Pending;
      }
      if (!GetOverlappedResult(file_, &writeOl_, &n, FALSE)) return Fail(GetLastError());
    }
    if (n < report.size()) {
      error_ = "short write " + std::to_string(n);
      return HidStatus::Failed;
    }
    return HidStatus::Done;
  }

  HidStatus Read(std::vector<uint8_t>& report, int waitMs) override {
    DWORD n = 0;
    if (!reading_) {
      ResetEvent(readOl_.hEvent);
      if (ReadFile(file_, buffer_.data(), static_cast<DWORD>(buffer_.size()), &n, &readOl_)) {
        report.assign(buffer_.begin(), buffer_.begin() + n);
        return HidStatus::Done;
      }
      const DWORD error = GetLastError();
      if (error != ERROR_IO_PENDING) return Fail(error);
      reading_ = true;
    }
    if (WaitForSingleObject(readOl_.hEvent, static_cast<DWORD>(waitMs > 0 ? waitMs : 0)) != WAIT_OBJECT_0) {
      return HidStatus::Pending;
    }
    reading_ = false;
    if (!GetOverlappedResult(file_, &readOl_, &n, FALSE)) return Fail(GetLastError());
    report.assign(buffer_.begin(), buffer_.begin() + n);
    return HidStatus::Done;
  }

  std::string Error() const override { return error_; }

 private:
  HidStatus Fail(DWORD error) {
    error_ = ErrorText(error);
    return IsGone(error) ? HidStatus::Gone : HidStatus::Failed;
  }

  HANDLE file_;
  std::vector<uint8_t> buffer_;
  OVERLAPPED readOl_{};
  OVERLAPPED writeOl_{};
  bool reading_ = false;
  std::string error_;
};

// Attributes and report lengths of one interface, opened for queries only.
bool Describe(const std::wstring& path, HidDeviceInfo& info) {
  HANDLE h = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  HIDD_ATTRIBUTES a{};
  a.Size = sizeof a;
  bool ok = HidD_GetAttributes(h, &a);
  PHIDP_PREPARSED_DATA data = nullptr;
  if (ok && HidD_GetPreparsedData(h, &data)) {
    HIDP_CAPS caps{};
    if (HidP_GetCaps(data, &caps) == HIDP_STATUS_SUCCESS) {
      info.inputLength = caps.InputReportByteLength;
      info.outputLength = caps.OutputReportByteLength;
      info.usage = static_cast<uint32_t>(caps.UsagePage) << 16 | caps.Usage;
    }
    HidD_FreePreparsedData(data);
  }
  CloseHandle(h);
  info.vendorId = a.VendorID;
  info.productId = a.ProductID;
  info.path = Utf8(path);
  return ok;
}

}  // namespace

std::vector<HidDeviceInfo> WinHidSystem::List() {
  std::vector<HidDeviceInfo> found;
  GUID guid;
  HidD_GetHidGuid(&guid);
  HDEVINFO set = SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return found;
  for (DWORD i = 0;; ++i) {
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof iface;
    if (!SetupDiEnumDeviceInterfaces(set, nullptr, &guid, i, &iface)) break;
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(set, &iface, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;
    std::vector<uint8_t> bytes(size);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(bytes.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, size, nullptr, nullptr)) continue;
    HidDeviceInfo info;
    if (Describe(detail->DevicePath, info)) found.push_back(info);
  }
  SetupDiDestroyDeviceInfoList(set);
  return found;
}

std::unique_ptr<HidDevice> WinHidSystem::Open(const HidDeviceInfo& info, std::string& reason) {
  const std::wstring path = Wide(info.path);
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    h = CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  }
  if (h == INVALID_HANDLE_VALUE) {
    reason = ErrorText(GetLastError());
    return nullptr;
  }
  return std::make_unique<WinHidDevice>(h, info.inputLength);
}

}  // namespace kavon::platform
