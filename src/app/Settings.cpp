#include "app/Settings.h"

#include <algorithm>
#include <iterator>
#include <climits>
#include <cmath>

#include "audio/WaveDevices.h"
#include "common/FileHelpers.h"
#include "common/Helpers.h"
#include "common/Text.h"

namespace kavon {
namespace {

// Gains and levels: -110 dB is silence; more than +40 dB of gain is no
// longer a level but a mistake, and a detection level above full scale
// could never be reached.
constexpr double kMinDb = -110;
constexpr double kMaxGainDb = 40;
constexpr int kMaxLevelDb = 0;
// Pre-roll comes from buffers already captured: at most four seconds.
constexpr int kMaxPreRollMS = 4000;

bool IsStandardRate(int rate) {
  return std::find(std::begin(kStandardRates), std::end(kStandardRates), rate) != std::end(kStandardRates);
}

// An int setting that must pass ok; a value that does not gives def and is
// noted.
template <typename Ok>
int CheckedInt(SettingsStore& store, const std::string& key, int def, Settings& s, Ok ok) {
  const int v = ReadIntSetting(store, key, def);
  if (ok(v)) return v;
  s.rejected.push_back(key + "=" + std::to_string(v) + " (" + std::to_string(def) + ")");
  return def;
}

}  // namespace

std::string ChannelKey(const std::string& base, int ch) { return base + "_" + std::to_string(ch + 1); }

int ReadIntSetting(SettingsStore& store, const std::string& key, int def) {
  const auto v = ParseInteger(store.ReadSetting(key, std::to_string(def)), INT_MIN, INT_MAX);
  return v ? static_cast<int>(*v) : def;
}

double ReadFloatSetting(SettingsStore& store, const std::string& key, double def) {
  const auto v = ParseNumber(store.ReadSetting(key, FormatFixed(def, 2)));
  return v && std::isfinite(*v) ? *v : def;
}

Settings ReadAllSettings(SettingsStore& store) {
  Settings s;
  s.LogError = ReadIntSetting(store, "LogError", 1);
  s.ErrorCatch = ReadIntSetting(store, "ErrorCatch", 0);
  s.AltFont = ReadIntSetting(store, "AltFont", 1);
  s.DebugLogPath = store.ReadRegValue("DebugLogPath", "", "common");
  s.NumRec = std::clamp(ReadIntSetting(store, "NumRec", 3), 0, kMaxChannels - 1);
  s.HourAdjust = CheckedInt(store, "HourAdjust", 18000, s, [](int v) { return v >= 0 && v <= 86399; });
  s.DeleteDate = ReadIntSetting(store, "DeleteDate", 0);
  for (int ch = 0; ch <= s.NumRec; ++ch) {
    const std::string path = store.ReadSetting(ChannelKey("RecPath", ch), "");
    s.RecPath[ch] = path.empty() ? "" : Backslash(path);
    s.UseMuonIn[ch] = ReadIntSetting(store, ChannelKey("UseMuonIn", ch), 0) != 0 ? 1 : 0;
    s.UseMuonOut[ch] = ReadIntSetting(store, ChannelKey("UseMuonOut", ch), 0) != 0 ? 1 : 0;
    s.DevInName[ch] = store.ReadSetting(ChannelKey("DevInID", ch), "");
    const std::string levelKey = ChannelKey("RecLevelDB", ch);
    s.RecLevelDB[ch] = ReadFloatSetting(store, levelKey, 0.0);
    if (s.RecLevelDB[ch] < kMinDb || s.RecLevelDB[ch] > kMaxGainDb) {
      s.rejected.push_back(levelKey + "=" + FormatFixed(s.RecLevelDB[ch], 2) + " (0)");
      s.RecLevelDB[ch] = 0.0;
    }
    s.RecGain[ch] = DBToLin(s.RecLevelDB[ch]);
  }
  s.nFreq = CheckedInt(store, "nFreq", 44100, s, IsStandardRate);
  s.SizeRate = ReadFloatSetting(store, "SizeRate", 1.0);
  if (!(s.SizeRate > 0) || !std::isfinite(s.SizeRate)) s.SizeRate = 1.0;
  const auto isLevel = [](int v) { return v >= kMinDb && v <= kMaxLevelDb; };
  s.MuonInLevel = CheckedInt(store, "MuonInLevel", -50, s, isLevel);
  s.MuonOutLevel = CheckedInt(store, "MuonOutLevel", -60, s, isLevel);
  s.MuonMS = ReadIntSetting(store, "MuonMS", 3000);
  s.AdjustPin_1 = std::max(0, ReadIntSetting(store, "AdjustPin_1", 0));
  s.AdjustPin_2 = std::max(0, ReadIntSetting(store, "AdjustPin_2", 0));
  s.TimerOn = ReadIntSetting(store, "TimerOn", 1) == 1 ? 1 : 0;  // only 1 arms the timer
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
  s.ComName = store.ReadSetting("ComName", "");
  s.LangMode = ReadIntSetting(store, "LangMode", 0);
  s.SyncWrites = ReadIntSetting(store, "SyncWrites", 1) == 0 ? 0 : 1;
  s.ResumeTimer = ReadIntSetting(store, "ResumeTimer", 1) == 0 ? 0 : 1;
  s.DeadAirSec = CheckedInt(store, "DeadAirSec", 0, s, [](int v) { return v >= 0 && v <= 86400; });
  s.DiskWarnMin = CheckedInt(store, "DiskWarnMin", 30, s, [](int v) { return v >= 0 && v <= 100000; });
  s.HttpListen = store.ReadSetting("HttpListen", "");
  const int preRoll = ReadIntSetting(store, "PreRollMS", 0);
  s.PreRollMS = std::clamp(preRoll, 0, kMaxPreRollMS);
  if (s.PreRollMS != preRoll) {
    s.rejected.push_back("PreRollMS=" + std::to_string(preRoll) + " (" + std::to_string(s.PreRollMS) + ")");
  }
  return s;
}

}  // namespace kavon
