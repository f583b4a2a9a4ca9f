// The kavon program itself, started as a child process with --home in a
// temporary folder.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "support/TempDir.h"

namespace kavon {
namespace {

std::string Binary() {
  const char* bin = std::getenv("KAVON_BIN");
  return bin ? bin : "kavon";
}

pid_t Start(const std::vector<std::string>& args) {
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    const std::string bin = Binary();
    argv.push_back(const_cast<char*>(bin.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(bin.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

// Waits (real time: this is another process) for the exit status.
int WaitExit(pid_t pid, double seconds = 20) {
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

bool WaitForFile(const std::string& path, double seconds = 20) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < until) {
    if (std::filesystem::exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::string TodayLog(const std::string& home) {
  for (const auto& e : std::filesystem::directory_iterator(home + "/log")) {
    if (e.path().extension() == ".log") return test::ReadWholeFile(e.path().string());
  }
  return {};
}

TEST(Process, OptionsAnswerAndUnknownOnesFail) {
  test::TempDir dir;
  EXPECT_EQ(WaitExit(Start({"--version"})), 0);
  EXPECT_EQ(WaitExit(Start({"--help"})), 0);
  EXPECT_EQ(WaitExit(Start({"--bogus"})), 2);
  EXPECT_EQ(WaitExit(Start({"--home"})), 2);
}

TEST(Process, SingleInstanceAndCleanStopOnSigterm) {
  test::TempDir dir;
  const pid_t first = Start({"--home", dir.path(), "--headless"});
  ASSERT_TRUE(WaitForFile(dir.File("kavon.ini")));
  // The second instance ends at once and quietly.
  EXPECT_EQ(WaitExit(Start({"--home", dir.path(), "--headless"}), 10), 0);
  kill(first, SIGTERM);
  EXPECT_EQ(WaitExit(first), 0);
  EXPECT_NE(TodayLog(dir.path()).find("****終了****\r\n"), std::string::npos);
  EXPECT_NE(test::ReadWholeFile(dir.File("kavon.ini")).find("TimerOn=1"), std::string::npos);
}

TEST(Process, WithoutADisplayItRunsHeadlessAndStopsOnSigint) {
  test::TempDir dir;
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  const pid_t pid = Start({"--home", dir.path()});
  ASSERT_TRUE(WaitForFile(dir.File("kavon.ini")));
  kill(pid, SIGINT);
  EXPECT_EQ(WaitExit(pid), 0);
  EXPECT_NE(TodayLog(dir.path()).find("****終了****"), std::string::npos);
}

}  // namespace
}  // namespace kavon
