#pragma once
// File and path operations used throughout the program. Failures come back
// as results (0, -1, ""), never as exceptions or messages.
//
// Linux counterparts of the Windows rules: the folder separator is "/";
// there is no drive table and no read-only attribute that blocks deletion;
// reserved device names (con, nul, com1, ...) are still refused where a name
// can carry them, so files stay portable to Windows; AppPath is the program
// folder (the data folder, or the --home folder).
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Clock.h"

namespace kavon {

inline constexpr char kSep = '/';

// Reads exactly length bytes at offset; 1 on success, else 0. A failed read
// is tried again retries times, waiting 500 ms (through wait) in between.
int ReadFileAt(void* buffer, size_t length, const std::string& path, uint64_t offset, int retries = 0,
               const std::function<void(int)>& wait = {});
inline constexpr int64_t kAtEnd = -1;
// Writes length bytes at offset (kAtEnd appends), creating a missing file;
// 1 when every byte was written, else 0.
int WriteFileAt(const void* buffer, size_t length, int64_t offset, const std::string& path);
// Size of a file, or -1.
int64_t FileSizeOfPath(const std::string& path);
// Cuts or extends a file to size bytes; 1 on success.
int SetFileSize(const std::string& path, uint64_t size);

int FileExists(const std::string& path);
int FolderExists(const std::string& path);
int DeleteFileForce(const std::string& path);
int RenameFile(const std::string& source, const std::string& target);
// Up to ten renames, waiting 10 × n ms after the n-th failure.
int MoveFileRetry(const std::string& source, const std::string& target, bool overwrite,
                  const std::function<void(int)>& wait = {});
int CopyFileOver(const std::string& source, const std::string& target, bool overwrite);
int IsReservedName(const std::string& path);
int IsSystemFolder(const std::string& path);
int MakeDir(const std::string& path);
int MakeDirs(const std::string& path);
int RemoveDir(const std::string& path);
int FolderHasEntries(const std::string& folder, const std::string& ext = "", bool foldersOnly = false);

// What DeleteOldFiles may touch beyond its own rules.
struct DeleteOldGuard {
  // Only files whose name this accepts are candidates (empty: all).
  std::function<bool(const std::string& fileName)> accept;
  // Files never deleted (recordings that are being written, the newest one).
  std::vector<std::string> protect;
};
// Deletes files with extension ext (any with "") last written more than
// days days before now; days 0 deletes all. Recurses unless noRecurse,
// removes emptied sub-folders and, unless keepFolder, the folder itself
// when it is empty. Symbolic links are never followed nor deleted.
int DeleteOldFiles(const std::string& folder, bool keepFolder, int days, const std::string& ext,
                   bool noRecurse, const platform::Clock& clock, const DeleteOldGuard& guard = {});

// The local last-write time of a file as yyyy/mm/dd hh:mm:ss, or "".
std::string FileTimeText(const std::string& path, const platform::Clock& clock);

// "wav" or ".WAV" -> ".wav"; "" stays "".
std::string DottedLower(const std::string& ext);
// Adds the folder separator when missing, or removes it with remove.
std::string Backslash(const std::string& path, bool remove = false);
// ".ext" appended unless the path already ends with it (any case).
std::string EnsureExtension(const std::string& path, const std::string& ext);
// The requested parts of a path: folder, separator, base name, dot, extension.
std::string SplitPath(const std::string& path, bool folder, bool sep, bool base, bool dot, bool ext,
                      int letterCase = 0);
// A text made usable as a file name on every file system.
std::string SafeFileName(const std::string& text);

}  // namespace kavon
