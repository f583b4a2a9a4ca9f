#pragma once
// The one place where a channel starts and stops, whatever asked for it:
// the buttons of its row, a control code, a timer entry. Names and creates
// the WAV file, opens and closes the capture, sends the lamp codes, shows
// the channel's state and schedules the deletion of old recordings.
#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/AppState.h"
#include "app/Retention.h"

namespace kavon {

// Lamp codes: lamp 0 lights while a channel records, lamp 1 while it is
// stopped; +100 switches a lamp off.
int LampCode(int ch, int lamp);
inline constexpr int kLampOff = 100;
// The lamp codes that show every channel's state as it is now: recording
// lamp on and stopped lamp off for an open channel, the reverse for the
// others. Sent to a control box that was (re)connected.
std::vector<int> LampStateCodes(const AppState& app);

// A step of the wall clock larger than this stops the deletion of old
// recordings until the clock has run steadily for kRetentionSettle seconds.
inline constexpr double kClockStepHoldOff = 3600;
inline constexpr double kRetentionSettle = 600;
// A channel that should record and cannot tries again this often.
inline constexpr double kRetrySeconds = 2;

class RecordingControl {
 public:
  explicit RecordingControl(AppState& app);

  // Left click on button b (0 record, 1 stop) of channel ch's row; control
  // codes arrive here as clicks too.
  void RecButtonClick(int ch, int b, Origin origin = Origin::User);
  // The manual file choice: the path the user confirmed in the save dialog
  // (empty when cancelled).
  void ChooseManualFile(int ch, const std::string& confirmedPath);

  // 1 when the channel is open afterwards. stamp: the file-name stamp to
  // use ("2024-03-01 10_00_00") instead of the present moment. programme:
  // for a timer entry "start Ns title", the words that name it missed if
  // none of it can be recorded. A start that fails (no device, no file) is
  // tried again every kRetrySeconds while its time lasts (see StepRetries).
  int StartRecording(int ch, int64_t limitFrames, const std::string& base, int manual, Origin origin,
                     const std::optional<std::string>& stamp = std::nullopt, const std::string& programme = {});
  // The channel's device went away in the middle of its recording: the
  // recording goes on in the next file of its series once it is back.
  void DeviceLost(int ch);
  // The tick's share of the retries: every kRetrySeconds a waiting channel
  // tries its device and file again; one whose time has passed gives up.
  void StepRetries();
  // Whether the channel should be recording and waits for its device or
  // its file.
  bool IsWaitingToRecord(int ch) const { return waiting_[static_cast<size_t>(ch)].has_value(); }
  // A timer recording that reached its length hands the open device to
  // the next timer recording of the channel: logged and lamped as a stop
  // and a start, with no frame lost between the files. False (the old
  // recording then stopped as usual) when the new file cannot be made.
  bool HandOver(int ch, int64_t limitFrames, const std::string& base, const std::string& stamp);
  // Whether the channel's open recording was started by the timer list.
  bool IsTimerRecording(int ch) const { return byTimer_[static_cast<size_t>(ch)]; }
  // keepReturned: see WaveFCT::CloseCapture.
  void StopRecording(int ch, bool keepReturned = true);
  void ResetChannelDisplay(int ch);
  void SetLamp(int ch, int lamp, int on);
  // The capture engine ended a file at its size limit: go on in the next
  // free file of the series "name (2).wav", "name (3).wav", ... without
  // losing a frame.
  bool ContinueInNextFile(int ch);
  // The meter values of buffer b (-1: empty) for the channel's row.
  void DrawChannelMeter(int ch, int b);

  // The file name StartRecording would use (for tests and the window). A
  // name too long for the file system has its title shortened.
  std::string RecordingFileName(int ch, const std::string& base, int manual,
                                const std::optional<std::string>& stamp = std::nullopt,
                                bool* shortened = nullptr) const;

  // The file the channel's recording wrote before its current one, when it
  // had to take a later name of its series ("" when it has the first).
  std::string PreviousPart(int ch) const;

  // The channel's folder; an empty setting means the program folder.
  std::string ChannelFolder(int ch) const;

  Retention& retention() { return retention_; }
  // The tick's share of the deletion of old recordings; nothing is deleted
  // for a while after the wall clock was stepped by more than an hour.
  void StepRetention();
  // The wall clock moved by `seconds` against the steady clock.
  void NoteClockStep(double seconds);

 private:
  void Fail(int ch, const std::string& why, Origin origin);
  // The name of a new recording; a title shortened to fit is logged.
  std::string NameRecording(int ch, const std::string& base, int manual, const std::optional<std::string>& stamp);
  // Claims a new file (and its folder) with an empty header for a
  // recording meant to be `intended`: that name when it is free, else the
  // next free one of its series (logged). Never replaces a file. The name
  // taken, or "" with why.
  std::string ClaimRecordingFile(int ch, const std::string& intended, std::string& why);
  // The first free file of the channel's series from index `from` on.
  std::string ClaimFile(int ch, int from, std::string& why);
  void ScheduleRetention(int ch);
  // Remembers a file this run wrote, by the steady clock.
  void NoteWritten(const std::string& path);
  bool IsProtected(const std::filesystem::path& p);
  // The start steps shared by StartRecording and HandOver once capture runs.
  void ShowStarted(int ch, Origin origin);

  // The files of one recording: the name it was meant to have, and the
  // index of the one it writes now (1: that name, 2: "name (2).wav", ...).
  struct Series {
    std::string first;
    int index = 1;
  };
  // A recording that should be going on and is not.
  struct Waiting {
    Origin origin = Origin::User;
    double since = 0;    // steady second the gap began
    double until = 0;    // steady second its time ends; infinity until stopped by hand
    double nextTry = 0;  // steady second
    bool wrote = false;  // an earlier part of it holds audio
    std::string programme;  // a timer entry's words for the missed line
    std::string why;        // the reason of the last failure
  };
  void StartWaiting(int ch, Waiting w);
  // One more try; true when the channel records again.
  bool TryAgain(int ch, Waiting& w);
  // Its time passed without the device (or the file): said, and counted
  // when nothing of it was recorded.
  void GiveUp(int ch, const Waiting& w);
  // Ends a wait without a word (a stop by hand, a new start).
  void EndWaiting(int ch);

  AppState& app_;
  Retention retention_;
  std::array<Series, kMaxChannels> series_{};
  std::array<bool, kMaxChannels> byTimer_{};
  std::array<std::optional<Waiting>, kMaxChannels> waiting_{};
  // Files this run wrote and the steady second they were last written: a
  // step of the wall clock must not make them look old.
  std::map<std::string, double> written_;  // by lexically normal path
  std::optional<double> holdRetentionUntil_;  // steady seconds
  bool toldHold_ = false;
};

// A timer title made safe to stand in a path: no separators, no "..".
std::string SafeTitle(const std::string& title);
// A file base without a ".wav" ending (any case); other dots stay.
std::string WithoutWavEnding(const std::string& base);
// The index-th name of a recording's series: first itself, then
// "first (2).wav", "first (3).wav", ..., the title shortened to stay
// within 255 bytes.
std::string SeriesName(const std::string& first, int index);

}  // namespace kavon
