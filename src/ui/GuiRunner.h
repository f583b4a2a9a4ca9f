#pragma once
// Runs kavon with its window: Qt's application object, the main window,
// the tick, the stop signals and --screenshot. A build without Qt has a
// stand-in (NoWindow.cpp) that says so.
#include <functional>
#include <string>

#include "app/FrmMain.h"
#include "common/Lang.h"

class QCoreApplication;

namespace kavon::ui {

struct GuiOptions {
  // Save the main window as a PNG here after about two seconds, then exit.
  std::string screenshot;
  // Polled after each tick: true ends kavon without the exit question.
  std::function<bool()> stopRequested;
  // Polled after each tick (SIGHUP: read the timer list again).
  std::function<void()> afterTick;
};

// The window's texts in the user's language: our English catalogue for an
// English user, Qt's own Japanese (standard buttons, file dialogs) for a
// Japanese one.
void InstallTranslations(QCoreApplication& qt, const Lang& lang);

// Whether this build has a window and there is a screen to show it on
// (--screenshot needs none: it draws offscreen).
bool HasWindow(bool screenshot);

// The application has been loaded; runs the window until it closes, then
// unloads the application and saves the window's placement. The exit code.
int RunGui(int& argc, char** argv, FrmMain& app, const GuiOptions& options);

}  // namespace kavon::ui
