#pragma once
// Durable file replacement: the only file operations the standard library
// cannot express (fsync of a file and of its folder).
#include <string>
#include <string_view>

namespace kavon::platform {

// Writes bytes to a temporary file beside path, flushes it to the disk and
// renames it over path, so a crash leaves the old or the new file whole.
// The file keeps the mode of the one it replaces (or of modeOf, when
// given and there), and where the system lets kavon, its owner and group;
// a new file gets what the umask gives. Returns an empty text on success,
// else the reason.
std::string ReplaceFileAtomically(const std::string& path, std::string_view bytes, const std::string& modeOf = {});

// Writes bytes into a new file at path, never over an existing one: the
// name is claimed atomically (O_EXCL / CREATE_NEW), so two starts, or two
// processes, can never both believe a name is theirs. With sync the file's
// bytes and its folder entry reach the disk before this returns. A file
// that was created but could not be written whole is removed again.
enum class NewFile { Created, NameTaken, Failed };
NewFile CreateNewFile(const std::string& path, std::string_view bytes, bool sync, std::string* why = nullptr);

// Forces a new file and its folder entry to the disk (fsync of both), so
// after a power cut the file is there with what it held. False, with errno
// set, when the disk refused.
bool SyncNewFile(const std::string& path);

// Forces the file's written data to the disk (fdatasync). False, with
// errno set, when the disk refused.
bool SyncFileData(const std::string& path);

// A recording's file kept open from its creation to its last append, where
// that keeps other programs from locking kavon out of it (Windows: a
// backup or a virus scan that opens it without sharing writes would make
// every reopen fail; held, shared for reading, writing and deletion, it is
// their open that fails). Elsewhere nothing to do.
void HoldFile(const std::string& path);
void ReleaseFile(const std::string& path);

// Removes the temporary files of ReplaceFileAtomically ("name.tmp1234")
// that a crash left in folder, for targets whose names end in suffix: only
// those whose process is gone. Returns how many were removed.
int RemoveStaleTemporaries(const std::string& folder, const std::string& suffix);

}  // namespace kavon::platform
