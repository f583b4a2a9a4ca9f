// `kavon ctl` on Windows: a named pipe whose name follows from the socket
// path, one client at a time. The server never blocks: the pipe is in
// no-wait mode and each poll moves a connection one step on. An answer ends
// with a NUL byte, so the client knows it has all of it and hangs up; only
// then is the pipe free for the next client.
#include "platform/win/WinControlPipe.h"

#include <windows.h>
#include <sddl.h>

#include <chrono>
#include <functional>
#include <vector>

#include "platform/ControlSocket.h"
#include "platform/win/WinText.h"

namespace kavon::platform {
namespace {

using Steady = std::chrono::steady_clock;
constexpr auto kClientTimeout = std::chrono::seconds(2);
constexpr DWORD kBufferBytes = 1 << 16;
constexpr DWORD kClientWaitMs = 2000;
constexpr DWORD kClientRetryMs = 50;
constexpr DWORD kClientDeadlineMs = 5000;

std::wstring PipeName(const std::string& path) {
  std::wstring p = Wide(path);
  for (auto& c : p) c = static_cast<wchar_t>(towlower(c == L'\\' ? L'/' : c));
  return L"\\\\.\\pipe\\kavon-" + std::to_wstring(std::hash<std::wstring>{}(p));
}

// The access of ControlPipeAccess. Local clients only: remote ones are
// refused by the pipe's mode.
struct PipeSecurity {
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  PSECURITY_DESCRIPTOR descriptor = nullptr;

  PipeSecurity() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<char> user(size);
    wchar_t* sid = nullptr;
    if (size > 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid)) {
      const std::wstring sddl = ControlPipeAccess(sid);
      if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
        attributes.lpSecurityDescriptor = descriptor;
      }
      LocalFree(sid);
    }
    CloseHandle(token);
  }
  ~PipeSecurity() {
    if (descriptor) LocalFree(descriptor);
  }
  PipeSecurity(const PipeSecurity&) = delete;
  PipeSecurity& operator=(const PipeSecurity&) = delete;
  bool Ready() const { return descriptor != nullptr; }
};

// Waits for an overlapped call on pipe until deadline (GetTickCount64);
// false when it failed or timed out (then it is cancelled).
bool Finish(HANDLE pipe, OVERLAPPED& o, BOOL started, ULONGLONG deadline, DWORD& bytes) {
  if (!started && GetLastError() != ERROR_IO_PENDING) return false;
  const ULONGLONG now = GetTickCount64();
  const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
  if (WaitForSingleObject(o.hEvent, left) != WAIT_OBJECT_0) {
    CancelIo(pipe);
    GetOverlappedResult(pipe, &o, &bytes, TRUE);
    SetLastError(WAIT_TIMEOUT);
    return false;
  }
  return GetOverlappedResult(pipe, &o, &bytes, FALSE) != FALSE;
}

class PipeServer : public ControlServer {
 public:
  ~PipeServer() override { Close(); }

  std::string Listen(const std::string& path) override {
    Close();
    const PipeSecurity security;
    if (!security.Ready()) return ControlEndpointName(path) + ": " + ErrorText(GetLastError());
    // The first instance, or nothing: a pipe of that name made by another
    // program first would hear every request meant for kavon.
    pipe_ = CreateNamedPipeW(PipeName(path).c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                             PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_NOWAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                             kBufferBytes, kBufferBytes, 0, const_cast<SECURITY_ATTRIBUTES*>(&security.attributes));
    if (pipe_ == INVALID_HANDLE_VALUE) {
      pipe_ = nullptr;
      return ControlEndpointName(path) + ": " + ErrorText(GetLastError());
    }
    return {};
  }

