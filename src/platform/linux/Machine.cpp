#include "platform/Machine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "platform/linux/AlsaWaveIn.h"
#include "platform/linux/Hidraw.h"
#include "platform/linux/LinuxClock.h"
#include "platform/linux/TermiosSerial.h"

namespace kavon::platform {
namespace {

volatile std::sig_atomic_t gStop = 0;
volatile std::sig_atomic_t gReload = 0;

void OnStop(int) { gStop = 1; }
void OnReload(int) { gReload = 1; }

void Handle(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(signal, &action, nullptr);
}

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

std::unique_ptr<Clock> MakeSystemClock() { return std::make_unique<LinuxClock>(); }
std::unique_ptr<WaveIn> MakeSystemWaveIn() { return std::make_unique<AlsaWaveIn>(); }
std::unique_ptr<SerialSystem> MakeSerialSystem() { return std::make_unique<LinuxSerialSystem>(); }
std::unique_ptr<HidSystem> MakeHidSystem() { return std::make_unique<HidrawSystem>(); }
std::unique_ptr<SettingsBackend> MakeUserSettings() { return nullptr; }

std::vector<std::string> CommandLineArguments(int argc, char** argv) { return {argv + 1, argv + argc}; }

// Terminals here take the UTF-8 kavon prints.
void PrepareConsole() {}

// The environment's locale is the user's language here.
std::string UserUiLanguage() { return {}; }

bool StderrIsJournal() {
  // "device:inode" of the stream systemd connected; a stderr redirected
  // elsewhere since (a shell's 2>file) is not the journal.
  const char* stream = std::getenv("JOURNAL_STREAM");
  unsigned long long device = 0, inode = 0;
  if (!stream || std::sscanf(stream, "%llu:%llu", &device, &inode) != 2) return false;
  struct stat st {};
  return fstat(STDERR_FILENO, &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

SystemFolders DefaultFolders() {
  return {XdgFolder("XDG_DATA_HOME", ".local/share") + "/kavon", XdgFolder("XDG_CONFIG_HOME", ".config") + "/tarvelin",
          Env("XDG_RUNTIME_DIR"), "/var/lib/kavon"};
}

void InstallRequestHandlers() {
  Handle(SIGINT, OnStop);
  Handle(SIGTERM, OnStop);
  Handle(SIGHUP, OnReload);  // a closed terminal, or the user
  Handle(SIGPIPE, SIG_IGN);
  Handle(SIGXFSZ, SIG_IGN);
}

bool StopRequested() { return gStop != 0; }
void FinishedCleanly() {}  // a signal handler does not end the process

std::optional<int> RunAsService(const std::function<int()>&) { return std::nullopt; }

bool TakeReloadRequest() {
  if (gReload == 0) return false;
  gReload = 0;
  return true;
}

}  // namespace kavon::platform
