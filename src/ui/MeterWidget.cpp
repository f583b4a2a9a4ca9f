#include "ui/MeterWidget.h"

#include <QPainter>
#include <QResizeEvent>
#include <cmath>

#include "ui/UiHelpers.h"

namespace kavon::ui {
namespace {

const QColor kMeterBack(0x10, 0x12, 0x14);
const QColor kMeterFore(0xa8, 0xac, 0xb4);
// The design height of a meter, in twips.
constexpr double kDesignHeight = 750;
// Between a value text and the meter's right edge, in twips.
constexpr double kValueTextMargin = 120;

QColor ToQColor(VuColor c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }
VuColor FromQColor(const QColor& c) { return MakeVuColor(c.red(), c.green(), c.blue()); }

}  // namespace

QString LevelText(double db) {
  const double magnitude = std::abs(db);
  const QString body = QString::asprintf("%04.1f", magnitude);
  return db < 0 && body != "00.0" ? "-" + body : body;
}

QtVuSurface::QtVuSurface(QImage& image, int tpp, QFont baseFont, QColor back, QColor fore, TextWidths* widths)
    : image_(image), tpp_(tpp), font_(std::move(baseFont)), back_(back), fore_(fore), widths_(widths),
      painter_(std::make_unique<QPainter>(&image)) {
  painter_->setFont(font_);
}

QtVuSurface::~QtVuSurface() = default;

double QtVuSurface::Width() const { return image_.deviceIndependentSize().width() * tpp_; }
double QtVuSurface::Height() const { return image_.deviceIndependentSize().height() * tpp_; }
VuColor QtVuSurface::BackColor() const { return FromQColor(back_); }
VuColor QtVuSurface::ForeColor() const { return FromQColor(fore_); }

void QtVuSurface::SelectFontSize(double points) {
  font_.setPixelSize(std::max(1, static_cast<int>(std::lround(points * 20 / tpp_))));
  painter_->setFont(font_);
  metrics_.reset();
}

const QFontMetricsF& QtVuSurface::Metrics() {
  if (!metrics_) metrics_.emplace(font_);
  return *metrics_;
}

void QtVuSurface::Fill(double x1, double y1, double x2, double y2, VuColor color) {
  // Both corners are inside the box: one pixel more than the difference.
  const QRectF r(std::min(x1, x2) / tpp_, std::min(y1, y2) / tpp_, std::abs(x2 - x1) / tpp_ + 1,
                 std::abs(y2 - y1) / tpp_ + 1);
  painter_->fillRect(r, ToQColor(color));
}

void QtVuSurface::Line(double x1, double y1, double x2, double y2, VuColor color) {
  painter_->setPen(ToQColor(color));
  painter_->drawLine(QPointF(x1 / tpp_ + 0.5, y1 / tpp_), QPointF(x2 / tpp_ + 0.5, y2 / tpp_));
}

double QtVuSurface::TextWidth(const std::string& text) {
  if (!widths_) return Metrics().horizontalAdvance(QString::fromStdString(text)) * tpp_;
  const auto key = std::make_pair(font_.pixelSize(), text);
  if (const auto it = widths_->find(key); it != widths_->end()) return it->second;
  const double width = Metrics().horizontalAdvance(QString::fromStdString(text)) * tpp_;
  // A handful of sizes and texts in practice; bounded all the same.
  if (widths_->size() > 4096) widths_->clear();
  widths_->emplace(key, width);
  return width;
}

double QtVuSurface::TextHeight(const std::string&) { return Metrics().height() * tpp_; }

void QtVuSurface::Print(double x, double y, const std::string& text) {
  painter_->setPen(fore_);
  painter_->drawText(QPointF(x / tpp_, y / tpp_ + Metrics().ascent()), QString::fromStdString(text));
}

void QtVuSurface::Clear() { painter_->fillRect(QRectF(QPointF(0, 0), image_.deviceIndependentSize()), back_); }

MeterWidget::MeterWidget(double scale, QFont font, QWidget* parent)
    : QWidget(parent), scale_(scale), font_(std::move(font)) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumWidth(static_cast<int>(240 * scale_));
}

QSize MeterWidget::sizeHint() const {
  const int h = static_cast<int>(std::lround(kDesignHeight * scale_ / TwipsPerPixel(this)));
  return {static_cast<int>(560 * scale_), h};
}

QImage MeterWidget::NewImage() const {
  const qreal dpr = devicePixelRatioF();
  QImage image(QSize(std::max(1, width()), std::max(1, height())) * dpr, QImage::Format_RGB32);
  image.setDevicePixelRatio(dpr);
  image.fill(kMeterBack);
  return image;
}

