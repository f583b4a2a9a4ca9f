#pragma once
// The owner-drawn controls of the main window: a row of buttons, a text
// field with a lit and an unlit colour set, and a check box. They raise
// the events the application needs and draw their own focus, active and
// disabled states.
#include <QAbstractButton>
#include <QColor>
#include <QStringList>
#include <QWidget>
#include <vector>

namespace kavon::ui {

// One button of a UC_Buttons row.
class RowButton : public QAbstractButton {
  Q_OBJECT
 public:
  RowButton(const QString& caption, QColor activeColor, QWidget* parent);
  void SetActive(bool on);
  bool Active() const { return active_; }
  QSize sizeHint() const override;

 signals:
  void RightClicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QColor activeColor_;
  bool active_ = false;
};

// A row of buttons: ButtonClicked(index) for a plain left click,
// ShiftClicked(index) with Shift held, RightClicked(index) for the right
// button, ButtonDown(index) when pressed.
class UC_Buttons : public QWidget {
  Q_OBJECT
 public:
  UC_Buttons(const QStringList& captions, const std::vector<QColor>& activeColors, QWidget* parent = nullptr);
  void SetActive(int index, bool on);
  bool IsActive(int index) const;
  RowButton* Button(int index) const;

 signals:
  void ButtonClicked(int index);
  void ShiftClicked(int index);
  void RightClicked(int index);
  void ButtonDown(int index);

 private:
  std::vector<RowButton*> buttons_;
};

// Lines of text in a lit or an unlit colour set; a warning state shows a
// problem (red, with the reason as tooltip). Clicked on release.
class UC_TextPicture : public QWidget {
  Q_OBJECT
 public:
  explicit UC_TextPicture(QWidget* parent = nullptr);
  void SetLines(const QStringList& lines);
  const QStringList& Lines() const { return lines_; }
  void SetLit(bool lit);
  bool Lit() const { return lit_; }
  // A non-empty reason shows the warning colours and the reason as tooltip.
  void SetWarning(const QString& reason);
  void SetAlignment(Qt::Alignment a) { alignment_ = a; }
  QSize sizeHint() const override;
  // Never smaller than its lines: a small window scrolls instead of
  // cutting the clock's date and time into each other.
  QSize minimumSizeHint() const override { return sizeHint(); }

 signals:
  void Clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QStringList lines_;
  bool lit_ = false;
  QString warning_;
  Qt::Alignment alignment_ = Qt::AlignCenter;
};

// A check box with a caption, 0/1.
class UC_Check : public QAbstractButton {
  Q_OBJECT
 public:
  UC_Check(const QString& caption, QWidget* parent = nullptr);
  int Value() const { return isChecked() ? 1 : 0; }
  void SetValue(int v) { setChecked(v != 0); }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace kavon::ui
