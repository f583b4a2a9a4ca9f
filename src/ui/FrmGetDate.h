#pragma once
// The date selection dialog "日付選択": one month calendar. A double click
// on a day picks it; closing the dialog any other way picks nothing.
#include <QDialog>
#include <optional>

#include "schedule/DateTime.h"
#include "ui/UC_DatePicker.h"

namespace kavon::ui {

class FrmGetDate : public QDialog {
  Q_OBJECT
 public:
  // start: the date shown selected; today is highlighted.
  FrmGetDate(const Date& start, const Date& today, double sizeRate, QWidget* parent = nullptr);
  UC_DatePicker* DateToLoad() const { return picker_; }
  // The picked date once the dialog was accepted.
  std::optional<Date> Picked() const { return picked_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Pick();

  UC_DatePicker* picker_;
  std::optional<Date> picked_;
};

// Shows the dialog modally over owner; nothing when it was cancelled.
std::optional<Date> PickDate(QWidget* owner, const Date& start, const Date& today, double sizeRate);

}  // namespace kavon::ui
