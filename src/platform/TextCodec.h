#pragma once
// Character sets of the text files people edit: kavon writes UTF-8, and
// reads what Windows editors save as well (Shift-JIS, UTF-16 with a byte
// order mark).
#include <optional>
#include <string>
#include <string_view>

namespace kavon::platform {

// Shift-JIS (CP932) bytes as UTF-8, or nullopt when they are not CP932.
std::optional<std::string> Cp932ToUtf8(std::string_view bytes);

// Whether s is well-formed UTF-8 from end to end (no overlong forms, no
// surrogates).
bool IsWellFormedUtf8(std::string_view s);

// A text file's bytes as UTF-8, whatever a Windows editor saved: byte order
// marks are dropped, UTF-16 (LE or BE, told by its mark, or without one by
// the NUL bytes its ASCII leaves on one side) converted, bytes that are not
// UTF-8 read as CP932, and what is neither becomes U+FFFD.
// Never throws: a name made from the result is always valid UTF-8.
std::string DecodeText(std::string_view bytes);

}  // namespace kavon::platform
