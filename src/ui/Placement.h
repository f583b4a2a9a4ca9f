#pragma once
// A window's placement in the settings, in twips: "WindowLeft",
// "WindowTop", "WindowHeight", "WindowWidth" and "WindowState" (0 normal,
// 1 minimised, 2 maximised), each followed by the window's key suffix.
#include <QWidget>
#include <string>
#include <vector>

#include "app/SettingsStore.h"

namespace kavon::ui {

class WindowPlacement {
 public:
  WindowPlacement(SettingsStore& store, std::string suffix) : store_(store), suffix_(std::move(suffix)) {}

  // withSize: the stored size too (the main window's follows its rows). A
  // position saved on a larger screen never hides the window.
  void Restore(QWidget* window, bool withSize);
  // Only what changed since Restore is written; a minimised or maximised
  // window keeps its last normal position and size.
  void Save(const QWidget* window);

 private:
  SettingsStore& store_;
  std::string suffix_;
  std::vector<std::string> read_;  // as read by Restore
};

}  // namespace kavon::ui
