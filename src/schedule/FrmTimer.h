#pragma once
// What the timer list editor does, apart from drawing it: the input fields
// turned into an entry, the checks with their messages, the conflict test
// and the list operations. Every change of the list is saved at once, so a
// power cut never loses an edit. The window (src/ui/TimerWindow) shows the
// list and hands the user's commands to this object.
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/Clock.h"
#include "schedule/TimerList.h"

namespace kavon {

// What the editor's input fields hold.
struct TimerFields {
  int ch = -1;  // the selected channel item; -1 for none
  std::string startTime;
  std::string length;
  std::string ref;
  std::string fileTitle;
  bool useDate = false;  // 日付: one-time on date instead of weekly
  std::string date;
  int32_t weekMask = 0;  // the checked weekdays, bit 0 Sunday
};

// What the checks depend on; read from the settings at each check.
struct TimerRules {
  int dayStart = 18000;       // seconds after midnight where the display day begins
  double maxSeconds = 24347;  // the longest recording one file holds
};

// A numeric text of exactly six characters becomes hh:mm:ss ("013000" is
// "01:30:00"); other texts stay as typed.
std::string SixDigitRule(const std::string& text);
// The names of the set weekdays, Sunday first, without separators: 月水金.
std::string WeekMaskText(int32_t mask);
// The other way round: the weekdays named anywhere in text.
int32_t WeekMaskFromText(const std::string& text);
// The seven cells of an entry's row: Ch, 録音日, 曜日, 開始時刻, 録音時間,
// 備考, ファイル名.
std::array<std::string, 7> TimerRowTexts(const TimerEntry& e);
// The fields that show an entry (a click on its row); channels is the
// number of items of the channel list.
TimerFields FieldsOf(const TimerEntry& e, int channels);

class FrmTimer {
 public:
  using RulesFn = std::function<TimerRules()>;
  // Writes the list to timer.txt; false when it could not.
  using SaveFn = std::function<bool()>;

  struct Outcome {
    bool ok = false;
    // For the user: an information after success, the reason after a
    // failure; empty when there is nothing to say.
    std::string message;
    bool saveFailed = false;  // changed in memory, but timer.txt was not written
  };

  FrmTimer(TimerList& list, const platform::Clock& clock, RulesFn rules, SaveFn save);

  // The tick sets scanning while it goes through the list; commands that
  // change the list first wait for it to clear, one waitRound (about 50 ms,
  // events served) at a time, and never longer than a few seconds.
  void SetScanWait(const int* scanning, std::function<void()> waitRound);

  // The entry the fields describe, or the message of the first failed check.
  // excludedRow is the row being overwritten (-1 for none).
  Outcome Check(const TimerFields& fields, int excludedRow, TimerEntry* entry) const;
  // Whether e overlaps another entry of its channel (closed intervals, the
  // week wrapping from Saturday night into Sunday).
  bool CheckOverlap(const TimerEntry& e, int excludedRow) const;

  Outcome Add(const TimerFields& fields);
  // Overwrites row, keeping its running mark; a row that is not there does
  // nothing.
  Outcome Change(int row, const TimerFields& fields);
  // Deletes row when it still holds the entry whose EntryKey is key: the
  // list may have been reloaded while the question was up.
  Outcome Delete(int row, const std::string& key);
  // Moves the entry of row to the place to (the others close up); the row
  // the entry is in afterwards. Out of range, nothing moves.
  int Move(int row, int to, Outcome* outcome = nullptr);
  // Replaces the list by a list file's entries (none running).
  Outcome Open(const std::string& path);
  // Writes the list to a list file (".lst" appended when missing).
  Outcome SaveAs(const std::string& path);

  // Rounds the last command waited for the scan.
  int waitedRounds() const { return waitedRounds_; }

 private:
  void WaitTimerScan();
  Outcome Saved(std::string message);

  TimerList& list_;
  const platform::Clock& clock_;
  RulesFn rules_;
  SaveFn save_;
  const int* scanning_ = nullptr;
  std::function<void()> waitRound_;
  int waitedRounds_ = 0;
};

}  // namespace kavon
