#pragma once
// A channel's level meter: C_VU drawing on an image through a QPainter.
// The scale and labels are drawn once per size into a background image;
// each buffer's levels are drawn onto a copy of it, and paintEvent only
// copies the result to the screen.
#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QWidget>
#include <array>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "audio/C_VU.h"

namespace kavon::ui {

// Widths of texts by font pixel size: the meter measures the same few
// value texts at every draw, and shaping them anew each time costs more
// than drawing the bars.
using TextWidths = std::map<std::pair<int, std::string>, double>;

// VuSurface over an image: twips to logical pixels at tpp twips a pixel.
class QtVuSurface : public VuSurface {
 public:
  QtVuSurface(QImage& image, int tpp, QFont baseFont, QColor back, QColor fore, TextWidths* widths = nullptr);
  ~QtVuSurface() override;

  double Width() const override;
  double Height() const override;
  VuColor BackColor() const override;
  VuColor ForeColor() const override;
  void SelectFontSize(double points) override;
  void Fill(double x1, double y1, double x2, double y2, VuColor color) override;
  void Line(double x1, double y1, double x2, double y2, VuColor color) override;
  double TextWidth(const std::string& text) override;
  double TextHeight(const std::string& text) override;
  void Print(double x, double y, const std::string& text) override;
  void Clear() override;

 private:
  QImage& image_;
  int tpp_;
  QFont font_;
  QColor back_, fore_;
  TextWidths* widths_;
  std::optional<QFontMetricsF> metrics_;  // of font_, made when first needed
  std::unique_ptr<class QPainter> painter_;

  const QFontMetricsF& Metrics();
};

class MeterWidget : public QWidget {
  Q_OBJECT
 public:
  // scale: the SizeRate setting.
  MeterWidget(double scale, QFont font, QWidget* parent = nullptr);
  // Draws the levels of one buffer (mean and peak in dB, left and right).
  void DrawLevels(double meanL, double peakL, double meanR, double peakR);
  // Puts both bars back to rest (no fall-back from the last levels) and
  // shows the empty state.
  void Reset();
  // A text shown across the meter instead of the levels (why the channel
  // failed); empty: none.
  void SetMessage(const QString& text);
  // Renders into a painter (the screen, a screenshot, a test).
  void Render(QPainter& painter) const;
  // Where the value texts of the two bars and the 0 dB tick stand, in
  // pixels, for tests: they must never overlap.
  std::array<QRectF, 2> ValueTextRects() const;
  double ZeroTickX() const;
  QSize sizeHint() const override;
  const C_VU& Vu() const { return *vu_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Configure();
  QImage NewImage() const;

  double scale_;
  QFont font_;
  int tpp_ = 15;
  std::unique_ptr<C_VU> vu_;
  QImage background_;  // scale and labels
  QImage image_;       // background plus the bars
  TextWidths widths_;
  double last_[4] = {-60, -110, -60, -110};
  QString message_;
  double valuePoints_ = 8;  // the value texts' size, as it fits the meter
};

// "00.0" of a level: -5.24 gives "-05.2".
QString LevelText(double db);

}  // namespace kavon::ui
