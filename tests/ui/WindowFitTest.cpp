// The windows on every screen: each window and dialog lies inside the
// screen's available area with its buttons in view, at 1366 × 768 and at a
// scale of 2; the main window gives extra height to the rows; the meter's
// texts never overlap; the editor's being open survives an exit.
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include "ui/ConfDialog.h"
#include "ui/TimerWindow.h"
#include "ui/WindowFixture.h"

namespace kavon {
namespace {

using test::WindowFixture;

// w's frame, and each of the widgets, lie inside the area of w's screen.
void ExpectInside(QWidget* w, std::vector<QWidget*> parts) {
  const QRect area = w->screen()->availableGeometry();
  EXPECT_TRUE(area.contains(w->frameGeometry())) << w->windowTitle().toStdString() << " " << w->frameGeometry().width()
                                                 << "x" << w->frameGeometry().height() << " on " << area.width() << "x"
                                                 << area.height();
  for (QWidget* part : parts) {
    ASSERT_TRUE(part->isVisible());
    const QRect global(part->mapToGlobal(QPoint(0, 0)), part->size());
    EXPECT_TRUE(area.contains(global)) << part->objectName().toStdString();
  }
}

TEST(WindowFit, EveryWindowFitsEveryScreen) {
  for (QScreen* screen : QGuiApplication::screens()) {
    for (const char* ini : {"NumRec=7\n", "NumRec=7\nSizeRate=2\n"}) {
      SCOPED_TRACE(screen->name().toStdString() + " " + ini);
      WindowFixture f(ini);
      for (QWidget* w : std::initializer_list<QWidget*>{f.window.get(), f.window->Timers()}) {
        w->move(screen->availableGeometry().topLeft());
        w->resize(w->sizeHint());
      }
      f.window->RestorePlacement();
      f.window->Timers()->ShowWindow();
      ui::ConfDialog* conf = f.window->OpenSettings();
      conf->move(screen->availableGeometry().topLeft() + QPoint(50, 50));
      conf->hide();
      conf->show();
      QTest::qWait(10);
      ExpectInside(f.window.get(), {f.window->RecButton(0)});
      ExpectInside(f.window->Timers(), {f.window->Timers()->ListFCTButton(0), f.window->Timers()->ListFCTButton(4)});
      ExpectInside(conf, {conf->OkButton(), conf->CancelButton()});
      conf->close();
    }
  }
}

TEST(WindowFit, ExtraHeightGoesToTheRowsAndTheSmallestSizeKeepsTheClockWhole) {
  WindowFixture f("NumRec=3\n");
  f.window->resize(900, f.window->sizeHint().height());
  QTest::qWait(10);
  const int clock = f.window->TextClock()->height(), meter = f.window->PictureVU(0)->height();
  f.window->resize(900, f.window->sizeHint().height() + 400);
  QTest::qWait(10);
  EXPECT_EQ(f.window->TextClock()->height(), clock);
  EXPECT_GT(f.window->PictureVU(0)->height(), meter + 60);
  f.window->resize(100, 100);  // smaller than anything: the rows scroll
  QTest::qWait(10);
  EXPECT_GE(f.window->TextClock()->height(), f.window->TextClock()->sizeHint().height());
}

TEST(WindowFit, MeterTextsNeverOverlap) {
  for (const double rate : {0.5, 1.0, 1.5, 2.0, 3.0}) {
    SCOPED_TRACE(rate);
    ui::MeterWidget meter(rate, ui::MakeFont(ui::UiFace(1), 9 * rate, false, 15));
    meter.resize(meter.sizeHint());
    meter.show();
    QTest::qWait(1);
    const auto r = meter.ValueTextRects();
    EXPECT_GE(r[1].top() - r[0].bottom(), 1.5);  // two pixels apart, rounding aside
    EXPECT_LT(meter.ZeroTickX(), r[0].left());
  }
}

TEST(WindowFit, TheEditorOpenAtExitOpensAtTheNextStart) {
  WindowFixture f("NumRec=0\n");
  f.window->Timers()->ShowWindow();
  f.window->CloseWithoutAsking();
  f.window->Timers()->close();  // the application closing its windows
  f.app->Unload();
  EXPECT_NE(test::ReadWholeFile(f.dir.File("kavon.ini")).find("\nFrmTimerVisible=1\n"), std::string::npos);
}

}  // namespace
}  // namespace kavon
