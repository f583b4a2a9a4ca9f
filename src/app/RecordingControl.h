#pragma once
// The one place where a channel starts and stops, whatever asked for it:
// the buttons of its row, a control code, a timer entry. Names and creates
// the WAV file, opens and closes the capture, sends the lamp codes, shows
// the channel's state and schedules the deletion of old recordings.
#include <array>
#include <optional>
#include <string>

#include "app/AppState.h"
#include "app/Retention.h"

namespace kavon {

// Lamp codes: lamp 0 lights while a channel records, lamp 1 while it is
// stopped; +100 switches a lamp off.
int LampCode(int ch, int lamp);
inline constexpr int kLampOff = 100;

class RecordingControl {
 public:
  explicit RecordingControl(AppState& app);

  // Left click on button b (0 record, 1 stop) of channel ch's row; control
  // codes arrive here as clicks too.
  void RecButtonClick(int ch, int b, Origin origin = Origin::User);
  // The manual file choice: the path the user confirmed in the save dialog
  // (empty when cancelled).
  void ChooseManualFile(int ch, const std::string& confirmedPath);

  // 1 when the channel is open afterwards.
  int StartRecording(int ch, int64_t limitFrames, const std::string& base, int manual, Origin origin);
  // keepReturned: see WaveFCT::CloseCapture.
  void StopRecording(int ch, bool keepReturned = true);
  void ResetChannelDisplay(int ch);
  void SetLamp(int ch, int lamp, int on);
  // The capture engine ended a file at its size limit: go on in the next
  // file "name (2).wav", "name (3).wav", ... without losing a frame.
  bool ContinueInNextFile(int ch);
  // The meter values of buffer b (-1: empty) for the channel's row.
  void DrawChannelMeter(int ch, int b);

  // The file name StartRecording would use (for tests and the window).
  std::string RecordingFileName(int ch, const std::string& base, int manual) const;

  // The channel's folder; an empty setting means the program folder.
  std::string ChannelFolder(int ch) const;

  Retention& retention() { return retention_; }
  // Clock instant of the last tick, to notice a jump before cleaning up.
  void NoteTick(platform::SysMs now) { lastTickUtc_ = now; }

 private:
  void Fail(int ch, const std::string& why, Origin origin);
  void ScheduleRetention(int ch);

  AppState& app_;
  Retention retention_;
  std::array<std::string, kMaxChannels> firstFile_{};
  std::array<int, kMaxChannels> fileIndex_{};
  std::array<std::string, kMaxChannels> lastRecorded_{};
  std::optional<platform::SysMs> lastTickUtc_;
};

// A timer title made safe to stand in a path: no separators, no "..".
std::string SafeTitle(const std::string& title);
// A file base without a ".wav" ending (any case); other dots stay.
std::string WithoutWavEnding(const std::string& base);

}  // namespace kavon
