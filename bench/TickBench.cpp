// One tick with 8 channels recording from simulated devices at 48000 Hz:
// median and 99th percentile tick time over an hour of ticks, and the CPU
// the ticks take per hour of 8-channel recording. The devices' own work
// (filling buffers, the driver's part) is not counted.
//
// The program sleeps between its ticks, and a scheduler treats a thread
// that mostly sleeps unlike one that computes without a break: so the
// ticks here are paced too (every 5 ms of real time by default, 100 ms of
// fake time each), or a busy machine would time-slice the bench itself.
// Each tick's wall time and its thread's CPU time are both measured: the
// difference is time the tick was ready but not running.
//
// A fifth argument SCRAPE_MS > 0 turns the HTTP endpoint on and scrapes
// /metrics every SCRAPE_MS of real time from another thread, as a
// Prometheus server would, so the tick's figures can be compared with and
// without it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/FrmMain.h"
#include "platform/ini/IniFile.h"
#include "platform/sim/FakeClock.h"
#include "platform/sim/SimWaveIn.h"

using namespace kavon;

namespace {

double ThreadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// A port nobody holds now: the kernel's choice for a socket that lets it go.
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) == 0;
  close(fd);
  return ok ? ntohs(a.sin_port) : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string folder = argc > 1 ? argv[1] : "bench-tick";
  const double hours = argc > 2 ? std::atof(argv[2]) : 1.0;
  const int sync = argc > 3 ? std::atoi(argv[3]) : 1;
  const int paceMs = argc > 4 ? std::atoi(argv[4]) : 5;
  const int scrapeMs = argc > 5 ? std::atoi(argv[5]) : 0;
  int port = 0;
  if (scrapeMs > 0) port = FreePort();
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  {
    std::FILE* ini = std::fopen((folder + "/kavon.ini").c_str(), "w");
    std::fprintf(ini, "[conf]\nNumRec=7\nnFreq=48000\nSyncWrites=%d\n", sync);
    if (scrapeMs > 0) std::fprintf(ini, "HttpListen=127.0.0.1:%d\n", port);
    for (int ch = 1; ch <= 8; ++ch) std::fprintf(ini, "DevInID_%d=%d\nRecLevelDB_%d=3\n", ch, ch - 1, ch);
    std::fclose(ini);
  }
  platform::FakeClock clock;
  clock.SetLocal(2024, 3, 1, 10, 0, 0);
  std::vector<platform::SimDeviceSpec> devices;
  for (int ch = 0; ch < 8; ++ch) devices.push_back({"Tone " + std::to_string(ch), platform::SimSource::Tone(440 + 100 * ch, -20)});
  platform::SimWaveIn sim(clock, devices);
  clock.OnAdvance([&] { sim.Pump(); });
  platform::IniSettingsBackend backend(folder);
  FrmMain app(ProgramPaths{folder + "/", folder, folder + "/kavon.lock", folder + "/kavon.sock"}, clock, backend, sim);
  app.log().SetWriteBehind(true);  // as the program runs it
  app.Load();
  for (int ch = 0; ch < 8; ++ch) app.recording().RecButtonClick(ch, 0);

  std::atomic<bool> done{false};
  std::atomic<long> scrapes{0};
  std::thread scraper([&] {
    if (scrapeMs <= 0) return;
    httplib::Client client("127.0.0.1", port);
    while (!done) {
      if (const auto r = client.Get("/metrics"); r && r->status == 200) ++scrapes;
      std::this_thread::sleep_for(std::chrono::milliseconds(scrapeMs));
    }
  });

  const auto ticks = static_cast<size_t>(hours * 36000);
  std::vector<double> times, cpu;
  times.reserve(ticks);
  cpu.reserve(ticks);
  auto next = std::chrono::steady_clock::now();
  for (size_t t = 0; t < ticks; ++t) {
    clock.AdvanceMs(100);
    next += std::chrono::milliseconds(paceMs);
    std::this_thread::sleep_until(next);
    const double c0 = ThreadCpuMs();
    const auto t0 = std::chrono::steady_clock::now();
    app.Tick();
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    cpu.push_back(ThreadCpuMs() - c0);
  }
  done = true;
  scraper.join();
  app.Unload();
  double total = 0;
  for (const double t : cpu) total += t;
  std::sort(times.begin(), times.end());
  std::sort(cpu.begin(), cpu.end());
  std::printf("ticks: %zu (%.1f h of 8 channels at 48000 Hz, SyncWrites=%d, writer thread, paced %d ms)\n", times.size(),
              hours, sync, paceMs);
  std::printf("tick median %.3f ms, p99 %.3f ms, max %.3f ms\n", times[times.size() / 2], times[times.size() * 99 / 100],
              times.back());
  std::printf("its CPU: median %.3f ms, p99 %.3f ms, max %.3f ms\n", cpu[cpu.size() / 2], cpu[cpu.size() * 99 / 100],
              cpu.back());
  const auto over = std::count_if(times.begin(), times.end(), [](double t) { return t > 10.0; });
  std::printf("ticks over 10 ms: %ld of %zu\n", static_cast<long>(over), times.size());
  std::printf("CPU in ticks per hour of 8-channel recording: %.2f s\n", total / 1000.0 / hours);
  if (scrapeMs > 0) std::printf("scrapes of /metrics answered: %ld (every %d ms)\n", scrapes.load(), scrapeMs);
  std::filesystem::remove_all(folder);
  return 0;
}
