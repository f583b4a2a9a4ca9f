#pragma once
// The program-wide state that startup, recording control and the tick
// share: settings in memory, log, timer list, capture engine, control
// devices and what the window shows. Owned by FrmMain.
#include <array>
#include <deque>
#include <string>

#include "app/ControlDevice.h"
#include "app/Counters.h"
#include "app/Paths.h"
#include "app/Settings.h"
#include "app/SettingsStore.h"
#include "schedule/TimerList.h"
#include "audio/RecordingJournal.h"
#include "audio/WaveFCT.h"
#include "common/Lang.h"
#include "common/Log.h"
#include "platform/Clock.h"

namespace kavon {

// What a channel's row shows; the window draws it, tests read it.
struct ChannelView {
  bool recordActive = false;  // record button shown active
  bool timeLit = false;       // recorded-time field in its lit colours
  std::string timeText = "00'00.0";
  std::string error;          // the last failure, shown on the row until the next start
  std::string warning;        // a passing trouble (the disk is behind), shown while it lasts
  // It should be recording and waits for its device (or its file), tried
  // again every 2 s.
  bool waitingToRecord = false;
  std::array<double, 2> meanDb{-60, -60};
  std::array<double, 2> peakDb{-110, -110};
  // Counted up at every meter update and every reset, so a window draws
  // each buffer's levels once and puts the bars back to rest on a stop.
  uint64_t meterDraws = 0;
  uint64_t meterResets = 0;

  // What is wrong on the row, in the core's words: the failure, then the
  // passing trouble.
  std::string Trouble() const {
    std::string text = waitingToRecord ? "録音デバイス待ち（2秒ごとに再試行）" : "";
    for (const std::string* part : {&error, &warning}) {
      if (!part->empty()) text += (text.empty() ? "" : " / ") + *part;
    }
    return text;
  }
};

// Who asked for a start: only the user's own click may raise a message box.
enum class Origin { User, ControlCode, Timer };

struct AppState {
  AppState(ProgramPaths p, platform::Clock& c, platform::SettingsBackend& backend, platform::WaveIn& wave)
      : paths(std::move(p)),
        clock(c),
        store(backend),
        log(c),
        timers(log),
        journal(paths.JournalFile()),
        capture(wave, log),
        waveIn(wave) {}

  ProgramPaths paths;
  platform::Clock& clock;
  SettingsStore store;
  Settings settings;
  Log log;
  TimerList timers;
  RecordingJournal journal;
  WaveFCT capture;
  platform::WaveIn& waveIn;

  ControlDevice* serial = nullptr;  // open serial control port, or none
  ControlDevice* hid = nullptr;     // open HID control box, or none

  std::array<ChannelView, kMaxChannels> view{};
  std::array<std::string, kMaxChannels> ManualFileName{};
  int TimerOn = 1;
  int TimerScanning = 0;
  int timerWindowShown = 0;
  std::string displayDate;
  std::string displayTime;
  // Messages for the user, shown after the tick by whoever drives us.
  std::deque<std::string> messages;
  bool errorCatch = false;
  // The language of messages for the user (the log keeps its texts).
  Lang lang;
  // A control port that went away, shown by the window until it is back.
  std::string serialProblem;
  // Likewise for the HID box: missing, unplugged or not answering.
  std::string hidProblem;
  bool toldClockRight = false;
  // Timer programmes that fell wholly into a gap (kavon down, stalled, the
  // clock put forward) and were named in the log.
  int64_t missedProgrammes = 0;
  ProgramCounters counters;
  // `kavon ctl quit`: whoever drives the tick ends kavon cleanly.
  bool quitRequested = false;

  int NumRec() const { return settings.NumRec; }
  bool IsChannel(int ch) const { return ch >= 0 && ch <= settings.NumRec; }
};

}  // namespace kavon
