#pragma once
// Every setting of the program held in memory, read from the store with its
// default. A stored text that is not a number of the key's type reads as the
// key's default; values that would break the program are bounded on reading.
#include <array>
#include <string>
#include <vector>

#include "app/SettingsStore.h"

namespace kavon {

inline constexpr int kMaxChannels = 8;

struct Settings {
  int LogError = 1;
  int ErrorCatch = 0;
  int AltFont = 1;
  std::string DebugLogPath;
  int NumRec = 3;
  int HourAdjust = 18000;
  int DeleteDate = 0;
  std::array<std::string, kMaxChannels> RecPath{};
  std::array<int, kMaxChannels> UseMuonIn{};
  std::array<int, kMaxChannels> UseMuonOut{};
  std::array<std::string, kMaxChannels> DevInName{};  // the stored DevInID_n text
  std::array<double, kMaxChannels> RecLevelDB{};
  std::array<double, kMaxChannels> RecGain{1, 1, 1, 1, 1, 1, 1, 1};
  int nFreq = 44100;
  double SizeRate = 1.0;
  int MuonInLevel = -50;
  int MuonOutLevel = -60;
  int MuonMS = 3000;
  int AdjustPin_1 = 0;
  int AdjustPin_2 = 0;
  int TimerOn = 1;
  int UseBCD = 0;
  int NoAdjustSec = 120;
  int FrmTimerVisible = 0;
  int USBHIDID = 0;
  int ComNo = 0;
  std::string ComBaud = "38400";
  // The serial device's own path, stored beside ComNo: it names the port
  // when it exists, wherever the device now stands in the list.
  std::string ComName;
  int AHour = 0;
  int AMinute = 0;
  int ASecond = 0;
  int AdjustMode = 1;
  int LangMode = 0;
  // 1: each flush forces audio and header to the disk (power cuts); 0
  // leaves it to the kernel.
  int SyncWrites = 1;
  // Unattended operation: a missed timer start whose recording would still
  // run is started for what is left (1); warnings for dead air (seconds,
  // 0 off) and for free space below what the open channels need for that
  // many minutes; audio kept from before the first loud frame (0...4000 ms).
  int ResumeTimer = 1;
  int DeadAirSec = 0;
  int DiskWarnMin = 30;
  int PreRollMS = 0;
  // host:port of the HTTP endpoint for monitoring ("" = off).
  std::string HttpListen;
  // "key=value (used)" of every stored value that was out of bounds, with
  // the value used instead, for one log line each at startup.
  std::vector<std::string> rejected;

  int ChannelCount() const { return NumRec + 1; }
};

// Typed reads over the store: the key's default when the text is missing or
// not a number of the type. The bounds of each key are ReadAllSettings's.
int ReadIntSetting(SettingsStore& store, const std::string& key, int def);
double ReadFloatSetting(SettingsStore& store, const std::string& key, double def);

// Reads every key in the order the startup needs them.
Settings ReadAllSettings(SettingsStore& store);

// The key of channel ch (0-based): "RecPath" -> "RecPath_1".
std::string ChannelKey(const std::string& base, int ch);

}  // namespace kavon
