#pragma once
// A fresh folder per test, removed afterwards; helpers to read and write
// whole files in it.
#include <string>

namespace kavon::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);
// Sets a file's last write time back by the given number of hours from now.
void AgeFile(const std::string& path, double hours);

}  // namespace kavon::test
