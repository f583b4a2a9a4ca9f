// The hidraw back end: report descriptors, the device list from a fake
// sysfs tree, and the transfers through a pseudo-terminal standing for
// /dev/hidrawN.
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "platform/linux/HidDescriptor.h"
#include "platform/linux/Hidraw.h"
#include "support/TempDir.h"

namespace kavon {
namespace {

using platform::HidStatus;

TEST(HidDescriptor, ReportLengthsAsWindowsCountsThem) {
  // Vendor page, 8 bytes in, 8 bytes out, no report IDs.
  const std::vector<uint8_t> box = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF,
                                    0x00, 0x75, 0x08, 0x95, 0x08, 0x09, 0x01, 0x81, 0x02, 0x95, 0x08,
                                    0x09, 0x01, 0x91, 0x02, 0xC0};
  // Report 1: 2 bytes in; report 2: 5 bytes in, 1 out.
  const std::vector<uint8_t> numbered = {0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x75, 0x08, 0x95,
                                         0x02, 0x81, 0x02, 0x85, 0x02, 0x95, 0x05, 0x81, 0x02, 0x95, 0x01,
                                         0x91, 0x02, 0xC0};
  // A long item and pushed globals, then an item cut short.
  const std::vector<uint8_t> odd = {0xFE, 0x02, 0x10, 0xAA, 0xBB, 0x75, 0x08, 0x95, 0x04, 0xA4, 0x95,
                                    0x10, 0xB4, 0x81, 0x02, 0x95};
  struct Case {
    const std::vector<uint8_t>* bytes;
    int in, out;
    bool numbered;
    uint32_t usage;
    uint8_t outputId;  // what every report written to it carries first
  };
  const Case cases[] = {{&box, 9, 9, false, 0xFF000001, 0},
                        {&numbered, 6, 2, true, 0x000C0001, 2},
                        {&odd, 5, 0, false, 0, 0}};
  for (const Case& c : cases) {
    const auto l = platform::ParseReportDescriptor(c.bytes->data(), c.bytes->size());
    EXPECT_EQ(l.inputLength, c.in);
    EXPECT_EQ(l.outputLength, c.out);
    EXPECT_EQ(l.numbered, c.numbered);
    EXPECT_EQ(l.usage, c.usage);
    EXPECT_EQ(l.outputReportId, c.outputId);
  }
}

TEST(Hidraw, ListsFromSysfsAndTalksThroughTheNode) {
  namespace fs = std::filesystem;
  test::TempDir dir;
  const fs::path sys = dir.File("sys"), dev = dir.File("dev");
  const std::vector<uint8_t> descriptor = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75, 0x08, 0x95,
                                           0x08, 0x81, 0x02, 0x91, 0x02, 0xC0};
  auto node = [&](const std::string& name, const std::string& hidId) {
    fs::create_directories(sys / name / "device");
    test::WriteWholeFile((sys / name / "device" / "uevent").string(), "DRIVER=hid-generic\nHID_ID=" + hidId + "\n");
    test::WriteWholeFile((sys / name / "device" / "report_descriptor").string(),
                         std::string(descriptor.begin(), descriptor.end()));
  };
  node("hidraw0", "0003:0000046D:0000C52B");
  node("hidraw1", "0003:00001209:00000002");
  fs::create_directories(sys / "hidraw2");  // no device folder: skipped
  fs::create_directories(dev);
  platform::HidrawSystem system(sys.string(), dev.string());
  const auto list = system.List();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[1].path, (dev / "hidraw1").string());
  EXPECT_EQ(list[1].vendorId, 0x1209);
  EXPECT_EQ(list[1].productId, 2);
  EXPECT_EQ(list[1].inputLength, 9);
  EXPECT_EQ(list[1].outputLength, 9);

  // The box's side of /dev/hidraw1 is a pseudo-terminal in raw mode.
  int master = -1, slave = -1;
  char name[256];
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  termios raw{};
  tcgetattr(slave, &raw);
  cfmakeraw(&raw);
  tcsetattr(slave, TCSANOW, &raw);
  fs::create_symlink(name, dev / "hidraw1");
  std::string reason;
  auto device = system.Open(list[1], reason);
  ASSERT_NE(device, nullptr) << reason;
  const std::vector<uint8_t> inquiry = {0, 0, 3, 0, 0, 0, 0, 0, 0};
  ASSERT_EQ(device->Write(inquiry, 1000), HidStatus::Done);
  uint8_t got[16] = {};
  ASSERT_EQ(read(master, got, sizeof got), 9);  // the report ID goes first
  EXPECT_EQ(std::vector<uint8_t>(got, got + 9), inquiry);
  std::vector<uint8_t> report;
  EXPECT_EQ(device->Read(report, 0), HidStatus::Pending);
  const uint8_t answer[8] = {3, 42, 0, 0, 0, 0, 0, 0};  // unnumbered: no ID on the wire
  ASSERT_EQ(write(master, answer, sizeof answer), 8);
  ASSERT_EQ(device->Read(report, 1000), HidStatus::Done);
  EXPECT_EQ(report, (std::vector<uint8_t>{0, 3, 42, 0, 0, 0, 0, 0, 0}));
  close(slave);
  close(master);  // unplugged
  EXPECT_EQ(device->Read(report, 1000), HidStatus::Gone);
  EXPECT_EQ(system.Open(list[0], reason), nullptr);  // no node at all
  EXPECT_EQ(reason, "No such file or directory");
}

