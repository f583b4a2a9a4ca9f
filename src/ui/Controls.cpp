#include "ui/Controls.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>

namespace kavon::ui {
namespace {

const QColor kFace(0x3a, 0x3d, 0x42);
const QColor kEdge(0x22, 0x24, 0x28);
const QColor kText(0xe8, 0xe8, 0xe8);
const QColor kUnlitBack(0x1c, 0x1e, 0x22);
const QColor kUnlitText(0x78, 0x7c, 0x84);
const QColor kLitBack(0x10, 0x38, 0x18);
const QColor kLitText(0x7c, 0xff, 0x8c);
const QColor kWarnBack(0x5a, 0x14, 0x14);
const QColor kWarnText(0xff, 0xb0, 0xa0);

// A focus frame that stands out on the dark rows: solid, two pixels, amber.
void DrawFocus(QWidget* w, QPainter& p) {
  if (!w->hasFocus()) return;
  p.setPen(QPen(QColor(0xff, 0xc1, 0x07), 2));
  p.setBrush(Qt::NoBrush);
  p.drawRect(QRectF(w->rect()).adjusted(1.5, 1.5, -1.5, -1.5));
}

}  // namespace

RowButton::RowButton(const QString& caption, QColor activeColor, QWidget* parent)
    : QAbstractButton(parent), activeColor_(activeColor) {
  setText(caption);
  setFocusPolicy(Qt::StrongFocus);
  setAccessibleName(caption);
}

void RowButton::SetActive(bool on) {
  if (active_ == on) return;
  active_ = on;
  update();
}

QSize RowButton::sizeHint() const {
  const QFontMetrics fm(font());
  return {fm.horizontalAdvance(text()) + fm.height() * 2, fm.height() * 2};
}

void RowButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  QColor face = active_ ? activeColor_ : kFace;
  if (isDown()) face = face.darker(130);
  if (!isEnabled()) face = face.darker(160);
  p.setPen(kEdge);
  p.setBrush(face);
  p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
  p.setPen(isEnabled() ? kText : kUnlitText);
  p.drawText(rect(), Qt::AlignCenter, text());
  DrawFocus(this, p);
}

void RowButton::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton && rect().contains(event->position().toPoint())) {
    emit RightClicked();
    return;
  }
  QAbstractButton::mouseReleaseEvent(event);
}

UC_Buttons::UC_Buttons(const QStringList& captions, const std::vector<QColor>& activeColors, QWidget* parent)
    : QWidget(parent) {
  for (int i = 0; i < captions.size(); ++i) {
    const QColor active = static_cast<size_t>(i) < activeColors.size() ? activeColors[static_cast<size_t>(i)] : kFace;
    auto* b = new RowButton(captions[i], active, this);
    buttons_.push_back(b);
    connect(b, &QAbstractButton::pressed, this, [this, i] { emit ButtonDown(i); });
    connect(b, &QAbstractButton::clicked, this, [this, i] {
      const auto mods = QGuiApplication::keyboardModifiers();
      if (mods & Qt::ShiftModifier) {
        emit ShiftClicked(i);
      } else if (!(mods & (Qt::ControlModifier | Qt::AltModifier))) {
        emit ButtonClicked(i);
      }
    });
    connect(b, &RowButton::RightClicked, this, [this, i] { emit RightClicked(i); });
  }
  auto relayout = [this] {
    int x = 0;
    for (auto* b : buttons_) {
      const QSize s = b->sizeHint();
      b->setGeometry(x, 0, s.width(), s.height());
      x += s.width() + 2;
    }
    setMinimumSize(x, buttons_.empty() ? 0 : buttons_.front()->sizeHint().height());
  };
  relayout();
}

void UC_Buttons::SetActive(int index, bool on) {
  if (index >= 0 && static_cast<size_t>(index) < buttons_.size()) buttons_[static_cast<size_t>(index)]->SetActive(on);
}

bool UC_Buttons::IsActive(int index) const {
  return index >= 0 && static_cast<size_t>(index) < buttons_.size() && buttons_[static_cast<size_t>(index)]->Active();
}

RowButton* UC_Buttons::Button(int index) const {
  return index >= 0 && static_cast<size_t>(index) < buttons_.size() ? buttons_[static_cast<size_t>(index)] : nullptr;
}

UC_TextPicture::UC_TextPicture(QWidget* parent) : QWidget(parent) {
  // Its paint covers every pixel: the rows beneath need no repaint when the
  // time changes ten times a second.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void UC_TextPicture::SetLines(const QStringList& lines) {
  if (lines_ == lines) return;
  lines_ = lines;
  update();
}

void UC_TextPicture::SetLit(bool lit) {
  if (lit_ == lit) return;
  lit_ = lit;
  update();
}

void UC_TextPicture::SetWarning(const QString& reason) {
  if (warning_ == reason) return;
  warning_ = reason;
  setToolTip(reason);
  update();
}

QSize UC_TextPicture::sizeHint() const {
  const QFontMetrics fm(font());
  int w = 0;
  for (const auto& l : lines_) w = std::max(w, fm.horizontalAdvance(l));
  return {w + fm.height(), fm.height() * std::max<int>(1, static_cast<int>(lines_.size())) + 4};
}

void UC_TextPicture::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const bool warn = !warning_.isEmpty();
  p.fillRect(rect(), warn ? kWarnBack : lit_ ? kLitBack : kUnlitBack);
  p.setPen(kEdge);
  p.drawRect(rect().adjusted(0, 0, -1, -1));
  p.setPen(warn ? kWarnText : lit_ ? kLitText : kUnlitText);
  const int n = std::max<int>(1, static_cast<int>(lines_.size()));
  const int h = height() / n;
  for (int i = 0; i < lines_.size(); ++i) p.drawText(QRect(4, i * h, width() - 8, h), alignment_, lines_[i]);
}

void UC_TextPicture::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit Clicked();
}

UC_Check::UC_Check(const QString& caption, QWidget* parent) : QAbstractButton(parent) {
  setText(caption);
  setCheckable(true);
  setFocusPolicy(Qt::StrongFocus);
}

QSize UC_Check::sizeHint() const {
  const QFontMetrics fm(font());
  return {fm.height() + 6 + fm.horizontalAdvance(text()) + 4, fm.height() + 6};
}

void UC_Check::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const int box = QFontMetrics(font()).height() - 2;
  const QRectF r(2.5, (height() - box) / 2.0 + 0.5, box, box);
  p.setPen(isEnabled() ? kText : kUnlitText);
  p.setBrush(isChecked() ? QColor(0x2e, 0x7d, 0x32) : kUnlitBack);
  p.drawRect(r);
  if (isChecked()) {
    p.setPen(QPen(kText, 2));
    p.drawPolyline(QPolygonF{{r.left() + box * 0.2, r.center().y()},
                             {r.left() + box * 0.42, r.bottom() - box * 0.22},
                             {r.right() - box * 0.18, r.top() + box * 0.22}});
  }
  p.setPen(isEnabled() ? kText : kUnlitText);
  p.drawText(QRectF(r.right() + 4, 0, width() - r.right() - 4, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
  DrawFocus(this, p);
}

}  // namespace kavon::ui
