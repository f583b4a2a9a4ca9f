#pragma once
// The timer list editor's window: the entry fields and buttons above the
// grid of entries, and a menu to open and save list files. Loaded once with
// the main window and afterwards only hidden and shown. What a command
// does is decided by FrmTimer; this window shows its outcome.
#include <QWidget>
#include <array>
#include <vector>

#include "app/FrmMain.h"
#include "schedule/FrmTimer.h"
#include "ui/Placement.h"
#include "ui/UC_ListView.h"

class QCheckBox;
class QComboBox;
class QHBoxLayout;
class QLineEdit;
class QMenuBar;
class QPushButton;

namespace kavon::ui {

class TimerWindow : public QWidget {
  Q_OBJECT
 public:
  explicit TimerWindow(FrmMain& app, QWidget* parent = nullptr);

  // Shown from the main window's menu.
  void ShowWindow();
  // Draws the list again when it changed (a reload, a timer that fired or
  // ended); called after every tick while the window is shown.
  void DispActiveTimer();
  // The main window is closing: the editor's being open is kept for the
  // next start, whatever closing it now does.
  void OwnerClosing() { ownerClosing_ = true; }
  // Placement and column widths, from and to the settings.
  void RestoreLayout();
  void SaveLayout();

  // The user's commands: ListFCTButtons 0 追加, 1 上書き, 2 削除, 3 △, 4 ▽.
  void ButtonClick(int index);
  // 0 開く, 1 保存.
  void MenuTimer(int index);

  // The controls, for tests.
  UC_ListView* ListTimer() const { return list_; }
  QComboBox* ComboCh() const { return comboCh_; }
  QLineEdit* TextTime() const { return textTime_; }
  QLineEdit* TextLength() const { return textLength_; }
  QLineEdit* TextRef() const { return textRef_; }
  QLineEdit* TextFileTitle() const { return textFileTitle_; }
  QCheckBox* CheckDate() const { return checkDate_; }
  QLineEdit* TextDate() const { return textDate_; }
  QPushButton* DateButton() const { return dateButton_; }
  QCheckBox* CheckWD(int i) const { return checkWD_.at(static_cast<size_t>(i)); }
  QPushButton* ListFCTButton(int i) const { return buttons_.at(static_cast<size_t>(i)); }

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Esc hides the editor, as its close box does.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildTools(QWidget* tools);
  void BuildMenu();
  QLineEdit* Field(const QString& label, int widthChars, QWidget* parent, QHBoxLayout* row);
  TimerFields Fields() const;
  void ShowFields(const TimerFields& f);
  void ShowTimerList();
  void LoadSelected(int row);
  void ApplyDateRule();
  void ShowDefaultButton();
  void PickDateForField();
  void EditCell(int row, int column, const QString& text);
  void MoveRow(int from, int to);
  // A text of the editor's rules in the user's language.
  QString CoreText(const std::string& text) const;
  // Tells the user what a command did; true when it succeeded.
  bool Tell(const FrmTimer::Outcome& outcome);
  void AfterWait();
  void ExternalChange();

  FrmMain& app_;
  FrmTimer editor_;
  WindowPlacement placement_;
  int tpp_;
  UC_ListView* list_ = nullptr;
  QComboBox* comboCh_ = nullptr;
  QLineEdit* textTime_ = nullptr;
  QLineEdit* textLength_ = nullptr;
  QLineEdit* textRef_ = nullptr;
  QLineEdit* textFileTitle_ = nullptr;
  QCheckBox* checkDate_ = nullptr;
  QLineEdit* textDate_ = nullptr;
  QPushButton* dateButton_ = nullptr;
  std::array<QCheckBox*, 7> checkWD_{};
  std::array<QPushButton*, 5> buttons_{};
  QMenuBar* menuBar_ = nullptr;
  bool dialogOpen_ = false;
  bool ownerClosing_ = false;
  bool dirty_ = false;  // fields typed into since they were last filled
  bool asking_ = false;
  uint64_t shownVersion_ = 0;
  // What the grid shows, to notice changes and find the selection again.
  std::vector<std::string> shownKeys_;
  std::vector<int> shownActive_;
  std::vector<std::string> columnsRead_;
};

}  // namespace kavon::ui
