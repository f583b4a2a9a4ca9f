#include "devices/FCT_Serial.h"

#include "common/Text.h"

namespace kavon {
namespace {

constexpr uint8_t kRecordEnd = 0xE5;
constexpr size_t kMaxRecord = 26;
constexpr size_t kKeptRecord = 18;
// Far more than a tick's worth at 2400 bit/s; bounds the loop if a port
// keeps answering.
constexpr int kMaxReadsPerCall = 64;

bool Ignored(uint8_t b) { return b == 0x00 || b == 0x02 || b == 0x03; }

}  // namespace

bool IsCalibrationMark(const std::string& t, const AdjustSettings& s) {
  if (t.size() != 8) return false;
  if (t.substr(6, 2) != Pad(s.ASecond, 2)) return false;
  switch (s.AdjustMode) {
    case 0: return true;
    case 1: return t.substr(3, 2) == Pad(s.AMinute, 2);
    case 2: return t.substr(3, 2) == Pad(s.AMinute, 2) && t.substr(0, 2) == Pad(s.AHour, 2);
    default: return false;
  }
}

std::string TimeSignalDecoder::Feed(const std::vector<uint8_t>& bytes) {
  std::string result;
  for (const uint8_t b : bytes) {
    if (Ignored(b)) continue;
    if (b != kRecordEnd) {
      record_ += static_cast<char>(b);
      continue;
    }
    if (record_.size() < 6) continue;  // too short: the byte is ignored
    const std::string t = record_.substr(record_.size() - 6);
    result = t.substr(0, 2) + ":" + t.substr(2, 2) + ":" + t.substr(4, 2);
    record_.clear();
  }
  if (record_.size() > kMaxRecord) record_ = record_.substr(record_.size() - kKeptRecord);
  return result;
}

std::string ReadTimeSignal(C_Com& port, TimeSignalDecoder& decoder, const AdjustSettings& s,
                           const std::function<void()>& adjust) {
  std::string last;
  std::vector<uint8_t> buffer(static_cast<size_t>(port.DataSize()) + 1);
  for (int reads = 0; reads < kMaxReadsPerCall; ++reads) {
    port.RecvDataB(buffer);
    const size_t n = buffer[0];
    if (n == 0) break;
    const std::string t = decoder.Feed(std::vector<uint8_t>(buffer.begin() + 1, buffer.begin() + 1 + static_cast<long>(n)));
    if (!t.empty()) last = t;
  }
  if (!last.empty() && IsCalibrationMark(last, s) && adjust) adjust();
  return last;
}

std::vector<std::string> ComPortItems(platform::SerialSystem& system) {
  std::vector<std::string> items{"NA"};
  const auto devices = system.List();
  for (size_t i = 0; i < devices.size(); ++i) items.push_back("Com" + std::to_string(i + 1) + "  " + devices[i].description);
  return items;
}

std::vector<std::string> BaudRates() {
  return {"110", "300", "600", "1200", "2400", "9600", "14400", "19200", "28800", "38400", "56000", "128000", "256000"};
}

}  // namespace kavon
