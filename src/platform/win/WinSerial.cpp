#include "platform/win/WinSerial.h"

#include <windows.h>

#include <algorithm>

#include "platform/win/WinText.h"

namespace kavon::platform {
namespace {

// "COM12" sorts after "COM2".
int PortNumber(const std::string& name) {
  const auto digits = name.find_first_of("0123456789");
  return digits == std::string::npos ? 0 : std::atoi(name.c_str() + digits);
}

bool IsGone(DWORD error) {
  return error == ERROR_BAD_COMMAND || error == ERROR_DEVICE_REMOVED || error == ERROR_ACCESS_DENIED ||
         error == ERROR_NOT_READY || error == ERROR_DEVICE_NOT_CONNECTED ||
         error == ERROR_OPERATION_ABORTED || error == ERROR_GEN_FAILURE || error == ERROR_FILE_NOT_FOUND;
}

class WinSerialPort : public SerialPort {
 public:
  ~WinSerialPort() override { Close(); }

  std::string Open(const std::string& device, const SerialSettings& settings) override {
    Close();
    const std::wstring path = device.rfind("\\\\.\\", 0) == 0 ? Wide(device) : L"\\\\.\\" + Wide(device);
    port_ = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port_ == INVALID_HANDLE_VALUE) {
      port_ = nullptr;
      return device + ": " + ErrorText(GetLastError());
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port_, &dcb);
    dcb.BaudRate = static_cast<DWORD>(settings.baudRate);
    dcb.ByteSize = 8;
    dcb.Parity = static_cast<BYTE>(settings.parity);  // the same numbering: none, odd, even, mark, space
    dcb.StopBits = static_cast<BYTE>(settings.stopBits);
    dcb.fBinary = TRUE;
    dcb.fParity = settings.parity != 0;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = dcb.fInX = FALSE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(port_, &dcb)) {
      const std::string why = device + ": " + ErrorText(GetLastError());
      Close();
      return why;
    }
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;  // a read returns at once with what has arrived
    SetCommTimeouts(port_, &t);
    PurgeComm(port_, PURGE_RXCLEAR | PURGE_TXCLEAR);
    lost_ = false;
    return {};
  }

  bool IsOpen() const override { return port_ != nullptr; }

  std::vector<uint8_t> Read(size_t maxBytes) override {
    std::vector<uint8_t> out(maxBytes);
    DWORD n = 0;
    if (!port_ || maxBytes == 0) return {};
    if (!ReadFile(port_, out.data(), static_cast<DWORD>(maxBytes), &n, nullptr)) {
      Fail(GetLastError());
      return {};
    }
    // A read of a pulled port returns nothing, without an error: the
    // port's state tells.
    DWORD errors = 0;
    if (n == 0 && !ClearCommError(port_, &errors, nullptr) && IsGone(GetLastError())) lost_ = true;
    out.resize(n);
    return out;
  }

  bool Write(const uint8_t* data, size_t length, int timeoutMs) override {
    if (!port_) return false;
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    t.WriteTotalTimeoutConstant = static_cast<DWORD>(std::max(timeoutMs, 1));
    SetCommTimeouts(port_, &t);
    DWORD n = 0;
    if (!WriteFile(port_, data, static_cast<DWORD>(length), &n, nullptr)) {
      Fail(GetLastError());
      return false;
    }
    return n == length;
  }

  bool Lost() const override { return lost_; }

  void Close() override {
    if (port_) CloseHandle(port_);
    port_ = nullptr;
  }

 private:
  void Fail(DWORD error) {
    if (IsGone(error)) lost_ = true;
    DWORD errors = 0;
    ClearCommError(port_, &errors, nullptr);
  }

  HANDLE port_ = nullptr;
  bool lost_ = false;
};

}  // namespace

std::vector<SerialDevice> WinSerialSystem::List() {
  std::vector<SerialDevice> out;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return out;
  }
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    wchar_t data[256];
    DWORD nameLen = 256, dataLen = sizeof data, type = 0;
    if (RegEnumValueW(key, i, name, &nameLen, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataLen) != ERROR_SUCCESS) {
      break;
    }
    if (type != REG_SZ) continue;
    const std::string port = Utf8(std::wstring(data, wcsnlen(data, dataLen / sizeof(wchar_t))));
    out.push_back({port, port + " (" + Utf8(name) + ")", ""});
  }
  RegCloseKey(key);
  std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return PortNumber(a.path) < PortNumber(b.path); });
  return out;
}

bool WinSerialSystem::Exists(const std::string& device) {
  if (device.empty()) return false;
  wchar_t target[1024];
  const std::wstring name = Wide(device.rfind("\\\\.\\", 0) == 0 ? device.substr(4) : device);
  if (QueryDosDeviceW(name.c_str(), target, 1024) != 0) return true;
  // A port added since the system listed its devices: it opens (or is
  // busy with someone else).
  HANDLE h = CreateFileW((L"\\\\.\\" + name).c_str(), 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_ACCESS_DENIED;
  CloseHandle(h);
  return true;
}

std::unique_ptr<SerialPort> WinSerialSystem::NewPort() { return std::make_unique<WinSerialPort>(); }

}  // namespace kavon::platform
