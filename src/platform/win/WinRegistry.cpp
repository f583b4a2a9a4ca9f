#include "platform/win/WinRegistry.h"

#include <windows.h>

#include <utility>

#include "platform/win/WinText.h"

namespace kavon::platform {
namespace {

// Far beyond any setting (a folder path is the longest).
constexpr DWORD kMaxValueBytes = 32 * 1024;

}  // namespace

std::optional<std::string> RegistrySettingsBackend::Read(const std::string& app, const std::string&,
                                                         const std::string& key) {
  HKEY hkey = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, Wide(KeyOf(app)).c_str(), 0, KEY_QUERY_VALUE, &hkey) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  const std::wstring name = Wide(key);
  DWORD type = 0, bytes = 0;
  std::optional<std::string> result;
  LONG rc = RegQueryValueExW(hkey, name.c_str(), nullptr, &type, nullptr, &bytes);
  if (rc == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ) {
    notes_.push_back("設定の型が違うため既定値を使います " + Location(app) + "\\" + key);
  } else if (rc == ERROR_SUCCESS && bytes > kMaxValueBytes) {
    notes_.push_back("設定が長すぎるため既定値を使います " + Location(app) + "\\" + key);
  } else if (rc == ERROR_SUCCESS) {
    std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
    DWORD got = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    rc = RegQueryValueExW(hkey, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &got);
    if (rc == ERROR_SUCCESS) {
      text.resize(got / sizeof(wchar_t));
      // The text ends at its first NUL, as a reader of the value expects.
      if (const auto nul = text.find(L'\0'); nul != std::wstring::npos) text.resize(nul);
      result = Utf8(text);
    }
  }
  RegCloseKey(hkey);
  return result;
}

bool RegistrySettingsBackend::Write(const std::string& app, const std::string&, const std::string& key,
                                    const std::string& value) {
  HKEY hkey = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, Wide(KeyOf(app)).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &hkey,
                            nullptr);
  if (rc == ERROR_SUCCESS) {
    const std::wstring text = Wide(value);
    rc = RegSetValueExW(hkey, Wide(key).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(hkey);
  }
  if (rc != ERROR_SUCCESS) {
    lastError_ = Location(app) + "\\" + key + ": " + ErrorText(static_cast<unsigned long>(rc));
    return false;
  }
  return true;
}

std::vector<std::string> RegistrySettingsBackend::TakeNotes() { return std::exchange(notes_, {}); }

}  // namespace kavon::platform
