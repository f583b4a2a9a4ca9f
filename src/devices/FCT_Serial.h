#pragma once
// The serial control box's time signal: records of characters ended by the
// byte 0xE5, whose last six characters are hhmmss; a record that marks the
// calibration time asks for the clock to be set. Also the lists the
// settings dialog offers for the port and its speed.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "devices/C_Com.h"

namespace kavon {

struct AdjustSettings {
  int AHour = 0;
  int AMinute = 0;
  int ASecond = 0;
  int AdjustMode = 1;  // 0 every minute, 1 every hour, 2 every day
};

// Whether a record's time hh:mm:ss is the calibration mark.
bool IsCalibrationMark(const std::string& hhmmss, const AdjustSettings& s);

// The record being received, kept between ticks.
class TimeSignalDecoder {
 public:
  // Takes received bytes; the time of the last record they completed, or "".
  std::string Feed(const std::vector<uint8_t>& bytes);
  const std::string& Pending() const { return record_; }

 private:
  std::string record_;
};

// Reads everything that has arrived (never more than a bounded number of
// reads) and decodes it. Only the last complete record of the call may set
// the clock (adjust is called at most once), so a record that waited in the
// queue through a late tick never sets it late. The time of that record,
// or "".
std::string ReadTimeSignal(C_Com& port, TimeSignalDecoder& decoder, const AdjustSettings& s,
                           const std::function<void()>& adjust);

// The speeds the settings dialog offers, in its order.
std::vector<std::string> BaudRates();
// The ports it offers: "NA" (no port), then "Com" + n with the device
// that number stands for now ("Com1  /dev/ttyUSB0 (FT232R USB UART)").
std::vector<std::string> ComPortItems(platform::SerialSystem& system);

}  // namespace kavon
