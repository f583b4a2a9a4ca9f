#pragma once
// File names are UTF-8 text everywhere in kavon. A std::string handed to
// std::filesystem or a file stream is read in the system's narrow encoding,
// which on Windows is the ANSI code page, not UTF-8: every name reaches the
// file system through U8Path, and comes back through U8String.
#include <filesystem>
#include <string>
#include <string_view>

namespace kavon::platform {

// What separates folders in a name: Windows takes "\\" as well as "/";
// elsewhere a backslash is an ordinary character of a file name.
#ifdef _WIN32
inline constexpr std::string_view kPathSeparators = "/\\";
#else
inline constexpr std::string_view kPathSeparators = "/";
#endif
inline bool IsPathSeparator(char c) { return kPathSeparators.find(c) != std::string_view::npos; }

inline std::filesystem::path U8Path(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string U8String(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace kavon::platform
