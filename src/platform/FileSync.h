#pragma once
// Durable file replacement: the only file operations the standard library
// cannot express (fsync of a file and of its folder).
#include <string>
#include <string_view>

namespace kavon::platform {

// Writes bytes to a temporary file beside path, flushes it to the disk and
// renames it over path, so a crash leaves the old or the new file whole.
// Returns an empty text on success, else the reason.
std::string ReplaceFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace kavon::platform
