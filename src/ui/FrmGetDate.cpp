#include "ui/FrmGetDate.h"

#include <QKeyEvent>
#include <QVBoxLayout>

namespace kavon::ui {

FrmGetDate::FrmGetDate(const Date& start, const Date& today, double sizeRate, QWidget* parent)
    : QDialog(parent), picker_(new UC_DatePicker(sizeRate, this)) {
  setWindowTitle(tr("日付選択"));
  // A dialog is a window of its own: it takes its owner's font only when told.
  if (parent) setFont(parent->font());
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(picker_);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  connect(picker_, &UC_DatePicker::HiliteDay, this, [this, today](const Date& d) { picker_->SetHilited(d == today); });
  connect(picker_, &UC_DatePicker::DblClicked, this, &FrmGetDate::Pick);
  picker_->SetUseHilite(true);
  picker_->SetValue(start);
  picker_->DrawAll();
}

void FrmGetDate::Pick() {
  picked_ = picker_->Value();
  accept();
}

void FrmGetDate::keyPressEvent(QKeyEvent* event) {
  // The keyboard picks the selected day too.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    Pick();
    return;
  }
  QDialog::keyPressEvent(event);
}

std::optional<Date> PickDate(QWidget* owner, const Date& start, const Date& today, double sizeRate) {
  FrmGetDate dialog(start, today, sizeRate, owner);
  dialog.exec();
  return dialog.Picked();
}

}  // namespace kavon::ui
