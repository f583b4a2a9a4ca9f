// The stand-in for the window in a build without Qt (the Windows build of
// this machine): kavon runs headless.
#include <iostream>

#include "ui/GuiRunner.h"

namespace kavon::ui {

bool HasWindow(bool) { return false; }

int RunGui(int&, char**, FrmMain& app, const GuiOptions&) {
  std::cerr << "kavon: this build has no window; run it with --headless\n";
  app.Unload();
  return 2;
}

}  // namespace kavon::ui
