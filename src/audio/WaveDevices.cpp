#include "audio/WaveDevices.h"

#include "common/Log.h"
#include "common/Text.h"

namespace kavon {
namespace {

bool IsLooseNoise(char c) { return c == ' ' || (c >= '0' && c <= '9') || c == '-' || c == '(' || c == ')'; }

// "mic (2- usb audio)" -> "mic (usb audio)".
std::string WithoutDuplicatePrefix(std::string s) {
  for (int n = 0; n <= 5; ++n) {
    const std::string mark = std::to_string(n) + "- ";
    if (s.find("(" + mark) != std::string::npos) s = ReplaceAll(s, mark, "");
  }
  return s;
}

// Drops the first character once for each of positions 1..4 (as the name
// stood) that holds a blank, digit, dash or bracket.
std::string WithoutLeadingNoise(const std::string& s) {
  if (s.size() <= 4) return s;
  std::string out = s;
  for (size_t p = 1; p <= 4; ++p) {
    if (IsLooseNoise(s[p - 1]) && !out.empty()) out.erase(0, 1);
  }
  return Trim(out);
}

// The trimmed name of a device already counted: the back end may list its
// devices anew on every count, so the loops below count once.
std::string NameOf(platform::WaveIn& wave, int id) { return Trim(wave.DeviceName(id)); }

// winmm cut device names to 31 characters, and settings saved then hold
// them so: such a name is the start of exactly one device's full name.
int ByWinmmName(platform::WaveIn& wave, int count, const std::string& lowered) {
  constexpr size_t kWinmmNameChars = 31;
  if (Utf8Length(lowered) != kWinmmNameChars) return platform::kWaveMapper;
  int found = platform::kWaveMapper;
  for (int id = 0; id < count; ++id) {
    if (ToLower(NameOf(wave, id)).rfind(lowered, 0) != 0) continue;
    if (found != platform::kWaveMapper) return platform::kWaveMapper;
    found = id;
  }
  return found;
}

}  // namespace

std::string GetDeviceName(platform::WaveIn& wave, int id) {
  if (id < 0 || id >= wave.DeviceCount()) return {};
  return Trim(wave.DeviceName(id));
}

int SameDeviceName(const std::string& a, const std::string& b) {
  std::string x = WithoutDuplicatePrefix(ToLower(a));
  std::string y = WithoutDuplicatePrefix(ToLower(b));
  if (x == y) return 1;
  return WithoutLeadingNoise(x) == WithoutLeadingNoise(y) ? 1 : 0;
}

namespace {

// The first device whose name, or else whose label, matches the lowered,
// trimmed text: exactly, then by the loose rule. Older settings stored a
// device's label, newer ones its name; both find it.
int FindDevice(platform::WaveIn& wave, int count, const std::string& lowered) {
  std::vector<std::string> texts;
  for (int id = 0; id < count; ++id) texts.push_back(ToLower(NameOf(wave, id)));
  for (int id = 0; id < count; ++id) texts.push_back(ToLower(Trim(wave.DeviceLabel(id))));
  for (size_t i = 0; i < texts.size(); ++i) {
    if (texts[i] == lowered) return static_cast<int>(i) % count;
  }
  for (size_t i = 0; i < texts.size(); ++i) {
    if (SameDeviceName(texts[i], lowered)) return static_cast<int>(i) % count;
  }
  return platform::kWaveMapper;
}

}  // namespace

int GetDeviceID(platform::WaveIn& wave, const std::string& name) {
  const std::string s = ToLower(Trim(name));
  // No choice made: the system's own (ALSA's "default", Windows' preferred device).
  if (s.empty()) return platform::kWaveMapper;
  const int count = wave.DeviceCount();
  if (IsDigits(s) && s.size() <= 3) {
    const int id = std::stoi(s);
    if (id < count) return id;
  }
  if (count <= 0) return 0;
  const int found = FindDevice(wave, count, s);
  return found != platform::kWaveMapper ? found : ByWinmmName(wave, count, s);
}

ComboData FillDeviceCombo(platform::WaveIn& wave, const std::string& selectName) {
  ComboData data;
  const int count = wave.DeviceCount();
  for (int id = 0; id < count; ++id) {
    data.items.push_back(NameOf(wave, id));
    data.labels.push_back(Trim(wave.DeviceLabel(id)));
  }
  const std::string s = ToLower(Trim(selectName));
  if (s.empty() || count <= 0) return data;
  const int found = FindDevice(wave, count, s);
  if (found != platform::kWaveMapper) data.selected = found;
  return data;
}

ComboData FillFreqCombo(int current, int minRate, int maxRate) {
  ComboData data;
  for (const int r : kStandardRates) {
    if ((minRate == 0 || r >= minRate) && (maxRate == 0 || r <= maxRate)) {
      if (r == current) data.selected = static_cast<int>(data.items.size());
      data.items.push_back(std::to_string(r));
    }
  }
  return data;
}

std::string WaveErrorText(platform::WaveIn& wave, platform::WaveResult code) {
  if (code == platform::kWaveOk) return {};
  return wave.ErrorText(code);
}

}  // namespace kavon

namespace kavon {

int ReportWaveError(platform::WaveIn& wave, platform::WaveResult code, bool toLog, Log& log,
                    std::deque<std::string>& messages) {
  if (code == platform::kWaveOk) return 0;
  const std::string text = WaveErrorText(wave, code);
  if (toLog) {
    log.WriteLog(text, 1);
  } else {
    messages.push_back(text);
  }
  return 1;
}

}  // namespace kavon
