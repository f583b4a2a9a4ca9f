#include "audio/C_VU.h"

#include <gtest/gtest.h>

#include <vector>

namespace kavon {
namespace {

// A surface that keeps what was drawn: 6000 × 750 twips, one wide
// character 180 × 240 twips, other texts 90 twips a byte.
struct RecordingSurface : VuSurface {
  struct Box {
    double x1, y1, x2, y2;
    VuColor color;
  };
  std::vector<Box> fills;
  std::vector<std::string> printed;
  std::vector<double> lineX;
  int clears = 0;
  double Width() const override { return 6000; }
  double Height() const override { return 750; }
  VuColor BackColor() const override { return 0; }
  VuColor ForeColor() const override { return 0xFFFFFF; }
  std::vector<double> fontSizes;  // each size selected, in order
  void SelectFontSize(double points) override { fontSizes.push_back(points); }
  void Fill(double x1, double y1, double x2, double y2, VuColor c) override { fills.push_back({x1, y1, x2, y2, c}); }
  void Line(double x1, double, double, double, VuColor) override { lineX.push_back(x1); }
  double TextWidth(const std::string& t) override { return t == "漢" ? 180 : 90.0 * static_cast<double>(t.size()); }
  double TextHeight(const std::string&) override { return 240; }
  void Print(double, double, const std::string& t) override { printed.push_back(t); }
  void Clear() override { ++clears; }
};

// The main window's configuration of a channel meter at scale 1.
C_VU MainWindowMeter(RecordingSurface& s) {
  C_VU vu(15);
  vu.BarWidth(6);
  vu.BarMargin(60);
  vu.TopMargin(90);
  vu.NumValue(1);
  vu.UseBG(1);
  vu.PictureBox(&s);
  vu.SetMargin(390, 690, 45, -1);
  vu.Max(0);
  vu.Min(-60);
  vu.RedPoint(-20);
  vu.SetParms();
  vu.SetStrType(0);
  return vu;
}

// The right end of the widest (centre) row of the last bar drawn.
double BarEnd(const RecordingSurface& s, VuColor red, VuColor green) {
  double end = 0;
  for (const auto& f : s.fills) {
    if (f.color == red || f.color == green) end = std::max(end, f.x2);
  }
  return end;
}

TEST(C_VU, BarEndsAtMinMaxAndTheRedPoint) {
  RecordingSurface s;
  C_VU vu = MainWindowMeter(s);
  EXPECT_EQ(vu.GraphWidth(), 6000 - 390 - 690);
  EXPECT_EQ(vu.RedX(), 3660);  // round(40 × 82 + 390) = 3670, snapped down to a pixel
  EXPECT_EQ(s.clears, 1);
  const VuColor red = vu.Red(5), green = vu.Green(5);
  EXPECT_EQ(green, MakeVuColor(40, 190, 40));  // brightest at the centre line
  EXPECT_EQ(vu.Red(0), MakeVuColor(90, 40, 40));
  struct Case {
    double value;
    double end;
    bool red;
  };
  for (const Case c : {Case{-20, 3660, false}, Case{-19.9, 3675, true}, Case{0, 5310, true}, Case{-80, 390, false}}) {
    SCOPED_TRACE(c.value);
    s.fills.clear();
    vu.DrawVU(0, c.value, -60, "", 99);
    EXPECT_EQ(BarEnd(s, red, green), c.end);
    bool anyRed = false;
    for (const auto& f : s.fills) {
      if (f.color != red) continue;
      anyRed = true;
      EXPECT_EQ(f.x1, vu.RedX() + 15);  // the red part begins a pixel after the red point
    }
    EXPECT_EQ(anyRed, c.red);
  }
  EXPECT_EQ(vu.Y(0), 90 + 6 * 15);
  EXPECT_EQ(vu.Y(1), 60 + 11 * 15 + 90 + 90);
  EXPECT_EQ(vu.GraphHeight(), 11 * 2 * 15 + 90 + 60 + 75 + 240 + 90);
}

TEST(C_VU, DecayPeakMarkAndReset) {
  RecordingSurface s;
  C_VU vu = MainWindowMeter(s);
  vu.DrawVU(0, 0, 0, "", 99);
  EXPECT_EQ(vu.BarPos(0), 5310);
  EXPECT_EQ(vu.PeakPos(0), 5310 - 45);  // three pixels left of the snapped peak
  vu.DrawVU(0, -60, -60, "", 99);
  EXPECT_EQ(vu.BarPos(0), 390);  // DecRate 1: the whole width may fall at once
  vu.DecRate(10);
  vu.DrawVU(0, 0, 0, "", 99);
  vu.DrawVU(0, -60, -60, "", 99);
  EXPECT_EQ(vu.BarPos(0), 5310 - 492);  // a tenth of the width per draw
  EXPECT_EQ(vu.PeakPos(0), 5265 - 492);
  vu.DrawVU(0, -60, -60, "-12.5", 30);  // a mark of 30 lies beyond Max: drawn at Max
  EXPECT_EQ(s.printed.back(), "-12.5");
  EXPECT_EQ(s.fills.back().x1, 5310 - 15);
  vu.ResetVU(-1);  // both bars back to rest, drawn empty
  for (const int i : {0, 1}) {
    EXPECT_EQ(vu.BarPos(i), 390);
    EXPECT_EQ(vu.PeakPos(i), 390);
  }
}

TEST(C_VU, ShadingRowsMarginsLabelsAndTheScale) {
  RecordingSurface s;
  C_VU vu = MainWindowMeter(s);
  vu.BarWidthStep(2);
  s.fills.clear();
  vu.DrawVU(1, -40, -60, "", 99);
  std::vector<double> halfHeights;
  for (size_t k = 0; k < 3; ++k) halfHeights.push_back((s.fills[k].y2 - s.fills[k].y1) / 2);
  EXPECT_EQ(halfHeights, (std::vector<double>{75, 45, 15}));  // rows j = 5, 3, 1 only
  vu.SetMargin(-1, -1, -1, -1);
  EXPECT_EQ(vu.BarXStart(), 390);
  EXPECT_EQ(vu.BarXEnd(), 690);
  EXPECT_EQ(vu.LabelCharPos(0, 0), 180 + 45);  // labels centred on one wide character
  EXPECT_EQ(vu.LabelCharPos(9, 0), 0);
  vu.DrawScale(1);
  // 9 / 8 × 4920 = 5535: twelve steps of 5 dB, then "0db".
  EXPECT_EQ(s.printed.front(), "L");
  EXPECT_EQ(s.printed[2], "-60");
  EXPECT_EQ(s.printed[3], "-55");
  EXPECT_EQ(s.printed.back(), "0db");
  EXPECT_EQ(s.lineX.size(), 13u);
  EXPECT_EQ(s.lineX.back(), 390 + 4920);
}

// A value text on a fresh surface (the window draws each buffer on a new
// one) is printed in the value size, not in whatever font the surface
// came with.
TEST(C_VU, AValueTextOnAFreshSurfaceGetsItsSize) {
  RecordingSurface first;
  C_VU vu = MainWindowMeter(first);
  vu.ClosePictureBox();
  RecordingSurface fresh;
  vu.PictureBox(&fresh);
  vu.DrawVU(0, -10, -5, "-10.0", 99);
  ASSERT_EQ(fresh.printed.size(), 1u);
  EXPECT_EQ(fresh.fontSizes, std::vector<double>{8});
}

}  // namespace
}  // namespace kavon
