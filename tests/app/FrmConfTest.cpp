#include "app/FrmConf.h"

#include <gtest/gtest.h>

#include "app/AppFixture.h"

namespace kavon {
namespace {

using test::AppFixture;

// One serial box that always opens, counting the ports made.
struct FakeSerial : platform::SerialSystem {
  struct Port : platform::SerialPort {
    bool open = false;
    std::string Open(const std::string&, const platform::SerialSettings&) override {
      open = true;
      return {};
    }
    bool IsOpen() const override { return open; }
    std::vector<uint8_t> Read(size_t) override { return {}; }
    bool Write(const uint8_t*, size_t, int) override { return true; }
    bool Lost() const override { return false; }
    void Close() override { open = false; }
  };
  int made = 0;
  bool plugged = true;
  std::vector<platform::SerialDevice> List() override {
    if (!plugged) return {};
    return {{"/dev/ttyUSB7", "/dev/ttyUSB7 (Box)", ""}, {"/dev/ttyUSB8", "/dev/ttyUSB8 (FT232R)", kStable}};
  }
  bool Exists(const std::string& d) override { return plugged && (d == "/dev/ttyUSB7" || d == "/dev/ttyUSB8" || d == kStable); }
  static constexpr const char* kStable = "/dev/serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0";
  std::unique_ptr<platform::SerialPort> NewPort() override {
    ++made;
    return std::make_unique<Port>();
  }
};

struct ConfFixture : AppFixture {
  FakeSerial serial;
  explicit ConfFixture(const std::string& ini)
      : AppFixture(ini, {{"Studio Mic", platform::SimSource::Tone(440, -20)}, {"Line In", platform::SimSource::Silence()}}) {
    Load();
    app->SetSerialSystem(&serial);
  }
  std::string Ini() { return test::ReadWholeFile(dir.File("kavon.ini")); }
};

TEST(FrmConf, OpeningShowsTheStoredValuesAlsoOfChannelsNotInUse) {
  ConfFixture f("NumRec=1\nRecPath_5=/srv/five\nRecLevelDB_6=-3\nDevInID_1= studio mic \nDevInID_3=USB Mic\nComBaud=9600\nComNo=1\n"
                "ComName=/dev/ttyUSB7\nAdjustPin_2=5\n");
  FrmConf conf(*f.app, &f.serial);
  const ConfValues v = conf.Load();
  EXPECT_EQ(v.numDev, "2");
  EXPECT_EQ(v.sizeRate, "1.00");
  EXPECT_EQ(v.rates[static_cast<size_t>(v.rate)], "44100");
  EXPECT_EQ(v.hourAdjust, "05:00:00");
  EXPECT_EQ(v.channels[0].device, 0);  // by the loose name rule
  EXPECT_EQ(v.channels[1].device, 0);  // no name: the first device
  EXPECT_EQ(v.channels[2].devices.at(static_cast<size_t>(v.channels[2].device)), "USB Mic");  // unplugged, kept
  EXPECT_EQ(v.channels[4].path, "/srv/five");
  EXPECT_EQ(v.channels[5].level, "-3.00");
  EXPECT_EQ(v.bauds[static_cast<size_t>(v.baud)], "9600");
  EXPECT_EQ(v.comNo, 1);
  EXPECT_EQ(v.comPorts.at(1), "Com1  /dev/ttyUSB7 (Box)");
  EXPECT_EQ(v.adjustPin[1], 5);
  EXPECT_EQ(FrmConf::FormatTimeTyping("053000"), "05:30:00");
  EXPECT_EQ(FrmConf::FormatTimeTyping("05300"), "05300");
}

TEST(FrmConf, OkWritesEveryKeyInItsFormAndAppliesWhatActsAtOnce) {
  ConfFixture f("NumRec=1\nDevInID_2=Line In\n");
  f.app->recording().RecButtonClick(1, 0);
  FrmConf conf(*f.app, &f.serial);
  ConfValues v = conf.Load();
  v.sizeRate = "1.5";
  v.altFont = 0;
  v.numDev = "3";
  v.hourAdjust = "05:30:00";
  v.channels[1].level = "-6";
  v.channels[1].device = -1;  // a choice that matches nothing keeps the stored device
  v.channels[2].path = "/rec/three";
  v.minute = "5";
  v.comNo = 1;
  v.adjustPin[0] = 3;
  ASSERT_TRUE(conf.Ok(v).empty());
  const std::string ini = f.Ini();
  for (const char* line : {"SizeRate=1.50", "AltFont=0", "NumRec=2", "HourAdjust=19800", "RecLevelDB_2=-6.00",
                           "DevInID_2=Line In", "RecPath_3=/rec/three/", "AMinute=5", "ComNo=1",
                           "ComName=/dev/ttyUSB7", "AdjustPin_1=3", "MuonMS=3000", "USBHIDID=0"}) {
    EXPECT_NE(ini.find(std::string("\n") + line + "\n"), std::string::npos) << line;
  }
  EXPECT_EQ(f.state().settings.NumRec, 1);  // the channel count waits for the next start
  EXPECT_NEAR(f.channel(1).RecGain, 0.501, 1e-3);  // the gain acts on the running channel
  EXPECT_EQ(f.state().settings.HourAdjust, 19800);
  EXPECT_EQ(f.serial.made, 1);  // the serial box opened again
  EXPECT_NE(f.state().serial, nullptr);
}

// The box's port as stored stays the box's port: OK with the port
// untouched writes it back as it was (a stable name never becomes a
// ttyUSB number), also while the adapter is unplugged.
TEST(FrmConf, TheStoredPortIsKeptUnlessAnotherIsChosen) {
  for (const bool plugged : {true, false}) {
    SCOPED_TRACE(plugged);
    ConfFixture f(std::string("NumRec=0\nComNo=2\nComName=") + FakeSerial::kStable + "\n");
    f.serial.plugged = plugged;
    FrmConf conf(*f.app, &f.serial);
    ConfValues v = conf.Load();
    if (plugged) {
      EXPECT_EQ(v.comPorts.at(2), std::string("Com2  ") + FakeSerial::kStable + " (ttyUSB8)");
      EXPECT_EQ(v.comNo, 2);
    } else {
      EXPECT_EQ(v.comPorts.at(static_cast<size_t>(v.comNo)), std::string("Com2  ") + FakeSerial::kStable + "（未接続）");
    }
    v.channels[0].level = "-3";
    ASSERT_TRUE(conf.Ok(v).empty());
    EXPECT_NE(f.Ini().find(std::string("\nComName=") + FakeSerial::kStable + "\n"), std::string::npos);
    EXPECT_NE(f.Ini().find("\nComNo=2\n"), std::string::npos);
  }
}

// The dialog opens with the values kavon uses: a stored value out of range
// (replaced at start) is shown as the value used, with a note, and never
// blocks OK when the user changed something else.
TEST(FrmConf, AStoredValueOutOfRangeShowsTheValueUsedAndNeverBlocksOk) {
  ConfFixture f("NumRec=0\nMuonInLevel=97\nMuonMS=0\n");
  FrmConf conf(*f.app, &f.serial);
  ConfValues v = conf.Load();
  EXPECT_EQ(v.muonInLevel, "-50");
  EXPECT_EQ(v.muonMS, "3000");
  EXPECT_EQ(v.notes, (std::vector<std::string>{"MuonInLevel=97 → -50", "MuonMS=0 → 3000"}));
  v.channels[0].level = "-6";
  ASSERT_TRUE(conf.Ok(v).empty());
  EXPECT_NE(f.Ini().find("\nMuonInLevel=-50\n"), std::string::npos);
  // The levels' bounds themselves: 0 dB is the highest a level can be.
  v = conf.Load();
  for (const auto& [level, refused] : {std::pair{"0", false}, std::pair{"1", true}, std::pair{"-110", false}, std::pair{"-111", true}}) {
    v.muonOutLevel = level;
    EXPECT_EQ(conf.Check(v).size(), refused ? 1u : 0u) << level;
  }
}

TEST(FrmConf, ARefusedValueStoresNothing) {
  ConfFixture f("NumRec=0\n");
  FrmConf conf(*f.app, &f.serial);
  ConfValues v = conf.Load();
  const std::string before = f.Ini();
  v.sizeRate = "2";
  v.muonMS = "abc";
  v.channels[0].level = "50";
  v.minute = "60";
  v.numDev = "9";
  v.hourAdjust = "24:00:00";
  const auto refused = conf.Ok(v);
  std::vector<std::string> keys;
  for (const auto& r : refused) keys.push_back(r.field);
  EXPECT_EQ(keys, (std::vector<std::string>{"NumRec", "RecLevelDB_1", "MuonMS", "HourAdjust", "AMinute"}));
  EXPECT_EQ(f.Ini(), before);
  EXPECT_EQ(f.serial.made, 0);
  EXPECT_NE(refused[1].message.find("レベル 1"), std::string::npos);
}

}  // namespace
}  // namespace kavon
