#include "app/Paths.h"

#include <filesystem>

#include "common/FileHelpers.h"
#include "platform/Machine.h"

namespace kavon {

ProgramPaths ResolvePaths(const std::string& home) {
  ProgramPaths p;
  if (!home.empty()) {
    const std::string dir = Backslash(std::filesystem::absolute(home).lexically_normal().string());
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
