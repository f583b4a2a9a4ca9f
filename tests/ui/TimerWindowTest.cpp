// The timer list editor's window and the date dialog over the whole
// application: entries typed, added, changed, moved and deleted end up in
// the grid, in timer.txt and in the recordings the tick starts.
#include "ui/TimerWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "ui/FrmGetDate.h"
#include "ui/WindowFixture.h"

namespace kavon {
namespace {

using namespace std::chrono;
using test::WindowFixture;

// Message boxes answered with answer; what they said is kept.
struct Boxes {
  std::vector<std::string> said;
  int answer = ui::kIdOk;
  Boxes() {
    ui::SetBoxAnswer([this](const QString& text, int) {
      said.push_back(text.toStdString());
      return answer;
    });
  }
  std::string Last() const { return said.empty() ? "" : said.back(); }
};

QPoint RowPoint(ui::UC_ListView* list, int row) {
  return list->visualItemRect(list->topLevelItem(row)).center();
}

// Double-clicks day d (of the shown month) in an open date dialog.
void PickDayInDialog(int d) {
  auto* dialog = qobject_cast<ui::FrmGetDate*>(QApplication::activeModalWidget());
  ASSERT_NE(dialog, nullptr);
  ui::UC_DatePicker* picker = dialog->DateToLoad();
  const Date v = picker->Value();
  picker->SetValue(v.year() / v.month() / day{static_cast<unsigned>(d)});
  QTest::mouseDClick(picker, Qt::LeftButton, {}, QPoint(picker->width() / 2, picker->height() / 2));
}

TEST(TimerWindow, TypedEntryIsAddedSavedShownRunningAndFires) {
  WindowFixture f("NumRec=1\n");  // Friday 1 March 2024, 10:00:00
  ui::TimerWindow* w = f.window->Timers();
  EXPECT_FALSE(w->isVisible());
  w->ShowWindow();
  ASSERT_TRUE(w->isVisible());
  Boxes boxes;
  w->ComboCh()->setCurrentIndex(1);
  QTest::keyClicks(w->TextTime(), "100005");
  EXPECT_EQ(w->TextTime()->text().toStdString(), "10:00:05");
  QTest::keyClicks(w->TextLength(), "11");
  w->TextFileTitle()->setText(QStringLiteral("朝の番組"));
  QTest::mouseClick(w->ListFCTButton(0), Qt::LeftButton);
  EXPECT_EQ(boxes.Last(), "録音日を指定してください");
  QTest::mouseClick(w->CheckWD(5), Qt::LeftButton);  // 金
  QTest::mouseClick(w->ListFCTButton(0), Qt::LeftButton);
  EXPECT_EQ(boxes.Last(), "追加しました");
  ASSERT_EQ(w->ListTimer()->RowCount(), 1);
  EXPECT_EQ(w->ListTimer()->Cell(0, 0).toStdString(), "2");
  EXPECT_EQ(w->ListTimer()->Cell(0, 2).toStdString(), "金");
  EXPECT_EQ(w->ListTimer()->Cell(0, 4).toStdString(), "00:00:11");
  EXPECT_NE(test::ReadWholeFile(f.dir.File("timer.txt")).find("朝の番組"), std::string::npos);

  // The same entry again conflicts with itself.
  QTest::mouseClick(w->ListFCTButton(0), Qt::LeftButton);
  EXPECT_EQ(boxes.Last(), "タイマーが重複しています");
  EXPECT_EQ(w->ListTimer()->RowCount(), 1);

  // It fires; its row is marked while it runs.
  f.Ticks(60);
  EXPECT_EQ(f.channel(1).IsOpen, 1);
  EXPECT_EQ(w->ListTimer()->Hidden(0, 1), 1);
  EXPECT_EQ(w->ListTimer()->topLevelItem(0)->foreground(0).color(), QColor(255, 0, 0));
  f.Ticks(120);
  EXPECT_EQ(f.channel(1).IsOpen, 0);
  EXPECT_EQ(w->ListTimer()->Hidden(0, 1), 0);
  EXPECT_NE(f.LogText().find("録音開始（タイマー）"), std::string::npos);

  // A click on the row shows the entry in the fields; a one-time date is
  // picked in the dialog, and a cancelled dialog keeps the field's text.
  w->TextTime()->clear();
  QTest::mouseClick(w->ListTimer()->viewport(), Qt::LeftButton, {}, RowPoint(w->ListTimer(), 0));
  EXPECT_EQ(w->TextTime()->text().toStdString(), "10:00:05");
  EXPECT_EQ(w->ComboCh()->currentIndex(), 1);
  EXPECT_TRUE(w->CheckWD(5)->isChecked());
  EXPECT_FALSE(w->TextDate()->isEnabled());
  QTest::mouseClick(w->CheckDate(), Qt::LeftButton);
  EXPECT_TRUE(w->TextDate()->isEnabled());
  EXPECT_FALSE(w->CheckWD(5)->isEnabled());
  QTimer::singleShot(0, [] { PickDayInDialog(20); });
  QTest::mouseClick(w->DateButton(), Qt::LeftButton);
  EXPECT_EQ(w->TextDate()->text().toStdString(), "2024/03/20");
  QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
  QTest::mouseClick(w->DateButton(), Qt::LeftButton);
  EXPECT_EQ(w->TextDate()->text().toStdString(), "2024/03/20");
  QTest::mouseClick(w->ListFCTButton(1), Qt::LeftButton);
  EXPECT_EQ(boxes.Last(), "変更しました");
  EXPECT_EQ(w->ListTimer()->Cell(0, 1).toStdString(), "2024/03/20");
  EXPECT_EQ(w->ListTimer()->Cell(0, 2).toStdString(), "");

  // The close box hides the editor; the menu shows it again.
  w->close();
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(f.state().timerWindowShown, 0);
}

TEST(TimerWindow, MoveDeleteEditInPlaceOpenAndReloadFromDisk) {
  WindowFixture g("NumRec=1\n", "\"0\",\"60\",\"\",\"06:00:00\",\"2\",\"\",\"a\"\r\n"
                                "\"0\",\"60\",\"\",\"07:00:00\",\"2\",\"\",\"b\"\r\n"
                                "\"1\",\"60\",\"\",\"08:00:00\",\"2\",\"\",\"c\"\r\n");
  ui::TimerWindow* w = g.window->Timers();
  w->ShowWindow();
  ui::UC_ListView* list = w->ListTimer();
  ASSERT_EQ(list->RowCount(), 3);
  Boxes boxes;
  auto titles = [&] {
    std::string t;
    for (const auto& e : g.app->timers().entries()) t += e.FileTitle;
    return t;
  };
  auto onDisk = [&] {
    TimerList read(g.app->log());
    read.InputTimer(g.dir.File("timer.txt"));
    std::string t;
    for (const auto& e : read.entries()) t += e.FileTitle;
    return t;
  };

  list->SelectRow(2);
  QTest::mouseClick(w->ListFCTButton(4), Qt::LeftButton);  // the last row down: nothing
  EXPECT_EQ(onDisk(), "abc");
  QTest::mouseClick(w->ListFCTButton(3), Qt::LeftButton);
  EXPECT_EQ(titles(), "acb");
  EXPECT_EQ(onDisk(), "acb");
  EXPECT_EQ(list->SelectedRow(), 1);
  emit list->RowDropped(0, 2);  // a row dragged to the end
  EXPECT_EQ(onDisk(), "cba");

  boxes.answer = ui::kIdNo;
  QTest::mouseClick(w->ListFCTButton(2), Qt::LeftButton);
  EXPECT_EQ(boxes.Last(), "選択されたタイマーを削除しますか？");
  EXPECT_EQ(onDisk(), "cba");
  boxes.answer = ui::kIdYes;
  QTest::mouseClick(w->ListFCTButton(2), Qt::LeftButton);
  EXPECT_EQ(onDisk(), "cb");

  // A cell edited in place goes through the same checks as 上書き.
  const auto editCell = [&](int row, int column, const QString& text) {
    list->editItem(list->topLevelItem(row), column);
    auto* editor = list->viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->setText(text);
    QTest::keyClick(editor, Qt::Key_Return);
    // The grid commits after the key and reports after the editor closed.
    for (int i = 0; i < 3; ++i) {
      QApplication::processEvents();
      QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
  };
  editCell(1, 3, "063000");
  EXPECT_EQ(g.app->timers().entries()[1].StartTime, "06:30:00");
  // The fields follow the edit: 上書き after it keeps it; Enter in a field
  // does what the default button (上書き with a row selected) does.
  EXPECT_EQ(w->TextTime()->text().toStdString(), "06:30:00");
  EXPECT_TRUE(w->ListFCTButton(1)->isDefault());
  w->TextRef()->setText("changed");
  QTest::keyClick(w->TextRef(), Qt::Key_Return);
  EXPECT_EQ(g.app->timers().entries()[1].StartTime, "06:30:00");
  EXPECT_EQ(g.app->timers().entries()[1].Ref, "changed");
  editCell(1, 3, "04:00:00");
  EXPECT_EQ(boxes.Last(), "開始時刻が不正です");
  EXPECT_EQ(list->Cell(1, 3).toStdString(), "06:30:00");

  // 開く: a list file replaces the list, and timer.txt with it.
  test::WriteWholeFile(g.dir.File("night.lst"), "\"0\",\"600\",\"\",\"26:00:00\",\"127\",\"\",\"night\"\r\n");
  ui::SetFileAnswer([&](bool save, const QString&) {
    EXPECT_FALSE(save);
    return QString::fromStdString(g.dir.File("night.lst"));
  });
  w->MenuTimer(0);
  ASSERT_EQ(list->RowCount(), 1);
  EXPECT_EQ(list->Cell(0, 2).toStdString(), "日月火水木金土");
  EXPECT_EQ(onDisk(), "night");

  // timer.txt edited by hand while something is typed: the grid shows the
  // new list and the typing stays when the user says so.
  w->TextRef()->clear();
  QTest::keyClicks(w->TextRef(), "half typed");
  test::WriteWholeFile(g.dir.File("timer.txt"), "\"1\",\"60\",\"\",\"09:00:00\",\"4\",\"\",\"hand\"\r\n"
                                                "\"1\",\"60\",\"\",\"10:00:00\",\"4\",\"\",\"made\"\r\n");
  g.Ticks(21);  // taken once it stayed the same for a second
  EXPECT_EQ(list->RowCount(), 2);
  EXPECT_EQ(boxes.Last(), "タイマーファイルが変更されたため読み直しました。入力中の内容を残しますか？");
  EXPECT_EQ(w->TextRef()->text().toStdString(), "half typed");
}

// The longest length the editor takes is what one WAV file holds at the
// rate in use; Esc hides the editor as its close box does.
TEST(TimerWindow, TheLongestLengthFollowsTheRateAndEscHides) {
  WindowFixture f("NumRec=0\nnFreq=48000\n");
  ui::TimerWindow* w = f.window->Timers();
  w->ShowWindow();
  Boxes boxes;
  w->TextTime()->setText("06:00:00");
  w->CheckWD(1)->setChecked(true);
  w->TextLength()->setText("22370");  // 4 GB at 48000 Hz is 22369.6 s
  QTest::mouseClick(w->ListFCTButton(0), Qt::LeftButton);
  EXPECT_EQ(boxes.Last(), "録音時間が長すぎます");
  w->TextLength()->setText("22369");
  QTest::mouseClick(w->ListFCTButton(0), Qt::LeftButton);
  EXPECT_EQ(f.app->timers().Count(), 1u);
  QTest::keyClick(w, Qt::Key_Escape);
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(f.state().timerWindowShown, 0);
}

TEST(FrmGetDate, PickTypeStepAndCancel) {
  ui::FrmGetDate dialog(year{2025} / 1 / 15, year{2025} / 1 / 20, 1.0);
  dialog.show();
  ui::UC_DatePicker* picker = dialog.DateToLoad();
  picker->grab();  // drawing asks for the highlights
  EXPECT_TRUE(picker->IsHilited(20));
  EXPECT_FALSE(picker->IsHilited(15));
  // January 2025 begins on a Wednesday: day 3 is row 0, column 5.
  EXPECT_EQ(picker->DayOfCell(3), 1);
  picker->PressAt(120 + 5 * 240 + 100, 360 + 100);
  EXPECT_EQ(picker->Value(), year{2025} / 1 / 3);
  picker->PressAt(120 + 7 * 240 + 50, 360 + 100);  // right of the last column
  EXPECT_EQ(picker->Value(), year{2025} / 1 / 3);
  picker->PressAt(180, 1900);  // previous month
  EXPECT_EQ(picker->Value(), year{2024} / 12 / 1);
  picker->grab();
  EXPECT_FALSE(picker->IsHilited(20));
  picker->PressAt(1780, 1900);  // next month
  EXPECT_EQ(picker->Value(), year{2025} / 1 / 1);

  const std::pair<const char*, Date> typed[] = {{"2030", year{2030} / 1 / 1},
                                                {"20300215", year{2030} / 2 / 15},
                                                {"2030/02/30", year{2030} / 2 / 15},
                                                {"", year{2030} / 2 / 15},
                                                {"0050", year{2030} / 2 / 15}};
  for (const auto& [answer, expected] : typed) {
    ui::SetInputAnswer([answer](const QString& title, const QString&) {
      EXPECT_EQ(title.toStdString(), "日付選択");
      return QString(answer);
    });
    picker->PressAt(1000, 1900);
    EXPECT_EQ(picker->Value(), expected) << answer;
  }
  ui::SetInputAnswer({});
  picker->SetValue(year{9999} / 12 / 10);
  picker->PressAt(1780, 1900);  // no year beyond what the dates support
  EXPECT_EQ(picker->Value(), year{9999} / 12 / 10);

  // A single click selects; the double click picks and closes.
  const double px = 1.0 / ui::TwipsPerPixel(picker);
  picker->SetValue(year{2025} / 1 / 15);
  const QPoint day17((120 + 5 * 240 + 120) * px, (360 + 2 * 240 + 120) * px);  // 2025/01/17, a Friday
  QTest::mouseClick(picker, Qt::LeftButton, {}, day17);
  EXPECT_EQ(picker->Value(), year{2025} / 1 / 17);
  EXPECT_TRUE(dialog.isVisible());
  QTest::mouseDClick(picker, Qt::LeftButton, {}, day17);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.Picked(), std::optional<Date>(year{2025} / 1 / 17));

  ui::FrmGetDate cancelled(year{2025} / 1 / 15, year{2025} / 1 / 20, 1.0);
  cancelled.show();
  cancelled.close();
  EXPECT_FALSE(cancelled.Picked().has_value());
}

}  // namespace
}  // namespace kavon