// A hidraw node in dir whose writes go through `write` (the kernel's part).
std::unique_ptr<platform::HidDevice> NodeWritingWith(const test::TempDir& dir, platform::HidrawSystem::WriteCall write) {
  platform::HidrawSystem system(dir.File("sys"), dir.File("dev"), std::move(write));
  std::filesystem::create_directories(dir.File("dev"));
  test::WriteWholeFile(dir.File("dev/hidraw0"), "");
  std::string reason;
  return system.Open({dir.File("dev/hidraw0"), 0x1209, 2, 9, 9, 0}, reason);
}

// The hidraw node of a box that takes no reports: the write blocks in the
// kernel (as usbhid's does, whatever O_NONBLOCK says) until released.
TEST(Hidraw, AWriteThatBlocksNeverHoldsTheCaller) {
  test::TempDir dir;
  std::mutex m;
  std::condition_variable released;
  bool release = false;
  auto device = NodeWritingWith(dir, [&](int, const void*, size_t n) {
    std::unique_lock lock(m);
    released.wait(lock, [&] { return release; });
    return static_cast<ssize_t>(n);
  });
  ASSERT_NE(device, nullptr);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(device->Write(std::vector<uint8_t>(9, 0), 50), platform::HidStatus::Pending);
  EXPECT_EQ(device->Write(std::vector<uint8_t>(9, 0), 50), platform::HidStatus::Pending);  // the first still holds it
  device.reset();  // closing never waits for it either
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(took, 0.5);
  {
    std::lock_guard lock(m);
    release = true;
  }
  released.notify_all();
}

// A box slow to take a report (30 ms): the next write waits for the one
// still going and goes out, never turned away.
TEST(Hidraw, AWriteStillGoingDelaysTheNextNeverRefusesIt) {
  test::TempDir dir;
  std::atomic<int> written{0};
  auto device = NodeWritingWith(dir, [&](int, const void*, size_t n) {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ++written;
    return static_cast<ssize_t>(n);
  });
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->Write(std::vector<uint8_t>(9, 0), 0), platform::HidStatus::Pending);  // taken, going on
  for (int i = 0; i < 3; ++i) EXPECT_EQ(device->Write(std::vector<uint8_t>(9, 0), 500), platform::HidStatus::Done);
  EXPECT_EQ(written, 4);
}

TEST(HidDescriptor, CountsThatWouldOverflowDescribeNoDevice) {
  // Report size 8 bits and a count of 8192: an 8 KB field.
  const std::vector<uint8_t> field8k = {0x75, 0x08, 0x96, 0x00, 0x20, 0x81, 0x02};
  std::vector<uint8_t> three = field8k, nine = field8k;
  for (int i = 0; i < 2; ++i) three.insert(three.end(), {0x81, 0x02});
  for (int i = 0; i < 8; ++i) nine.insert(nine.end(), {0x81, 0x02});
  struct Case {
    std::vector<uint8_t> bytes;
    int in, out;
  };
  const Case cases[] = {
      {{0x75, 0x08, 0x97, 0xFF, 0xFF, 0xFF, 0x7F, 0x81, 0x02}, 0, 0},                     // 2^31 - 1 bytes in one field
      {{0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x91, 0x02}, 0, 0},  // 2^64 bits
      {nine, 0, 0},                                                                    // 72 KB together
      {three, 3 * 8192 + 1, 0},                                                        // 24 KB is a report
      {{0x75, 0x08, 0x95, 0x00, 0x81, 0x02}, 0, 0},                                    // a count of 0
  };
  for (const Case& c : cases) {
    const auto l = platform::ParseReportDescriptor(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(l.inputLength, c.in);
    EXPECT_EQ(l.outputLength, c.out);
  }
}

}  // namespace
}  // namespace kavon