void MeterWidget::Configure() {
  tpp_ = TwipsPerPixel(this);
  widths_.clear();
  const double heightTwips = height() * tpp_;
  const double r = std::max(0.2, (heightTwips - 4.0 * tpp_) / (kDesignHeight - 4.0 * tpp_));
  vu_ = std::make_unique<C_VU>(tpp_);
  const int barWidth = std::max(1, static_cast<int>(std::lround(6 * r)));
  vu_->BarWidth(barWidth);
  vu_->TopMargin(90 * r);
  vu_->NumValue(1);
  vu_->UseBG(1);
  vu_->Max(0);
  vu_->Min(-60);
  vu_->RedPoint(-20);
  // The value texts right of the bars never touch each other nor the 0 dB
  // tick: the bars stand at least the height of their digits and two
  // pixels apart, and the right margin holds the widest text.
  const double points = 8 * scale_;
  QFont probe = font_;
  probe.setPixelSize(std::max(1, static_cast<int>(std::lround(points * 20 / tpp_))));
  const double digits = QFontMetricsF(probe).tightBoundingRect("-60.0").height() * tpp_;
  const double barMargin = std::max(60 * r, digits + 2.0 * tpp_ - (2.0 * barWidth - 1) * tpp_);
  valuePoints_ = points;
  vu_->BarMargin(barMargin);
  const double textWidth = QFontMetricsF(probe).horizontalAdvance("-00.0") * tpp_;
  vu_->SetMargin(390 * scale_, std::max(690 * scale_, textWidth + kValueTextMargin + 4.0 * tpp_), 45 * scale_,
                 kValueTextMargin);
  vu_->SetFontSize(0, points);
  for (int k = 1; k < 3; ++k) vu_->SetFontSize(k, 8 * scale_);
  background_ = NewImage();
  {
    QtVuSurface surface(background_, tpp_, font_, kMeterBack, kMeterFore);
    vu_->PictureBox(&surface);
    vu_->SetParms();
    vu_->SetStrType(0);
    vu_->DrawScale(1);
    vu_->ClosePictureBox();
  }
  image_ = background_;
  DrawLevels(last_[0], last_[1], last_[2], last_[3]);
}

std::array<QRectF, 2> MeterWidget::ValueTextRects() const {
  std::array<QRectF, 2> rects{};
  if (!vu_) return rects;
  QFont f = font_;
  f.setPixelSize(std::max(1, static_cast<int>(std::lround(valuePoints_ * 20 / tpp_))));
  const QFontMetricsF fm(f);
  // The digits' own box within the line C_VU prints them on.
  const QRectF glyphs = fm.tightBoundingRect("-60.0");
  for (int i = 0; i < 2; ++i) {
    const double w = fm.horizontalAdvance("-60.0");
    const double line = vu_->Y(i) / tpp_ - std::round(fm.height() * tpp_ / 2) / tpp_;
    rects[static_cast<size_t>(i)] =
        QRectF(width() - w - kValueTextMargin / tpp_, line + fm.ascent() + glyphs.top(), w, glyphs.height());
  }
  return rects;
}

double MeterWidget::ZeroTickX() const { return vu_ ? (vu_->BarXStart() + vu_->GraphWidth()) / tpp_ : 0; }

void MeterWidget::SetMessage(const QString& text) {
  if (message_ == text) return;
  message_ = text;
  update();
}

void MeterWidget::DrawLevels(double meanL, double peakL, double meanR, double peakR) {
  last_[0] = meanL;
  last_[1] = peakL;
  last_[2] = meanR;
  last_[3] = peakR;
  if (!vu_) return;
  image_ = background_;  // the caller restores the background: UseBG
  QtVuSurface surface(image_, tpp_, font_, kMeterBack, kMeterFore, &widths_);
  vu_->PictureBox(&surface);
  vu_->DrawVU(0, meanL, peakL, LevelText(meanL).toStdString(), 99);
  vu_->DrawVU(1, meanR, peakR, LevelText(meanR).toStdString(), 99);
  vu_->ClosePictureBox();
  update();
}

void MeterWidget::Reset() {
  if (vu_) {
    QImage scratch = background_;
    QtVuSurface surface(scratch, tpp_, font_, kMeterBack, kMeterFore);
    vu_->PictureBox(&surface);
    vu_->ResetVU(-1);
    vu_->ClosePictureBox();
  }
  // Then the empty state, as a stopped channel shows it.
  DrawLevels(-60, -110, -60, -110);
}

void MeterWidget::Render(QPainter& painter) const {
  if (image_.isNull()) {
    painter.fillRect(rect(), kMeterBack);
  } else {
    painter.drawImage(QPoint(0, 0), image_);
  }
  if (message_.isEmpty()) return;
  painter.fillRect(rect(), QColor(0x5a, 0x14, 0x14));
  painter.setPen(QColor(0xff, 0xd0, 0xc8));
  painter.setFont(font_);
  painter.drawText(rect().adjusted(8, 0, -8, 0), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextWordWrap,
                   QFontMetrics(font_).elidedText(message_, Qt::ElideMiddle, std::max(1, width() - 16) * 2));
}

void MeterWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  Render(p);
}

void MeterWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Configure();
}

}  // namespace kavon::ui
