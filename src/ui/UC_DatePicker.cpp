#include "ui/UC_DatePicker.h"

#include <QCoreApplication>
#include <QFontInfo>
#include <QMouseEvent>
#include <QPainter>

#include "common/Text.h"
#include "ui/UiHelpers.h"

namespace kavon::ui {
namespace {

using namespace std::chrono;

// Geometry in twips of the natural size.
constexpr double kCell = 240;
constexpr double kGridLeft = 120;
constexpr double kGridTop = 360;
constexpr double kGridBottom = kGridTop + 6 * kCell;  // 1800
constexpr double kStripBottom = 1980;
constexpr double kPrevLeft = 90, kPrevRight = 270;
constexpr double kNextLeft = 1695, kNextRight = 1875;
// The years the date helpers read and write.
constexpr int kFirstYear = 100;
constexpr int kLastYear = 9999;

int DaysIn(const year_month& ym) { return static_cast<int>(unsigned{(ym / last).day()}); }

bool InYears(const year_month& ym) {
  return static_cast<int>(ym.year()) >= kFirstYear && static_cast<int>(ym.year()) <= kLastYear;
}

QString StripText(const Date& d) {
  return QCoreApplication::translate("kavon::ui::UC_DatePicker", "%1年%2月%3日")
      .arg(QString::fromStdString(Pad(static_cast<int>(d.year()), 4)), QString::fromStdString(Pad(unsigned{d.month()}, 2)),
           QString::fromStdString(Pad(unsigned{d.day()}, 2)));
}

// Light: the application-workspace grey, 30 lighter in each part.
QColor HiliteColor(const QPalette& palette) {
  const QColor base = palette.color(QPalette::Mid);
  return QColor(std::min(255, base.red() + 30), std::min(255, base.green() + 30), std::min(255, base.blue() + 30));
}

}  // namespace

UC_DatePicker::UC_DatePicker(double sizeRate, QWidget* parent)
    : QWidget(parent), sizeRate_(sizeRate > 0 ? sizeRate : 1.0), tpp_(TwipsPerPixel(this)),
      value_(year{2000} / 1 / 1) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  FillCells();
}

QSize UC_DatePicker::sizeHint() const {
  return Twips(0, 0, DefWidth, DefHeight).size().toSize();
}

QRectF UC_DatePicker::Twips(double x, double y, double w, double h) const {
  const double k = sizeRate_ / tpp_;
  return {x * k, y * k, w * k, h * k};
}

QPointF UC_DatePicker::ToTwips(const QPointF& pixels) const { return pixels * tpp_ / sizeRate_; }

void UC_DatePicker::SetValue(const Date& date) {
  if (!date.ok() || !InYears(date.year() / date.month())) return;
  if (date.year() != value_.year() || date.month() != value_.month()) monthChanged_ = true;
  value_ = date;
  FillCells();
  update();
}

void UC_DatePicker::SetFirstDayWeek(int day) {
  if (day < 1 || day > 7) return;
  firstDayWeek_ = day;
  FillCells();
  update();
}

void UC_DatePicker::SetUseHilite(bool on) {
  useHilite_ = on;
  monthChanged_ = true;
  update();
}

void UC_DatePicker::FillCells() {
  cells_.fill(0);
  const year_month ym = value_.year() / value_.month();
  const int firstColumn = (WeekdayNumber(ym / 1) - firstDayWeek_ + 7) % 7;
  for (int d = 1; d <= DaysIn(ym); ++d) cells_[static_cast<size_t>(firstColumn + d - 1)] = d;
}

void UC_DatePicker::AskHilites() {
  hilites_.fill(false);
  if (!useHilite_) return;
  const year_month ym = value_.year() / value_.month();
  for (int d = 1; d <= DaysIn(ym); ++d) {
    hilited_ = false;
    emit HiliteDay(ym / day{static_cast<unsigned>(d)});
    hilites_[static_cast<size_t>(d)] = hilited_;
  }
}

