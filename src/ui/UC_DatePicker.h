#pragma once
// A month calendar the program draws itself: a header row of weekday
// names, six rows of day cells, and a strip below with the previous- and
// next-month arrows around the selected date. Clicking the date in the
// strip asks for a typed year (2030) or date (20300215). Geometry is in
// twips of the natural size, scaled by SizeRate.
#include <QWidget>
#include <array>

#include "schedule/DateTime.h"

namespace kavon::ui {

class UC_DatePicker : public QWidget {
  Q_OBJECT
 public:
  static constexpr int DefWidth = 2010;
  static constexpr int DefHeight = 2130;

  explicit UC_DatePicker(double sizeRate, QWidget* parent = nullptr);

  Date Value() const { return value_; }
  void SetValue(const Date& date);
  // Weekday of the first column: 1 Sunday ... 7 Saturday.
  void SetFirstDayWeek(int day);
  // Ask for highlights (HiliteDay) when a month is drawn.
  void SetUseHilite(bool on);
  void SetHilited(bool on) { hilited_ = on; }
  void SetRefuseInput(bool on) { refuseInput_ = on; }
  // Asks for the highlights again at the next drawing.
  void HiliteDayClear() { monthChanged_ = true; }
  bool IsHilited(int day) const { return day >= 1 && day <= 31 && hilites_[static_cast<size_t>(day)]; }
  // The day number of a cell (0..41), 0 for an empty cell.
  int DayOfCell(int cell) const { return cells_.at(static_cast<size_t>(cell)); }
  void DrawAll() { update(); }
  // A press of the left button at a point in twips of the natural size, as
  // the mouse gives it; tests use it to press without pixels.
  void PressAt(double x, double y);
  QSize sizeHint() const override;

 signals:
  void Clicked();
  void DblClicked();
  void MouseDown(int button, int shift, int phase);
  // Asked once per day of a newly shown month; the handler answers with
  // SetHilited.
  void HiliteDay(const Date& date);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  void FillCells();
  void AskHilites();
  // Whether the press changed something (false: ignored).
  bool PressInGrid(double x, double y);
  bool PressInStrip(double x);
  void StepMonth(int months);
  bool AskTypedDate();  // false for an empty answer
  QRectF Twips(double x, double y, double w, double h) const;
  QPointF ToTwips(const QPointF& pixels) const;

  double sizeRate_;
  int tpp_;
  Date value_;
  int firstDayWeek_ = 1;
  bool useHilite_ = false;
  bool hilited_ = false;
  bool refuseInput_ = false;
  bool monthChanged_ = true;
  std::array<int, 42> cells_{};
  std::array<bool, 32> hilites_{};
};

}  // namespace kavon::ui
