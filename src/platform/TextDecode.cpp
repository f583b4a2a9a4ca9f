#include <algorithm>
#include <cstdint>
#include <optional>

#include "platform/TextCodec.h"

namespace kavon::platform {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

void AppendCodePoint(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Length of the well-formed UTF-8 sequence that starts at s[i], 0 when
// there is none.
size_t Utf8SequenceAt(std::string_view s, size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) return 1;
  size_t len = 0;
  uint32_t min = 0;
  if ((c & 0xE0) == 0xC0) {
    len = 2;
    min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    len = 3;
    min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    len = 4;
    min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  uint32_t cp = c & (0x7F >> len);
  for (size_t k = 1; k < len; ++k) {
    const auto cc = static_cast<unsigned char>(s[i + k]);
    if ((cc & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (cc & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

bool IsHighSurrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// UTF-16 from byte `start` on (behind its byte order mark, or from the
// first byte); a lone surrogate or an odd last byte becomes U+FFFD.
std::string FromUtf16(std::string_view bytes, bool bigEndian, size_t start = 2) {
  const auto unit = [&](size_t i) {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    return static_cast<uint32_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
  };
  std::string out;
  out.reserve(bytes.size() * 3 / 2);
  size_t i = start;
  while (i + 1 < bytes.size()) {
    const uint32_t u = unit(i);
    i += 2;
    if (IsHighSurrogate(u) && i + 1 < bytes.size() && IsLowSurrogate(unit(i))) {
      AppendCodePoint(out, 0x10000 + ((u - 0xD800) << 10) + (unit(i) - 0xDC00));
      i += 2;
    } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
      out += kReplacement;
    } else {
      AppendCodePoint(out, u);
    }
  }
  if (i < bytes.size()) out += kReplacement;
  return out;
}

std::string ReplaceInvalidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t n = Utf8SequenceAt(text, i);
    if (n == 0) {
      out += kReplacement;
      ++i;
    } else {
      out.append(text.substr(i, n));
      i += n;
    }
  }
  return out;
}

// UTF-16 saved without a byte order mark, told by its NUL bytes: UTF-8 and
// Shift-JIS text has none, while the ASCII of a timer list or a settings
// file in UTF-16 leaves one in every other byte, on the odd side for little
// endian, the even side for big. True for big endian; nullopt when not UTF-16.
std::optional<bool> Utf16WithoutMark(std::string_view bytes) {
  const size_t n = std::min<size_t>(bytes.size(), 4096) & ~size_t{1};
  size_t even = 0, odd = 0;
  for (size_t i = 0; i < n; ++i) {
    if (bytes[i] == '\0') ++(i % 2 == 0 ? even : odd);
  }
  const size_t pairs = n / 2;
  if (pairs < 2) return std::nullopt;
  if (even == 0 && odd * 4 >= pairs) return false;
  if (odd == 0 && even * 4 >= pairs) return true;
  return std::nullopt;
}

}  // namespace

bool IsWellFormedUtf8(std::string_view s) {
  for (size_t i = 0, n = 0; i < s.size(); i += n) {
    if ((n = Utf8SequenceAt(s, i)) == 0) return false;
  }
  return true;
}

std::string DecodeText(std::string_view bytes) {
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') return FromUtf16(bytes, false);
  if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF') return FromUtf16(bytes, true);
  if (const auto bigEndian = Utf16WithoutMark(bytes)) return FromUtf16(bytes, *bigEndian, 0);
  // Some editors have written the mark more than once.
  while (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) bytes.remove_prefix(kUtf8Bom.size());
  if (IsWellFormedUtf8(bytes)) return std::string(bytes);
  if (auto text = Cp932ToUtf8(bytes)) return std::move(*text);
  return ReplaceInvalidUtf8(bytes);
}

}  // namespace kavon::platform
