#include "platform/Machine.h"

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/Utf8Path.h"
#include "platform/win/WinClock.h"
#include "platform/win/WinConsoleEvents.h"
#include "platform/win/WinHid.h"
#include "platform/win/WinRegistry.h"
#include "platform/win/WinSerial.h"
#include "platform/win/WinText.h"
#include "platform/win/WinWaveIn.h"

namespace kavon::platform {
namespace {

std::atomic<bool> gStop{false};
// Set by FinishedCleanly; manual reset, so every waiting handler sees it.
HANDLE gFinished = CreateEventW(nullptr, TRUE, FALSE, nullptr);

// Windows gives a closing console 5 s and a session's end up to 20 s before
// it ends the process itself; the wait is bounded so that a hung kavon
// cannot hold up a shutdown longer than that.
constexpr DWORD kEndWaitMs = 20000;

// Stops the main loop and holds on until it has flushed every file: the
// process ends as soon as the handler of a closing console or session
// returns.
void StopAndWait() {
  gStop = true;
  if (gFinished) WaitForSingleObject(gFinished, kEndWaitMs);
}

// The service: its body runs on the service manager's thread for it.
constexpr wchar_t kServiceName[] = L"kavon";
std::function<int()> gServiceBody;
int gServiceExit = 0;
SERVICE_STATUS_HANDLE gServiceStatus = nullptr;

bool RunningAsService() { return static_cast<bool>(gServiceBody); }

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (AnswerConsoleEvent(event, RunningAsService())) {
    case ConsoleEventAnswer::PassOn:
      return FALSE;
    case ConsoleEventAnswer::Stop:
      gStop = true;
      return TRUE;
    case ConsoleEventAnswer::StopAndWait:
      StopAndWait();
      return TRUE;
  }
  return FALSE;
}

// Logoff and shutdown reach a process that uses user32 (winmm and setupapi
// load it) only as window messages, never as console events: a hidden
// top-level window answers them (a message-only window gets no broadcasts).
LRESULT CALLBACK OnSessionMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_QUERYENDSESSION) return TRUE;
  if (message == WM_ENDSESSION) {
    if (wParam) StopAndWait();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void ReportService(DWORD state, DWORD exitCode = NO_ERROR, DWORD waitHintMs = 0) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  // Pre-shutdown comes first and is waited for (up to the service's
  // pre-shutdown time-out); shutdown alone gets a few seconds at most.
  status.dwControlsAccepted =
      state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PRESHUTDOWN | SERVICE_ACCEPT_SHUTDOWN : 0;
  status.dwWin32ExitCode = exitCode == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
  status.dwServiceSpecificExitCode = exitCode;
  status.dwWaitHint = waitHintMs;
  SetServiceStatus(gServiceStatus, &status);
}

DWORD WINAPI OnServiceControl(DWORD control, DWORD, LPVOID, LPVOID) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_PRESHUTDOWN:
    case SERVICE_CONTROL_SHUTDOWN:
      // The body flushes and returns; the manager waits for SERVICE_STOPPED.
      ReportService(SERVICE_STOP_PENDING, NO_ERROR, kEndWaitMs);
      gStop = true;
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE: return NO_ERROR;
    default: return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
  gServiceStatus = RegisterServiceCtrlHandlerExW(kServiceName, OnServiceControl, nullptr);
  if (!gServiceStatus) return;
  ReportService(SERVICE_RUNNING);
  gServiceExit = gServiceBody();
  ReportService(SERVICE_STOPPED, static_cast<DWORD>(gServiceExit));
}

void RunSessionWindow() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = OnSessionMessage;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"kavon-session";
  if (!RegisterClassW(&wc)) return;
  HWND window = CreateWindowExW(0, wc.lpszClassName, L"kavon", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                                wc.hInstance, nullptr);
  if (!window) return;
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
}

std::filesystem::path ProgramFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  return std::filesystem::path(path).parent_path();
}

bool Writable(const std::filesystem::path& folder) {
  const std::filesystem::path probe = folder / ("kavon-write-test-" + std::to_string(GetCurrentProcessId()));
  std::ofstream out(probe);
  const bool ok = out.good();
  out.close();
  std::error_code ec;
  std::filesystem::remove(probe, ec);
  return ok;
}

std::string LocalAppData() {
  wchar_t buf[MAX_PATH];
  const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", buf, MAX_PATH);
  return n > 0 && n < MAX_PATH ? Utf8(buf) : std::string();
}

}  // namespace

std::unique_ptr<Clock> MakeSystemClock() { return std::make_unique<WinClock>(); }
std::unique_ptr<WaveIn> MakeSystemWaveIn() { return std::make_unique<WinWaveIn>(); }
std::unique_ptr<SerialSystem> MakeSerialSystem() { return std::make_unique<WinSerialSystem>(); }
std::unique_ptr<HidSystem> MakeHidSystem() { return std::make_unique<WinHidSystem>(); }
std::unique_ptr<SettingsBackend> MakeUserSettings() { return std::make_unique<RegistrySettingsBackend>(); }

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return {argv + 1, argv + argc};
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(Utf8(wide[i]));
  LocalFree(wide);
  return args;
}

void PrepareConsole() {
  // cmd.exe shows the ANSI code page by default: the Japanese summary
  // would be mojibake.
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCP(CP_UTF8);
}

bool StderrIsJournal() { return false; }

std::string UserUiLanguage() {
  // LANG and friends are rarely set on Windows; the account's UI language is
  // the user's. Japanese is primary language 0x11.
  return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE ? "ja" : "en";
}

// Beside kavon.exe when that folder is writable (an install of one's own),
// else the user's local application data (an install under Program Files).
SystemFolders DefaultFolders() {
  const std::filesystem::path exe = ProgramFolder();
  std::string folder = U8String(exe);
  if (!Writable(exe)) {
    const std::string local = LocalAppData();
    if (!local.empty()) folder = local + "/kavon";
  }
  return {folder, folder, {}, {}};
}

void InstallRequestHandlers() {
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  // A service hears of shutdown from the service manager, and has no
  // desktop to make a window on.
  if (RunningAsService()) return;
  // Lives as long as the process; its messages are answered on its thread.
  std::thread(RunSessionWindow).detach();
}

bool StopRequested() { return gStop.load(); }

std::optional<int> RunAsService(const std::function<int()>& body) {
  gServiceBody = body;
  SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(kServiceName), ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) return std::nullopt;
  return gServiceExit;
}
void FinishedCleanly() {
  if (gFinished) SetEvent(gFinished);
}
bool TakeReloadRequest() { return false; }  // no signal for it: `kavon ctl reload-timers`

}  // namespace kavon::platform
