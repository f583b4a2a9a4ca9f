#include "app/FrmConf.h"

#include <cmath>
#include <filesystem>
#include <optional>

#include "audio/WaveDevices.h"
#include "common/FileHelpers.h"
#include "common/Helpers.h"
#include "common/Text.h"
#include "devices/FCT_Serial.h"
#include "platform/Utf8Path.h"
#include "schedule/DateTime.h"

namespace kavon {
namespace {

// Bounds that keep the program working.
constexpr double kMinSizeRate = 0.5, kMaxSizeRate = 4.0;
constexpr int kMaxDeleteDays = 36500;
constexpr double kMinDb = -110, kMaxGainDb = 40;
constexpr int kMinLevelDb = -110, kMaxLevelDb = 0;
constexpr int kMaxMuonMS = 600000;  // ten minutes of silence
constexpr int kMaxNoAdjustSec = 1800;
constexpr int kPinItems = 9;        // "NA", "1" ... "8"

std::optional<double> Number(const std::string& text, double lo, double hi) {
  const auto v = ParseNumber(text);
  if (!v || !std::isfinite(*v) || *v < lo || *v > hi) return std::nullopt;
  return v;
}

std::optional<int> Whole(const std::string& text, int lo, int hi) {
  const auto v = Number(text, lo, hi);
  if (!v || *v != std::floor(*v)) return std::nullopt;
  return static_cast<int>(*v);
}

std::optional<int> DayStart(const std::string& text) {
  if (!IsClockText(Trim(text), 0)) return std::nullopt;
  const int64_t ms = TimeTextToMs(Trim(text));
  if (ms < 0 || ms >= 86400000) return std::nullopt;
  return static_cast<int>(ms / 1000);
}

bool Valid(int index, size_t size) { return index >= 0 && static_cast<size_t>(index) < size; }

// The text field of a key, or nullptr.
std::string* FieldText(ConfValues& v, const std::string& key) {
  if (StartsWith(key, "RecLevelDB_")) {
    const auto n = ParseInteger(key.substr(11), 1, kMaxChannels);
    return n ? &v.channels[static_cast<size_t>(*n - 1)].level : nullptr;
  }
  const std::pair<const char*, std::string ConfValues::*> fields[] = {
      {"SizeRate", &ConfValues::sizeRate},       {"NumRec", &ConfValues::numDev},
      {"DeleteDate", &ConfValues::deleteDate},   {"MuonInLevel", &ConfValues::muonInLevel},
      {"MuonOutLevel", &ConfValues::muonOutLevel}, {"MuonMS", &ConfValues::muonMS},
      {"HourAdjust", &ConfValues::hourAdjust},   {"AMinute", &ConfValues::minute},
      {"ASecond", &ConfValues::second},          {"NoAdjustSec", &ConfValues::noAdjustSec}};
  for (const auto& [name, member] : fields) {
    if (key == name) return &(v.*member);
  }
  return nullptr;
}

}  // namespace

std::string FrmConf::InUse(const std::string& key) const {
  const Settings& s = app_.settings();
  if (key == "MuonInLevel") return std::to_string(s.MuonInLevel);
  if (key == "MuonOutLevel") return std::to_string(s.MuonOutLevel);
  if (key == "HourAdjust") return MsToTimeText(int64_t{s.HourAdjust} * 1000, 2);
  if (key == "NumRec") return std::to_string(s.NumRec + 1);
  if (StartsWith(key, "RecLevelDB_")) {
    const auto n = ParseInteger(key.substr(11), 1, kMaxChannels);
    return n && *n - 1 <= s.NumRec ? FormatFixed(s.RecLevelDB[static_cast<size_t>(*n - 1)], 2) : "0.00";
  }
  const Settings defaults;
  if (key == "SizeRate") return FormatFixed(defaults.SizeRate, 2);
  if (key == "DeleteDate") return std::to_string(defaults.DeleteDate);
  if (key == "MuonMS") return std::to_string(s.MuonMS >= 1 && s.MuonMS <= kMaxMuonMS ? s.MuonMS : defaults.MuonMS);
  if (key == "AMinute") return std::to_string(defaults.AMinute);
  if (key == "ASecond") return std::to_string(defaults.ASecond);
  if (key == "NoAdjustSec") return std::to_string(defaults.NoAdjustSec);
  return {};
}

std::string FrmConf::FormatTimeTyping(const std::string& typed) {
  if (typed.size() != 6 || !IsDigits(typed)) return typed;
  return typed.substr(0, 2) + ":" + typed.substr(2, 2) + ":" + typed.substr(4, 2);
}

ConfValues FrmConf::Load() {
  SettingsStore& store = app_.store();
  SettingsBatch batch(store);
  ConfValues v;
  // The stored values, also for the channels this run did not read: OK
  // must never overwrite them with values nobody saw.
  v.sizeRate = FormatFixed(ReadFloatSetting(store, "SizeRate", 1.0), 2);
  v.altFont = ReadIntSetting(store, "AltFont", 1) == 0 ? 0 : 1;
  v.numDev = std::to_string(std::clamp(ReadIntSetting(store, "NumRec", 3), 0, kMaxChannels - 1) + 1);
  const ComboData rates = FillFreqCombo(ReadIntSetting(store, "nFreq", 44100), 0, 0);
  v.rates = rates.items;
  v.rate = rates.selected;
  v.deleteDate = std::to_string(ReadIntSetting(store, "DeleteDate", 0));
  for (int ch = 0; ch < kMaxChannels; ++ch) {
    ConfChannel& c = v.channels[static_cast<size_t>(ch)];
    platform::WaveIn& wave = app_.state().waveIn;
    const std::string stored = store.ReadSetting(ChannelKey("DevInID", ch), "");
    const ComboData devices = FillDeviceCombo(wave, stored);
    c.devices = devices.items;
    c.labels = devices.labels;
    c.device = devices.selected;
    // No name is the system's default device, the list's first on Linux.
    if (c.device < 0 && stored.empty() && !c.devices.empty()) c.device = 0;
    if (c.device < 0 && !stored.empty()) {
      // A device that is not plugged in now stays the channel's choice.
      c.devices.push_back(stored);
      c.labels.push_back(stored);
      c.device = static_cast<int>(c.devices.size()) - 1;
    }
    c.deviceLoaded = c.device;
    c.level = FormatFixed(ReadFloatSetting(store, ChannelKey("RecLevelDB", ch), 0.0), 2);
    c.path = store.ReadSetting(ChannelKey("RecPath", ch), "");
  }
  v.muonInLevel = std::to_string(ReadIntSetting(store, "MuonInLevel", -50));
  v.muonOutLevel = std::to_string(ReadIntSetting(store, "MuonOutLevel", -60));
  v.muonMS = std::to_string(ReadIntSetting(store, "MuonMS", 3000));
  v.hourAdjust = MsToTimeText(int64_t{ReadIntSetting(store, "HourAdjust", 18000)} * 1000, 2);
  v.minute = std::to_string(ReadIntSetting(store, "AMinute", 0));
  v.second = std::to_string(ReadIntSetting(store, "ASecond", 0));
  v.noAdjustSec = std::to_string(ReadIntSetting(store, "NoAdjustSec", 120));
  v.comPorts = {"NA"};
  v.comPaths = {""};
  const int comNo = ReadIntSetting(store, "ComNo", 0);
  const std::string comName = store.ReadSetting("ComName", "");
  v.comNo = 0;
  if (serial_) {
    for (const auto& d : serial_->List()) {
      const std::string n = "Com" + std::to_string(v.comPorts.size());
      // The stable name is the one to store: ttyUSB numbers change at boot.
      v.comPorts.push_back(d.stablePath.empty() ? n + "  " + d.description
                                                : n + "  " + d.stablePath + " (" + SplitPath(d.path, false, false, true, true, true) + ")");
      v.comPaths.push_back(d.stablePath.empty() ? d.path : d.stablePath);
      std::error_code ec;
      const bool stored = comNo > 0 && !comName.empty() &&
                          (comName == d.path || comName == d.stablePath ||
                           std::filesystem::equivalent(platform::U8Path(comName), platform::U8Path(d.path), ec));
      if (stored) {
        v.comNo = static_cast<int>(v.comPaths.size()) - 1;
        v.comPaths.back() = comName;  // as stored, however it is spelled
      }
    }
  }
  if (comNo > 0 && comName.empty() && Valid(comNo, v.comPorts.size())) v.comNo = comNo;
  if (comNo > 0 && !comName.empty() && v.comNo == 0) {
    // Unplugged now: still the box's port, shown and kept as such.
    v.comPorts.push_back("Com" + std::to_string(comNo) + "  " + comName + "（未接続）");
    v.comPaths.push_back(comName);
    v.comNo = static_cast<int>(v.comPaths.size()) - 1;
  }
  v.comLoaded = v.comNo;
  v.bauds = BaudRates();
  const std::string baud = store.ReadSetting("ComBaud", "38400");
  for (size_t i = 0; i < v.bauds.size(); ++i) {
    if (v.bauds[i] == baud) v.baud = static_cast<int>(i);
  }
  v.useBCD = ReadIntSetting(store, "UseBCD", 0) != 0 ? 1 : 0;
  for (int i = 0; i < 2; ++i) {
    const int pin = ReadIntSetting(store, "AdjustPin_" + std::to_string(i + 1), 0);
    v.adjustPin[static_cast<size_t>(i)] = Valid(pin, kPinItems) ? pin : 0;
  }
  const int hid = ReadIntSetting(store, "USBHIDID", 0);
  v.hid = Valid(hid, kPinItems) ? hid : 0;
  // A stored value the dialog would refuse is shown as the value kavon
  // uses (startup replaced it the same way and logged it), so that a field
  // nobody touched never blocks OK.
  for (const Refusal& r : Check(v)) {
    std::string* field = FieldText(v, r.field);
    if (!field) continue;
    const std::string stored = *field;
    *field = InUse(r.field);
    v.notes.push_back(r.field + "=" + stored + " → " + *field);
  }
  return v;
}

std::vector<Refusal> FrmConf::Check(const ConfValues& v) const {
  std::vector<Refusal> out;
  auto refuse = [&out](const std::string& key, const std::string& label, const std::string& range) {
    out.push_back({key, label + ": " + range});
  };
  if (!Number(v.sizeRate, kMinSizeRate, kMaxSizeRate)) refuse("SizeRate", "表示サイズ", "0.50 ～ 4.00");
  if (!Whole(v.numDev, 1, kMaxChannels)) refuse("NumRec", "録音数", "1 ～ 8");
  if (!Whole(v.deleteDate, 0, kMaxDeleteDays)) refuse("DeleteDate", "削除日数", "0 ～ 36500");
  for (int ch = 0; ch < kMaxChannels; ++ch) {
    if (!Number(v.channels[static_cast<size_t>(ch)].level, kMinDb, kMaxGainDb)) {
      refuse(ChannelKey("RecLevelDB", ch), "レベル " + std::to_string(ch + 1), "-110 ～ 40 db");
    }
  }
  if (!Whole(v.muonInLevel, kMinLevelDb, kMaxLevelDb)) {
    refuse("MuonInLevel", "入力検知録音 開始", "-110 ～ 0 db");
  }
  if (!Whole(v.muonOutLevel, kMinLevelDb, kMaxLevelDb)) {
    refuse("MuonOutLevel", "入力検知録音 停止", "-110 ～ 0 db");
  }
  if (!Whole(v.muonMS, 1, kMaxMuonMS)) refuse("MuonMS", "無音長さ", "1 ～ 600000 ms");
  if (!DayStart(v.hourAdjust)) refuse("HourAdjust", "一日の開始時刻", "00:00:00 ～ 23:59:59");
  if (!Whole(v.minute, 0, 59)) refuse("AMinute", "毎時 分", "0 ～ 59");
  if (!Whole(v.second, 0, 59)) refuse("ASecond", "秒", "0 ～ 59");
  if (!Whole(v.noAdjustSec, 0, kMaxNoAdjustSec)) refuse("NoAdjustSec", "前後 秒以外は無視", "0 ～ 1800");
  return out;
}

std::vector<Refusal> FrmConf::Ok(const ConfValues& v) {
  std::vector<Refusal> refused = Check(v);
  if (!refused.empty()) return refused;
  SettingsStore& store = app_.store();
  Settings& s = app_.state().settings;
  WaveFCT& capture = app_.state().capture;
  {
    SettingsBatch batch(store);
    auto write = [&store](const std::string& key, const std::string& text) { store.WriteSetting(key, text); };
    // Next start: the layout, the channels and the capture format.
    write("SizeRate", FormatFixed(*Number(v.sizeRate, kMinSizeRate, kMaxSizeRate), 2));
    write("AltFont", std::to_string(v.altFont));
    write("NumRec", std::to_string(*Whole(v.numDev, 1, kMaxChannels) - 1));
    if (Valid(v.rate, v.rates.size())) write("nFreq", v.rates[static_cast<size_t>(v.rate)]);
    s.DeleteDate = *Whole(v.deleteDate, 0, kMaxDeleteDays);
    write("DeleteDate", std::to_string(s.DeleteDate));
    s.HourAdjust = *DayStart(v.hourAdjust);
    write("HourAdjust", std::to_string(s.HourAdjust));
    for (int ch = 0; ch < kMaxChannels; ++ch) {
      const ConfChannel& c = v.channels[static_cast<size_t>(ch)];
      const auto i = static_cast<size_t>(ch);
      const double db = *Number(c.level, kMinDb, kMaxGainDb);
      const std::string path = Trim(c.path).empty() ? "" : Backslash(Trim(c.path));
      // Untouched, the stored text stays as it is (an empty choice, an
      // older label): OK writes only what the user changed.
      const bool chosen = Valid(c.device, c.devices.size()) && c.device != c.deviceLoaded;
      if (chosen) write(ChannelKey("DevInID", ch), c.devices[static_cast<size_t>(c.device)]);
      write(ChannelKey("RecLevelDB", ch), FormatFixed(db, 2));
      write(ChannelKey("RecPath", ch), path);
      if (ch > s.NumRec) continue;  // this run has no such channel
      if (chosen) s.DevInName[i] = c.devices[static_cast<size_t>(c.device)];
      s.RecLevelDB[i] = db;
      s.RecGain[i] = DBToLin(db);
      s.RecPath[i] = path;
      // The gain acts from the next buffer, the device from the next start.
      capture.Channel(ch).RecGain = s.RecGain[i];
      capture.Channel(ch).DevInName = s.DevInName[i];
    }
    s.MuonInLevel = *Whole(v.muonInLevel, kMinLevelDb, kMaxLevelDb);
    s.MuonOutLevel = *Whole(v.muonOutLevel, kMinLevelDb, kMaxLevelDb);
    s.MuonMS = *Whole(v.muonMS, 1, kMaxMuonMS);
    write("MuonInLevel", std::to_string(s.MuonInLevel));
    write("MuonOutLevel", std::to_string(s.MuonOutLevel));
    write("MuonMS", std::to_string(s.MuonMS));
    capture.SetDetectionLevels(s.MuonInLevel, s.MuonOutLevel, s.MuonMS);
    s.AMinute = *Whole(v.minute, 0, 59);
    s.ASecond = *Whole(v.second, 0, 59);
    s.NoAdjustSec = *Whole(v.noAdjustSec, 0, kMaxNoAdjustSec);
    write("AMinute", std::to_string(s.AMinute));
    write("ASecond", std::to_string(s.ASecond));
    write("NoAdjustSec", std::to_string(s.NoAdjustSec));
    // The stored port stays as it is written unless another was chosen.
    if (v.comNo != v.comLoaded && Valid(v.comNo, v.comPorts.size())) {
      s.ComNo = v.comNo;
      s.ComName = v.comPaths[static_cast<size_t>(v.comNo)];
      write("ComNo", std::to_string(s.ComNo));
      write("ComName", s.ComName);
    }
    if (Valid(v.baud, v.bauds.size())) {
      s.ComBaud = v.bauds[static_cast<size_t>(v.baud)];
      write("ComBaud", s.ComBaud);
    }
    s.UseBCD = v.useBCD != 0 ? 1 : 0;
    write("UseBCD", std::to_string(s.UseBCD));
    s.AdjustPin_1 = Valid(v.adjustPin[0], kPinItems) ? v.adjustPin[0] : s.AdjustPin_1;
    s.AdjustPin_2 = Valid(v.adjustPin[1], kPinItems) ? v.adjustPin[1] : s.AdjustPin_2;
    write("AdjustPin_1", std::to_string(s.AdjustPin_1));
    write("AdjustPin_2", std::to_string(s.AdjustPin_2));
    if (Valid(v.hid, kPinItems)) {
      s.USBHIDID = v.hid;
      write("USBHIDID", std::to_string(s.USBHIDID));
    }
  }
  app_.InitSerial();
  app_.InitHID();
  return {};
}

}  // namespace kavon
