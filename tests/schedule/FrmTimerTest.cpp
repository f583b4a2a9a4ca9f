// The editor's rules without a window: the checks and their messages, the
// conflict test across the week and the display day, and the list
// operations with timer.txt read back from disk after each.
#include "schedule/FrmTimer.h"

#include <gtest/gtest.h>

#include "common/FileHelpers.h"
#include "common/Log.h"
#include "platform/sim/FakeClock.h"
#include "schedule/DateTime.h"
#include "support/TempDir.h"

namespace kavon {
namespace {

struct Editor {
  test::TempDir dir;
  platform::FakeClock clock;
  Log log{clock};
  TimerList list{log};
  TimerRules rules;
  int scanning = 0;
  FrmTimer editor{list, clock, [this] { return rules; }, [this] { return list.OutputTimer(TimerFile()); }};

  explicit Editor(int dayStart = 18000) {
    rules.dayStart = dayStart;
    clock.SetLocal(2024, 3, 1, 10, 0, 0);  // a Friday
    editor.SetScanWait(&scanning, [] {});
  }
  std::string TimerFile() const { return dir.File("timer.txt"); }
  // The list as the next start would read it.
  std::vector<TimerEntry> OnDisk() {
    TimerList read(log);
    read.InputTimer(TimerFile());
    return read.entries();
  }
};

TimerFields Weekly(const std::string& start, const std::string& length, int mask, int ch = 0) {
  TimerFields f;
  f.ch = ch;
  f.startTime = start;
  f.length = length;
  f.weekMask = mask;
  f.fileTitle = "News";
  return f;
}

TimerFields OneTime(const std::string& date, const std::string& start, const std::string& length, int ch = 0) {
  TimerFields f = Weekly(start, length, 0, ch);
  f.useDate = true;
  f.date = date;
  return f;
}

constexpr int kSun = 1, kMon = 2, kFri = 32, kSat = 64;

TEST(FrmTimer, ChecksInOrderWithTheirMessages) {
  const std::string kanji32 = [] {
    std::string s;
    for (int i = 0; i < 32; ++i) s += "録";
    return s;
  }();
  struct Case {
    int dayStart;
    TimerFields fields;
    std::string message;  // "" when accepted
    std::string storedStart = "";
  };
  TimerFields longTitle = Weekly("06:00:00", "60", kMon);
  longTitle.fileTitle = kanji32;
  TimerFields tooLongTitle = longTitle;
  tooLongTitle.fileTitle += "x";
  TimerFields unsafeTitle = longTitle;
  unsafeTitle.fileTitle = kanji32.substr(3) + "?";  // 31 kanji and a character made safe
  const Case cases[] = {
      {18000, Weekly("04:59:59", "60", kMon), "開始時刻が不正です"},
      {18000, Weekly("29:00:00", "60", kMon), "開始時刻が不正です"},
      {18000, Weekly("05:00:00", "60", kMon), "", "05:00:00"},
      {18000, Weekly("28:59:59", "60", kMon), "", "28:59:59"},
      {18000, Weekly("5:00:00", "60", kMon), "", "05:00:00"},
      {18000, Weekly("18000", "60", kMon), "", "05:00:00"},
      {18000, Weekly("", "60", kMon), "開始時刻が不正です"},
      {0, Weekly("", "60", kMon), "開始時刻を指定してください"},
      {0, Weekly("x", "60", kMon), "開始時刻が不正です"},
      {0, Weekly("12:xx:00", "60", kMon), "開始時刻が不正です"},
      {18000, Weekly("06:00:00", "10", kMon), "録音時間が短すぎます"},
      {18000, Weekly("06:00:00", "11", kMon), ""},
      {18000, Weekly("06:00:00", "-1:00:00", kMon), "録音時間が短すぎます"},
      {18000, Weekly("06:00:00", "x", kMon), "録音時間が不正です"},
      {18000, Weekly("06:00:00", "24347", kMon), ""},
      {18000, Weekly("06:00:00", "24348", kMon), "録音時間が長すぎます"},
      {18000, Weekly("06:00:00", "60", 0), "録音日を指定してください"},
      {18000, OneTime("2024/13/01", "06:00:00", "60"), "録音日を指定してください"},
      {18000, OneTime("", "06:00:00", "60"), "録音日を指定してください"},
      {18000, OneTime("2024/03/01", "09:59:59", "60"), "現在の日時以後を指定してください"},
      {18000, OneTime("2024/03/01", "10:00:00", "60"), ""},
      {18000, OneTime("2024/02/29", "28:00:00", "60"), "現在の日時以後を指定してください"},
      {18000, Weekly("09:00:00", "60", kFri), ""},
      {18000, longTitle, ""},
      {18000, tooLongTitle, "ファイル名が長すぎます"},
      {18000, unsafeTitle, ""},
  };
  for (const Case& c : cases) {
    Editor e(c.dayStart);
    TimerEntry entry;
    const auto outcome = e.editor.Check(c.fields, -1, &entry);
    SCOPED_TRACE(c.fields.startTime + " " + c.fields.length + " " + c.fields.date);
    EXPECT_EQ(outcome.message, c.message);
    EXPECT_EQ(outcome.ok, c.message.empty());
    if (!c.storedStart.empty()) {
      EXPECT_EQ(entry.StartTime, c.storedStart);
    }
  }
  // At 02:00 the display day is still the day before: "now" is 26:00:00
  // of it, so 27:00:00 of that day lies ahead and 25:59:59 is past.
  Editor night;
  night.clock.SetLocal(2024, 3, 1, 2, 0, 0);
  EXPECT_TRUE(night.editor.Check(OneTime("2024/02/29", "27:00:00", "60"), -1, nullptr).ok);
  EXPECT_EQ(night.editor.Check(OneTime("2024/02/29", "25:59:59", "60"), -1, nullptr).message, "現在の日時以後を指定してください");
  // A typed date is stored as yyyy/mm/dd, so the tick can fire it.
  Editor e;
  TimerEntry entry;
  ASSERT_TRUE(e.editor.Check(OneTime("2024-5-1", "06:00:00", "60"), -1, &entry).ok);
  EXPECT_EQ(entry.Date, "2024/05/01");
  EXPECT_TRUE(entry.IsFireable());
}

TEST(FrmTimer, ConflictsOnTheWeekAndAcrossTheDisplayDay) {
  struct Case {
    int dayStart;
    TimerFields first;
    TimerFields second;
    bool conflict;
  };
  const Case cases[] = {
      {18000, Weekly("10:00:00", "3600", kMon, 0), Weekly("10:00:00", "3600", kMon, 1), false},
      {18000, Weekly("10:00:00", "3600", kMon), Weekly("11:00:00", "60", kMon), true},  // ends touch
      {18000, Weekly("10:00:00", "3600", kMon), Weekly("11:00:01", "60", kMon), false},
      {18000, Weekly("10:00:00", "3600", kMon), Weekly("10:30:00", "60", kSun | kFri), false},
      // Saturday night runs into Sunday morning, in either order.
      {0, Weekly("23:30:00", "3600", kSat), Weekly("00:10:00", "60", kSun), true},
      {0, Weekly("00:10:00", "60", kSun), Weekly("23:30:00", "3600", kSat), true},
      {0, Weekly("23:30:00", "3600", kSat), OneTime("2024/06/02", "00:10:00", "60"), true},
      {0, OneTime("2024/06/02", "00:10:00", "60"), Weekly("23:30:00", "3600", kSat), true},
      {0, Weekly("23:30:00", "1200", kSat), Weekly("00:10:00", "60", kSun), false},
      {18000, Weekly("28:00:00", "7200", kSat), Weekly("05:30:00", "60", kSun), true},
      {18000, Weekly("05:30:00", "60", kSun), Weekly("28:00:00", "7200", kSat), true},
      // A one-time Monday against a weekly Monday, whatever the date.
      {18000, Weekly("06:00:00", "60", kMon), OneTime("2024/09/02", "06:00:30", "60"), true},
      {18000, OneTime("2024/09/02", "06:00:00", "60"), OneTime("2024/09/02", "06:01:00", "60"), true},
      {18000, OneTime("2024/09/02", "06:00:00", "60"), OneTime("2024/09/09", "06:00:00", "60"), false},
      // 28:30 for an hour ends at 05:30 of the next display day.
      {18000, OneTime("2024/09/02", "28:30:00", "3600"), OneTime("2024/09/03", "05:20:00", "60"), true},
      {18000, OneTime("2024/09/02", "28:30:00", "3600"), OneTime("2024/09/03", "05:30:01", "60"), false},
  };
  for (const Case& c : cases) {
    Editor e(c.dayStart);
    ASSERT_TRUE(e.editor.Add(c.first).ok);
    const auto outcome = e.editor.Add(c.second);
    SCOPED_TRACE(c.first.startTime + " / " + c.second.startTime);
    EXPECT_EQ(!outcome.ok, c.conflict);
    if (c.conflict) {
      EXPECT_EQ(outcome.message, "タイマーが重複しています");
    }
    EXPECT_EQ(e.list.Count(), c.conflict ? 1u : 2u);
  }
  // An entry that can never fire is in nobody's way.
  Editor e;
  e.list.entries().push_back(TimerEntry{"6:0:0", "", kMon, 3600, "", 0, "bad", 0});
  EXPECT_TRUE(e.editor.Add(Weekly("06:00:00", "60", kMon)).ok);
}

TEST(FrmTimer, EveryChangeIsOnDiskAtOnce) {
  Editor e;
  EXPECT_EQ(e.editor.Add(Weekly("06:00:00", "3600", kMon)).message, "追加しました");
  EXPECT_EQ(e.editor.Add(OneTime("2024/03/02", "07:00:00", "60", 1)).message, "追加しました");
  ASSERT_EQ(e.OnDisk().size(), 2u);
  EXPECT_EQ(e.OnDisk()[1].Date, "2024/03/02");

  // Overwriting keeps the running mark and does not conflict with itself;
  // a one-time row overwritten as weekly loses its date.
  e.list.entries()[1].Active = 1;
  EXPECT_EQ(e.editor.Change(1, Weekly("07:00:00", "120", kMon | kFri, 1)).message, "変更しました");
  EXPECT_EQ(e.list.entries()[1].Active, 1);
  EXPECT_EQ(TimerRowTexts(e.list.entries()[1])[1], "");
  EXPECT_EQ(TimerRowTexts(e.list.entries()[1])[2], "月金");
  EXPECT_EQ(e.OnDisk()[1].WeekMask, kMon | kFri);
  EXPECT_TRUE(e.editor.Change(0, Weekly("06:00:00", "3660", kMon)).ok);
  EXPECT_FALSE(e.editor.Change(5, Weekly("06:00:00", "60", kMon)).ok);
  EXPECT_TRUE(FileExists(e.TimerFile() + ".bak"));

  // Moves: the ends stay, a move in between is saved.
  EXPECT_EQ(e.editor.Move(0, -1), 0);
  EXPECT_EQ(e.editor.Move(1, 2), 1);
  EXPECT_EQ(e.editor.Move(0, 1), 1);
  EXPECT_EQ(e.OnDisk()[0].StartTime, "07:00:00");

  // Delete only the row the question was about.
  const std::string key = EntryKey(e.list.entries()[1]);
  EXPECT_EQ(e.editor.Delete(0, key).message, "タイマーリストが変更されたため削除しませんでした");
  EXPECT_TRUE(e.editor.Delete(1, key).ok);
  ASSERT_EQ(e.OnDisk().size(), 1u);
  EXPECT_TRUE(e.editor.Delete(0, EntryKey(e.list.entries()[0])).ok);
  EXPECT_FALSE(FileExists(e.TimerFile()));  // an empty list leaves no file
}

TEST(FrmTimer, ListFilesRoundTripAndTheScanWaitEnds) {
  Editor e;
  ASSERT_TRUE(e.editor.Add(Weekly("06:00:00", "3600", kMon)).ok);
  ASSERT_TRUE(e.editor.Add(OneTime("2024/03/02", "26:00:00", "60", 2)).ok);
  e.list.entries()[0].Active = 1;
  const std::vector<TimerEntry> saved = e.list.entries();
  EXPECT_TRUE(e.editor.SaveAs(e.dir.File("week")).ok);
  ASSERT_TRUE(FileExists(e.dir.File("week.lst")));
  ASSERT_TRUE(e.editor.Add(Weekly("08:00:00", "60", kSun)).ok);

  EXPECT_EQ(e.editor.Open(e.dir.File("missing.lst")).message, "ファイルがありません " + e.dir.File("missing.lst"));
  ASSERT_TRUE(e.editor.Open(e.dir.File("week.lst")).ok);
  ASSERT_EQ(e.list.Count(), 2u);
  for (size_t i = 0; i < saved.size(); ++i) {
    EXPECT_EQ(EntryKey(e.list.entries()[i]), EntryKey(saved[i]));
    EXPECT_EQ(e.list.entries()[i].Active, 0);
  }
  EXPECT_EQ(e.OnDisk().size(), 2u);  // what was opened is what fires

  // A scan that never ends does not hang the editor.
  e.scanning = 1;
  EXPECT_TRUE(e.editor.Add(Weekly("09:00:00", "60", kSun)).ok);
  EXPECT_EQ(e.editor.waitedRounds(), 100);
}

TEST(FrmTimer, FieldRulesAndRowTexts) {
  const std::pair<std::string, std::string> six[] = {
      {"013000", "01:30:00"}, {"0130", "0130"}, {"01300a", "01300a"}, {"1234567", "1234567"}};
  for (const auto& [typed, shown] : six) EXPECT_EQ(SixDigitRule(typed), shown);
  EXPECT_EQ(TimeTextToMs(SixDigitRule("013000")) / 1000, 5400);
  EXPECT_EQ(WeekMaskText(2 | 8 | 32), "月水金");
  EXPECT_EQ(WeekMaskFromText("月水金"), 2 | 8 | 32);

  // A channel beyond the list is shown as read, and its fields fall back
  // to the first channel.
  const TimerEntry far{"06:00:00", "", kMon, 5400, "memo", 12, "News", 1};
  const auto row = TimerRowTexts(far);
  EXPECT_EQ(row[0], "13");
  EXPECT_EQ(row[4], "01:30:00");
  const TimerFields f = FieldsOf(far, 2);
  EXPECT_EQ(f.ch, 0);
  EXPECT_FALSE(f.useDate);
  EXPECT_EQ(f.length, "01:30:00");
}

}  // namespace
}  // namespace kavon
