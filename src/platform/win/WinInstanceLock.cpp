// One kavon per home: a named mutex in the Global namespace, so a service
// in session 0 and a desktop kavon meet it too. Its name follows from the
// program folder's identity: the final path of the folder's handle on its
// volume (links, short names, subst and other drive letters resolved).
#include <windows.h>

#include <filesystem>
#include <functional>

#include "platform/InstanceLock.h"
#include "platform/Utf8Path.h"
#include "platform/win/WinText.h"

namespace kavon::platform {
namespace {

// The folder's final path, lower case; its spelling when it cannot be opened.
std::wstring FolderIdentity(const std::wstring& folder) {
  HANDLE h = CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  std::wstring id = folder;
  if (h != INVALID_HANDLE_VALUE) {
    for (const DWORD kind : {VOLUME_NAME_GUID, VOLUME_NAME_DOS}) {
      std::wstring buffer(32768, L'\0');
      const DWORD n = GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()), kind);
      if (n == 0 || n >= buffer.size()) continue;
      buffer.resize(n);
      id = buffer;
      break;
    }
    CloseHandle(h);
  }
  for (auto& c : id) c = static_cast<wchar_t>(towlower(c == L'\\' ? L'/' : c));
  while (!id.empty() && id.back() == L'/') id.pop_back();
  return id;
}

class MutexLock : public InstanceLock {
 public:
  explicit MutexLock(std::filesystem::path folder) : folder_(std::move(folder)) {}
  ~MutexLock() override {
    if (mutex_) CloseHandle(mutex_);
  }
  Result Acquire(std::string* why) override {
    if (mutex_) return Result::Acquired;
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    // A mutex name may not hold a backslash: the identity's hash stands for it.
    const std::wstring name =
        L"Global\\kavon-" + std::to_wstring(std::hash<std::wstring>{}(FolderIdentity(folder_.wstring())));
    HANDLE m = CreateMutexW(nullptr, TRUE, name.c_str());
    const DWORD error = GetLastError();
    // Another user's kavon (a service) holds it with its own access rights.
    if (!m && error == ERROR_ACCESS_DENIED) return Result::HeldByAnother;
    if (!m) {
      if (why) *why = "kavon-mutex: " + ErrorText(error);
      return Result::Failed;
    }
    if (error == ERROR_ALREADY_EXISTS) {
      CloseHandle(m);
      return Result::HeldByAnother;
    }
    mutex_ = m;
    return Result::Acquired;
  }

 private:
  std::filesystem::path folder_;
  HANDLE mutex_ = nullptr;
};

}  // namespace

std::unique_ptr<InstanceLock> MakeInstanceLock(const std::string& lockFile) {
  return std::make_unique<MutexLock>(U8Path(lockFile).parent_path());
}

}  // namespace kavon::platform
