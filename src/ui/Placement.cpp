#include "ui/Placement.h"

#include <QScreen>

#include "common/Text.h"
#include "ui/UiHelpers.h"

namespace kavon::ui {
namespace {

const char* const kKeys[] = {"WindowLeft", "WindowTop", "WindowHeight", "WindowWidth", "WindowState"};

std::vector<std::string> PlacementOf(const QWidget* w, int tpp) {
  return {FormatFixed(w->x() * tpp, 0), FormatFixed(w->y() * tpp, 0), FormatFixed(w->height() * tpp, 0),
          FormatFixed(w->width() * tpp, 0), std::to_string(w->isMaximized() ? 2 : w->isMinimized() ? 1 : 0)};
}

}  // namespace

void WindowPlacement::Restore(QWidget* window, bool withSize) {
  const int tpp = TwipsPerPixel(window);
  SettingsBatch batch(store_);
  const std::vector<std::string> current = PlacementOf(window, tpp);
  read_.clear();
  std::vector<double> v;
  for (size_t i = 0; i < current.size(); ++i) {
    read_.push_back(store_.ReadSetting(kKeys[i] + suffix_, current[i]));
    v.push_back(ParseNumber(read_.back()).value_or(*ParseNumber(current[i])));
  }
  const QRect screen = window->screen() ? window->screen()->availableGeometry() : QRect(0, 0, 1920, 1080);
  const double left = v[0] < 0 || v[0] > screen.width() * tpp ? 0 : v[0];
  const double top = v[1] < 0 || v[1] > screen.height() * tpp ? 0 : v[1];
  window->move(static_cast<int>(left / tpp), static_cast<int>(top / tpp));
  if (withSize && v[2] > 0 && v[3] > 0) {
    const QSize size(static_cast<int>(v[3] / tpp), static_cast<int>(v[2] / tpp));
    window->resize(size.boundedTo(screen.size()).expandedTo(window->minimumSizeHint()));
  }
  const int state = static_cast<int>(v[4]);
  if (state == 1) window->setWindowState(Qt::WindowMinimized);
  if (state == 2) window->setWindowState(Qt::WindowMaximized);
}

void WindowPlacement::Save(const QWidget* window) {
  const bool normal = !window->isMaximized() && !window->isMinimized();
  const std::vector<std::string> now = PlacementOf(window, TwipsPerPixel(window));
  SettingsBatch batch(store_);
  for (size_t i = 0; i < now.size(); ++i) {
    if (i < 4 && !normal) continue;
    if (i < read_.size() && read_[i] == now[i]) continue;
    store_.WriteSetting(kKeys[i] + suffix_, now[i]);
  }
}

}  // namespace kavon::ui
