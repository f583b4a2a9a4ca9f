#include "common/Text.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "platform/TextCodec.h"

namespace kavon {

std::string Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t");
  return std::string(s.substr(first, last - first + 1));
}

std::string ToLower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

std::string ToUpper(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return out;
}

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

std::string ReplaceAll(std::string s, std::string_view from, std::string_view to) {
  if (from.empty()) return s;
  size_t pos = 0;
  while ((pos = s.find(from, pos)) != std::string::npos) {
    s.replace(pos, from.size(), to);
    pos += to.size();
  }
  return s;
}

bool IsDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::optional<double> ParseNumber(std::string_view s) {
  const std::string t = Trim(s);
  if (t.empty()) return std::nullopt;
  std::string_view v = t;
  if (v.front() == '+') v.remove_prefix(1);
  if (v.empty() || v.front() == '+' || v.front() == ' ') return std::nullopt;
  // Digits must appear before any exponent: "e5" and "." are not numbers.
  const auto mantissaEnd = v.find_first_of("eE");
  const auto mantissa = v.substr(0, mantissaEnd);
  if (mantissa.find_first_of("0123456789") == std::string_view::npos) return std::nullopt;
  double value = 0;
  const auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), value);
  if (ec != std::errc() || ptr != v.data() + v.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

bool IsNumeric(std::string_view s) { return ParseNumber(s).has_value(); }

int64_t RoundHalfEven(double v) { return static_cast<int64_t>(std::nearbyint(v)); }

std::optional<int64_t> ParseInteger(std::string_view s, int64_t lo, int64_t hi) {
  const auto value = ParseNumber(s);
  if (!value) return std::nullopt;
  if (*value < static_cast<double>(lo) - 0.5 || *value > static_cast<double>(hi) + 0.5) return std::nullopt;
  const int64_t rounded = RoundHalfEven(*value);
  if (rounded < lo || rounded > hi) return std::nullopt;
  return rounded;
}

std::string Pad(int64_t value, int width) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  if (static_cast<int>(digits.size()) < width) digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
  return value < 0 ? "-" + digits : digits;
}

std::string FormatFixed(double value, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
  return buf;
}

size_t Utf8Length(std::string_view s) {
  return static_cast<size_t>(std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

bool IsValidUtf8(std::string_view s) { return platform::IsWellFormedUtf8(s); }

}  // namespace kavon
