// The kavon program itself, started as a child process with --home in a
// temporary folder.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "support/Process.h"
#include "support/TempDir.h"
#include "support/WavCheck.h"

namespace kavon {
namespace {

std::string Binary() { return test::KavonBinary(); }

// Runs kavon with args in this (child) process.
[[noreturn]] void Exec(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  const std::string bin = Binary();
  argv.push_back(const_cast<char*>(bin.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(bin.c_str(), argv.data());
  _exit(127);
}

pid_t Start(const std::vector<std::string>& args) {
  const pid_t pid = fork();
  if (pid == 0) Exec(args);
  return pid;
}

// Starts kavon with stdout and stderr a pipe whose reading end is already
// closed, as when the terminal or the reading program went away.
pid_t StartWithClosedOutput(const std::vector<std::string>& args) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    dup2(fds[1], 2);
    close(fds[0]);
    close(fds[1]);
    Exec(args);
  }
  close(fds[0]);
  close(fds[1]);
  return pid;
}

using test::WaitExit;

bool WaitForFile(const std::string& path, double seconds = 20) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < until) {
    if (std::filesystem::exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// The first recording that appears in folder ("" after 20 s).
std::string WaitForWav(const std::string& folder) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < until) {
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
      if (e.path().extension() == ".wav") return e.path().string();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return {};
}

int Count(const std::string& hay, const std::string& needle) {
  int n = 0;
  for (size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1)) ++n;
  return n;
}

std::string TodayLog(const std::string& home) {
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(home + "/log", ec)) {
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
  // A home that cannot be locked (here: below a file) is refused, not run unguarded.
  test::WriteWholeFile(dir.File("file"), "x");
  EXPECT_EQ(WaitExit(Start({"--home", dir.File("file/home"), "--headless", "--audio", "sim"})), 1);
}

TEST(Process, SingleInstanceAndCleanStopOnSigterm) {
  test::TempDir dir;
  const pid_t first = Start({"--home", dir.path(), "--headless"});
  ASSERT_TRUE(WaitForFile(dir.File("kavon.ini")));
  // A second instance ends at once, saying why, whatever it was asked
  // for and however the home is spelled.
  EXPECT_EQ(WaitExit(Start({"--home", dir.path(), "--headless"}), 10), 1);
  std::filesystem::create_directory_symlink(dir.path(), dir.File("link"));
  EXPECT_EQ(WaitExit(Start({"--home", dir.File("link/sub/.."), "--headless", "--audio", "sim"}), 10), 1);
  EXPECT_EQ(WaitExit(Start({"--home", dir.path(), "--record-test", "1", "--audio", "sim"}), 10), 1);
  EXPECT_EQ(WaitExit(Start({"--home", dir.path(), "--list-devices", "--audio", "sim"}), 10), 1);
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

namespace kavon {
namespace {

// hh:mm:ss and yyyy/mm/dd of the local time `ahead` seconds from now.
std::pair<std::string, std::string> LocalAhead(int ahead) {
  const time_t t = time(nullptr) + ahead;
  tm local{};
  localtime_r(&t, &local);
  char date[16], clock[16];
  strftime(date, sizeof date, "%Y/%m/%d", &local);
  strftime(clock, sizeof clock, "%H:%M:%S", &local);
  return {date, clock};
}

TEST(Process, TimerEntryRecordsAndSigtermLeavesAValidFile) {
  test::TempDir dir;
  test::WriteWholeFile(dir.File("kavon.ini"), "[conf]\nNumRec=0\nHourAdjust=0\nDevInID_1=Sim Tone 440 Hz -6 dB\n");
  const auto [date, clock] = LocalAhead(3);
  const std::string line = "\"0\",\"60\",\"" + date + "\",\"" + clock + "\",\"0\",\"メモ, test\",\"Demo\"\r\n";
  test::WriteWholeFile(dir.File("timer.txt"), line);
  const pid_t pid = Start({"--home", dir.path(), "--headless", "--audio", "sim"});
  const std::string wav = WaitForWav(dir.path());
  ASSERT_FALSE(wav.empty());
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  kill(pid, SIGTERM);
  EXPECT_EQ(WaitExit(pid), 0);
  EXPECT_EQ(std::filesystem::path(wav).filename().string().rfind("Demo ", 0), 0u);
  const auto info = test::IndependentRead(wav);
  ASSERT_TRUE(info.valid) << info.error;
  EXPECT_GT(info.frames, 44100);
  const std::string log = TodayLog(dir.path());
  EXPECT_NE(log.find("録音開始（タイマー）1 "), std::string::npos);
  EXPECT_NE(log.find("録音停止（終了時）1 " + wav), std::string::npos);
  EXPECT_EQ(test::ReadWholeFile(dir.File("timer.txt")), line);  // written back unchanged
}

// kill -9 in the middle of a timer entry and a restart, as systemd does it:
// the part recorded before the kill stays as it was, the rest goes into the
// next name of its series, and the two together hold the entry less what
// the kill and the restart cost.
TEST(Process, AKillAndARestartKeepBothPartsOfAnEntry) {
  test::TempDir dir;
  test::WriteWholeFile(dir.File("kavon.ini"), "[conf]\nNumRec=0\nHourAdjust=0\nDevInID_1=Sim Tone 440 Hz -6 dB\n");
  const auto [date, clock] = LocalAhead(2);
  test::WriteWholeFile(dir.File("timer.txt"), "\"0\",\"12\",\"" + date + "\",\"" + clock + "\",\"0\",\"\",\"Kill\"\r\n");
  const std::vector<std::string> args{"--home", dir.path(), "--headless", "--audio", "sim"};
  const pid_t pid = Start(args);
  const std::string first = WaitForWav(dir.path());
  ASSERT_FALSE(first.empty());
  std::this_thread::sleep_for(std::chrono::milliseconds(6000));
  kill(pid, SIGKILL);
  WaitExit(pid);
  const auto killedAt = std::chrono::steady_clock::now();
  const std::string before = test::ReadWholeFile(first);
  const pid_t again = Start(args);
  const std::string second = first.substr(0, first.size() - 4) + " (2).wav";
  ASSERT_TRUE(WaitForFile(second));
  const double down = std::chrono::duration<double>(std::chrono::steady_clock::now() - killedAt).count();
  std::this_thread::sleep_for(std::chrono::milliseconds(7000));  // past the entry's end
  kill(again, SIGTERM);
  EXPECT_EQ(WaitExit(again), 0);
  EXPECT_EQ(test::ReadWholeFile(first), before);
  const double a = test::IndependentRead(first).frames / 44100.0;
  const double b = test::IndependentRead(second).frames / 44100.0;
  EXPECT_GE(a, 6 - 4.5);  // all but the last disk buffer
  EXPECT_NEAR(b, 12 - 6 - down, 1.5);
  EXPECT_NE(TodayLog(dir.path()).find("録音停止（終了）1 " + second), std::string::npos);
}

// With SyncWrites=1 a new recording is on the disk, its folder entry too,
// before any of its audio: a power cut leaves no empty or missing .wav.
// The order is read from the system calls kavon makes (strace -y names the
// file of each descriptor).
TEST(Process, ANewRecordingReachesTheDiskBeforeItsAudio) {
  if (std::system("strace -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace is not installed (scripts/setup installs it)";
  test::TempDir dir;
  test::WriteWholeFile(dir.File("kavon.ini"), "[conf]\nNumRec=0\nSyncWrites=1\n");
  const std::string trace = dir.File("trace");
  // LeakSanitizer cannot stop a traced process's threads: leaks are the
  // other tests' business.
  const std::string command = "ASAN_OPTIONS=detect_leaks=0 strace -f -y -e trace=openat,fsync,fdatasync -o '" + trace + "' '" + Binary() + "' --home '" +
                              dir.path() + "' --record-test 1 --audio sim >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string t = test::ReadWholeFile(trace);
  const std::string folder = std::filesystem::path(dir.path()).lexically_normal().string();
  const size_t created = t.find("O_WRONLY|O_CREAT|O_EXCL");  // the header is written right after
  ASSERT_NE(created, std::string::npos);
  // The file of the n-th call that follows `from`: what strace -y wrote in <...>.
  auto fileOf = [&t](size_t call) { return t.substr(t.find('<', call) + 1, t.find('>', call) - t.find('<', call) - 1); };
  const size_t fileSynced = t.find("fsync(", created);
  const size_t folderSynced = t.find("fsync(", fileSynced + 1);
  const size_t audio = t.find("O_RDWR", created);
  ASSERT_NE(folderSynced, std::string::npos);
  ASSERT_NE(audio, std::string::npos);
  EXPECT_EQ(fileOf(fileSynced), fileOf(created + t.substr(created).find("= ")));
  EXPECT_EQ(fileOf(folderSynced), folder);
  EXPECT_LT(folderSynced, audio);
}

// A closed terminal (SIGHUP) and a closed output pipe (SIGPIPE) during a
// recording neither end kavon nor lose audio: SIGHUP reads the timer list
// again, writes to the dead pipe fail quietly.
TEST(Process, SighupAndAClosedOutputPipeDuringARecording) {
  test::TempDir dir;
  test::WriteWholeFile(dir.File("kavon.ini"), "[conf]\nNumRec=0\nHourAdjust=0\nDevInID_1=Sim Tone 440 Hz -6 dB\n");
  const auto [date, clock] = LocalAhead(2);
  test::WriteWholeFile(dir.File("timer.txt"), "\"0\",\"60\",\"" + date + "\",\"" + clock + "\",\"0\",\"\",\"Hup\"\r\n");
  const pid_t pid = StartWithClosedOutput({"--home", dir.path(), "--headless", "--audio", "sim"});
  ASSERT_GT(pid, 0);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (TodayLog(dir.path()).find("録音開始（タイマー）") == std::string::npos && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(pid, SIGHUP);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0);  // still running
  kill(pid, SIGTERM);
  EXPECT_EQ(WaitExit(pid), 0);
  const std::string log = TodayLog(dir.path());
  EXPECT_NE(log.find("タイマー再読込 "), std::string::npos);
  EXPECT_NE(log.find("録音停止（終了時）1 "), std::string::npos);
  std::string wav;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    if (e.path().extension() == ".wav") wav = e.path().string();
  }
  const auto info = test::IndependentRead(wav);
  ASSERT_TRUE(info.valid) << info.error;
  EXPECT_GT(info.frames, 44100);
}

// The repository's scripts/setup, found from this file.
std::string SetupScript() {
  return (std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "scripts/setup").string();
}

// scripts/setup installs as root, through sudo, or says what to run.
TEST(Process, SetupInstallsAsRootThroughSudoOrSaysWhatToRun) {
  struct Case {
    const char* uid;
    const char* sudo;
    bool dryRun;
    int rc;
    const char* says;
  };
  const std::string forRoot = "as root, run:\n  apt-get update && apt-get install -y --no-install-recommends kavon-no-such-package\n";
  for (const Case& c : {Case{"0", "sudo", true, 0, "\nenv DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends kavon-no-such-package\n"},
                        Case{"1000", "env", true, 0, "\nenv env DEBIAN_FRONTEND=noninteractive apt-get install"},
                        Case{"1000", "kavon-no-sudo-here", true, 1, forRoot.c_str()},
                        Case{"1000", "false", false, 1, forRoot.c_str()}}) {  // a sudo that refuses
    SCOPED_TRACE(std::string(c.uid) + " " + c.sudo);
    const std::string cmd = std::string("KAVON_SETUP_PACKAGES=kavon-no-such-package KAVON_SETUP_DRY_RUN=") + (c.dryRun ? "1" : "0") +
                            " KAVON_SETUP_UID=" + c.uid + " KAVON_SETUP_SUDO=" + c.sudo + " '" + SetupScript() + "' 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buf[512];
    std::string out;
    while (fgets(buf, sizeof buf, p)) out += buf;
    const int status = pclose(p);
    EXPECT_EQ(WEXITSTATUS(status), c.rc) << out;
    EXPECT_NE(out.find(c.says), std::string::npos) << out;
  }
}

// The window: --screenshot saves it without any display, and SIGTERM closes
// it without the exit question.
TEST(Process, TheWindowTakesAScreenshotAndClosesOnSigterm) {
  test::TempDir dir;
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  EXPECT_EQ(WaitExit(Start({"--home", dir.path(), "--audio", "sim", "--screenshot", dir.File("w.png")})), 0);
  EXPECT_EQ(test::ReadWholeFile(dir.File("w.png")).substr(0, 4), "\x89PNG");
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const pid_t pid = Start({"--home", dir.path(), "--audio", "sim"});
  unsetenv("QT_QPA_PLATFORM");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  kill(pid, SIGTERM);
  EXPECT_EQ(WaitExit(pid), 0);
  EXPECT_EQ(Count(TodayLog(dir.path()), "****終了****"), 2);
}

// `kavon ctl` against a running headless kavon: answers, starts and stops,
// and refuses bad requests without changing anything.
TEST(Process, ControlCommand) {
  test::TempDir dir;
  test::WriteWholeFile(dir.File("kavon.ini"), "[conf]\nNumRec=1\n");
  const pid_t pid = Start({"--home", dir.path(), "--headless", "--audio", "sim"});
  ASSERT_TRUE(WaitForFile(dir.File("kavon.sock")));
  auto ctl = [&](const std::string& request, int* rc = nullptr) {
    FILE* p = popen((Binary() + " --home '" + dir.path() + "' ctl " + request + " 2>&1").c_str(), "r");
    std::string out;
    char buf[4096];
    while (fgets(buf, sizeof buf, p)) out += buf;
    const int status = pclose(p);
    if (rc) *rc = WEXITSTATUS(status);
    return out;
  };
  int rc = -1;
  EXPECT_EQ(ctl("status"), "OK\nchannel 1: stopped\nchannel 2: stopped\nnext: none\n");
  EXPECT_EQ(ctl("start 2", &rc).rfind("OK recording " + dir.path() + "/", 0), 0u);
  EXPECT_EQ(rc, 0);
  EXPECT_NE(ctl("status --json").find("{\"channel\":2,\"state\":\"recording\""), std::string::npos);
  for (const std::string& bad : std::vector<std::string>{"start 9", "start 2", "stop 1", "start x", "frobnicate", std::string(6000, 'a')}) {
    const std::string out = ctl(bad, &rc);
    EXPECT_EQ(out.rfind("ERROR ", 0), 0u) << bad.substr(0, 20) << ": " << out;
    EXPECT_EQ(rc, 1);
  }
  EXPECT_NE(ctl("status").find("channel 2: recording"), std::string::npos);  // nothing changed
  // The metrics alone, as a scraper's file wants them.
  EXPECT_EQ(ctl("metrics", &rc).rfind("# HELP kavon_build_info ", 0), 0u);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(ctl("stop 2").rfind("OK stopped ", 0), 0u);
  kill(pid, SIGTERM);
  EXPECT_EQ(WaitExit(pid), 0);
  EXPECT_FALSE(std::filesystem::exists(dir.File("kavon.sock")));
  EXPECT_NE(ctl("status", &rc).find("no running kavon"), std::string::npos);
  EXPECT_EQ(rc, 1);
}

// A port nobody holds now: the kernel's choice for a socket that then lets it go.
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) == 0;
  close(fd);
  return ok ? ntohs(a.sin_port) : -1;
}

// The HTTP endpoint of a running kavon, as Prometheus and a browser meet
// it: /metrics in the exposition format, the status page, 404 for any
// other path and for writes, and many clients at once.
TEST(Process, HttpEndpointServesMetricsAndTheStatusPage) {
  test::TempDir dir;
  const int port = FreePort();
  ASSERT_GT(port, 0);
  test::WriteWholeFile(dir.File("kavon.ini"), "[conf]\nNumRec=1\nHttpListen=127.0.0.1:" + std::to_string(port) + "\n");
  const pid_t pid = Start({"--home", dir.path(), "--headless", "--audio", "sim"});
  httplib::Client client("127.0.0.1", port);
  client.set_connection_timeout(1, 0);
  auto metrics = client.Get("/metrics");
  for (int i = 0; i < 100 && !(metrics && metrics->status == 200); ++i) {
    usleep(100000);
    metrics = client.Get("/metrics");
  }
  ASSERT_TRUE(metrics && metrics->status == 200);
  EXPECT_EQ(metrics->get_header_value("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
  EXPECT_NE(metrics->body.find("kavon_build_info{version=\""), std::string::npos);
  EXPECT_NE(metrics->body.find("kavon_channel_recording{channel=\"2\"} 0\n"), std::string::npos);
  const auto page = client.Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_NE(page->body.find("<table>"), std::string::npos);
  for (const char* path : {"/nope", "/metrics/x", "/../etc/passwd"}) {
    const auto r = client.Get(path);
    ASSERT_TRUE(r) << path;
    EXPECT_EQ(r->status, 404) << path;
  }
  const auto post = client.Post("/metrics", "x", "text/plain");
  ASSERT_TRUE(post);
  EXPECT_EQ(post->status, 404);
  kill(pid, SIGTERM);
  EXPECT_EQ(WaitExit(pid), 0);
  EXPECT_NE(TodayLog(dir.path()).find("HTTP 待ち受け 127.0.0.1:" + std::to_string(port)), std::string::npos);
}

TEST(Process, ListsSimulatedDevices) {
  FILE* p = popen((Binary() + " --list-devices --audio sim").c_str(), "r");
  ASSERT_NE(p, nullptr);
  char buf[256];
  std::string out;
  while (fgets(buf, sizeof buf, p)) out += buf;
  EXPECT_EQ(pclose(p), 0);
  EXPECT_EQ(out.rfind("0\tSim Tone 1 kHz -20 dB\n", 0), 0u);
}

}  // namespace
}  // namespace kavon

namespace kavon {
namespace {

// A channel configured with an ALSA device name records through the tick:
// ALSA's file plugin plays a sound card that delivers a known ramp.
TEST(Process, RecordsFromAnAlsaDeviceByName) {
  test::TempDir dir;
  test::RampWav(dir.File("ramp.wav"), 2 * 44100);
  const std::string raw = test::ReadWholeFile(dir.File("ramp.wav")).substr(44);
  test::WriteWholeFile(dir.File("ramp.raw"), raw);
  test::WriteWholeFile(dir.File("asound.conf"),
                       "pcm.kavon_null { type null }\n"
                       "pcm.kavon_file { type file slave.pcm \"kavon_null\" file \"/dev/null\" infile \"" +
                           dir.File("ramp.raw") + "\" format \"raw\" hint { show on description \"Studio Ramp\" } }\n");
  test::WriteWholeFile(dir.File("kavon.ini"), "[conf]\nNumRec=0\nDevInID_1=studio ramp\n");
  setenv("ALSA_CONFIG_PATH", dir.File("asound.conf").c_str(), 1);
  const std::string cmd = Binary() + " --home '" + dir.path() + "' --record-test 1.5";
  FILE* p = popen(cmd.c_str(), "r");
  unsetenv("ALSA_CONFIG_PATH");
  ASSERT_NE(p, nullptr);
  char buf[512];
  std::string out;
  while (fgets(buf, sizeof buf, p)) out += buf;
  ASSERT_EQ(pclose(p), 0) << out;
  ASSERT_FALSE(out.empty());
  out.pop_back();  // the printed path ends with a newline
  const auto samples = test::Samples(out);
  // The file plugin reads as fast as it is asked: the ramp, then silence.
  ASSERT_GE(samples.size(), raw.size() / 2);
  test::ExpectRamp(std::vector<int16_t>(samples.begin(), samples.begin() + static_cast<long>(raw.size() / 2)), 0);
  EXPECT_TRUE(test::IndependentRead(out).valid);
}

}  // namespace
}  // namespace kavon

namespace kavon {
namespace {

// Under systemd, standard error is the journal: each line carries its
// priority (the .err lines as warnings) and no stamp of kavon's own; a
// stderr that is not the stream JOURNAL_STREAM names keeps the plain lines.
TEST(Process, TheJournalGetsPrioritiesAndNoSecondStamp) {
  for (const bool journal : {true, false}) {
    SCOPED_TRACE(journal ? "journal" : "a file");
    test::TempDir dir;
    test::WriteWholeFile(dir.File("kavon.ini"), "[conf]\nnFreq=12345\n");  // out of range: an .err line
    const std::string out = dir.File("journal");
    test::WriteWholeFile(out, "");
    struct stat st {};
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    const std::string stream = std::to_string(st.st_dev) + ":" + std::to_string(journal ? st.st_ino : st.st_ino + 1);
    const pid_t pid = test::Spawn({Binary(), "--home", dir.path(), "--headless", "--audio", "sim"},
                                  {"JOURNAL_STREAM=" + stream}, out);
    ASSERT_TRUE(WaitForFile(dir.File("kavon.run")));
    kill(pid, SIGTERM);
    EXPECT_EQ(WaitExit(pid), 0);
    const std::string text = "\n" + test::ReadWholeFile(out);  // every line after a newline
    EXPECT_EQ(text.find("\n<4>設定値が範囲外 nFreq=12345") != std::string::npos, journal) << text;
    EXPECT_EQ(text.find("\n<6>****終了****") != std::string::npos, journal) << text;
    EXPECT_EQ(text.find(" ****終了****") != std::string::npos, !journal) << text;
  }
}

}  // namespace
}  // namespace kavon
