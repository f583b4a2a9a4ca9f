#include "common/FileHelpers.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/Log.h"
#include "common/Text.h"
#include "platform/Utf8Path.h"

namespace fs = std::filesystem;

namespace kavon {

using platform::U8Path;
using platform::U8String;

namespace {

void DefaultWait(const std::function<void(int)>& wait, int ms) {
  if (wait) {
    wait(ms);
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

fs::file_status StatusOf(const std::string& path) {
  std::error_code ec;
  return fs::symlink_status(U8Path(path), ec);
}

}  // namespace

std::string DottedLower(const std::string& ext) {
  if (ext.empty()) return {};
  std::string out = ToLower(ext);
  if (out.front() != '.') out = std::string(1, '.').append(out);
  return out;
}

int ReadFileAt(void* buffer, size_t length, const std::string& path, uint64_t offset, int retries,
               const std::function<void(int)>& wait) {
  for (int attempt = 0;; ++attempt) {
    std::ifstream in(U8Path(path), std::ios::binary);
    if (in) {
      in.seekg(static_cast<std::streamoff>(offset));
      in.read(static_cast<char*>(buffer), static_cast<std::streamsize>(length));
      if (in && static_cast<size_t>(in.gcount()) == length) return 1;
    }
    if (attempt >= retries) return 0;
    DefaultWait(wait, 500);
  }
}

int WriteFileAt(const void* buffer, size_t length, int64_t offset, const std::string& path) {
  std::error_code ec;
  if (!fs::exists(U8Path(path), ec)) {
    std::ofstream create(U8Path(path), std::ios::binary);
    if (!create) return 0;
  }
  std::fstream out(U8Path(path), std::ios::binary | std::ios::in | std::ios::out);
  if (!out) return 0;
  if (offset == kAtEnd) {
    out.seekp(0, std::ios::end);
  } else {
    out.seekp(static_cast<std::streamoff>(offset));
  }
  if (!out) return 0;
  out.write(static_cast<const char*>(buffer), static_cast<std::streamsize>(length));
  out.flush();
  return out ? 1 : 0;
}

int64_t FileSizeOfPath(const std::string& path) {
  std::error_code ec;
  const auto size = fs::file_size(U8Path(path), ec);
  return ec ? -1 : static_cast<int64_t>(size);
}

int SetFileSize(const std::string& path, uint64_t size) {
  std::error_code ec;
  fs::resize_file(U8Path(path), size, ec);
  return ec ? 0 : 1;
}

int FileExists(const std::string& path) {
  if (Trim(path).empty()) return 0;
  std::error_code ec;
  return fs::is_regular_file(U8Path(path), ec) ? 1 : 0;
}

int FolderExists(const std::string& path) {
  if (Trim(path).empty()) return 0;
  std::error_code ec;
  return fs::is_directory(U8Path(Backslash(path, true).empty() ? "/" : Backslash(path, true)), ec) ? 1 : 0;
}

int IsReservedName(const std::string& path) {
  static const std::array<std::string, 5> kNames = {"CON", "PRN", "AUX", "NUL", "CLOCK$"};
  const std::string base = SplitPath(path, false, false, true, false, false, 2);
  for (const auto& n : kNames) {
    if (base == n) return 1;
  }
  if (base.size() == 4 && (StartsWith(base, "COM") || StartsWith(base, "LPT")) && base[3] >= '0' &&
      base[3] <= '9') {
    return 1;
  }
  return 0;
}

int IsSystemFolder(const std::string& path) {
  const std::string p = ToLower(path);
  for (const char* marker : {":\\recycled", ":\\$recycle", ":\\system volume information", "/.trash"}) {
    if (p.find(marker) != std::string::npos) return 1;
  }
  return 0;
}

int DeleteFileForce(const std::string& path) {
  if (IsReservedName(path)) return 1;
  std::error_code ec;
  const auto st = StatusOf(path);
  if (!fs::exists(st) && !fs::is_symlink(st)) return 1;
  if (fs::is_directory(st)) return 0;
  fs::remove(U8Path(path), ec);
  return ec ? 0 : 1;
}

int RenameFile(const std::string& source, const std::string& target) {
  std::error_code ec;
  fs::rename(U8Path(source), target, ec);
  return ec ? 0 : 1;
}

int MoveFileRetry(const std::string& source, const std::string& target, bool overwrite,
                  const std::function<void(int)>& wait) {
  if (IsReservedName(source) || IsReservedName(target)) return 0;
  if (overwrite) DeleteFileForce(target);
  for (int n = 1; n <= 10; ++n) {
    if (!overwrite && FileExists(target)) return 0;
    if (RenameFile(source, target)) return 1;
    if (n < 10) DefaultWait(wait, 10 * n);
  }
  return 0;
}

int CopyFileOver(const std::string& source, const std::string& target, bool overwrite) {
  if (overwrite && FileExists(target) && !DeleteFileForce(target)) return 0;
  std::error_code ec;
  fs::copy_file(U8Path(source), target, fs::copy_options::overwrite_existing, ec);
  return ec ? 0 : 1;
}

int MakeDir(const std::string& path) {
  std::error_code ec;
  return fs::create_directory(U8Path(Backslash(path, true)), ec) ? 1 : 0;
}

int MakeDirs(const std::string& path) {
  if (Trim(path).empty()) return 0;
  std::error_code ec;
  fs::create_directories(U8Path(Backslash(path, true)), ec);
  return FolderExists(path);
}

int RemoveDir(const std::string& path) {
  if (!FolderExists(path)) return 1;
  std::error_code ec;
  fs::remove(U8Path(Backslash(path, true)), ec);
  return FolderExists(path) ? 0 : 1;
}

int FolderHasEntries(const std::string& folder, const std::string& ext, bool foldersOnly) {
  std::error_code ec;
  fs::directory_iterator it(U8Path(folder), ec);
  if (ec) return 0;
  const std::string want = DottedLower(ext);
  for (const auto& entry : it) {
    const bool isDir = entry.is_directory(ec) && !entry.is_symlink(ec);
    if (foldersOnly && !isDir) continue;
    if (!want.empty() && !isDir && ToLower(U8String(entry.path().extension())) != want) continue;
    return 1;
  }
  return 0;
}

namespace {

bool IsProtected(const fs::path& file, const DeleteOldGuard& guard) {
  std::error_code ec;
  for (const auto& p : guard.protect) {
    if (p.empty()) continue;
    if (fs::equivalent(file, U8Path(p), ec)) return true;
  }
  return false;
}

}  // namespace

int DeleteOldFiles(const std::string& folder, bool keepFolder, int days, const std::string& ext,
                   bool noRecurse, const platform::Clock& clock, const DeleteOldGuard& guard) {
  if (!FolderExists(folder)) return 0;
  const auto limit = clock.NowUtc() - std::chrono::days(days < 0 ? -days : days);
  const std::string want = DottedLower(ext);
  std::error_code ec;
  std::vector<fs::path> files;
  std::vector<fs::path> folders;
  for (const auto& entry : fs::directory_iterator(U8Path(folder), ec)) {
    const auto st = entry.symlink_status(ec);
    if (fs::is_symlink(st)) continue;
    if (fs::is_directory(st)) {
      folders.push_back(entry.path());
    } else if (fs::is_regular_file(st)) {
      files.push_back(entry.path());
    }
  }
  for (const auto& file : files) {
    const std::string name = U8String(file.filename());
    if (!want.empty() && ToLower(U8String(file.extension())) != want) continue;
    if (guard.accept && !guard.accept(name)) continue;
    if (IsProtected(file, guard)) continue;
    if (days != 0) {
      const auto written = fs::last_write_time(file, ec);
      if (ec) continue;
      const auto writtenSys = std::chrono::file_clock::to_sys(written);
      if (!(writtenSys < limit)) continue;
    }
    DeleteFileForce(U8String(file));
  }
  if (!noRecurse) {
    for (const auto& sub : folders) {
      if (days != 0) {
        DeleteOldFiles(U8String(sub), true, days, ext, false, clock, guard);
        if (!FolderHasEntries(U8String(sub))) RemoveDir(U8String(sub));
      } else {
        DeleteOldFiles(U8String(sub), false, 0, ext, false, clock, guard);
      }
    }
  }
  if (keepFolder) return 1;
  return RemoveDir(folder);
}

std::string FileTimeText(const std::string& path, const platform::Clock& clock) {
  std::error_code ec;
  const auto written = fs::last_write_time(U8Path(path), ec);
  if (ec) return {};
  const auto sys = std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::file_clock::to_sys(written));
  return StampText(clock.ToLocal(sys));
}

std::string Backslash(const std::string& path, bool remove) {
  if (Trim(path).empty()) return {};
  if (remove) {
    std::string p = path;
    while (p.size() > 1 && platform::IsPathSeparator(p.back())) p.pop_back();
    return p;
  }
  return platform::IsPathSeparator(path.back()) ? path : path + kSep;
}

std::string EnsureExtension(const std::string& path, const std::string& ext) {
  std::string e = Trim(ext);
  if (path.empty()) return {};
  if (e.empty()) return path;
  e = DottedLower(e);
  if (!EndsWith(ToLower(path), e)) return path + e;
  return path;
}

std::string SplitPath(const std::string& path, bool folder, bool sep, bool base, bool dot, bool ext,
                      int letterCase) {
  if (path.empty()) return {};
  const auto slash = path.find_last_of(platform::kPathSeparators);
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const auto lastDot = name.rfind('.');
  const std::string stem = lastDot == std::string::npos ? name : name.substr(0, lastDot);
  const std::string extension = lastDot == std::string::npos ? "" : name.substr(lastDot + 1);
  std::string out;
  if (folder) out += dir;
  if (sep && slash != std::string::npos) out += path[slash];
  if (base) out += stem;
  if (dot && lastDot != std::string::npos) out += '.';
  if (ext) out += extension;
  if (letterCase == 1) return ToLower(out);
  if (letterCase == 2) return ToUpper(out);
  return out;
}

std::string SafeFileName(const std::string& text) {
  std::string out;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 32 || c == 127) continue;
    switch (c) {
      case '"': out += "\xE2\x80\x9D"; break;   // ”
      case '\\': out += "\xEF\xBF\xA5"; break;  // ￥
      case '/': out += "\xEF\xBC\x8F"; break;   // ／
      case ';': out += "\xEF\xBC\x9B"; break;   // ；
      case ':': out += "\xEF\xBC\x9A"; break;   // ：
      case '*': out += "\xEF\xBC\x8A"; break;   // ＊
      case '?': out += "\xEF\xBC\x9F"; break;   // ？
      case '<': out += "\xEF\xBC\x9C"; break;   // ＜
      case '>': out += "\xEF\xBC\x9E"; break;   // ＞
      case '|': out += "\xEF\xBD\x9C"; break;   // ｜
      case ',': out += "\xEF\xBC\x8C"; break;   // ，
      default: out += ch;
    }
  }
  return Trim(out);
}

}  // namespace kavon
