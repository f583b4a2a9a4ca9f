#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>

#include "platform/InstanceLock.h"

namespace kavon::platform {
namespace {

// flock on a lock file: the kernel drops the lock when the process ends,
// however it ends, so a crash never leaves a stale lock behind.
class FlockLock : public InstanceLock {
 public:
  explicit FlockLock(std::string path) : path_(std::move(path)) {}
  ~FlockLock() override {
    if (fd_ >= 0) close(fd_);
  }
  bool Acquire() override {
    if (fd_ >= 0) return true;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ec);
    const int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    // An unusable lock folder must not stop a recorder from running.
    if (fd < 0) return true;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      close(fd);
      return false;
    }
    fd_ = fd;
    return true;
  }

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace

std::unique_ptr<InstanceLock> MakeInstanceLock(const std::string& lockPath) {
  return std::make_unique<FlockLock>(lockPath);
}

}  // namespace kavon::platform
