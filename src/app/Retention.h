#pragma once
// Deletion of old recordings from a channel's folder, done a few entries
// per tick so that a folder of many thousands of files never holds up
// capture. Files being written and symbolic links are never touched.
#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"

namespace kavon {

class Retention {
 public:
  using Protected = std::function<bool(const std::filesystem::path&)>;

  explicit Retention(Protected isProtected) : isProtected_(std::move(isProtected)) {}

  // Files with extension ext last written before `before` are deleted from
  // folder and its sub-folders; emptied sub-folders, and the folder itself
  // when nothing is left, are removed.
  void Schedule(const std::string& folder, platform::SysMs before, const std::string& ext);
  // Works through at most maxEntries directory entries.
  void Step(int maxEntries = 256);
  bool Idle() const { return !current_ && queue_.empty(); }
  // Runs every scheduled cleanup to its end (tests, shutdown).
  void Drain();
  int Deleted() const { return deleted_; }

 private:
  struct Job {
    std::filesystem::path folder;
    platform::SysMs before;
    std::string ext;
  };
  struct Running {
    Job job;
    std::filesystem::recursive_directory_iterator it;
    std::vector<std::filesystem::path> folders;
  };
  void Visit(Running& r, const std::filesystem::directory_entry& entry);
  void Finish(Running& r);

  Protected isProtected_;
  std::deque<Job> queue_;
  std::optional<Running> current_;
  int deleted_ = 0;
};

}  // namespace kavon
