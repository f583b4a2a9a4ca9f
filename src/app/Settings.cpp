#include "app/Settings.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "common/FileHelpers.h"
#include "common/Helpers.h"
#include "common/Text.h"

namespace kavon {
namespace {

// Rates beyond this would ask for gigabytes of buffers; no interface runs
// faster.
constexpr int kMaxRate = 768000;

int BoundedInt(int value, int lo, int hi, int fallback) { return value < lo || value > hi ? fallback : value; }

}  // namespace

std::string ChannelKey(const std::string& base, int ch) { return base + "_" + std::to_string(ch + 1); }

int ReadIntSetting(SettingsStore& store, const std::string& key, int def) {
  const auto v = ParseInteger(store.ReadSetting(key, std::to_string(def)), INT_MIN, INT_MAX);
  return v ? static_cast<int>(*v) : def;
}

double ReadFloatSetting(SettingsStore& store, const std::string& key, double def) {
  const auto v = ParseNumber(store.ReadSetting(key, FormatFixed(def, 2)));
  return v ? *v : def;
}

Settings ReadAllSettings(SettingsStore& store) {
  Settings s;
  s.LogError = ReadIntSetting(store, "LogError", 1);
  s.ErrorCatch = ReadIntSetting(store, "ErrorCatch", 0);
  s.AltFont = ReadIntSetting(store, "AltFont", 1);
  s.DebugLogPath = store.ReadRegValue("DebugLogPath", "", "common");
  s.NumRec = std::clamp(ReadIntSetting(store, "NumRec", 3), 0, kMaxChannels - 1);
  s.HourAdjust = BoundedInt(ReadIntSetting(store, "HourAdjust", 18000), 0, 86399, 18000);
  s.DeleteDate = ReadIntSetting(store, "DeleteDate", 0);
  for (int ch = 0; ch <= s.NumRec; ++ch) {
    const std::string path = store.ReadSetting(ChannelKey("RecPath", ch), "");
    s.RecPath[ch] = path.empty() ? "" : Backslash(path);
    s.UseMuonIn[ch] = ReadIntSetting(store, ChannelKey("UseMuonIn", ch), 0) != 0 ? 1 : 0;
    s.UseMuonOut[ch] = ReadIntSetting(store, ChannelKey("UseMuonOut", ch), 0) != 0 ? 1 : 0;
    s.DevInName[ch] = store.ReadSetting(ChannelKey("DevInID", ch), "");
    s.RecLevelDB[ch] = ReadFloatSetting(store, ChannelKey("RecLevelDB", ch), 0.0);
    s.RecGain[ch] = DBToLin(s.RecLevelDB[ch]);
  }
  s.nFreq = BoundedInt(ReadIntSetting(store, "nFreq", 44100), 1, kMaxRate, 44100);
  s.SizeRate = ReadFloatSetting(store, "SizeRate", 1.0);
  if (!(s.SizeRate > 0) || !std::isfinite(s.SizeRate)) s.SizeRate = 1.0;
  s.MuonInLevel = ReadIntSetting(store, "MuonInLevel", -50);
  s.MuonOutLevel = ReadIntSetting(store, "MuonOutLevel", -60);
  s.MuonMS = ReadIntSetting(store, "MuonMS", 3000);
  s.AdjustPin_1 = std::max(0, ReadIntSetting(store, "AdjustPin_1", 0));
  s.AdjustPin_2 = std::max(0, ReadIntSetting(store, "AdjustPin_2", 0));
  s.TimerOn = ReadIntSetting(store, "TimerOn", 1) != 0 ? 1 : 0;
  s.UseBCD = ReadIntSetting(store, "UseBCD", 0);
  s.AHour = ReadIntSetting(store, "AHour", 0);
  s.AMinute = ReadIntSetting(store, "AMinute", 0);
  s.ASecond = ReadIntSetting(store, "ASecond", 0);
  s.AdjustMode = ReadIntSetting(store, "AdjustMode", 1);
  s.NoAdjustSec = ReadIntSetting(store, "NoAdjustSec", 120);
  s.FrmTimerVisible = ReadIntSetting(store, "FrmTimerVisible", 0);
  s.USBHIDID = ReadIntSetting(store, "USBHIDID", 0);
  s.ComNo = ReadIntSetting(store, "ComNo", 0);
  s.ComBaud = store.ReadSetting("ComBaud", "38400");
  s.LangMode = ReadIntSetting(store, "LangMode", 0);
  return s;
}

}  // namespace kavon
