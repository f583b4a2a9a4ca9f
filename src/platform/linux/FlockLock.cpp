#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/InstanceLock.h"

namespace kavon::platform {
namespace {

// flock on a lock file in the program folder: the kernel keys it by the
// file itself (its inode), so every path that reaches the folder meets the
// same lock, and it drops the lock when the process ends, however it ends.
class FlockLock : public InstanceLock {
 public:
  explicit FlockLock(std::string path) : path_(std::move(path)) {}
  ~FlockLock() override {
    if (fd_ >= 0) close(fd_);
  }
  Result Acquire(std::string* why) override {
    if (fd_ >= 0) return Result::Acquired;
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::path(path_).parent_path();
    std::filesystem::create_directories(folder, ec);
    if (ec) {
      if (why) *why = folder.string() + ": " + ec.message();
      return Result::Failed;
    }
    int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    // A home on a read-only disk still has its lock, when the file is there.
    if (fd < 0 && (errno == EACCES || errno == EROFS)) fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Fail(why);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const bool held = errno == EWOULDBLOCK;
      const Result r = held ? Result::HeldByAnother : Fail(why);
      close(fd);
      return r;
    }
    fd_ = fd;
    return Result::Acquired;
  }

 private:
  Result Fail(std::string* why) const {
    if (why) *why = path_ + ": " + std::strerror(errno);
    return Result::Failed;
  }

  std::string path_;
  int fd_ = -1;
};

}  // namespace

std::unique_ptr<InstanceLock> MakeInstanceLock(const std::string& lockFile) {
  return std::make_unique<FlockLock>(lockFile);
}

}  // namespace kavon::platform
