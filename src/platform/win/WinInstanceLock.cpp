// One kavon per home: a named mutex whose name follows from the lock file's
// path, so kavons with different --home folders run side by side.
#include <windows.h>

#include <functional>

#include "platform/InstanceLock.h"
#include "platform/win/WinText.h"

namespace kavon::platform {
namespace {

class MutexLock : public InstanceLock {
 public:
  explicit MutexLock(std::wstring name) : name_(std::move(name)) {}
  ~MutexLock() override {
    if (mutex_) CloseHandle(mutex_);
  }
  bool Acquire() override {
    if (mutex_) return true;
    HANDLE m = CreateMutexW(nullptr, TRUE, name_.c_str());
    if (!m) return false;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
      CloseHandle(m);
      return false;
    }
    mutex_ = m;
    return true;
  }

 private:
  std::wstring name_;
  HANDLE mutex_ = nullptr;
};

}  // namespace

std::unique_ptr<InstanceLock> MakeInstanceLock(const std::string& lockPath) {
  // A mutex name may not hold a backslash: the path's hash stands for it.
  std::wstring path = Wide(lockPath);
  for (auto& c : path) c = static_cast<wchar_t>(towlower(c == L'\\' ? L'/' : c));
  return std::make_unique<MutexLock>(L"Local\\kavon-" + std::to_wstring(std::hash<std::wstring>{}(path)));
}

}  // namespace kavon::platform
