#include "app/Paths.h"

#include <cstdlib>
#include <filesystem>

#include "common/FileHelpers.h"

namespace kavon {
namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string XdgFolder(const char* var, const char* fallbackUnderHome) {
  const std::string v = Env(var);
  if (!v.empty()) return v;
  const std::string home = Env("HOME");
  return (home.empty() ? std::string("/tmp") : home) + "/" + fallbackUnderHome;
}

}  // namespace

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
  p.programFolder = Backslash(XdgFolder("XDG_DATA_HOME", ".local/share") + "/kavon");
  p.configFolder = XdgFolder("XDG_CONFIG_HOME", ".config") + "/tarvelin";
  const std::string runtime = Env("XDG_RUNTIME_DIR");
  p.lockFile = (runtime.empty() ? p.programFolder : Backslash(runtime)) + "kavon.lock";
  p.socketFile = (runtime.empty() ? p.programFolder : Backslash(runtime)) + "kavon.sock";
  return p;
}

}  // namespace kavon
