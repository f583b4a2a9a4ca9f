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

// Forces the file's written data to the disk (fdatasync). False, with
// errno set, when the disk refused.
bool SyncFileData(const std::string& path);

// Removes the temporary files of ReplaceFileAtomically ("name.tmp1234")
// that a crash left in folder, for targets whose names end in suffix; our
// own process's files are left alone. Returns how many were removed.
int RemoveStaleTemporaries(const std::string& folder, const std::string& suffix);

}  // namespace kavon::platform
