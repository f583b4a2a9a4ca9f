#include "app/Paths.h"

#include <filesystem>

#include "common/FileHelpers.h"
#include "platform/Machine.h"
#include "platform/Utf8Path.h"

namespace kavon {

ProgramPaths ResolvePaths(const std::string& home) {
  ProgramPaths p;
  if (!home.empty()) {
    const std::string dir =
        Backslash(platform::U8String(std::filesystem::absolute(platform::U8Path(home)).lexically_normal()));
    p.programFolder = dir;
    p.configFolder = dir;
    p.lockFile = dir + "kavon.lock";
    p.socketFile = dir + "kavon.sock";
    return p;
  }
  const platform::SystemFolders folders = platform::DefaultFolders();
  p.programFolder = Backslash(folders.program);
  p.configFolder = folders.config;
  const std::string runtime = folders.runtime.empty() ? p.programFolder : Backslash(folders.runtime);
  p.lockFile = runtime + "kavon.lock";
  p.socketFile = runtime + "kavon.sock";
  return p;
}

}  // namespace kavon
