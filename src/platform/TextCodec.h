#pragma once
// Character set conversion for files written on Japanese Windows.
#include <optional>
#include <string>
#include <string_view>

namespace kavon::platform {

// Shift-JIS (CP932) bytes as UTF-8, or nullopt when they are not CP932.
std::optional<std::string> Cp932ToUtf8(std::string_view bytes);

}  // namespace kavon::platform
