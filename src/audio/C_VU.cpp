#include "audio/C_VU.h"

#include <algorithm>
#include <cmath>

#include "common/Text.h"

namespace kavon {
namespace {

constexpr const char* kWideChar = "漢";
constexpr double kNoMark = 99;

double Round(double v) { return static_cast<double>(RoundHalfEven(v)); }

}  // namespace

void C_VU::SetFontSize(int k, double size) {
  if (k >= 0 && k < 3) fontSizes_[static_cast<size_t>(k)] = size;
}

void C_VU::NumValue(int n) {
  numValue_ = std::max(0, n);
  const auto count = static_cast<size_t>(numValue_) + 1;
  labels_.assign(count, "");
  labelX_.assign(count, 0);
  barPos_.assign(count, leftMargin_);
  peakPos_.assign(count, leftMargin_);
}

void C_VU::SetStrType(int kind) {
  for (size_t i = 0; i < labels_.size(); ++i) {
    labels_[i] = kind == 0 ? (i % 2 == 0 ? "L" : "R") : std::to_string(i + 1);
  }
}

void C_VU::SetStr(int i, const std::string& text) {
  if (i >= 0 && static_cast<size_t>(i) < labels_.size()) labels_[static_cast<size_t>(i)] = text;
}

void C_VU::SetMargin(double left, double right, double labelOffset, double valueTextMargin) {
  if (left != -1) leftMargin_ = left;
  if (right != -1) rightMargin_ = right;
  if (labelOffset != -1) labelOffset_ = labelOffset;
  if (valueTextMargin != -1) valueTextMargin_ = valueTextMargin;
}

int C_VU::BarXStart() const { return static_cast<int>(RoundHalfEven(leftMargin_)); }
int C_VU::BarXEnd() const { return static_cast<int>(RoundHalfEven(rightMargin_)); }

double C_VU::X(double value) const {
  const double x = Round(std::abs(value - min_) * graphWidth_ / range_ + leftMargin_);
  return static_cast<double>(static_cast<int64_t>(x) / tpp_ * tpp_);
}

double C_VU::Y(int i) const {
  return Round((barMargin_ + (2.0 * barWidth_ - 1) * tpp_) * i + static_cast<double>(barWidth_) * tpp_ + topMargin_);
}

void C_VU::Select(VuSurface& s, int k) {
  const double size = fontSizes_[static_cast<size_t>(k)];
  s.SelectFontSize(size);
  currentFontSize_ = size;
}

void C_VU::Measure(int k) {
  Select(*picture_, k);
  Metrics& m = metrics_[static_cast<size_t>(k)];
  m.height = picture_->TextHeight(kWideChar);
  m.width = picture_->TextWidth(kWideChar);
  m.half = Round(m.height / 2);
}

void C_VU::SetParms() {
  if (!picture_) return;
  range_ = std::abs(max_ - min_);
  if (range_ == 0) range_ = 1;  // a meter of no range would divide by zero
  graphWidth_ = picture_->Width() - leftMargin_ - rightMargin_;
  redX_ = X(redPoint_);
  red_.clear();
  green_.clear();
  grey_.clear();
  for (int j = 0; j < barWidth_; ++j) {
    const int c = static_cast<int>(RoundHalfEven(120.0 / barWidth_ * j + 90));
    red_.push_back(MakeVuColor(c, 40, 40));
    green_.push_back(MakeVuColor(40, c, 40));
    grey_.push_back(MakeVuColor(c, c, c));
  }
  for (const int k : {1, 2, 0}) Measure(k);
  for (size_t i = 0; i < labels_.size(); ++i) {
    labelX_[i] = Round(metrics_[0].width - picture_->TextWidth(labels_[i]) / 2);
  }
  currentFontSize_ = fontSizes_[0];
  picture_->Clear();
}

int C_VU::LabelCharPos(int i, int kind) {
  if (i < 0 || static_cast<size_t>(i) >= labels_.size() || !picture_) return 0;
  const double left = labelX_[static_cast<size_t>(i)] + labelOffset_;
  switch (kind) {
    case 0: return static_cast<int>(RoundHalfEven(left));
    case 1: return static_cast<int>(RoundHalfEven(left + picture_->TextWidth(labels_[static_cast<size_t>(i)])));
    case 2: return static_cast<int>(RoundHalfEven(Y(i) - metrics_[1].half));
    case 3: return static_cast<int>(RoundHalfEven(Y(i) + metrics_[1].half));
    default: return 0;
  }
}

int C_VU::GraphHeight() {
  const double text = picture_ ? picture_->TextHeight(kWideChar) : 0;
  return static_cast<int>(RoundHalfEven((2.0 * barWidth_ - 1) * (numValue_ + 1) * tpp_ + topMargin_ +
                                        barMargin_ * numValue_ + 75 + text + 90));
}

void C_VU::ResetVU(int i) {
  for (int k = 0; k <= numValue_; ++k) {
    if (i != -1 && k != i) continue;
    barPos_[static_cast<size_t>(k)] = leftMargin_;
    peakPos_[static_cast<size_t>(k)] = leftMargin_;
    DrawVU(k, min_, min_, "", kNoMark);
  }
}

double C_VU::Decayed(double target, double last) const {
  if (target >= last || decRate_ == 0) return target;
  return std::max(target, Round(last - graphWidth_ / decRate_));
}

void C_VU::Shade(double x1, double x2, double y, const std::vector<VuColor>& ramp) {
  for (int j = barWidth_ - 1; j >= 0; j -= barWidthStep_) {
    const double h = static_cast<double>(j) * tpp_;
    picture_->Fill(x1, y - h, x2, y + h, ramp[static_cast<size_t>(barWidth_ - 1 - j)]);
  }
}

void C_VU::DrawVU(int i, double value, double peak, const std::string& text, double mark) {
  if (!picture_ || i < 0 || i > numValue_ || red_.empty()) return;
  const auto at = static_cast<size_t>(i);
  // Beyond the ends the bar stops at them.
  value = std::clamp(value, min_, max_);
  peak = std::clamp(peak, min_, max_);
  const double y = Y(i);
  if (useBG_ == 0) {
    picture_->Fill(leftMargin_ + tpp_, y - barWidth_ * tpp_, graphWidth_ + leftMargin_, y + barWidth_ * tpp_,
                   picture_->BackColor());
  }
  double e = Decayed(std::max(X(value), leftMargin_), barPos_[at]);
  if (e <= leftMargin_) e = leftMargin_;
  barPos_[at] = e;
  for (int j = barWidth_ - 1; j >= 0; j -= barWidthStep_) {
    const double h = static_cast<double>(j) * tpp_;
    const auto k = static_cast<size_t>(barWidth_ - 1 - j);
    if (e <= redX_) {
      picture_->Fill(leftMargin_, y - h, e, y + h, green_[k]);
    } else {
      picture_->Fill(redX_ + tpp_, y - h, e, y + h, red_[k]);
      picture_->Fill(leftMargin_, y - h, redX_, y + h, green_[k]);
    }
  }
  double p = Decayed(X(peak) - 3.0 * tpp_, peakPos_[at]);
  if (p <= leftMargin_) p = leftMargin_;
  peakPos_[at] = p;
  Shade(p, p + 3.0 * tpp_, y, grey_);
  if (mark != kNoMark) {
    const double m = std::max(X(std::clamp(mark, min_, max_)) - tpp_, leftMargin_);
    Shade(m, m + tpp_, y, grey_);
  }
  const double half = metrics_[0].half;
  if (useBG_ == 0) {
    picture_->Fill(graphWidth_ + leftMargin_ + tpp_, y - half, picture_->Width(), y + half, picture_->BackColor());
  }
  if (text.empty()) return;
  if (currentFontSize_ != fontSizes_[0]) Select(*picture_, 0);
  picture_->Print(picture_->Width() - picture_->TextWidth(text) - valueTextMargin_, y - half, text);
}

void C_VU::DrawTick(double x, double top, const std::string& text, VuSurface& surface) {
  const double at = x + leftMargin_;
  const double bottom = (picture_ ? picture_->Height() : surface.Height()) - 2.0 * tpp_;
  surface.Line(at, top, at, bottom, surface.ForeColor());
  surface.Print(at + 2.0 * tpp_, top + 75, text);
}

void C_VU::DrawScaleToPB(int mode, VuSurface* surface) {
  if (!surface) return;
  if (currentFontSize_ != fontSizes_[1]) Select(*surface, 1);
  if (metrics_[1].half == 0) metrics_[1].half = Round(surface->TextHeight(kWideChar) / 2);
  for (int i = 0; i <= numValue_; ++i) {
    const double top = static_cast<double>(barWidth_) * tpp_ + topMargin_ +
                       (barMargin_ + (2.0 * barWidth_ - 1) * tpp_) * i - metrics_[1].half;
    surface->Print(labelX_[static_cast<size_t>(i)] + labelOffset_, top, labels_[static_cast<size_t>(i)]);
  }
  if (currentFontSize_ != fontSizes_[2]) Select(*surface, 2);
  const double top = (numValue_ + 1.0) * (2.0 * barWidth_ - 1) * tpp_ + topMargin_ + barMargin_ * numValue_;
  if (mode != 0) {
    const double w = 9 / fontSizes_[2] * graphWidth_;
    int n = 15, step = 4;
    if (w < 3000) {
      n = 6;
      step = 10;
    } else if (w < 4200) {
      n = 10;
      step = 6;
    } else if (w < 6000) {
      n = 12;
      step = 5;
    }
    for (int k = 0; k < n; ++k) {
      DrawTick(static_cast<double>(k) / n * graphWidth_, top, "-" + std::to_string((n - k) * step), *surface);
    }
  } else {
    DrawTick(0, top, "-∞", *surface);
    DrawTick(0.1 * graphWidth_, top, "-20db", *surface);
    DrawTick(0.25 * graphWidth_, top, "-12db", *surface);
    DrawTick(0.5 * graphWidth_, top, "-6db", *surface);
  }
  DrawTick(graphWidth_, top, "0db", *surface);
}

}  // namespace kavon
