#include "audio/WaveDevices.h"

#include <gtest/gtest.h>

#include "platform/sim/FakeClock.h"
#include "common/Log.h"
#include "platform/sim/SimWaveIn.h"
#include "support/TempDir.h"

namespace kavon {
namespace {

using platform::SimSource;

TEST(WaveDevices, SameDeviceNameLooseRule) {
  struct Case {
    const char* a;
    const char* b;
    int same;
  };
  const Case cases[] = {
      {"Microphone (2- USB Audio Device)", "Microphone (USB Audio Device)", 1},
      {"Microphone (USB Audio Device)", "Microphone (2- USB Audio Device)", 1},
      {"MIC (3- usb)", "mic (usb)", 1},
      {"2- Line In", "Line In", 1},
      {"(1) Line In", "Line In", 1},
      {"  12 Line", "Line", 1},
      {"Line In", "Line Out", 0},
      {"Mic (6- USB)", "Mic (USB)", 0},  // only 0 to 5 are duplicate numbers
      {"abcd", "bcd", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(SameDeviceName(c.a, c.b), c.same) << c.a << " | " << c.b;
}

TEST(WaveDevices, GetDeviceIdResolvesNamesNumbersAndFallsBack) {
  platform::FakeClock clock;
  platform::SimWaveIn wave(clock, {{"Line In (Studio Card)", SimSource::Silence()},
                                   {"Microphone (2- USB Audio Device)", SimSource::Silence()},
                                   {"Mic 3", SimSource::Silence()},
                                   {"Line In (Realtek High Definition Audio)", SimSource::Silence()},
                                   {"Stereo Mix (Realtek High Definition Audio)", SimSource::Silence()},
                                   {"Stereo Mix (Realtek High Definition Audio) 2", SimSource::Silence()}});
  struct Case {
    const char* name;
    int id;
  };
  const Case cases[] = {
      {"", platform::kWaveMapper},  // no choice: the system's default device
      {"  LINE IN (studio card) ", 0},
      {"Microphone (2- USB Audio Device)", 1},
      {"Microphone (USB Audio Device)", 1},  // re-plugged: found by the loose rule
      {"2", 2},
      {"7", platform::kWaveMapper},  // digits beyond the devices are a name, not a number
      {"-1", platform::kWaveMapper},
      {"Gone Device", platform::kWaveMapper},
      // Saved when winmm cut names to 31 characters: the one device it starts.
      {"Line In (Realtek High Definitio", 3},
      {"Stereo Mix (Realtek High Defini", platform::kWaveMapper},  // the start of two
      {"Line In (Realtek High Defin", platform::kWaveMapper},     // not 31 characters
  };
  for (const auto& c : cases) EXPECT_EQ(GetDeviceID(wave, c.name), c.id) << c.name;
  EXPECT_EQ(GetDeviceName(wave, 2), "Mic 3");
  EXPECT_EQ(GetDeviceName(wave, 6), "");
  EXPECT_EQ(GetDeviceName(wave, -1), "");

  const ComboData combo = FillDeviceCombo(wave, "microphone (usb audio device)");
  EXPECT_EQ(combo.items.size(), 6u);
  EXPECT_EQ(combo.selected, 1);
  EXPECT_EQ(FillDeviceCombo(wave, "").selected, -1);

  platform::SimWaveIn none(clock, {});
  EXPECT_EQ(GetDeviceID(none, "anything"), 0);
  EXPECT_TRUE(FillDeviceCombo(none, "x").items.empty());
  EXPECT_EQ(WaveErrorText(none, platform::kWaveOk), "");
  EXPECT_FALSE(WaveErrorText(none, platform::kWaveBadFormat).empty());
}

TEST(WaveDevices, ReportWaveErrorLogsOrQueuesTheText) {
  test::TempDir dir;
  platform::FakeClock clock;
  clock.SetLocal(2024, 3, 1, 10, 0, 0);
  Log log(clock);
  log.SetFolder(dir.path());
  platform::SimWaveIn wave(clock, {});
  std::deque<std::string> messages;
  EXPECT_EQ(ReportWaveError(wave, platform::kWaveOk, false, log, messages), 0);
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(ReportWaveError(wave, platform::kWaveAllocated, false, log, messages), 1);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages.front(), wave.ErrorText(platform::kWaveAllocated));
  EXPECT_EQ(ReportWaveError(wave, platform::kWaveDeviceLost, true, log, messages), 1);
  EXPECT_EQ(messages.size(), 1u);
  EXPECT_EQ(test::ReadWholeFile(dir.File("kavon20240301.err")),
            "2024/03/01 10:00:00 " + wave.ErrorText(platform::kWaveDeviceLost) + "\r\n");
}

TEST(WaveDevices, FrequencyList) {
  const ComboData d = FillFreqCombo(44100, 8000, 48000);
  const std::vector<std::string> want = {"48000", "44100", "32000", "24000", "22050", "16000", "12000", "11025", "8000"};
  EXPECT_EQ(d.items, want);
  EXPECT_EQ(d.selected, 1);
  EXPECT_EQ(FillFreqCombo(50000, 8000, 48000).selected, -1);
  EXPECT_EQ(FillFreqCombo(192000, 0, 0).items.size(), 12u);
}

}  // namespace
}  // namespace kavon
