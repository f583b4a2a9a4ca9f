#include "app/Paths.h"

#include <filesystem>
#include <functional>

#include "common/FileHelpers.h"
#include "platform/Machine.h"
#include "platform/Utf8Path.h"

namespace kavon {
namespace {

// The longest path a Unix socket address holds.
constexpr size_t kMaxSocketPath = 107;

// The control socket lives in the home it serves, so one home has one;
// a home whose path is too long for a socket uses the runtime folder, under
// a name made from the home's path.
std::string SocketFor(const std::string& home, const std::string& runtime) {
  const std::string inHome = home + "kavon.sock";
  if (inHome.size() <= kMaxSocketPath || runtime.empty()) return inHome;
  return Backslash(runtime) + "kavon-" + std::to_string(std::hash<std::string>{}(home)) + ".sock";
}

}  // namespace

ProgramPaths ResolvePaths(const std::string& home) {
  const platform::SystemFolders folders = platform::DefaultFolders();
  ProgramPaths p;
  if (!home.empty()) {
    const std::string dir =
        Backslash(platform::U8String(std::filesystem::absolute(platform::U8Path(home)).lexically_normal()));
    p.programFolder = dir;
    p.configFolder = dir;
  } else {
    p.programFolder = Backslash(folders.program);
    p.configFolder = folders.config;
  }
  p.lockFile = p.programFolder + "kavon.lock";
  p.socketFile = SocketFor(p.programFolder, folders.runtime);
  return p;
}

ProgramPaths ResolveControlPaths(const std::string& home, bool* service) {
  *service = false;
  ProgramPaths own = ResolvePaths(home);
  if (!home.empty()) return own;
  std::error_code ec;
  if (std::filesystem::exists(platform::U8Path(own.socketFile), ec)) return own;
  const std::string serviceHome = platform::DefaultFolders().service;
  if (serviceHome.empty() || !std::filesystem::is_directory(platform::U8Path(serviceHome), ec)) return own;
  *service = true;
  return ResolvePaths(serviceHome);
}

}  // namespace kavon
