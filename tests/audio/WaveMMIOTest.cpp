#include "audio/WaveMMIO.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/TempDir.h"
#include "support/WavCheck.h"

namespace kavon {
namespace {

using test::U32At;

std::string Le32(uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}
std::string Le16(uint16_t v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }

TEST(WaveMMIO, ExactHeaders) {
  test::TempDir dir;
  const std::string f = dir.File("a.wav");
  using platform::NewFile;
  ASSERT_EQ(CreateWaveFile(44100, 16, 2, f, 0), NewFile::Created);
  const std::string plain = "RIFF" + Le32(36) + "WAVEfmt " + Le32(16) + Le16(1) + Le16(2) + Le32(44100) + Le32(176400) +
                            Le16(4) + Le16(16) + "data" + Le32(0);
  EXPECT_EQ(test::ReadWholeFile(f), plain);

  // A taken name is never replaced, not even by a header.
  EXPECT_EQ(CreateWaveFile(48000, 16, 6, f, 0), NewFile::NameTaken);
  EXPECT_EQ(test::ReadWholeFile(f), plain);
  std::filesystem::remove(f);
  ASSERT_EQ(CreateWaveFile(48000, 16, 6, f, 0), NewFile::Created);
  const std::string ext = "RIFF" + Le32(60) + "WAVEfmt " + Le32(40) + Le16(0xFFFE) + Le16(6) + Le32(48000) +
                          Le32(576000) + Le16(12) + Le16(16) + Le16(22) + Le16(16) + Le32(0x3F) + Le32(1) + Le16(0) +
                          Le16(0x10) + std::string("\x80\x00\x00\xAA\x00\x38\x9B\x71", 8) + "data" + Le32(0);
  EXPECT_EQ(test::ReadWholeFile(f), ext);
  EXPECT_EQ(U32At(WaveHeaderBytes(48000, 16, 8, 0), 40), 0xFFu);
  EXPECT_EQ(CreateWaveFile(44100, 16, 2, dir.File("no/such/folder/a.wav")), NewFile::Failed);
}

TEST(WaveMMIO, PatchAndCutOnRealFiles) {
  test::TempDir dir;
  const std::string f = dir.File("a.wav");
  ASSERT_EQ(CreateWaveFile(44100, 16, 2, f), platform::NewFile::Created);
  test::WriteWholeFile(f, test::ReadWholeFile(f) + std::string(705600, '\x01'));
  ASSERT_EQ(UpdateWaveHeader(f), 1);
  std::string b = test::ReadWholeFile(f);
  EXPECT_EQ(U32At(b, 4), 705636u);
  EXPECT_EQ(U32At(b, 40), 705600u);
  EXPECT_EQ(test::IndependentRead(f).frames, 176400);

  ASSERT_EQ(SetWaveDataLength(f, 1001), 1);  // odd: the pad byte stays and counts
  b = test::ReadWholeFile(f);
  EXPECT_EQ(b.size(), 44u + 1002u);
  EXPECT_EQ(U32At(b, 4), 1038u);
  EXPECT_EQ(U32At(b, 40), 1001u);
  ASSERT_EQ(SetWaveDataLength(f, 1u << 30), 1);  // beyond the data: clamped, never lengthened
  EXPECT_EQ(test::ReadWholeFile(f).size(), 44u + 1002u);
  ASSERT_EQ(SetWaveDataLength(f, 0), 1);
  b = test::ReadWholeFile(f);
  EXPECT_EQ(b.size(), 44u);
  EXPECT_EQ(U32At(b, 4), 36u);
  EXPECT_EQ(U32At(b, 40), 0u);
  EXPECT_EQ(SetWaveDataLength(f, kMaxDataLength + 1), 0);
}

TEST(WaveMMIO, DamagedAndForeignFilesAreRefused) {
  test::TempDir dir;
  const std::string f = dir.File("x.wav");
  test::WriteWholeFile(f, std::string(43, 'R'));
  EXPECT_EQ(UpdateWaveHeader(f), 0);
  EXPECT_EQ(test::ReadWholeFile(f), std::string(43, 'R'));

  const std::string text = std::string(100, 'x');
  test::WriteWholeFile(f, text);  // not a RIFF file: left alone
  EXPECT_EQ(UpdateWaveHeader(f), 0);
  EXPECT_EQ(SetWaveDataLength(f, 4), 0);
  EXPECT_EQ(test::ReadWholeFile(f), text);

  // A chunk size of 0xFFFFFFF8 must move past the end, not wrap back.
  test::WriteWholeFile(f, "RIFF" + Le32(100) + "WAVE" + "junk" + Le32(0xFFFFFFF8u) + std::string(60, '\0'));
  EXPECT_EQ(FindRiffChunk(f, ChunkId("data")), kChunkNotFound);
  EXPECT_EQ(UpdateWaveHeader(f), 0);
  EXPECT_EQ(SetWaveDataLength(f, 0), 0);

  // An odd-sized chunk is skipped with its pad byte.
  test::WriteWholeFile(f, "RIFF" + Le32(0) + "WAVE" + "odd " + Le32(3) + "abc" + std::string(1, '\0') + "data" + Le32(0) +
                              "zzzz");
  EXPECT_EQ(FindRiffChunk(f, ChunkId("data")), 24);
  EXPECT_EQ(FindRiffChunk(dir.File("missing.wav"), ChunkId("data")), kChunkNotFound);
}

}  // namespace
}  // namespace kavon
