#pragma once
// A horizontal bar meter for a few values (left and right of a channel):
// a green part up to the red point and a red part beyond it, a grey peak
// mark, a fall-back speed, labels, a value text right of each bar and a
// scale with ticks under the bars. It draws through VuSurface, four
// operations in twips, so its geometry is computed and tested without a
// screen; the window paints the same calls with a QPainter.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kavon {

// Colour as one number: red + 256 × green + 65536 × blue.
using VuColor = uint32_t;
constexpr VuColor MakeVuColor(int r, int g, int b) {
  auto c = [](int v) { return static_cast<VuColor>(v < 0 ? 0 : v > 255 ? 255 : v); };
  return c(r) | c(g) << 8 | c(b) << 16;
}

// What the meter draws on. Coordinates and sizes in twips.
class VuSurface {
 public:
  virtual ~VuSurface() = default;
  virtual double Width() const = 0;
  virtual double Height() const = 0;
  virtual VuColor BackColor() const = 0;
  virtual VuColor ForeColor() const = 0;
  virtual void SelectFontSize(double points) = 0;
  // The box from (x1, y1) to (x2, y2), both corners inclusive.
  virtual void Fill(double x1, double y1, double x2, double y2, VuColor color) = 0;
  virtual void Line(double x1, double y1, double x2, double y2, VuColor color) = 0;
  virtual double TextWidth(const std::string& text) = 0;
  virtual double TextHeight(const std::string& text) = 0;
  // text in the fore colour, its top-left corner at (x, y).
  virtual void Print(double x, double y, const std::string& text) = 0;
  virtual void Clear() = 0;
};

class C_VU {
 public:
  // tpp: twips per screen pixel (15 at 96 dpi).
  explicit C_VU(int tpp = 15) : tpp_(tpp) {}

  // A new surface has a font of its own: the next text selects its size.
  void PictureBox(VuSurface* surface) {
    picture_ = surface;
    currentFontSize_ = 0;
  }
  void ClosePictureBox() { picture_ = nullptr; }
  void SetFontSize(int k, double size);
  void CurrentFontSize(double size) { currentFontSize_ = size; }
  void UseBG(int on) { useBG_ = on; }
  // Highest value index: the meter shows n + 1 bars. (Re)creates the
  // per-value arrays.
  void NumValue(int n);
  void DecRate(int rate) { decRate_ = rate; }
  void BarWidth(int halfRows) { barWidth_ = halfRows; }
  void BarWidthStep(int step) { barWidthStep_ = step < 1 ? 1 : step; }
  void BarMargin(double twips) { barMargin_ = twips; }
  double BarMargin() const { return barMargin_; }
  void TopMargin(double twips) { topMargin_ = twips; }
  double TopMargin() const { return topMargin_; }
  void SetParms();
  // 0: "L", "R", "L", ...; otherwise "1", "2", ...
  void SetStrType(int kind);
  void SetStr(int i, const std::string& text);
  void Max(double v) { max_ = v; }
  double Max() const { return max_; }
  void Min(double v) { min_ = v; }
  double Min() const { return min_; }
  void RedPoint(double v) { redPoint_ = v; }
  double RedPoint() const { return redPoint_; }
  // Each argument that is not -1 replaces its field.
  void SetMargin(double left, double right, double labelOffset, double valueTextMargin);
  int BarXStart() const;
  int BarXEnd() const;
  // 0 label left, 1 label right, 2 label top, 3 label bottom; else 0.
  int LabelCharPos(int i, int kind);
  int GraphHeight();
  void ResetVU(int i);
  // Draws bar i; text right of it unless empty; mark unless it is 99.
  void DrawVU(int i, double value, double peak, const std::string& text, double mark);
  void DrawScale(int mode) { DrawScaleToPB(mode, picture_); }
  void DrawScaleToPB(int mode, VuSurface* surface);

  // Geometry, for tests and the window.
  double X(double value) const;
  double Y(int i) const;
  double GraphWidth() const { return graphWidth_; }
  double RedX() const { return redX_; }
  double BarPos(int i) const { return barPos_.at(static_cast<size_t>(i)); }
  double PeakPos(int i) const { return peakPos_.at(static_cast<size_t>(i)); }
  VuColor Red(int j) const { return red_.at(static_cast<size_t>(j)); }
  VuColor Green(int j) const { return green_.at(static_cast<size_t>(j)); }
  VuColor Grey(int j) const { return grey_.at(static_cast<size_t>(j)); }

 private:
  struct Metrics {
    double height = 0;
    double width = 0;
    double half = 0;
  };
  void Select(VuSurface& s, int k);
  void Measure(int k);
  // The decayed position: a bar falls at most GraphWidth / DecRate a draw.
  double Decayed(double target, double last) const;
  // Fills the rows of bar shading j = BarWidth - 1 ... 0 around y.
  void Shade(double x1, double x2, double y, const std::vector<VuColor>& ramp);
  void DrawTick(double x, double top, const std::string& text, VuSurface& surface);

  int tpp_;
  VuSurface* picture_ = nullptr;
  int useBG_ = 0;
  double max_ = 0, min_ = -60, redPoint_ = -20;
  double leftMargin_ = 0, rightMargin_ = 0, labelOffset_ = 60, valueTextMargin_ = 120;
  double barMargin_ = 60, topMargin_ = 75;
  int numValue_ = 0;
  int decRate_ = 1;
  int barWidth_ = 4;
  int barWidthStep_ = 1;
  std::array<double, 3> fontSizes_{8, 8, 8};
  double currentFontSize_ = 0;
  std::vector<std::string> labels_{""};
  std::vector<double> labelX_{0};
  std::vector<double> barPos_{0};
  std::vector<double> peakPos_{0};
  double graphWidth_ = 0, range_ = 60, redX_ = 0;
  std::vector<VuColor> red_, green_, grey_;
  std::array<Metrics, 3> metrics_{};
};

}  // namespace kavon
