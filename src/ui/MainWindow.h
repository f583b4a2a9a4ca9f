#pragma once
// The main window: one row per channel (record and stop buttons, recorded
// time, level meter, the two detection switches), the display clock, the
// timer switch, the menus and a status line. It drives the application's
// 100 ms tick, draws the core's state after each tick and hands the user's
// clicks to the core.
#include <QMainWindow>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <functional>
#include <vector>

#include "app/FrmMain.h"
#include "ui/Controls.h"
#include "ui/MeterWidget.h"
#include "ui/Placement.h"

class QLabel;

namespace kavon::ui {

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  explicit MainWindow(FrmMain& app, QWidget* parent = nullptr);

  // Starts the 100 ms tick; afterTick runs after each one (signals, ...).
  void StartTicking(std::function<void()> afterTick = {});
  // One tick and what follows it: the state drawn, queued messages shown.
  void TickOnce();
  // The core's state into the widgets.
  void Refresh();
  // Closes with no question (SIGTERM, the session ending, --screenshot).
  void CloseWithoutAsking();
  // Window placement from and to the settings (position, size and state,
  // kept within the screen), the timer editor's with it. Restoring shows
  // the editor when it was open at the last exit.
  void RestorePlacement();
  void SavePlacement();

  int RowCount() const { return static_cast<int>(rows_.size()); }
  UC_Buttons* RecButton(int ch) const { return rows_.at(static_cast<size_t>(ch)).buttons; }
  UC_TextPicture* PicRec(int ch) const { return rows_.at(static_cast<size_t>(ch)).time; }
  MeterWidget* PictureVU(int ch) const { return rows_.at(static_cast<size_t>(ch)).meter; }
  UC_Check* CheckMuonStart(int ch) const { return rows_.at(static_cast<size_t>(ch)).muonStart; }
  UC_Check* CheckMuonStop(int ch) const { return rows_.at(static_cast<size_t>(ch)).muonStop; }
  UC_TextPicture* TextClock() const { return clock_; }
  UC_TextPicture* TextTimerOn() const { return timerOn_; }
  QLabel* StatusText() const { return status_; }
  QLabel* RowNumber(int ch) const { return rows_.at(static_cast<size_t>(ch)).number; }
  // As large as the rows need (the screen may allow less: see FitToScreen).
  QSize sizeHint() const override;
  // The settings window, opened from the menu (modeless, one at a time).
  class ConfDialog* OpenSettings();
  // The timer list editor, loaded with this window and shown from the menu.
  class TimerWindow* Timers() const { return timers_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  struct Row {
    QLabel* number = nullptr;
    UC_Buttons* buttons = nullptr;
    UC_TextPicture* time = nullptr;
    MeterWidget* meter = nullptr;
    UC_Check* muonStart = nullptr;
    UC_Check* muonStop = nullptr;
    uint64_t meterDraws = 0;
    uint64_t meterResets = 0;
    // What the row shows now, so that a tick that changes nothing repaints
    // and restyles nothing.
    bool flagged = false;
    QString tip;
  };
  void BuildMenus();
  void BuildRows(QWidget* central);
  void ChooseManualFile(int ch);
  void ShowQueuedMessages();
  void UpdateStatus();

  // A text of the core's (a failure, a warning, a message) in the user's language.
  QString CoreText(const std::string& text) const;

  FrmMain& app_;
  int tpp_;
  double scale_;
  std::vector<Row> rows_;
  QWidget* content_ = nullptr;  // the header and the rows, inside a scroll area
  UC_TextPicture* clock_ = nullptr;
  UC_TextPicture* timerOn_ = nullptr;
  QLabel* status_ = nullptr;
  QPointer<class ConfDialog> conf_;
  class TimerWindow* timers_ = nullptr;
  QTimer tickTimer_;
  std::function<void()> afterTick_;
  QSet<QString> shownMessages_;
  bool askOnClose_ = true;
  int statusCountdown_ = 0;
  int freeSpaceCountdown_ = 0;
  QString freeSpace_;
  WindowPlacement placement_;
};

// The product name shown as the title of the window and its boxes.
inline constexpr const char* kProductName = "kavon";

}  // namespace kavon::ui
