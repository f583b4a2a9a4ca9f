#include "common/FileHelpers.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/sim/FakeClock.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace kavon {
namespace {

platform::FakeClock ClockAtRealNow() {
  return platform::FakeClock(
      std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::system_clock::now()));
}

TEST(FileHelpers, PathTexts) {
  EXPECT_EQ(SplitPath("/a/b.c.wav", true, true, true, false, false), "/a/b.c");
  EXPECT_EQ(SplitPath("/a/b.c.wav", false, false, false, false, true, 2), "WAV");
  EXPECT_EQ(SplitPath("noext", true, true, true, true, true), "noext");
  EXPECT_EQ(EnsureExtension("rec.WAV", "wav"), "rec.WAV");
  EXPECT_EQ(EnsureExtension("rec", ".Wav"), "rec.wav");
  EXPECT_EQ(EnsureExtension("", "wav"), "");
  EXPECT_EQ(EnsureExtension("rec", " "), "rec");
  EXPECT_EQ(Backslash("/x"), "/x/");
  EXPECT_EQ(Backslash("/x/", true), "/x");
  EXPECT_EQ(Backslash("  "), "");
  EXPECT_EQ(SafeFileName("a/b:c"), "a／b：c");
  EXPECT_EQ(SafeFileName("  title  "), "title");
  EXPECT_EQ(SafeFileName("q\"t\\x\t|,"), "q”t￥x｜，");
}

TEST(FileHelpers, ReservedNamesAreNeverTouched) {
  test::TempDir dir;
  const std::string con = dir.File("con.txt");
  EXPECT_EQ(IsReservedName(con), 1);
#ifndef _WIN32  // where con.txt can be a file at all
  test::WriteWholeFile(con, "keep");
  EXPECT_EQ(IsReservedName(dir.File("com1")), 1);
  EXPECT_EQ(IsReservedName(dir.File("com10")), 0);
  EXPECT_EQ(DeleteFileForce(con), 1);
  EXPECT_TRUE(fs::exists(con));
  EXPECT_EQ(MoveFileRetry(con, dir.File("x"), true), 0);
#endif
  EXPECT_EQ(IsReservedName(dir.File("com1")), 1);
  EXPECT_EQ(DeleteFileForce(dir.File("missing")), 1);
}

TEST(FileHelpers, WritesAndReadsAt64BitOffsets) {
  test::TempDir dir;
  const std::string f = dir.File("data.bin");
  EXPECT_EQ(WriteFileAt("abc", 3, kAtEnd, f), 1);  // creates
  EXPECT_EQ(WriteFileAt("de", 2, kAtEnd, f), 1);   // appends
  EXPECT_EQ(WriteFileAt("X", 1, 1, f), 1);
  EXPECT_EQ(test::ReadWholeFile(f), "aXcde");
  char buf[2] = {};
  EXPECT_EQ(ReadFileAt(buf, 2, f, 3), 1);
  EXPECT_EQ(std::string(buf, 2), "de");
  EXPECT_EQ(ReadFileAt(buf, 2, f, 4), 0);  // short read at the end
  // Past 4 GiB in a sparse file.
  const uint64_t far = 5ull << 30;
  EXPECT_EQ(WriteFileAt("Z", 1, static_cast<int64_t>(far), f), 1);
  EXPECT_EQ(FileSizeOfPath(f), static_cast<int64_t>(far + 1));
  EXPECT_EQ(ReadFileAt(buf, 1, f, far), 1);
  EXPECT_EQ(buf[0], 'Z');
}

TEST(FileHelpers, MakeDirsCreatesTheWholeChain) {
  test::TempDir dir;
  EXPECT_EQ(MakeDirs(dir.File("x/y/z/")), 1);
  EXPECT_TRUE(fs::is_directory(dir.File("x/y/z")));
  EXPECT_EQ(MakeDirs(""), 0);
}

TEST(DeleteOldFiles, AgesExtensionsSubfoldersAndGuards) {
  test::TempDir dir;
  auto clock = ClockAtRealNow();
  const std::string root = dir.File("rec/");
  test::WriteWholeFile(root + "old.wav", "1");
  test::WriteWholeFile(root + "new.wav", "1");
  test::WriteWholeFile(root + "old.txt", "1");
  test::WriteWholeFile(root + "sub/old.WAV", "1");
  test::WriteWholeFile(root + "open.wav", "1");
  test::WriteWholeFile(dir.File("outside/old.wav"), "1");
  test::AgeFile(root + "old.wav", 91 * 24);
  test::AgeFile(root + "new.wav", 24);
  test::AgeFile(root + "old.txt", 91 * 24);
  test::AgeFile(root + "sub/old.WAV", 91 * 24);
  test::AgeFile(root + "open.wav", 91 * 24);
  test::AgeFile(dir.File("outside/old.wav"), 91 * 24);
  std::error_code noLinks;  // Windows without the right to make links: the walk is tested without one
  fs::create_directory_symlink(dir.File("outside"), root + "link", noLinks);

  DeleteOldGuard guard;
  guard.protect = {root + "open.wav"};
  EXPECT_EQ(DeleteOldFiles(root, false, 90, "wav", false, clock, guard), 0);  // folder not empty
  EXPECT_FALSE(fs::exists(root + "old.wav"));
  EXPECT_TRUE(fs::exists(root + "new.wav"));
  EXPECT_TRUE(fs::exists(root + "old.txt"));
  EXPECT_TRUE(fs::exists(root + "open.wav"));
  EXPECT_FALSE(fs::exists(root + "sub"));  // emptied and removed
  EXPECT_TRUE(fs::exists(dir.File("outside/old.wav")));  // link not followed

  EXPECT_EQ(DeleteOldFiles(dir.File("missing"), false, 1, "", false, clock), 0);
}

TEST(DeleteOldFiles, ZeroDaysEmptiesTheTree) {
  test::TempDir dir;
  auto clock = ClockAtRealNow();
  test::WriteWholeFile(dir.File("t/a.wav"), "1");
  test::WriteWholeFile(dir.File("t/s/b.wav"), "1");
  EXPECT_EQ(DeleteOldFiles(dir.File("t"), false, 0, "", false, clock), 1);
  EXPECT_FALSE(fs::exists(dir.File("t")));
}

}  // namespace
}  // namespace kavon
