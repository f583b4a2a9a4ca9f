// The main window and the settings dialog.
#include "ui/MainWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include "ui/ConfDialog.h"
#include "ui/WindowFixture.h"

namespace kavon {
namespace {

using test::WindowFixture;

TEST(MainWindow, RowsPerChannelAndClicksThatRecord) {
  WindowFixture one("NumRec=0\n");
  EXPECT_EQ(one.window->RowCount(), 1);
  WindowFixture eight("NumRec=7\n");
  EXPECT_EQ(eight.window->RowCount(), 8);

  WindowFixture f("NumRec=1\n");
  QTest::mouseClick(f.window->RecButton(1)->Button(0), Qt::LeftButton);
  EXPECT_EQ(f.channel(1).IsOpen, 1);
  EXPECT_TRUE(f.window->RecButton(1)->IsActive(0));
  EXPECT_EQ(f.channel(0).IsOpen, 0);
  f.Ticks(10);
  EXPECT_TRUE(f.window->PicRec(1)->Lit());
  EXPECT_EQ(f.window->PicRec(1)->Lines().front().toStdString(), "00'01.0");
  QTest::mouseClick(f.window->RecButton(1)->Button(0), Qt::LeftButton, Qt::ControlModifier);  // nothing with Ctrl
  QTest::mouseClick(f.window->RecButton(1)->Button(1), Qt::LeftButton);
  EXPECT_EQ(f.channel(1).IsOpen, 0);
  EXPECT_FALSE(f.window->RecButton(1)->IsActive(0));

  // The right button chooses the file of the next manual recording.
  QString askedIn;
  ui::SetFileAnswer([&](bool save, const QString& folder) {
    EXPECT_TRUE(save);
    askedIn = folder;
    return QString::fromStdString(f.dir.File("take"));
  });
  QTest::mouseClick(f.window->RecButton(0)->Button(1), Qt::RightButton);
  EXPECT_EQ(askedIn.toStdString() + "/", f.dir.path() + "/");
  EXPECT_EQ(f.state().ManualFileName[0], f.dir.File("take.wav"));

  // A start that fails shows a box (after the click, not inside a tick)
  // and leaves the row red with the reason until the next start.
  std::vector<QString> shown;
  ui::SetBoxAnswer([&](const QString& text, int) {
    shown.push_back(text);
    return ui::kIdOk;
  });
  f.sim->FailNextOpen(platform::kWaveAllocated);
  QTest::mouseClick(f.window->RecButton(0)->Button(0), Qt::LeftButton);
  EXPECT_EQ(f.channel(0).IsOpen, 0);
  ASSERT_EQ(shown.size(), 1u);
  // It waits for its device meanwhile, tried every 2 s, and says so first.
  EXPECT_TRUE(f.window->PicRec(0)->toolTip().endsWith(shown.front()));
  EXPECT_TRUE(f.window->PicRec(0)->toolTip().startsWith(QStringLiteral("録音デバイス待ち")) ||
              f.window->PicRec(0)->toolTip().startsWith(QStringLiteral("waiting for the device")));
  // The whole row says so: no time that looks like a recording, the reason
  // where the meter was, the channel number marked.
  EXPECT_EQ(f.window->PicRec(0)->Lines().front().toStdString(), "--'--.-");
  EXPECT_FALSE(f.window->RowNumber(0)->styleSheet().isEmpty());
  EXPECT_TRUE(f.window->RecButton(0)->Button(0)->toolTip().contains(QStringLiteral("右クリック")) ||
              f.window->RecButton(0)->Button(0)->toolTip().contains(QStringLiteral("right click")));
  QTest::mouseClick(f.window->RecButton(0)->Button(0), Qt::LeftButton);
  f.Ticks(1);
  EXPECT_EQ(f.window->PicRec(0)->toolTip(), QString::fromStdString(f.channel(0).RecFileName));  // no trouble: the file
  QTest::mouseClick(f.window->RecButton(0)->Button(1), Qt::LeftButton);

  // The detection switches and the timer switch act on the core.
  QTest::mouseClick(f.window->CheckMuonStop(0), Qt::LeftButton);
  EXPECT_EQ(f.state().settings.UseMuonOut[0], 1);
  QTest::mouseClick(f.window->TextTimerOn(), Qt::LeftButton);
  EXPECT_EQ(f.state().TimerOn, 0);
  f.Ticks(1);
  EXPECT_FALSE(f.window->TextTimerOn()->Lit());
}

TEST(MainWindow, TheCloseQuestionAndPlacement) {
  WindowFixture f("NumRec=0\nWindowLeft=99999999\nWindowTop=-5\n");
  f.window->RestorePlacement();
  EXPECT_EQ(f.window->x(), 0);  // a placement of a larger screen never hides the window
  EXPECT_EQ(f.window->y(), 0);
  f.app->recording().RecButtonClick(0, 0);
  std::vector<QString> asked;
  ui::SetBoxAnswer([&](const QString& text, int style) {
    asked.push_back(text);
    EXPECT_EQ(style, ui::kMbYesNo | ui::kMbIconQuestion);
    return ui::kIdNo;
  });
  f.window->showMaximized();
  f.window->close();
  EXPECT_TRUE(f.window->isVisible());  // No: everything goes on
  EXPECT_FALSE(f.window->isMaximized());  // restored to normal before the question
  EXPECT_EQ(f.channel(0).IsOpen, 1);
  ui::SetBoxAnswer([&](const QString& text, int) {
    asked.push_back(text);
    return ui::kIdYes;
  });
  f.window->close();
  EXPECT_FALSE(f.window->isVisible());
  EXPECT_EQ(asked, (std::vector<QString>{"終了しますか？", "終了しますか？"}));
  f.window->show();
  f.window->CloseWithoutAsking();  // SIGTERM, the session ending: no question
  EXPECT_FALSE(f.window->isVisible());
  EXPECT_EQ(asked.size(), 2u);
}

TEST(MainWindow, RendersRowsMetersAndTheClock) {
  WindowFixture f("NumRec=1\nDevInID_1=Tone\n");
  f.app->recording().RecButtonClick(0, 0);
  f.Ticks(10);
  const QImage shot = f.window->grab().toImage();
  auto drawn = [&](QWidget* w) {
    const QRect r(w->mapTo(f.window.get(), QPoint(0, 0)), w->size());
    const QRgb first = shot.pixel(r.topLeft() + QPoint(r.width() / 2, r.height() / 2));
    int differing = 0;
    for (int y = r.top(); y < r.bottom(); y += 2) {
      for (int x = r.left(); x < r.right(); x += 2) differing += shot.pixel(x, y) != first;
    }
    return differing;
  };
  EXPECT_GT(drawn(f.window->PictureVU(0)), 200);  // bars, scale and texts
  EXPECT_GT(drawn(f.window->PictureVU(1)), 50);   // the scale of an idle meter
  EXPECT_GT(drawn(f.window->TextClock()), 20);
  EXPECT_GT(drawn(f.window->PicRec(0)), 20);
  EXPECT_LT(f.window->PictureVU(1)->Vu().BarPos(0), f.window->PictureVU(0)->Vu().BarPos(0));
  EXPECT_FALSE(f.window->StatusText()->text().isEmpty());
}

TEST(ConfDialog, RefusedFieldsAreMarkedAndOkStores) {
  WindowFixture f("NumRec=0\n");
  ui::ConfDialog* dialog = f.window->OpenSettings();
  ASSERT_TRUE(dialog->isVisible());
  EXPECT_EQ(f.window->OpenSettings(), dialog);  // one at a time
  auto* ms = qobject_cast<QLineEdit*>(dialog->Field("MuonMS"));
  ASSERT_NE(ms, nullptr);
  std::vector<QString> shown;
  ui::SetBoxAnswer([&](const QString& text, int) {
    shown.push_back(text);
    return ui::kIdOk;
  });
  ms->setText("abc");
  EXPECT_FALSE(dialog->Accept());
  EXPECT_FALSE(ms->styleSheet().isEmpty());
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_TRUE(shown.front().contains("無音長さ"));
  EXPECT_TRUE(dialog->isVisible());
  // Typing six digits into the day start shows a time.
  auto* day = qobject_cast<QLineEdit*>(dialog->Field("HourAdjust"));
  day->clear();
  QTest::keyClicks(day, "053000");
  EXPECT_EQ(day->text().toStdString(), "05:30:00");
  dialog->BcdBox()->setChecked(true);
  EXPECT_FALSE(dialog->BaudList()->isEnabled());
  EXPECT_FALSE(dialog->PinList(0)->isEnabled());
  EXPECT_TRUE(dialog->PinList(1)->isEnabled());
  ms->setText("2500");
  EXPECT_TRUE(dialog->Accept());
  const std::string ini = test::ReadWholeFile(f.dir.File("kavon.ini"));
  EXPECT_NE(ini.find("\nMuonMS=2500\n"), std::string::npos);
  EXPECT_NE(ini.find("\nHourAdjust=19800\n"), std::string::npos);
  EXPECT_NE(ini.find("\nUseBCD=1\n"), std::string::npos);
}

TEST(UiHelpers, FontCacheAndLevelTexts) {
  ui::FontCache cache("ＭＳ Ｐゴシック", 15);
  QWidget a, b;
  EXPECT_EQ(cache.SetWindowFont(&a, -2), 0);
  EXPECT_EQ(cache.SetWindowFont(&b, -2), 0);  // one cached font for both
  EXPECT_EQ(cache.Count(), 1);
  EXPECT_EQ(a.font(), b.font());
  EXPECT_EQ(cache.SetWindowFont(&a, -2, 12, true, false, "メイリオ"), 1);
  EXPECT_EQ(cache.At(1).font.pixelSize(), 21);  // 12 × 20 × 1.34 / 15
  EXPECT_EQ(cache.At(0).font.pixelSize(), 12);
  EXPECT_EQ(cache.SetWindowFont(&a, -3), -3);
  EXPECT_EQ(cache.SetWindowFont(&a, 7), -3);
  EXPECT_EQ(ui::LevelText(-5.24), "-05.2");
  EXPECT_EQ(ui::LevelText(-60), "-60.0");
  EXPECT_EQ(ui::LevelText(0.0002), "00.0");
}

}  // namespace
}  // namespace kavon
