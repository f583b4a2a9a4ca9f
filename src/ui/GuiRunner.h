#pragma once
// Runs kavon with its window: Qt's application object, the main window,
// the tick, the stop signals and --screenshot.
#include <functional>
#include <string>

#include "app/FrmMain.h"

namespace kavon::ui {

struct GuiOptions {
  // Save the main window as a PNG here after about two seconds, then exit.
  std::string screenshot;
  // Polled after each tick: true ends kavon without the exit question.
  std::function<bool()> stopRequested;
  // Polled after each tick (SIGHUP: read the timer list again).
  std::function<void()> afterTick;
};

// The application has been loaded; runs the window until it closes, then
// unloads the application and saves the window's placement. The exit code.
int RunGui(int& argc, char** argv, FrmMain& app, const GuiOptions& options);

}  // namespace kavon::ui
