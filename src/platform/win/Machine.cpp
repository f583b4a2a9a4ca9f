#include "platform/Machine.h"

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "platform/Utf8Path.h"
#include "platform/win/WinClock.h"
#include "platform/win/WinHid.h"
#include "platform/win/WinRegistry.h"
#include "platform/win/WinSerial.h"
#include "platform/win/WinText.h"
#include "platform/win/WinWaveIn.h"

namespace kavon::platform {
namespace {

std::atomic<bool> gStop{false};

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      gStop = true;
      return TRUE;
    default:
      return FALSE;
  }
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

// Beside kavon.exe when that folder is writable (an install of one's own),
// else the user's local application data (an install under Program Files).
void PrepareConsole() {
  // cmd.exe shows the ANSI code page by default: the Japanese summary
  // would be mojibake.
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCP(CP_UTF8);
}

std::string UserUiLanguage() {
  // LANG and friends are rarely set on Windows; the account's UI language is
  // the user's. Japanese is primary language 0x11.
  return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE ? "ja" : "en";
}

SystemFolders DefaultFolders() {
  const std::filesystem::path exe = ProgramFolder();
  std::string folder = U8String(exe);
  if (!Writable(exe)) {
    const std::string local = LocalAppData();
    if (!local.empty()) folder = local + "/kavon";
  }
  return {folder, folder, {}, {}};
}

void InstallRequestHandlers() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }
bool StopRequested() { return gStop.load(); }
bool TakeReloadRequest() { return false; }  // no signal for it: `kavon ctl reload-timers`

}  // namespace kavon::platform
