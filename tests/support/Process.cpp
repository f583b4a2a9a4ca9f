#include "support/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

extern char** environ;

namespace kavon::test {

std::string KavonBinary() {
  const char* bin = std::getenv("KAVON_BIN");
  return bin ? bin : "kavon";
}

pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& outputFile) {
  // Built before the fork: the child only execs.
  std::vector<std::string> merged = env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const auto& mine : env) replaced |= mine.rfind(name + "=", 0) == 0;
    if (!replaced) merged.push_back(entry);
  }
  std::vector<char*> args, envp;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const auto& e : merged) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  const int out = outputFile.empty() ? -1 : open(outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    execvpe(args[0], args.data(), envp.data());
    _exit(127);
  }
  if (out >= 0) close(out);
  if (pid > 0) setpgid(pid, pid);
  return pid;
}

int WaitExit(pid_t pid, double seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  int status = 0;
  while (std::chrono::steady_clock::now() < until) {
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

void StopGroup(pid_t pid) {
  if (pid <= 0) return;
  kill(-pid, SIGTERM);
  if (WaitExit(pid, 5) == -1) kill(-pid, SIGKILL);
  kill(-pid, SIGKILL);  // whatever it started
}

bool RunQuietly(const std::vector<std::string>& argv, const std::vector<std::string>& env, double seconds) {
  const pid_t pid = Spawn(argv, env, "/dev/null");
  return pid > 0 && WaitExit(pid, seconds) == 0;
}

}  // namespace kavon::test
