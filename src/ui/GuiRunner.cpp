#include "ui/GuiRunner.h"

#include <QApplication>
#include <QTimer>
#include <cstdlib>
#include <iostream>

#include "ui/MainWindow.h"
#include "ui/TimerWindow.h"
#include "ui/UiHelpers.h"

namespace kavon::ui {
namespace {

constexpr int kScreenshotDelayMs = 2000;
constexpr const char* kDesktopId = "net.tarvelin.kavon";

std::string TimerShotPath(const std::string& path) {
  const auto dot = path.rfind('.');
  const auto slash = path.find_last_of("/\\");
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return hasExtension ? path.substr(0, dot) + "-timer" + path.substr(dot) : path + "-timer";
}

bool HasDisplay() {
  const char* x = std::getenv("DISPLAY");
  const char* w = std::getenv("WAYLAND_DISPLAY");
  const char* qpa = std::getenv("QT_QPA_PLATFORM");  // offscreen, vnc, ...
  return (x && *x) || (w && *w) || (qpa && *qpa);
}

// The offscreen platform that a picture without a display runs on says
// things no user can act on: those two are left out.
void QuietOffscreen(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (text.contains("propagateSizeHints") || text.contains("XDG_RUNTIME_DIR not set")) return;
  std::cerr << qFormatLogMessage(type, context, text).toStdString() << "\n";
}

}  // namespace

bool HasWindow(bool screenshot) {
#ifdef _WIN32
  return true;  // a Windows desktop always has a screen
#else
  return screenshot || HasDisplay();
#endif
}

int RunGui(int& argc, char** argv, FrmMain& app, const GuiOptions& options) {
  if (!options.screenshot.empty() && !HasWindow(false)) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(QuietOffscreen);
  }
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
      // An open timer editor is pictured beside: name-timer.png.
      if (window.Timers()->isVisible()) {
        const std::string path = TimerShotPath(options.screenshot);
        if (!window.Timers()->grab().save(QString::fromStdString(path), "PNG")) {
          std::cerr << "kavon: cannot save the screenshot " << path << "\n";
          rc = 1;
        }
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
