#pragma once
// The windows over the whole application with simulated devices and a fake
// clock, under QT_QPA_PLATFORM=offscreen unless a platform is set (the test
// run also runs these once under a real X server).
#include <gtest/gtest.h>

#include <unistd.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app/AppFixture.h"
#include "ui/MainWindow.h"
#include "ui/UiHelpers.h"

namespace kavon::test {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!std::getenv("QT_QPA_PLATFORM")) {
      // Two screens of the sizes stations have: 1366 × 768, and the same at
      // a scale of 2 (683 × 384 logical pixels), window frames included.
      const std::string config = std::filesystem::temp_directory_path() / ("kavon-ui-screens-" + std::to_string(getpid()) + ".json");
      std::ofstream(config) << R"({"windowFrameMargins": true, "screens": [
        {"name": "small", "x": 0, "y": 0, "width": 1366, "height": 768, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1},
        {"name": "scaled", "x": 1366, "y": 0, "width": 683, "height": 384, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 2}]})";
      setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config).c_str(), 1);
      config_ = config;
    }
    static int argc = 1;
    static char name[] = "ui_tests";
    static char* argv[] = {name, nullptr};
    app_ = new QApplication(argc, argv);
    ui::InstallFontSubstitutions();
  }
  void TearDown() override {
    delete app_;
    if (!config_.empty()) std::filesystem::remove(config_);
  }

 private:
  QApplication* app_ = nullptr;
  std::string config_;
};
inline const auto* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// The window over a loaded application; ticks move the fake clock.
struct WindowFixture : AppFixture {
  std::unique_ptr<ui::MainWindow> window;
  // timerText: timer.txt as found at startup.
  explicit WindowFixture(const std::string& ini, const std::string& timerText = {}, int lang = Lang::kJapanese)
      : AppFixture(ini) {
    if (!timerText.empty()) WriteWholeFile(dir.File("timer.txt"), timerText);
    Load();
    // The windows' own texts are Japanese unless a test installs the English
    // catalogue; the core's texts follow suit, whatever the test's locale.
    state().lang = Lang(lang);
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
