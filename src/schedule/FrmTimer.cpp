#include "schedule/FrmTimer.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "common/FileHelpers.h"
#include "common/Text.h"
#include "schedule/DateTime.h"

namespace kavon {
namespace {

constexpr int64_t kDay = 86400;
constexpr int64_t kWeek = 7 * kDay;
constexpr size_t kMaxTitleChars = 32;
constexpr int kShortestSeconds = 10;  // this long and shorter is refused
// 100 rounds of about 50 ms: the tick's scan takes far less; after that the
// command goes on rather than hang the window.
constexpr int kMaxScanWaitRounds = 100;

struct Span {
  int64_t start;
  int64_t end;
};

bool Meets(Span a, Span b) { return a.start <= b.end && b.start <= a.end; }

// On the week axis an interval that runs past Saturday midnight goes on at
// the start of the week.
bool MeetsOnWeek(Span a, Span b) {
  return Meets(a, b) || (a.end >= kWeek && b.start <= a.end - kWeek) || (b.end >= kWeek && a.start <= b.end - kWeek);
}

int64_t StartSeconds(const TimerEntry& e) { return TimeTextToMs(e.StartTime) / 1000; }

// The entry's intervals in seconds from Sunday 00:00:00: one per set
// weekday, or one on its date's weekday.
std::vector<Span> WeekSpans(const TimerEntry& e) {
  const int64_t t = StartSeconds(e);
  std::vector<Span> spans;
  if (e.IsOneTime()) {
    const auto d = ParseDateTimeText(e.Date);
    if (!d) return spans;
    const int64_t at = t + (WeekdayNumber(d->date) - 1) * kDay;
    spans.push_back({at, at + e.Length});
    return spans;
  }
  for (int day = 0; day < 7; ++day) {
    if ((e.WeekMask >> day & 1) == 0) continue;
    spans.push_back({t + day * kDay, t + day * kDay + e.Length});
  }
  return spans;
}

bool Overlaps(const TimerEntry& a, const TimerEntry& b, int dayStart) {
  if (a.IsOneTime() && b.IsOneTime()) {
    const auto at = [dayStart](const TimerEntry& e, int64_t add) {
      return ShiftDateTimeText(e.Date + " " + e.StartTime, add, dayStart, true);
    };
    const std::string s0 = at(a, 0), e0 = at(a, a.Length), s1 = at(b, 0), e1 = at(b, b.Length);
    if (s0.empty() || e0.empty() || s1.empty() || e1.empty()) return false;
    return s0 <= e1 && s1 <= e0;
  }
  for (const Span x : WeekSpans(a)) {
    for (const Span y : WeekSpans(b)) {
      if (MeetsOnWeek(x, y)) return true;
    }
  }
  return false;
}

int32_t ClampSeconds(int64_t ms) { return static_cast<int32_t>(std::clamp<int64_t>(ms / 1000, INT32_MIN, INT32_MAX)); }

FrmTimer::Outcome Refused(std::string message) { return {false, std::move(message), false}; }

}  // namespace

std::string SixDigitRule(const std::string& text) {
  if (text.size() != 6 || !IsDigits(text)) return text;
  return text.substr(0, 2) + ":" + text.substr(2, 2) + ":" + text.substr(4, 2);
}

std::string WeekMaskText(int32_t mask) {
  std::string text;
  for (int day = 0; day < 7; ++day) {
    if (mask >> day & 1) text += DayOfWeekName(Date{}, day + 1, 1);
  }
  return text;
}

int32_t WeekMaskFromText(const std::string& text) {
  int32_t mask = 0;
  for (int day = 0; day < 7; ++day) {
    if (text.find(DayOfWeekName(Date{}, day + 1, 1)) != std::string::npos) mask |= 1 << day;
  }
  return mask;
}

std::array<std::string, 7> TimerRowTexts(const TimerEntry& e) {
  // The channel is always shown, also one outside the list: such an entry
  // is kept (it never fires) and must be recognisable.
  return {std::to_string(static_cast<int64_t>(e.Ch) + 1),
          e.IsOneTime() ? e.Date : "",
          e.IsOneTime() ? "" : WeekMaskText(e.WeekMask),
          e.StartTime,
          MsToTimeText(static_cast<int64_t>(e.Length) * 1000, 2),
          e.Ref,
          e.FileTitle};
}

TimerFields FieldsOf(const TimerEntry& e, int channels) {
  TimerFields f;
  f.ch = e.Ch < 0 || e.Ch >= channels ? 0 : e.Ch;
  f.useDate = e.WeekMask == 0;
  f.weekMask = f.useDate ? 0 : e.WeekMask & 0x7f;
  f.date = e.Date;
  f.startTime = e.StartTime;
  f.length = MsToTimeText(static_cast<int64_t>(e.Length) * 1000, 2);
  f.ref = e.Ref;
  f.fileTitle = e.FileTitle;
  return f;
}

FrmTimer::FrmTimer(TimerList& list, const platform::Clock& clock, RulesFn rules, SaveFn save)
    : list_(list), clock_(clock), rules_(std::move(rules)), save_(std::move(save)) {}

void FrmTimer::SetScanWait(const int* scanning, std::function<void()> waitRound) {
  scanning_ = scanning;
  waitRound_ = std::move(waitRound);
}

void FrmTimer::WaitTimerScan() {
  waitedRounds_ = 0;
  while (scanning_ && *scanning_ != 0 && waitedRounds_ < kMaxScanWaitRounds) {
    ++waitedRounds_;
    if (waitRound_) waitRound_();
  }
}

FrmTimer::Outcome FrmTimer::Check(const TimerFields& f, int excludedRow, TimerEntry* out) const {
  const TimerRules rules = rules_();
  TimerEntry e;
  e.Ch = std::max(f.ch, 0);
  // An empty start counts as 0 seconds (as TimeTextToMs reads it); any
  // other text must read as a time.
  // It is stored as hh:mm:ss, which is what the tick compares.
  bool timeRead = false;
  const int64_t t = TimeTextToMs(f.startTime, true, &timeRead) / 1000;
  if (!f.startTime.empty() && !timeRead) return Refused("開始時刻が不正です");
  if (timeRead) e.StartTime = MsToTimeText(t * 1000, 2);
  bool lengthRead = false;
  const int64_t lengthMs = TimeTextToMs(f.length, true, &lengthRead);
  if (!f.length.empty() && !lengthRead) return Refused("録音時間が不正です");
  e.Length = lengthRead ? ClampSeconds(lengthMs) : 0;
  // A date the tick could not read would never fire: only yyyy/mm/dd is kept.
  if (f.useDate) {
    if (IsDateText(f.date)) e.Date = FormatDateText(f.date, 0);
  } else {
    e.WeekMask = f.weekMask & 0x7f;
  }
  e.Ref = f.ref;
  e.FileTitle = SafeFileName(f.fileTitle);

  if (t < rules.dayStart || t >= rules.dayStart + kDay) return Refused("開始時刻が不正です");
  if (e.Length > rules.maxSeconds) return Refused("録音時間が長すぎます");
  if (e.Length <= kShortestSeconds) return Refused("録音時間が短すぎます");
  if (e.Date.empty() && e.WeekMask == 0) return Refused("録音日を指定してください");
  if (!e.StartTime.empty() && !e.Date.empty() && e.Date + " " + e.StartTime < NowText(clock_, rules.dayStart)) {
    return Refused("現在の日時以後を指定してください");
  }
  if (e.StartTime.empty()) return Refused("開始時刻を指定してください");
  if (Utf8Length(e.FileTitle) > kMaxTitleChars) return Refused("ファイル名が長すぎます");
  if (CheckOverlap(e, excludedRow)) return Refused("タイマーが重複しています");
  if (out) *out = e;
  return {true, {}, false};
}

bool FrmTimer::CheckOverlap(const TimerEntry& e, int excludedRow) const {
  const int dayStart = rules_().dayStart;
  const auto& entries = list_.entries();
  for (size_t i = 0; i < entries.size(); ++i) {
    const TimerEntry& other = entries[i];
    // Entries that can never fire cannot be in the way.
    if (static_cast<int>(i) == excludedRow || other.Ch != e.Ch || !other.IsFireable()) continue;
    if (Overlaps(e, other, dayStart)) return true;
  }
  return false;
}

FrmTimer::Outcome FrmTimer::Saved(std::string message) {
  list_.MarkModified();
  const bool written = !save_ || save_();
  return {true, std::move(message), !written};
}

FrmTimer::Outcome FrmTimer::Add(const TimerFields& fields) {
  TimerEntry e;
  Outcome checked = Check(fields, -1, &e);
  if (!checked.ok) return checked;
  WaitTimerScan();
  list_.entries().push_back(e);
  return Saved("追加しました");
}

FrmTimer::Outcome FrmTimer::Change(int row, const TimerFields& fields) {
  if (row < 0 || row >= static_cast<int>(list_.Count())) return {};
  TimerEntry e;
  Outcome checked = Check(fields, row, &e);
  if (!checked.ok) return checked;
  WaitTimerScan();
  // The scan may have ended the list as it was: the row must still be there.
  if (row >= static_cast<int>(list_.Count())) return {};
  TimerEntry& target = list_.entries()[static_cast<size_t>(row)];
  e.Active = target.Active;
  target = e;
  return Saved("変更しました");
}

FrmTimer::Outcome FrmTimer::Delete(int row, const std::string& key) {
  WaitTimerScan();
  auto& entries = list_.entries();
  if (row < 0 || row >= static_cast<int>(entries.size())) {
    return Refused("タイマーリストが変更されたため削除しませんでした");
  }
  if (EntryKey(entries[static_cast<size_t>(row)]) != key) {
    return Refused("タイマーリストが変更されたため削除しませんでした");
  }
  entries.erase(entries.begin() + row);
  return Saved({});
}

int FrmTimer::Move(int row, int to, Outcome* outcome) {
  WaitTimerScan();
  auto& entries = list_.entries();
  const int count = static_cast<int>(entries.size());
  if (row < 0 || row >= count || to < 0 || to >= count || to == row) return row;
  const auto at = [&entries](int i) { return entries.begin() + i; };
  if (to < row) {
    std::rotate(at(to), at(row), at(row + 1));
  } else {
    std::rotate(at(row), at(row + 1), at(to + 1));
  }
  const Outcome saved = Saved({});
  if (outcome) *outcome = saved;
  return to;
}

FrmTimer::Outcome FrmTimer::Open(const std::string& path) {
  if (!FileExists(path)) return Refused("ファイルがありません " + path);
  WaitTimerScan();
  if (!list_.InputTimer(path)) return Refused("タイマーリストを読めません " + path);
  return Saved({});
}

FrmTimer::Outcome FrmTimer::SaveAs(const std::string& path) {
  const std::string target = EnsureExtension(path, "lst");
  // A list file is a copy: a write of timer.txt still due stays due.
  const bool pending = list_.Modified();
  if (!list_.OutputTimer(target)) return Refused("タイマーリストを保存できません " + target);
  if (!pending) return {true, {}, false};
  return Saved({});
}

}  // namespace kavon
