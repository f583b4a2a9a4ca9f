#include "app/Retention.h"

#include <algorithm>

#include "common/FileHelpers.h"
#include "common/Text.h"
#include "platform/Utf8Path.h"

namespace fs = std::filesystem;

namespace kavon {

void Retention::Schedule(const std::string& folder, platform::SysMs before, const std::string& ext) {
  const std::string dotted = DottedLower(ext);
  // The same folder twice in the queue would only repeat the work.
  for (auto& j : queue_) {
    if (j.folder == platform::U8Path(folder) && j.ext == dotted) {
      j.before = std::max(j.before, before);
      return;
    }
  }
  queue_.push_back(Job{platform::U8Path(folder), before, dotted});
}

void Retention::Visit(Running& r, const fs::directory_entry& entry) {
  std::error_code ec;
  const auto st = entry.symlink_status(ec);
  if (ec || fs::is_symlink(st)) return;
  if (fs::is_directory(st)) {
    r.folders.push_back(entry.path());
    return;
  }
  if (!fs::is_regular_file(st)) return;
  if (!r.job.ext.empty() && ToLower(platform::U8String(entry.path().extension())) != r.job.ext) return;
  const auto written = fs::last_write_time(entry.path(), ec);
  if (ec) return;
  if (!(std::chrono::file_clock::to_sys(written) < r.job.before)) return;
  if (isProtected_ && isProtected_(entry.path())) return;
  if (DeleteFileForce(platform::U8String(entry.path()))) ++deleted_;
}

void Retention::Finish(Running& r) {
  // Deepest folders first, so a chain of emptied folders goes at once.
  std::sort(r.folders.begin(), r.folders.end(),
            [](const fs::path& a, const fs::path& b) { return a.native().size() > b.native().size(); });
  for (const auto& f : r.folders) {
    if (!FolderHasEntries(platform::U8String(f))) RemoveDir(platform::U8String(f));
  }
  if (!FolderHasEntries(platform::U8String(r.job.folder))) RemoveDir(platform::U8String(r.job.folder));
}

void Retention::Step(int maxEntries) {
  for (int n = 0; n < maxEntries;) {
    if (!current_) {
      if (queue_.empty()) return;
      Job job = queue_.front();
      queue_.pop_front();
      std::error_code ec;
      fs::recursive_directory_iterator it(job.folder, fs::directory_options::skip_permission_denied, ec);
      if (ec) continue;
      current_.emplace(Running{std::move(job), std::move(it), {}});
    }
    Running& r = *current_;
    std::error_code ec;
    for (; n < maxEntries && r.it != fs::recursive_directory_iterator(); ++n) {
      Visit(r, *r.it);
      r.it.increment(ec);
      if (ec) break;
    }
    if (ec || r.it == fs::recursive_directory_iterator()) {
      Finish(r);
      current_.reset();
    }
  }
}

void Retention::Drain() {
  while (!Idle()) Step(1 << 20);
}

}  // namespace kavon
