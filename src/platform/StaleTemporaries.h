#pragma once
// The cleanup behind RemoveStaleTemporaries, the same on every platform:
// ReplaceFileAtomically names its temporary "name.tmp" + process id, so a
// file of that shape whose process is gone was left by a crash. One whose
// process still runs may be a save in progress (another kavon's, on a list
// file) and stays.
#include <filesystem>
#include <functional>
#include <string>

#include "platform/Utf8Path.h"

namespace kavon::platform {

inline int RemoveStaleTemporariesOf(const std::string& folder, const std::string& suffix,
                                    const std::function<bool(unsigned long id)>& running) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::directory_iterator it(folder.empty() ? fs::path(".") : U8Path(folder), ec);
  if (ec) return 0;
  int removed = 0;
  for (const auto& entry : it) {
    const std::string name = U8String(entry.path().filename());
    const auto mark = name.rfind(".tmp");
    if (mark == std::string::npos || mark < suffix.size()) continue;
    const std::string id = name.substr(mark + 4);
    const bool digits = !id.empty() && id.size() <= 9 && id.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || name.compare(mark - suffix.size(), suffix.size(), suffix) != 0 || running(std::stoul(id))) continue;
    if (!entry.is_regular_file(ec) || entry.is_symlink(ec)) continue;
    if (fs::remove(entry.path(), ec)) ++removed;
  }
  return removed;
}

}  // namespace kavon::platform