void UC_DatePicker::paintEvent(QPaintEvent*) {
  if (monthChanged_) {
    AskHilites();
    monthChanged_ = false;
  }
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.fillRect(rect(), palette().color(QPalette::Base));
  // Two digits always fit a day's cell with room between them, whatever
  // the font's digits are like.
  QFont f = font();
  const double cell = Twips(0, 0, kCell, kCell).width();
  for (int px = QFontInfo(f).pixelSize(); px > 6 && QFontMetricsF(f).horizontalAdvance("00") > cell - 4; --px) {
    f.setPixelSize(px - 1);
  }
  p.setFont(f);
  for (int c = 0; c < 7; ++c) {
    const QString name = WeekdayInitial(c + firstDayWeek_ - 1);
    p.setPen(palette().color(QPalette::Text));
    p.drawText(Twips(kGridLeft + c * kCell, 60, kCell, kCell), Qt::AlignCenter, name);
  }
  p.setPen(palette().color(QPalette::Mid));
  const QRectF rule = Twips(kGridLeft, kGridTop - 20, 7 * kCell, 0);
  p.drawLine(rule.topLeft(), rule.topRight());
  const int selected = static_cast<int>(unsigned{value_.day()});
  for (int cell = 0; cell < 42; ++cell) {
    const int d = cells_[static_cast<size_t>(cell)];
    if (d == 0) continue;
    const QRectF box = Twips(kGridLeft + (cell % 7) * kCell, kGridTop + (cell / 7) * kCell, kCell, kCell);
    if (hilites_[static_cast<size_t>(d)]) p.fillRect(box.adjusted(1, 1, -1, -1), HiliteColor(palette()));
    if (d == selected) {
      p.setBrush(palette().color(QPalette::Highlight));
      p.setPen(Qt::NoPen);
      p.drawEllipse(box.adjusted(2, 2, -2, -2));
      p.setPen(Qt::white);
    } else {
      p.setPen(Qt::black);
    }
    p.drawText(box, Qt::AlignCenter, QString::number(d));
  }
  // The strip: arrows and the selected date.
  p.setPen(palette().color(QPalette::Text));
  p.drawText(Twips(kPrevLeft, kGridBottom, kPrevRight - kPrevLeft, kStripBottom - kGridBottom), Qt::AlignCenter,
             QStringLiteral("◀"));
  p.drawText(Twips(kNextLeft, kGridBottom, kNextRight - kNextLeft, kStripBottom - kGridBottom), Qt::AlignCenter,
             QStringLiteral("▶"));
  p.drawText(Twips(kPrevRight, kGridBottom, kNextLeft - kPrevRight, kStripBottom - kGridBottom), Qt::AlignCenter,
             StripText(value_));
}

void UC_DatePicker::mousePressEvent(QMouseEvent* event) {
  if (refuseInput_) return;
  const int shift = event->modifiers() & Qt::ShiftModifier ? 1 : 0;
  emit MouseDown(static_cast<int>(event->button()), shift, 0);
  if (event->button() != Qt::LeftButton) return;
  const QPointF at = ToTwips(event->position());
  PressAt(at.x(), at.y());
}

void UC_DatePicker::mouseReleaseEvent(QMouseEvent* event) {
  if (!refuseInput_ && event->button() == Qt::LeftButton) emit Clicked();
}

void UC_DatePicker::mouseDoubleClickEvent(QMouseEvent* event) {
  if (refuseInput_ || event->button() != Qt::LeftButton) return;
  const QPointF at = ToTwips(event->position());
  const bool onArrow = at.y() > kGridBottom && at.y() <= kStripBottom &&
                       ((at.x() >= kPrevLeft && at.x() <= kPrevRight) || (at.x() >= kNextLeft && at.x() <= kNextRight));
  // On an arrow a double click is one more step, so months go by quickly.
  if (onArrow) {
    PressAt(at.x(), at.y());
    return;
  }
  emit DblClicked();
}

void UC_DatePicker::PressAt(double x, double y) {
  bool changed = true;
  if (y >= kGridTop && y < kGridBottom && x >= kGridLeft) {
    changed = PressInGrid(x, y);
  } else if (y > kGridBottom && y <= kStripBottom) {
    changed = PressInStrip(x);
  }
  if (!changed) return;
  emit MouseDown(static_cast<int>(Qt::LeftButton), 0, 1);
  update();
  emit MouseDown(static_cast<int>(Qt::LeftButton), 0, 2);
}

bool UC_DatePicker::PressInGrid(double x, double y) {
  const int row = static_cast<int>((y - kGridTop) / kCell);
  const int column = static_cast<int>((x - kGridLeft) / kCell);
  // Right of the last column is margin, not next week's first day.
  if (column > 6) return false;
  const int cell = row * 7 + column;
  if (cell < 0 || cell > 41 || cells_[static_cast<size_t>(cell)] == 0) return false;
  const Date picked = value_.year() / value_.month() / day{static_cast<unsigned>(cells_[static_cast<size_t>(cell)])};
  if (!picked.ok()) return false;
  value_ = picked;
  return true;
}

bool UC_DatePicker::PressInStrip(double x) {
  if (x >= kPrevLeft && x <= kPrevRight) {
    StepMonth(-1);
  } else if (x >= kNextLeft && x <= kNextRight) {
    StepMonth(1);
  } else if (x > kPrevRight && x < kNextLeft) {
    return AskTypedDate();
  }
  return true;
}

void UC_DatePicker::StepMonth(int months) {
  const year_month ym = value_.year() / value_.month() + std::chrono::months{months};
  if (!InYears(ym)) return;
  value_ = ym / 1;
  monthChanged_ = true;
  FillCells();
}

bool UC_DatePicker::AskTypedDate() {
  std::string answer = InputBox(this, {}, tr("日付選択"), QString::fromStdString(DateText(value_)))
                           .trimmed()
                           .toStdString();
  if (answer.empty()) return false;
  if (IsDigits(answer) && answer.size() == 4) answer += "/01/01";
  if (IsDigits(answer) && answer.size() == 8) answer = DigitsToDateText(answer, 0, 3);
  const auto typed = IsDateText(answer) ? ParseDateTimeText(answer) : std::nullopt;
  if (typed) SetValue(typed->date);
  return true;
}

}  // namespace kavon::ui
