#pragma once
// Wave devices are stored by name, not by number. These turn a stored name
// back into the current device number, compare names loosely (the "(2- "
// prefix the system adds to duplicate names does not matter), list the
// sampling rates and give an error code its text.
#include <deque>
#include <string>
#include <vector>

#include "platform/WaveIn.h"

namespace kavon {

class Log;

// Standard sampling rates, fastest first.
inline constexpr int kStandardRates[] = {192000, 96000, 88200, 48000, 44100, 32000,
                                         24000,  22050, 16000, 12000, 11025, 8000};

// Names of the devices in device order, and which entry to select (-1 none).
struct ComboData {
  std::vector<std::string> items;
  std::vector<std::string> labels;  // devices only: what a person sees for each item
  int selected = -1;
};

std::string GetDeviceName(platform::WaveIn& wave, int id);
// The device number for a stored name: kWaveMapper (the system's default
// device) for an empty name; a text of plain digits naming an existing
// device number as it stands; the first device of the same name, or else
// label (case and outer blanks aside); then the same by the loose rule;
// else kWaveMapper.
int GetDeviceID(platform::WaveIn& wave, const std::string& name);
int SameDeviceName(const std::string& a, const std::string& b);
ComboData FillDeviceCombo(platform::WaveIn& wave, const std::string& selectName);
// Rates within [minRate, maxRate] (0 = no bound), selecting current.
ComboData FillFreqCombo(int current, int minRate, int maxRate);
// The text of a wave error, or "" for code 0.
std::string WaveErrorText(platform::WaveIn& wave, platform::WaveResult code);
// 0 for code 0; otherwise writes the error's text to the log (toLog) or
// queues it for a message box, and answers 1.
int ReportWaveError(platform::WaveIn& wave, platform::WaveResult code, bool toLog, Log& log,
                    std::deque<std::string>& messages);

}  // namespace kavon
