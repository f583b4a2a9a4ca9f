#include "ui/GuiRunner.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QTemporaryFile>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "schedule/DateTime.h"
#include "ui/ConfDialog.h"
#include "ui/FrmGetDate.h"
#include "ui/MainWindow.h"
#include "ui/TimerWindow.h"
#include "ui/UiHelpers.h"

namespace kavon::ui {
namespace {

constexpr int kScreenshotDelayMs = 2000;
constexpr const char* kDesktopId = "net.tarvelin.kavon";

// "shot.png" with a window's name: "shot-timer.png".
QString ShotPath(const std::string& path, const char* window) {
  const auto dot = path.rfind('.');
  const auto slash = path.find_last_of("/\\");
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  const std::string named = hasExtension ? path.substr(0, dot) + "-" + window + path.substr(dot) : path + "-" + window;
  return QString::fromStdString(named);
}

// The screen a picture without a display is taken on: KAVON_SCREEN
// ("1366x768") or a desktop's 1920 × 1200.
QByteArray ScreenConfig() {
  int width = 1920, height = 1200;
  if (const char* size = std::getenv("KAVON_SCREEN")) std::sscanf(size, "%dx%d", &width, &height);
  return QByteArray(R"({"windowFrameMargins": true, "screens": [{"name": "picture", "x": 0, "y": 0, "width": )") +
         QByteArray::number(width) + R"(, "height": )" + QByteArray::number(height) +
         R"(, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})";
}

// Saves a picture of w; false (said on stderr) when it cannot.
bool Save(QWidget* w, const QString& path) {
  QApplication::processEvents();
  if (w->grab().save(path, "PNG")) return true;
  std::cerr << "kavon: cannot save the screenshot " << path.toStdString() << "\n";
  return false;
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
  if (text.contains("propagateSizeHints") || text.contains("support raise()") || text.contains("XDG_RUNTIME_DIR not set")) {
    return;
  }
  std::cerr << qFormatLogMessage(type, context, text).toStdString() << "\n";
}

}  // namespace

void InstallTranslations(QCoreApplication& qt, const Lang& lang) {
  // Parented to the application: they live as long as it.
  if (lang.Mode() == Lang::kEnglish) {
    auto* own = new QTranslator(&qt);
    if (own->load(QStringLiteral(":/i18n/kavon_en.qm"))) qt.installTranslator(own);
    return;
  }
  // Japanese: our texts are Japanese already; Qt's own buttons and dialogs
  // (Yes/No, Save As, Look in) come from Qt's catalogue.
  auto* qtbase = new QTranslator(&qt);
  if (qtbase->load(QLocale(QLocale::Japanese), QStringLiteral("qtbase"), QStringLiteral("_"),
                   QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    qt.installTranslator(qtbase);
  }
}

bool HasWindow(bool screenshot) {
#ifdef _WIN32
  return true;  // a Windows desktop always has a screen
#else
  return screenshot || HasDisplay();
#endif
}

int RunGui(int& argc, char** argv, FrmMain& app, const GuiOptions& options) {
  // Without a display the picture is taken on a screen of the platform's
  // own, as large as a desktop's, so that the windows keep their sizes.
  QTemporaryFile screens(QDir::tempPath() + "/kavon-screen-XXXXXX.json");
  if (!options.screenshot.empty() && !HasWindow(false)) {
    QByteArray platform = "offscreen";
    if (screens.open()) {
      screens.write(ScreenConfig());
      screens.flush();
      platform += ":configfile=" + screens.fileName().toUtf8();
    }
    qputenv("QT_QPA_PLATFORM", platform);
    qInstallMessageHandler(QuietOffscreen);
  }
  QApplication qt(argc, argv);
  QApplication::setApplicationName("kavon");
  InstallTranslations(qt, app.state().lang);
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
      // The main window, then each of the others as the user opens them,
      // beside it: name-timer.png, name-settings.png, name-date.png.
      bool saved = Save(&window, QString::fromStdString(options.screenshot));
      TimerWindow* timers = window.Timers();
      const int shown = app.state().timerWindowShown;
      if (!timers->isVisible()) timers->ShowWindow();
      saved &= Save(timers, ShotPath(options.screenshot, "timer"));
      app.state().timerWindowShown = shown;  // a picture is no reason to open it next time
      ConfDialog* conf = window.OpenSettings();
      saved &= Save(conf, ShotPath(options.screenshot, "settings"));
      conf->close();
      const auto parsed = ParseDateTimeText(NowText(app.state().clock, app.settings().HourAdjust, 0, 0, 1));
      const Date today = parsed ? parsed->date : Date{};
      FrmGetDate date(today, today, app.settings().SizeRate, &window);
      date.show();
      saved &= Save(&date, ShotPath(options.screenshot, "date"));
      date.close();
      if (!saved) rc = 1;
      window.CloseWithoutAsking();
    });
  }
  const int loop = qt.exec();
  app.Unload();
  window.SavePlacement();
  return rc != 0 ? rc : loop;
}

}  // namespace kavon::ui
