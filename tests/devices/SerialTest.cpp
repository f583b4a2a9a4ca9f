// The serial control box over pseudo-terminals: the test holds the far end
// (the master) and kavon opens the slave through a link that stands for
// the box's device, as ComName would name it.
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "app/AppFixture.h"
#include "app/ClockAdjust.h"
#include "devices/FCT_Serial.h"
#include "platform/linux/TermiosSerial.h"

namespace kavon {
namespace {

using test::AppFixture;
using test::Count;

// A pseudo-terminal whose slave is reached through `link`.
struct FarEnd {
  int master = -1;
  std::string device;  // /dev/pts/N
  explicit FarEnd(const std::string& link) {
    int slave = -1;
    char name[256];
    EXPECT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    close(slave);  // kavon opens it by name
    device = name;
    fcntl(master, F_SETFL, O_NONBLOCK);
    std::filesystem::remove(link);
    std::filesystem::create_symlink(name, link);
  }
  ~FarEnd() { HangUp(); }
  void Send(std::vector<uint8_t> bytes) { EXPECT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())); }
  // What the box received: at least `atLeast` bytes, waiting for them (the
  // kernel hands pty data on in its own time) up to two seconds.
  std::vector<uint8_t> Received(size_t atLeast = 0) {
    std::vector<uint8_t> out;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (;;) {
      uint8_t buf[4096];
      const ssize_t n = read(master, buf, sizeof buf);
      if (n > 0) out.insert(out.end(), buf, buf + n);
      if (out.size() >= atLeast || std::chrono::steady_clock::now() > until) return out;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  void HangUp() {
    if (master >= 0) close(master);
    master = -1;
  }
};

// The machine's serial system, counting the reads of every port it makes.
struct CountingSystem : platform::SerialSystem {
  platform::LinuxSerialSystem real;
  int reads = 0;
  int lastBaud = 0;  // the speed of the last open
  struct Port : platform::SerialPort {
    std::unique_ptr<platform::SerialPort> inner;
    int* reads;
    int* baud;
    std::string Open(const std::string& d, const platform::SerialSettings& s) override {
      *baud = s.baudRate;
      return inner->Open(d, s);
    }
    bool IsOpen() const override { return inner->IsOpen(); }
    std::vector<uint8_t> Read(size_t n) override {
      ++*reads;
      return inner->Read(n);
    }
    bool Write(const uint8_t* d, size_t n, int t) override { return inner->Write(d, n, t); }
    bool Lost() const override { return inner->Lost(); }
    void Close() override { inner->Close(); }
  };
  std::vector<platform::SerialDevice> List() override { return real.List(); }
  bool Exists(const std::string& d) override { return real.Exists(d); }
  std::unique_ptr<platform::SerialPort> NewPort() override {
    auto p = std::make_unique<Port>();
    p->inner = real.NewPort();
    p->reads = &reads;
    p->baud = &lastBaud;
    return p;
  }
};

struct BoxFixture : AppFixture {
  // Ticks until done() holds: bytes sent to the box reach kavon when the
  // kernel has handed them on, which takes real time.
  template <typename Done>
  bool TickUntil(Done done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (std::chrono::steady_clock::now() < until) {
      Run(0.1);
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }
  CountingSystem serial;
  std::string link;
  std::unique_ptr<FarEnd> box;
  explicit BoxFixture(const std::string& ini)
      : AppFixture("ComNo=1\nComName=$HOME/box\n" + ini), link(dir.File("box")), box(std::make_unique<FarEnd>(link)) {}
  void Start() {
    backend = std::make_unique<platform::IniSettingsBackend>(dir.path());
    ProgramPaths paths{dir.path() + "/", dir.path(), dir.File("kavon.lock"), dir.File("kavon.sock")};
    app = std::make_unique<FrmMain>(paths, clock, *backend, *sim);
    app->SetSerialSystem(&serial);
    app->Load();
  }
};

TEST(SerialBox, CodesStartAndStopChannelsAndLampsGoBack) {
  BoxFixture f("NumRec=4\n");
  f.Start();
  EXPECT_EQ(f.box->Received(5), (std::vector<uint8_t>{101, 102, 103, 104, 113}));  // recording lamps off at start
  f.box->Send({3});  // start channel 3: one byte a tick, raw (no interrupt)
  ASSERT_TRUE(f.TickUntil([&] { return f.channel(2).IsOpen == 1; }));
  EXPECT_EQ(f.box->Received(2), (std::vector<uint8_t>{3, 107}));
  f.box->Send({9, 13, 7});  // channel 5 on, off (13 stays 13, not a line end); channel 3 off
  ASSERT_TRUE(f.TickUntil([&] { return f.channel(2).IsOpen == 0; }));
  EXPECT_EQ(f.channel(4).IsOpen, 0);
  EXPECT_EQ(f.box->Received(6), (std::vector<uint8_t>{13, 117, 113, 17, 103, 7}));
  f.app->Unload();
  const auto atExit = f.box->Received(20);  // each channel shown stopped, then every lamp off
  ASSERT_GE(atExit.size(), 10u);
  EXPECT_EQ(std::vector<uint8_t>(atExit.end() - 10, atExit.end()),
            (std::vector<uint8_t>{101, 102, 103, 104, 105, 106, 107, 108, 113, 117}));
}

TEST(SerialBox, AHangUpIsToldOnceAndTheBoxIsOpenedAgainWhenItIsBack) {
  BoxFixture f("NumRec=0\n");
  f.Start();
  f.box->HangUp();
  f.Run(0.5);
  const int readsWhenLost = f.serial.reads;
  f.Run(5);
  EXPECT_EQ(f.serial.reads, readsWhenLost);  // a lost port is not polled
  EXPECT_EQ(Count(f.ErrText(), "シリアルポート切断 " + f.link), 1);
  EXPECT_EQ(f.state().serialProblem, "シリアルポート切断 " + f.link);
  f.box = std::make_unique<FarEnd>(f.link);  // a new box takes the name
  f.Run(1.5);
  EXPECT_NE(f.LogText().find("シリアルポート再接続 " + f.link), std::string::npos);
  EXPECT_EQ(f.box->Received(2), (std::vector<uint8_t>{101, 5}));  // it shows the channels as they are
  EXPECT_TRUE(f.state().serialProblem.empty());
  f.box->Send({1});
  EXPECT_TRUE(f.TickUntil([&] { return f.channel(0).IsOpen == 1; }));
}

// The stored port is the box: while it is missing (an adapter enumerated
// after kavon started) no other port that now has its number is opened,
// the log names the path once, and the box is opened within a second of
// appearing, with every channel's lamps.
TEST(SerialBox, AMissingPortIsWaitedForAndNeverReplacedByAnother) {
  struct OtherFirst : CountingSystem {
    std::string other;
    std::vector<platform::SerialDevice> List() override { return {{other, "GPS", ""}}; }
  };
  AppFixture f("NumRec=0\nComNo=1\nComName=$HOME/box\n");
  FarEnd gps(f.dir.File("gps"));
  OtherFirst system;
  system.other = f.dir.File("gps");
  f.backend = std::make_unique<platform::IniSettingsBackend>(f.dir.path());
  f.app = std::make_unique<FrmMain>(ProgramPaths{f.dir.path() + "/", f.dir.path(), f.dir.File("kavon.lock"), f.dir.File("kavon.sock")},
                                    f.clock, *f.backend, *f.sim);
  f.app->SetSerialSystem(&system);
  f.app->Load();
  ASSERT_EQ(f.state().messages.size(), 1u);
  EXPECT_NE(f.ErrText().find("Com1が開けません " + f.dir.File("box") + ": not present"), std::string::npos);
  f.Run(3);
  EXPECT_EQ(Count(f.ErrText(), "が開けません"), 1);
  FarEnd box(f.dir.File("box"));
  f.Run(1.1);
  EXPECT_NE(f.LogText().find("シリアルポート Com1 " + f.dir.File("box")), std::string::npos);
  EXPECT_EQ(box.Received(2), (std::vector<uint8_t>{101, 5}));  // the lamps as they are
  EXPECT_TRUE(gps.Received().empty());                         // the GPS never heard a thing
  EXPECT_TRUE(f.state().serialProblem.empty());
}

TEST(SerialBox, TimeRecordsSetTheClockAtTheMark) {
  BoxFixture f("NumRec=0\nUseBCD=1\nAdjustMode=1\nAMinute=0\nASecond=0\n");
  f.clock.SetLocal(2024, 3, 1, 12, 59, 58);
  f.Start();
  EXPECT_EQ(f.serial.lastBaud, 2400);  // time records come at 2400 bit/s
  f.box->Send({'x', 'x', '1', '2', 0x02});  // a record in two parts, with bytes to ignore
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  f.Run(0.1);
  EXPECT_EQ(f.clock.SetCount(), 0);
  f.box->Send({'5', '9', 0x00, '5', '8', 0xE5, '1', '3', '0', '0', '0', '0', 0x03, 0xE5});
  ASSERT_TRUE(f.TickUntil([&] { return f.clock.SetCount() == 1; }));  // the last record of the call is the mark
  EXPECT_EQ(f.clock.NowLocal().hour, 13);
  EXPECT_EQ(f.clock.NowLocal().minute, 0);
  // A mark that waited behind a later record never sets the clock late.
  f.box->Send({'1', '3', '0', '0', '0', '0', 0xE5, '1', '3', '0', '0', '0', '1', 0xE5});
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // both records arrive together
  f.Run(0.1);
  EXPECT_EQ(f.clock.SetCount(), 1);
  // Without the right to set the clock: the reason in the log each time,
  // and once a run what to do about it.
  f.clock.FailSetting(EPERM);
  for (int i = 0; i < 2; ++i) {
    f.box->Send({'1', '4', '0', '0', '0', '0', 0xE5});
    f.TickUntil([&] { return Count(f.LogText(), "時刻修正エラー") == i + 1; });
  }
  EXPECT_EQ(Count(f.LogText(), "時刻修正エラー " + std::string(std::strerror(EPERM))), 2);
  EXPECT_EQ(f.state().messages.size(), 1u);
  // A burst of records is read in one tick, 18 bytes a read.
  f.clock.FailSetting(0);
  std::vector<uint8_t> burst;
  for (const char* t : {"140001", "140002", "140003", "140004", "140005", "140006", "140007", "140008", "140009", "150000"}) {
    burst.insert(burst.end(), {'x', 'x', 'x', 'x', 'x'});
    burst.insert(burst.end(), t, t + 6);
    burst.push_back(0xE5);
  }
  const int sets = f.clock.SetCount();
  f.box->Send(burst);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  f.Run(0.1);
  EXPECT_EQ(f.clock.SetCount(), sets + 1);  // the mark at the end of 120 bytes, in the same tick
}

TEST(TimeSignal, RecordsAndTheCalibrationMark) {
  struct Case {
    std::vector<uint8_t> bytes;
    const char* time;
    const char* pending;
  };
  const std::vector<uint8_t> noEnd(30, '7');
  const Case cases[] = {
      {{'1', '2', '0', '0', '0', '0', 0xE5}, "12:00:00", ""},
      {{'x', 'x', '1', '2', '3', '4', '5', '6', 0xE5}, "12:34:56", ""},  // only the last six count
      {{'1', 0x00, '2', 0x02, '3', 0x03, '4', '5', '6', 0xE5}, "12:34:56", ""},
      {{'1', '2', '3', 0xE5}, "", "123"},                       // too short: the end byte is ignored
      {noEnd, "", "777777777777777777"},                        // past 26, its last 18 are kept
  };
  for (const auto& c : cases) {
    TimeSignalDecoder d;
    EXPECT_EQ(d.Feed(c.bytes), c.time);
    EXPECT_EQ(d.Pending(), c.pending);
  }
  const AdjustSettings hourly{0, 0, 0, 1};
  EXPECT_TRUE(IsCalibrationMark("12:00:00", hourly));
  EXPECT_FALSE(IsCalibrationMark("12:00:00", AdjustSettings{0, 0, 5, 1}));
  EXPECT_FALSE(IsCalibrationMark("12:01:00", hourly));  // hourly: the minute counts
  EXPECT_TRUE(IsCalibrationMark("12:34:00", AdjustSettings{0, 0, 0, 0}));
  EXPECT_FALSE(IsCalibrationMark("12:00:00", AdjustSettings{0, 0, 0, 2}));
  EXPECT_FALSE(IsCalibrationMark("12:00:00", AdjustSettings{0, 0, 0, 7}));
}

TEST(TimeSignal, TheClockIsSetToTheMarkOfTheMode) {
  struct Case {
    int mode, hour, minute, second;
    int aHour, aMinute, aSecond;
    int d, h, mi;  // the day of March 2024 (29: February) and the time set (second = ASecond)
  };
  const Case cases[] = {
      {1, 12, 59, 58, 0, 0, 0, 1, 13, 0},  // d = -59, corrected to +1
      {1, 23, 59, 50, 0, 0, 0, 2, 0, 0},   // the next day
      {2, 23, 58, 0, 0, 0, 0, 2, 0, 0},    // e = -23, corrected to +1
      {0, 12, 30, 50, 0, 0, 0, 1, 12, 31},
      // Each mode's half-way boundary, on both sides: a mark 30 s, 30 min
      // or 12 h away is taken as the later one.
      {0, 12, 30, 29, 0, 0, 0, 1, 12, 30}, {0, 12, 30, 30, 0, 0, 0, 1, 12, 31},
      {0, 12, 30, 29, 0, 0, 59, 1, 12, 30}, {0, 12, 30, 28, 0, 0, 59, 1, 12, 29},
      {1, 12, 29, 0, 0, 0, 0, 1, 12, 0}, {1, 12, 30, 0, 0, 0, 0, 1, 13, 0},
      {1, 12, 29, 0, 0, 59, 0, 1, 12, 59}, {1, 12, 28, 0, 0, 59, 0, 1, 11, 59},
      {2, 11, 0, 0, 0, 0, 0, 1, 0, 0}, {2, 12, 0, 0, 0, 0, 0, 2, 0, 0},
      {2, 11, 0, 0, 23, 0, 0, 1, 23, 0}, {2, 10, 0, 0, 23, 0, 0, 29, 23, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.mode) + " " + std::to_string(c.hour) + ":" + std::to_string(c.minute) + ":" +
                 std::to_string(c.second));
    Settings s;
    s.AdjustMode = c.mode;
    s.AHour = c.aHour;
    s.AMinute = c.aMinute;
    s.ASecond = c.aSecond;
    platform::CivilTime now{2024, 3, 1, c.hour, c.minute, c.second};
    const platform::CivilTime t = AdjustedTime(now, s);
    EXPECT_EQ((std::vector<int>{t.month, t.day, t.hour, t.minute, t.second}),
              (std::vector<int>{c.d == 29 ? 2 : 3, c.d, c.h, c.mi, c.aSecond}));
  }
}

// Runs work as an ordinary user: in a child that gives up root when the
// suite runs as root (root ignores the exclusive flag of a terminal, so a
// fault there shows only for ordinary users). True when work returned true.
bool AsOrdinaryUser(const std::string& device, const std::function<bool()>& work) {
  if (geteuid() != 0) return work();
  const pid_t pid = fork();
  if (pid == 0) {
    constexpr uid_t kNobody = 65534;
    chmod(device.c_str(), 0666);
    if (setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(2);
    _exit(work() ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(SerialPort, ARefusedOpenLeavesThePortFreeForEveryUser) {
  test::TempDir dir;
  FarEnd far(dir.File("box"));
  EXPECT_TRUE(AsOrdinaryUser(far.device, [&] {
    platform::TermiosSerialPort port;
    platform::SerialSettings oneAndAHalf;
    oneAndAHalf.stopBits = 1;
    if (port.Open(far.device, oneAndAHalf).empty()) return false;  // must be refused
    return port.Open(far.device, {}).empty();                      // and leave the port to the next open
  }));
  // A file that is not a terminal says so plainly.
  test::WriteWholeFile(dir.File("plain"), "");
  EXPECT_EQ(platform::TermiosSerialPort().Open(dir.File("plain"), {}), dir.File("plain") + ": not a serial port");
}

TEST(SerialPort, SpeedsLineSettingsAndRefusals) {
  test::TempDir dir;
  FarEnd far(dir.File("box"));
  platform::LinuxSerialSystem system;
  C_Com com(system);
  com.ComName(dir.File("box"));
  com.ComPort("Com1");
  com.DataSize(1000);
  EXPECT_EQ(com.DataSize(), 255);
  for (const long baud : {2400L, 38400L, 56000L, 256000L}) {
    com.BaudRate(baud);
    EXPECT_EQ(com.OpenComm(), 1) << baud << " " << com.LastError();
  }
  com.StopBit(1);  // one and a half
  EXPECT_EQ(com.OpenComm(), 0);
  EXPECT_FALSE(com.IsOpen());
  std::vector<uint8_t> bytes{9, 9, 9};
  com.RecvDataB(bytes);  // a closed port: count 0, the rest untouched
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0, 9, 9}));
  com.StopBit(0);
  ASSERT_EQ(com.OpenComm(), 1);
  // Second open of the same box is refused while we hold it.
  platform::TermiosSerialPort other;
  EXPECT_FALSE(other.Open(dir.File("box"), {}).empty());
  far.Send({3, 10, 13, 17, 19, 0xFF});
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the kernel hands pty data on in its own time
  std::vector<uint8_t> got(8, 0);
  com.RecvDataB(got);  // no more than the array holds
  EXPECT_EQ(got, (std::vector<uint8_t>{6, 3, 10, 13, 17, 19, 0xFF, 0}));
  com.SendDataB({1, 2, 3}, 99);  // never past the array
  com.SendText("");
  EXPECT_EQ(far.Received(3), (std::vector<uint8_t>{1, 2, 3}));
  C_Com missing(system);
  missing.ComPort("Com200");
  EXPECT_EQ(missing.OpenComm(), 0);
}

}  // namespace
}  // namespace kavon
