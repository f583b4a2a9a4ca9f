// The HID control box and the jog controller: the exchanges over the
// simulated devices under the fake clock, and the box as the tick uses it.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "app/AppFixture.h"
#include "devices/C_HID.h"
#include "platform/sim/SimHid.h"

namespace kavon {
namespace {

using platform::SimHidState;
using platform::SimHidSystem;
using test::AppFixture;
using test::Count;

struct Hid {
  test::TempDir dir;
  platform::FakeClock clock;
  Log log{clock};
  SimHidSystem system{&clock};
  C_HID hid{system, clock, log};
  Hid() { log.SetFolder(dir.path() + "/"); }
  std::string Errors() { return test::ReadWholeFile(dir.File("kavon19700101.err")); }
};

TEST(C_HID, FindsOnlyADeviceThatCarriesTheExchanges) {
  Hid h;
  h.system.AddBox(0x1234, 1);                         // another vendor
  h.system.AddBox(C_HID::BoxVendorID, 1, 2, 2);       // reports too short for the exchanges
  SimHidState& denied = h.system.AddBox(C_HID::BoxVendorID, 1);
  denied.denied = true;
  EXPECT_EQ(h.hid.HidInit(C_HID::kModeBox, 1, 1), 0);
  EXPECT_NE(h.hid.OpenError().find("Permission denied"), std::string::npos);
  SimHidState& box = h.system.AddBox(C_HID::BoxVendorID, 1);
  EXPECT_EQ(h.hid.HidInit(C_HID::kModeBox, 0, 1), 1);  // product IDs below 2 mean 1
  EXPECT_EQ(h.hid.HIDFilename(), box.info.path);
  EXPECT_EQ(h.hid.ReceiveSize(), 9);
  SimHidState& second = h.system.AddBox(C_HID::BoxVendorID, 1);
  EXPECT_EQ(h.hid.HidInit(C_HID::kModeBox, 1, 1, 2), 1);  // the third that matched
  EXPECT_EQ(h.hid.HIDFilename(), second.info.path);
  EXPECT_EQ(h.hid.HidInit(C_HID::kModeBox, 1, 1, -1, box.info.path), 1);
  EXPECT_EQ(h.hid.HIDFilename(), box.info.path);
  EXPECT_EQ(h.hid.HidInit(7, 1, 1), 0);
  EXPECT_EQ(h.hid.HidInit(C_HID::kModeShuttle, 0, 1), 0);
  h.system.AddShuttle();
  EXPECT_EQ(h.hid.HidInit(C_HID::kModeShuttle, 0, 1), 1);
  h.hid.HidClose();
  EXPECT_EQ(h.hid.HIDFilename(), "");
  h.hid.ReadRetrialCount(0);
  EXPECT_EQ(h.hid.ReadRetrialCount(), 1);
}

TEST(C_HID, ReadsAndWritesOfTheBoxWaitingForEachAnswer) {
  Hid h;
  SimHidState& box = h.system.AddBox(C_HID::BoxVendorID, 3);
  ASSERT_EQ(h.hid.HidInit(C_HID::kModeBox, 3, 1), 1);
  box.codes = {7, 255, 255};
  EXPECT_EQ(h.hid.VantRead(), 7);
  EXPECT_EQ(h.hid.VantRead(), 0);  // nothing: the port keeps its last value
  EXPECT_EQ(h.hid.LastPortValue(0), 7);
  EXPECT_EQ(h.hid.VantRead(0, 1), 255);  // asked to, "nothing" is stored
  EXPECT_EQ(h.hid.LastPortValue(0), 255);
  EXPECT_EQ(h.hid.VantRead(0, 0, 8), -1);  // no port 8
  EXPECT_EQ(h.hid.VantRead(0, 0, -1), -1);

  EXPECT_EQ(h.hid.VantWrite(0), 0);
  EXPECT_EQ(h.hid.VantWrite(255), 0);
  EXPECT_EQ(h.hid.VantWrite(105, 2), 1);
  EXPECT_EQ(box.written, (std::vector<std::pair<int, int>>{{105, 2}}));

  // No answer: one wait of the time-out, then -1; the answer that comes
  // late is decoded by the next read, not lost.
  box.silent = true;
  h.hid.TimeoutMS(10);  // held at 50
  const double before = h.clock.SteadySeconds();
  EXPECT_EQ(h.hid.VantRead(), -1);
  EXPECT_NEAR(h.clock.SteadySeconds() - before, 0.05, 1e-6);
  EXPECT_NE(h.Errors().find("HIDIO GetOverlappedResult TimeOut pIsRead=1 pOl=1 tTakes=50 c_TimeoutMS=50"),
            std::string::npos);
  EXPECT_NE(h.Errors().find("HID ReadRequest err1"), std::string::npos);
  box.input.push_back({0, 0, 9, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(h.hid.VantRead(), 9);
  box.silent = false;
  box.wrongPort = true;
  EXPECT_EQ(h.hid.VantRead(), -1);
  EXPECT_EQ(Count(h.Errors(), "HID Port Different"), 1);
  box.wrongPort = false;

  // Unplugged: the exchange fails at once, without waiting out the time-out.
  box.present = false;
  const double unplugged = h.clock.SteadySeconds();
  EXPECT_EQ(h.hid.VantRead(), -1);
  EXPECT_TRUE(h.hid.Lost());
  EXPECT_EQ(h.clock.SteadySeconds(), unplugged);
  EXPECT_EQ(h.hid.VantWrite(5), 0);
}

TEST(C_HID, SpreadModeNeverWaitsAndGivesUpAfterItsRetries) {
  Hid h;
  SimHidState& box = h.system.AddBox(C_HID::BoxVendorID, 1);
  ASSERT_EQ(h.hid.HidInit(C_HID::kModeBox, 1, 2), 1);
  box.codes = {4};
  EXPECT_EQ(h.hid.VantRead(), 4);
  EXPECT_EQ(box.inquiries, 1);

  box.silent = true;
  h.hid.ReadRetrialCount(2);
  const double start = h.clock.SteadySeconds();
  std::vector<int> results;
  for (int i = 0; i < 9; ++i) results.push_back(h.hid.VantRead(1));
  EXPECT_EQ(h.clock.SteadySeconds(), start);
  // Three calls per abandoned exchange; the first two abandons are silent.
  EXPECT_EQ(results, (std::vector<int>{4, 4, 4, 4, 4, 4, 4, 4, -1}));
  EXPECT_NE(h.Errors().find("HID ReadTried Over c_ErrorLoop=3 ReadTried=3"), std::string::npos);

  // An answer that arrives between calls is taken, and the next inquiry
  // goes out at once.
  box.silent = false;
  const int inquiries = box.inquiries;
  EXPECT_EQ(h.hid.VantRead(), 0);  // this call's inquiry
  EXPECT_EQ(box.inquiries, inquiries + 1);

  // A write waits for the outstanding answer and keeps it for the next read.
  box.silent = true;
  EXPECT_EQ(h.hid.VantRead(), 0);  // inquiry out, answer awaited
  box.input.push_back({0, 0, 12, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(h.hid.VantWrite(101), 1);
  EXPECT_EQ(h.hid.VantRead(), 12);
}

TEST(C_HID, JogControllerCodes) {
  Hid h;
  SimHidState& jog = h.system.AddShuttle();
  ASSERT_EQ(h.hid.HidInit(C_HID::kModeShuttle, 0, 1), 1);
  struct Step {
    std::vector<uint8_t> report;  // ID, ring, jog, spare, buttons low, buttons high
    std::string code;
  };
  const Step steps[] = {
      {{0, 3, 250, 0, 0, 0}, ""},      // the first report: no ring or jog code yet
      {{0, 3, 3, 0, 0, 0}, "A000"},    // 250 -> 3 wraps forward
      {{0, 3, 250, 0, 0, 0}, "A001"},  // and back
      {{0, 3, 252, 0, 0, 0}, "A000"},
      {{0, 3, 12, 0, 0, 0}, "A001"},  // 252 -> 12 counts as 240 back
      {{0, 7, 12, 0, 0, 0}, "B007"},
      {{0, 255, 12, 0, 0, 0}, "C001"},
      {{0, 249, 12, 0, 0, 0}, "C007"},
      {{0, 0, 12, 0, 0, 0}, "B000"},
      {{0, 0, 14, 0, 4, 0}, "D003"},  // a button with a jog step: the button, the jog value kept
      {{0, 0, 14, 0, 4, 0}, ""},      // held: once
      {{0, 0, 15, 0, 0, 0}, "A000"},
      {{0, 0, 15, 0, 4, 0}, "D003"},  // released and pressed again
      {{0, 0, 15, 0, 0, 32}, "D010"},
      {{0, 0, 15, 0, 0, 2}, "D012"},
      {{0, 0, 15, 0, 0, 3}, ""},  // two buttons at once: no code
  };
  EXPECT_EQ(h.hid.ShuttlePro2Read(), "");  // nothing arrived
  for (const Step& s : steps) {
    jog.input.push_back(s.report);
    EXPECT_EQ(h.hid.ShuttlePro2Read(), s.code) << int(s.report[1]) << " " << int(s.report[2]);
  }
  // Reports that arrive while the retries run out are still decoded.
  h.hid.ReadRetrialCount(1);
  EXPECT_EQ(h.hid.ShuttlePro2Read(), "");
  jog.input.push_back({0, 1, 15, 0, 0, 0});
  EXPECT_EQ(h.hid.ShuttlePro2Read(), "B001");
}

// The box as the tick uses it: codes start channels, lamps go back, and a
// box that goes away or stops answering never holds up the tick.
struct BoxApp : AppFixture {
  SimHidSystem system{&clock};
  SimHidState* box = nullptr;
  explicit BoxApp(bool present = true, uint8_t reportId = 0) : AppFixture("NumRec=1\nUSBHIDID=2\n") {
    box = &system.AddBox(C_HID::BoxVendorID, 2, 9, 9, reportId);
    box->present = present;
    hidSystem = &system;
    Load(false);
  }
};

TEST(HidBox, CodesStartChannelsLampsGoBackAndExitTurnsThemOff) {
  BoxApp f;
  EXPECT_NE(f.LogText().find("HID " + f.box->info.path), std::string::npos);
  f.box->codes = {1};
  f.Run(0.2);
  EXPECT_EQ(f.channel(0).IsOpen, 1);
  ASSERT_GE(f.box->written.size(), 2u);
  EXPECT_EQ(f.box->written.end()[-2], (std::pair<int, int>{1, 0}));  // channel 1: record lamp on,
  EXPECT_EQ(f.box->written.end()[-1], (std::pair<int, int>{105, 0}));  // stop lamp off
  f.box->codes = {5};
  f.Run(0.2);
  EXPECT_EQ(f.channel(0).IsOpen, 0);
  f.box->written.clear();
  f.app->Unload();
  std::vector<int> lamps;
  for (const auto& [value, port] : f.box->written) lamps.push_back(value);
  const std::vector<int> off = {101, 102, 103, 104, 105, 106, 107, 108};
  EXPECT_NE(std::search(lamps.begin(), lamps.end(), off.begin(), off.end()), lamps.end());
}

TEST(HidBox, UnpluggedSilentAndMissingBoxes) {
  BoxApp f;
  f.box->present = false;
  f.Run(3);
  EXPECT_EQ(Count(f.ErrText(), "HID 切断"), 1);
  EXPECT_EQ(f.state().hidProblem, "HID 切断");
  const int reads = f.box->reads;
  f.Run(3);
  EXPECT_EQ(f.box->reads, reads);  // not polled while it is away
  f.box->present = true;
  f.box->codes = {2};
  f.Run(1.5);
  EXPECT_NE(f.LogText().find("HID 接続"), std::string::npos);
  EXPECT_EQ(f.channel(1).IsOpen, 1);
  EXPECT_EQ(f.state().hidProblem, "");

  // A box that stops answering: three waits, then one ask every 5 s.
  f.box->silent = true;
  const int inquiries = f.box->inquiries;
  f.Run(10);
  EXPECT_LE(f.box->inquiries - inquiries, 6);
  EXPECT_EQ(Count(f.ErrText(), "HID 応答なし"), 1);
  f.box->silent = false;
  f.Run(6);
  EXPECT_NE(f.LogText().find("HID 応答回復"), std::string::npos);

  // Not there at start: the message, and it is found once plugged in.
  BoxApp missing(false);
  EXPECT_EQ(missing.state().messages.front(), "tarvelinHID not found");
  EXPECT_NE(missing.ErrText().find("tarvelinHID not found"), std::string::npos);
  missing.box->present = true;
  missing.Run(1.5);
  EXPECT_NE(missing.LogText().find("HID 接続"), std::string::npos);
}

// Every lamp arrives whatever the box: a slow one (each report takes a
// while to go in, and one still going holds up or turns away the next),
// one whose descriptor numbers its reports (it ignores any other ID). Codes
// 1, 5, 1, 5 (record, stop, record, stop channel 1) in quick succession
// leave channel 1's lamps showing it stopped; at exit 101..108 go out in order.
TEST(HidBox, EveryLampArrivesWhateverTheBox) {
  struct Case {
    const char* name;
    int holdMs;  // how long each report takes to go in
    uint8_t reportId;
  };
  const Case cases[] = {{"slow, 30 ms a report", 30, 0},
                        {"slower still, 300 ms a report: the next waits for it", 300, 0},
                        {"numbered reports, ID 1", 0, 1},
                        {"numbered reports, ID 2, slow", 30, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BoxApp f(true, c.reportId);
    f.box->writeHoldMs = c.holdMs;
    f.box->codes = {1, 5, 1, 5};
    f.Run(40);
    EXPECT_EQ(Count(f.LogText(), "録音停止（手動）1"), 2);
    EXPECT_EQ(f.channel(0).IsOpen, 0);
    std::map<int, int> lamp;  // the last code each lamp got
    for (const auto& [value, port] : f.box->written) lamp[value % kLampOff] = value;
    EXPECT_EQ(lamp[1], 101);  // channel 1's record lamp off
    EXPECT_EQ(lamp[5], 5);    // its stop lamp on
    f.box->written.clear();
    f.app->Unload();
    std::vector<int> lamps;
    for (const auto& [value, port] : f.box->written) lamps.push_back(value);
    const std::vector<int> off = {101, 102, 103, 104, 105, 106, 107, 108};
    EXPECT_NE(std::search(lamps.begin(), lamps.end(), off.begin(), off.end()), lamps.end()) << ::testing::PrintToString(lamps);
    EXPECT_EQ(std::count(f.box->reportIds.begin(), f.box->reportIds.end(), c.reportId),
              static_cast<long>(f.box->reportIds.size()));
    // A write held up by a slow box waits: no time-out that took no time.
    EXPECT_EQ(f.ErrText().find("TimeOut pIsRead=0 pOl=2 tTakes=0"), std::string::npos);
  }
  // Writes turned away (a driver refusing one while another is going)
  // stay queued and go out, in order, as soon as the box takes them.
  BoxApp f;
  f.box->written.clear();
  f.box->refuseNext = 2;
  f.state().hid->WriteLamp(101);
  f.state().hid->WriteLamp(5);
  EXPECT_TRUE(f.box->written.empty());
  f.Run(0.2);
  EXPECT_EQ(f.box->written, (std::vector<std::pair<int, int>>{{101, 0}, {5, 0}}));
}

// A box that takes no reports (usbhid keeps each write for 5 s): the tick
// pays at most one time-out per back-off, counted from the end of the try;
// the wedge is logged once when it begins and once when it ends; lamps
// missed meanwhile are sent when it answers again; shutdown is bounded.
TEST(HidBox, AWedgedBoxNeverStallsTheTick) {
  BoxApp f;
  f.box->wedged = true;
  double worst = 0, waited = 0;
  for (int t = 0; t < 1200; ++t) {  // two minutes of ticks
    f.clock.AdvanceMs(100);
    const double before = f.clock.SteadySeconds();
    f.app->Tick();
    const double took = f.clock.SteadySeconds() - before;
    worst = std::max(worst, took);
    waited += took;
  }
  EXPECT_LE(worst, 0.5 + 1e-9);     // one time-out (c_TimeoutMS), never two in a tick
  EXPECT_LE(waited, 24 * 0.5 + 1);  // at most one per 5 s back-off
  f.app->recording().RecButtonClick(0, 0);  // no lamp goes to it meanwhile
  EXPECT_EQ(Count(f.ErrText(), "HID 応答なし"), 1);
  EXPECT_LE(Count(f.ErrText(), "HIDIO"), 2);  // the first failure's line, then quiet
  f.box->wedged = false;
  f.box->written.clear();
  f.Run(6);
  EXPECT_EQ(Count(f.LogText(), "HID 応答回復"), 1);
  // The lamps it missed: channel 1 recording, channel 2 stopped.
  EXPECT_EQ(f.box->written, (std::vector<std::pair<int, int>>{{1, 0}, {105, 0}, {102, 0}, {6, 0}}));
  f.box->wedged = true;
  f.Run(3);
  const double before = f.clock.SteadySeconds();
  f.app->Unload();
  EXPECT_LE(f.clock.SteadySeconds() - before, 0.5 + 1e-9);  // lamps abandoned after one time-out
}

// Answers that came late (a slow box) are taken before the next inquiry,
// so once the box is on time again every code acts at once, none lost.
TEST(HidBox, LateAnswersNeverLeaveKavonBehind) {
  BoxApp f;
  f.box->lateAnswers = 2;
  f.box->codes = {255, 1};  // channel 1's start comes with the second late answer
  f.Run(0.3);
  EXPECT_EQ(f.channel(0).IsOpen, 1);
  f.box->codes = {2};  // on time again: acts at the next tick
  f.Run(0.1);
  EXPECT_EQ(f.channel(1).IsOpen, 1);
  EXPECT_EQ(f.box->input.size(), 0u);  // nothing left behind in the queue
}

TEST(HidBox, AnUnplugIsLoggedOnceAndAReplugGetsTheLamps) {
  BoxApp f;
  f.app->recording().RecButtonClick(1, 0);
  f.box->present = false;
  f.Run(3);
  const std::string err = f.ErrText();
  EXPECT_EQ(Count(err, "HID 切断"), 1);
  EXPECT_EQ(Count(err, "HID InquiryRequst err"), 0);
  f.box->written.clear();
  f.box->present = true;
  f.Run(1.5);
  EXPECT_EQ(f.box->written, (std::vector<std::pair<int, int>>{{101, 0}, {5, 0}, {2, 0}, {106, 0}}));
}

}  // namespace
}  // namespace kavon