  void Poll(const std::function<std::string(const std::string&)>& handle) override {
    if (!pipe_) return;
    if (!connected_ && !Accept()) return;
    if (answered_) {
      // The client hangs up once it has read the answer.
      DWORD waiting = 0;
      if (!PeekNamedPipe(pipe_, nullptr, 0, nullptr, &waiting, nullptr)) {
        Drop();
        return;
      }
    } else {
      char buf[512];
      DWORD n = 0;
      while (ReadFile(pipe_, buf, sizeof buf, &n, nullptr) && n > 0) request_.append(buf, n);
      if (GetLastError() == ERROR_BROKEN_PIPE) {
        Drop();
        return;
      }
      const auto end = request_.find('\n');
      if (end != std::string::npos || request_.size() > kMaxControlRequest) {
        const std::string answer = handle(request_.substr(0, std::min(end, kMaxControlRequest))) + std::string(1, '\0');
        DWORD written = 0;
        WriteFile(pipe_, answer.data(), static_cast<DWORD>(answer.size()), &written, nullptr);
        answered_ = true;
        since_ = Steady::now();
      }
    }
    if (Steady::now() - since_ > kClientTimeout) Drop();
  }

  void Close() override {
    if (!pipe_) return;
    DisconnectNamedPipe(pipe_);
    CloseHandle(pipe_);
    pipe_ = nullptr;
    connected_ = false;
  }

 private:
  // In no-wait mode this only looks: true when a client is there.
  bool Accept() {
    const bool now = ConnectNamedPipe(pipe_, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED;
    if (!now) {
      if (GetLastError() == ERROR_NO_DATA) Drop();  // came and went
      return false;
    }
    connected_ = true;
    answered_ = false;
    request_.clear();
    since_ = Steady::now();
    return true;
  }

  void Drop() {
    DisconnectNamedPipe(pipe_);
    connected_ = false;
    answered_ = false;
    request_.clear();
  }

  HANDLE pipe_ = nullptr;
  bool connected_ = false;
  bool answered_ = false;
  std::string request_;
  Steady::time_point since_{};
};

}  // namespace

std::wstring ControlPipeAccess(std::wstring_view userSid) {
  // LocalSystem, LocalService, NetworkService.
  constexpr std::wstring_view kServiceAccounts[] = {L"S-1-5-18", L"S-1-5-19", L"S-1-5-20"};
  std::wstring sddl = L"D:P(A;;GA;;;" + std::wstring(userSid) + L")";
  for (const auto account : kServiceAccounts) {
    if (userSid == account) return sddl + L"(A;;GA;;;BA)";
  }
  return sddl;
}

std::unique_ptr<ControlServer> MakeControlServer() { return std::make_unique<PipeServer>(); }

std::string ControlEndpointName(const std::string& path) { return Utf8(PipeName(path)); }

std::optional<std::string> SendControlRequest(const std::string& path, const std::string& request, std::string* why) {
  const std::wstring name = PipeName(path);
  const auto fail = [&](const std::string& text) {
    if (why) *why = text;
    return std::nullopt;
  };
  const ULONGLONG deadline = GetTickCount64() + kClientDeadlineMs;
  // The pipe is busy while the client before us hangs up; kavon frees it
  // at its next tick.
  HANDLE pipe = INVALID_HANDLE_VALUE;
  for (DWORD waited = 0;; waited += kClientRetryMs) {
    pipe = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                       nullptr);
    if (pipe != INVALID_HANDLE_VALUE || GetLastError() != ERROR_PIPE_BUSY || waited >= kClientWaitMs) break;
    Sleep(kClientRetryMs);
  }
  if (pipe == INVALID_HANDLE_VALUE) return fail(ErrorText(GetLastError()));
  OVERLAPPED o{};
  o.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!o.hEvent) {
    CloseHandle(pipe);
    return fail(ErrorText(GetLastError()));
  }
  // A kavon that is stopped, or hung, never answers: give up in time.
  const std::string line = request + "\n";
  DWORD n = 0;
  std::string answer;
  bool ok = Finish(pipe, o, WriteFile(pipe, line.data(), static_cast<DWORD>(line.size()), nullptr, &o), deadline, n);
  while (ok && answer.find('\0') == std::string::npos) {
    char buf[4096];
    ResetEvent(o.hEvent);
    ok = Finish(pipe, o, ReadFile(pipe, buf, sizeof buf, nullptr, &o), deadline, n) && n > 0;
    if (ok) answer.append(buf, n);
  }
  const DWORD error = GetLastError();
  CloseHandle(o.hEvent);
  CloseHandle(pipe);
  const auto end = answer.find('\0');
  if (end == std::string::npos) return fail(error == WAIT_TIMEOUT ? "no answer within 5 s" : "no answer");
  return answer.substr(0, end);
}

}  // namespace kavon::platform
