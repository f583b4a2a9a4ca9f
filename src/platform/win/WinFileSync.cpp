#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <filesystem>
#include <mutex>
#include <utility>

#include "platform/FileSync.h"
#include "platform/StaleTemporaries.h"
#include "platform/Utf8Path.h"
#include "platform/win/WinText.h"

namespace kavon::platform {
namespace {

// Long names (260 characters and more) need the \\?\ form of a full path.
std::wstring LongPath(const std::string& path) {
  std::error_code ec;
  std::filesystem::path full = std::filesystem::absolute(U8Path(path), ec);
  if (ec) full = U8Path(path);
  std::wstring w = full.lexically_normal().make_preferred().wstring();
  if (w.size() >= MAX_PATH && w.rfind(L"\\\\", 0) != 0) w = L"\\\\?\\" + w;
  return w;
}

void SetErrno(DWORD code) {
  switch (code) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: errno = ENOSPC; break;
    case ERROR_ACCESS_DENIED: errno = EACCES; break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: errno = EEXIST; break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: errno = ENOENT; break;
    default: errno = EIO; break;
  }
}

// The files held open, oldest first. A recording whose release never came
// (a crash of the channel's writer) is let go after enough others.
constexpr size_t kMaxHeld = 64;
std::mutex gHeldMutex;
std::deque<std::pair<std::string, HANDLE>> gHeld;
using Held = std::deque<std::pair<std::string, HANDLE>>::iterator;

// Under gHeldMutex.
Held FindHeld(const std::string& path) {
  return std::find_if(gHeld.begin(), gHeld.end(), [&](const auto& h) { return h.first == path; });
}
void LetGo(Held it) {
  CloseHandle(it->second);
  gHeld.erase(it);
}

}  // namespace

// Holds a file by its name; one deleted while held is let go first (on
// systems without POSIX deletion its name stays taken until then).
void HoldFile(const std::string& path) {
  std::lock_guard lock(gHeldMutex);
  if (const auto it = FindHeld(path); it != gHeld.end()) {
    FILE_STANDARD_INFO info{};
    const bool deleted = GetFileInformationByHandleEx(it->second, FileStandardInfo, &info, sizeof info) && info.DeletePending;
    if (!deleted) return;
    // Someone deleted it: our handle alone keeps its name taken.
    LetGo(it);
  }
  HANDLE file = CreateFileW(LongPath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;  // the append that follows says why
  if (gHeld.size() >= kMaxHeld) LetGo(gHeld.begin());
  gHeld.emplace_back(path, file);
}

void ReleaseFile(const std::string& path) {
  std::lock_guard lock(gHeldMutex);
  if (const auto it = FindHeld(path); it != gHeld.end()) LetGo(it);
}

NewFile CreateNewFile(const std::string& path, std::string_view bytes, bool sync, std::string* why) {
  const std::wstring wide = LongPath(path);
  // Shared for reading and deletion, as a recording in progress is.
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (why) *why = ErrorText(error);
    SetErrno(error);
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? NewFile::NameTaken : NewFile::Failed;
  }
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size() && (!sync || FlushFileBuffers(file));
  const DWORD error = GetLastError();
  CloseHandle(file);
  if (ok) return NewFile::Created;
  DeleteFileW(wide.c_str());  // ours, made a moment ago and holding nothing
  if (why) *why = ErrorText(error);
  SetErrno(error);
  return NewFile::Failed;
}

// Windows files take the folder's inherited permissions; modeOf has no part.
std::string ReplaceFileAtomically(const std::string& path, std::string_view bytes, const std::string&) {
  const std::string temp = path + ".tmp" + std::to_string(GetCurrentProcessId());
  const std::wstring wideTemp = LongPath(temp);
  HANDLE file = CreateFileW(wideTemp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return temp + ": " + ErrorText(GetLastError());
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size() && FlushFileBuffers(file);
  const DWORD error = GetLastError();
  CloseHandle(file);
  if (!ok) {
    DeleteFileW(wideTemp.c_str());
    return temp + ": " + ErrorText(error);
  }
  if (!MoveFileExW(wideTemp.c_str(), LongPath(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD moveError = GetLastError();
    DeleteFileW(wideTemp.c_str());
    return path + ": " + ErrorText(moveError);
  }
  return {};
}

// NTFS keeps a folder's entries with the file's metadata, which
// FlushFileBuffers writes: there is no folder to sync separately.
bool SyncNewFile(const std::string& path) { return SyncFileData(path); }

bool SyncFileData(const std::string& path) {
  HANDLE file = CreateFileW(LongPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    SetErrno(GetLastError());
    return false;
  }
  const bool ok = FlushFileBuffers(file);
  const DWORD error = GetLastError();
  CloseHandle(file);
  if (!ok) SetErrno(error);
  return ok;
}

int RemoveStaleTemporaries(const std::string& folder, const std::string& suffix) {
  return RemoveStaleTemporariesOf(folder, suffix, [](unsigned long id) {
    if (id == GetCurrentProcessId()) return true;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(id));
    // Access denied: it runs, under another user.
    if (!process) return GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    const bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return running;
  });
}

}  // namespace kavon::platform
