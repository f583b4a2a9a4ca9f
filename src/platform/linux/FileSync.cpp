#include "platform/FileSync.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/StaleTemporaries.h"

namespace kavon::platform {
namespace {

std::string Reason(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

int SyncFd(int fd) {
  int rc = 0;
  do {
    rc = fsync(fd);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

// Forces a folder's entries to the disk. A folder that cannot be opened or
// synced (some FUSE and network file systems) is left to the file system.
void SyncFolderOf(const std::string& path) {
  const std::filesystem::path target(path);
  const std::string folder = target.has_parent_path() ? target.parent_path().string() : ".";
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  SyncFd(dir);
  close(dir);
}

// The owner and group of the file replaced where the system lets us (root
// may, a member of the group may give the group), then its mode: a chown
// clears set-id bits, so the mode comes last.
void KeepOwnerAndMode(int fd, const struct stat& before) {
  if (before.st_uid != geteuid() || before.st_gid != getegid()) {
    if (fchown(fd, before.st_uid, before.st_gid) != 0 && fchown(fd, static_cast<uid_t>(-1), before.st_gid) != 0) {
      // Not ours to give away: the file stays ours, its mode still kept.
    }
  }
  if (fchmod(fd, before.st_mode & 07777) != 0) {
    // A file system without modes (FAT, some network shares) keeps its own.
  }
}

}  // namespace

NewFile CreateNewFile(const std::string& path, std::string_view bytes, bool sync, std::string* why) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (why) *why = std::strerror(errno);
    return errno == EEXIST ? NewFile::NameTaken : NewFile::Failed;
  }
  if (!WriteAll(fd, bytes) || (sync && SyncFd(fd) != 0)) {
    const int err = errno;
    close(fd);
    unlink(path.c_str());  // ours, made a moment ago and holding nothing
    if (why) *why = std::strerror(err);
    errno = err;
    return NewFile::Failed;
  }
  close(fd);
  if (sync) SyncFolderOf(path);
  return NewFile::Created;
}

std::string ReplaceFileAtomically(const std::string& path, std::string_view bytes, const std::string& modeOf) {
  const std::string temp = path + ".tmp" + std::to_string(getpid());
  struct stat before {};
  const bool keep = stat(modeOf.empty() ? path.c_str() : modeOf.c_str(), &before) == 0 ||
                    (!modeOf.empty() && stat(path.c_str(), &before) == 0);
  // A file someone keeps private is never readable by others, not even
  // for the moment before its mode is set.
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, keep ? 0600 : 0666);
  if (fd < 0) return Reason(temp.c_str());
  if (keep) KeepOwnerAndMode(fd, before);
  if (!WriteAll(fd, bytes) || fsync(fd) != 0) {
    std::string reason = Reason(temp.c_str());
    close(fd);
    unlink(temp.c_str());
    return reason;
  }
  close(fd);
  if (rename(temp.c_str(), path.c_str()) != 0) {
    std::string reason = Reason(path.c_str());
    unlink(temp.c_str());
    return reason;
  }
  SyncFolderOf(path);
  return {};
}

bool SyncNewFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const int rc = SyncFd(fd);
  const int err = errno;
  close(fd);
  if (rc == 0) SyncFolderOf(path);
  errno = err;
  return rc == 0;
}

bool SyncFileData(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  int rc = 0;
  do {
    rc = fdatasync(fd);
  } while (rc != 0 && errno == EINTR);
  const int err = errno;
  close(fd);
  errno = err;
  return rc == 0;
}

int RemoveStaleTemporaries(const std::string& folder, const std::string& suffix) {
  return RemoveStaleTemporariesOf(folder, suffix, [](unsigned long id) {
    // EPERM: the process is there, only not ours to signal.
    return static_cast<pid_t>(id) == getpid() || kill(static_cast<pid_t>(id), 0) == 0 || errno == EPERM;
  });
}

// Another process cannot lock a file here against our writes.
void HoldFile(const std::string&) {}
void ReleaseFile(const std::string&) {}

}  // namespace kavon::platform
