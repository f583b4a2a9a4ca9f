#include "support/TempDir.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <random>
#include <stdexcept>

#include "platform/Utf8Path.h"

namespace fs = std::filesystem;

namespace kavon::test {

using platform::U8Path;

// A new folder of our own: a random name, taken only if it did not exist.
TempDir::TempDir() {
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = fs::temp_directory_path() / ("kavon-test-" + std::to_string(random() % 1000000000000));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) {
      path_ = platform::U8String(candidate.generic_u8string());
      return;
    }
  }
  throw std::runtime_error("no temporary folder");
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::permissions(U8Path(path_), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(U8Path(path_), ec);
}

std::string TempDir::File(const std::string& name) const { return path_ + "/" + name; }

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(U8Path(path), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
  fs::create_directories(U8Path(path).parent_path());
  std::ofstream out(U8Path(path), std::ios::binary | std::ios::trunc);
  out << bytes;
}

void AgeFile(const std::string& path, double hours) {
  const auto when = fs::file_time_type::clock::now() -
                    std::chrono::duration_cast<fs::file_time_type::duration>(std::chrono::duration<double>(hours * 3600));
  fs::last_write_time(U8Path(path), when);
}

}  // namespace kavon::test
