#include "ui/GuiRunner.h"

#include <QApplication>
#include <QTimer>
#include <iostream>

#include "ui/MainWindow.h"
#include "ui/UiHelpers.h"

namespace kavon::ui {
namespace {

constexpr int kScreenshotDelayMs = 2000;
constexpr const char* kDesktopId = "net.tarvelin.kavon";

}  // namespace

int RunGui(int& argc, char** argv, FrmMain& app, const GuiOptions& options) {
  QApplication qt(argc, argv);
  QApplication::setApplicationName("kavon");
  QGuiApplication::setDesktopFileName(kDesktopId);
  InstallFontSubstitutions();
  MainWindow window(app);
  window.resize(window.sizeHint().expandedTo(QSize(static_cast<int>(760 * app.settings().SizeRate), 0)));
  window.RestorePlacement();
  window.show();
  // The desktop session ending closes kavon without a question.
  QObject::connect(&qt, &QGuiApplication::commitDataRequest, &window, [&window] { window.CloseWithoutAsking(); });
  window.StartTicking([&] {
    if (options.afterTick) options.afterTick();
    if (options.stopRequested && options.stopRequested()) window.CloseWithoutAsking();
  });
  int rc = 0;
  if (!options.screenshot.empty()) {
    QTimer::singleShot(kScreenshotDelayMs, &window, [&] {
      if (!window.grab().save(QString::fromStdString(options.screenshot), "PNG")) {
        std::cerr << "kavon: cannot save the screenshot " << options.screenshot << "\n";
        rc = 1;
      }
      window.CloseWithoutAsking();
    });
  }
  const int loop = qt.exec();
  app.Unload();
  window.SavePlacement();
  return rc != 0 ? rc : loop;
}

}  // namespace kavon::ui
