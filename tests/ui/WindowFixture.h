#pragma once
// The windows over the whole application with simulated devices and a fake
// clock, under QT_QPA_PLATFORM=offscreen unless a platform is set (the test
// run also runs these once under a real X server).
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <memory>

#include "app/AppFixture.h"
#include "ui/MainWindow.h"
#include "ui/UiHelpers.h"

namespace kavon::test {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "ui_tests";
    static char* argv[] = {name, nullptr};
    app_ = new QApplication(argc, argv);
    ui::InstallFontSubstitutions();
  }
  void TearDown() override { delete app_; }

 private:
  QApplication* app_ = nullptr;
};
inline const auto* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// The window over a loaded application; ticks move the fake clock.
struct WindowFixture : AppFixture {
  std::unique_ptr<ui::MainWindow> window;
  // timerText: timer.txt as found at startup.
  explicit WindowFixture(const std::string& ini, const std::string& timerText = {}) : AppFixture(ini) {
    if (!timerText.empty()) WriteWholeFile(dir.File("timer.txt"), timerText);
    Load();
    window = std::make_unique<ui::MainWindow>(*app);
    window->resize(900, window->sizeHint().height());
    window->show();
  }
  ~WindowFixture() {
    ui::SetBoxAnswer({});
    ui::SetFileAnswer({});
    ui::SetInputAnswer({});
  }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) {
      clock.AdvanceMs(100);
      window->TickOnce();
    }
  }
};

}  // namespace kavon::test
