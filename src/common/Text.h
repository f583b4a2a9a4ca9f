#pragma once
// Small text helpers shared by every layer: trimming, case, number reading.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kavon {

std::string Trim(std::string_view s);
std::string ToLower(std::string_view s);
std::string ToUpper(std::string_view s);
bool StartsWith(std::string_view s, std::string_view prefix);
bool EndsWith(std::string_view s, std::string_view suffix);
// Replaces every occurrence of from (non-empty) by to.
std::string ReplaceAll(std::string s, std::string_view from, std::string_view to);

// True for a decimal number with optional blanks around it, a sign, a
// fraction and an exponent ("12", " -1.5 ", "3e2"); false for "", "1:30".
bool IsNumeric(std::string_view s);
// The value of a numeric text, or nullopt.
std::optional<double> ParseNumber(std::string_view s);
// A numeric text rounded half to even into [lo, hi], or nullopt when it is
// not numeric or lies outside the range.
std::optional<int64_t> ParseInteger(std::string_view s, int64_t lo, int64_t hi);
// True when every character is an ASCII digit and there is at least one.
bool IsDigits(std::string_view s);

// Rounds half to even, as the capture arithmetic requires.
int64_t RoundHalfEven(double v);

// Zero-padded decimal text of at least width digits ("00" format).
std::string Pad(int64_t value, int width);
// Fixed decimals ("0.000" format).
std::string FormatFixed(double value, int decimals);

// True when the bytes are valid UTF-8.
bool IsValidUtf8(std::string_view s);
// Characters (code points) of UTF-8 text: every byte that does not
// continue a sequence.
size_t Utf8Length(std::string_view s);

}  // namespace kavon
