#include "audio/WaveMMIO.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>

#include "common/FileHelpers.h"
#include "platform/FileSync.h"
#include "platform/Utf8Path.h"

namespace kavon {
namespace {

// Notes the reason of the failed call that just happened; always 0.
int Failed(std::string* why) {
  if (why) *why = errno != 0 ? std::strerror(errno) : "write failed";
  return 0;
}

void Put16(std::string& out, uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}

void Put32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

bool WriteU32At(const std::string& fileName, uint64_t offset, uint32_t value) {
  std::string bytes;
  Put32(bytes, value);
  return WriteFileAt(bytes.data(), bytes.size(), static_cast<int64_t>(offset), fileName) == 1;
}

// Little-endian values in bytes read from a file.
uint32_t Le32(std::string_view b, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

uint16_t Le16(std::string_view b, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8);
}

std::optional<uint32_t> ReadU32At(const std::string& fileName, uint64_t offset) {
  std::array<char, 4> b{};
  if (!ReadFileAt(b.data(), b.size(), fileName, offset)) return std::nullopt;
  return Le32(std::string_view(b.data(), b.size()), 0);
}

bool IsOurRiff(const std::string& fileName) {
  std::array<char, 12> b{};
  if (!ReadFileAt(b.data(), b.size(), fileName, 0)) return false;
  return std::string(b.data(), 4) == "RIFF" && std::string(b.data() + 8, 4) == "WAVE";
}

}  // namespace

std::string WaveHeaderBytes(uint32_t rate, int16_t bits, int16_t channels, uint32_t dataSize) {
  const auto blockAlign = static_cast<uint16_t>(static_cast<int16_t>(channels * bits / 8));
  const bool extensible = channels == 6 || channels == 8;
  std::string h;
  h += "RIFF";
  Put32(h, dataSize + (extensible ? 60u : 36u));
  h += "WAVEfmt ";
  Put32(h, extensible ? 40u : 16u);
  Put16(h, extensible ? 0xFFFEu : 1u);
  Put16(h, static_cast<uint16_t>(channels));
  Put32(h, rate);
  Put32(h, blockAlign * rate);
  Put16(h, blockAlign);
  Put16(h, static_cast<uint16_t>(bits));
  if (extensible) {
    Put16(h, 22);
    Put16(h, static_cast<uint16_t>(bits));
    Put32(h, channels == 6 ? 0x3Fu : 0xFFu);
    Put32(h, 1);
    Put16(h, 0);
    Put16(h, 0x0010);
    h += std::string("\x80\x00\x00\xAA\x00\x38\x9B\x71", 8);
  }
  h += "data";
  Put32(h, dataSize);
  return h;
}

platform::NewFile CreateWaveFile(uint32_t rate, int16_t bits, int16_t channels, const std::string& fileName,
                                 uint32_t dataSize, std::string* why, bool sync) {
  return platform::CreateNewFile(fileName, WaveHeaderBytes(rate, bits, channels, dataSize), sync, why);
}

int64_t FindRiffChunk(const std::string& fileName, uint32_t chunkId) {
  const int64_t size = FileSizeOfPath(fileName);
  if (size < 0) return kChunkNotFound;
  const auto s = static_cast<uint64_t>(size);
  uint64_t o = 12;
  for (;;) {
    if (o + 4 > s) return kChunkNotFound;
    const auto id = ReadU32At(fileName, o);
    if (!id) return kChunkNotFound;
    if (*id == chunkId) return static_cast<int64_t>(o);
    if (o + 8 > s) return kChunkNotFound;
    const auto z = ReadU32At(fileName, o + 4);
    if (!z) return kChunkNotFound;
    o += 8 + static_cast<uint64_t>(*z) + (*z & 1u);
  }
}

int64_t WaveDataOffset(const std::string& fileName) {
  const int64_t o = FindRiffChunk(fileName, ChunkId("data"));
  return o < 0 ? -1 : o + 8;
}

int UpdateWaveHeader(const std::string& fileName) {
  const int64_t size = FileSizeOfPath(fileName);
  if (size < static_cast<int64_t>(kPlainHeaderBytes) || static_cast<uint64_t>(size) > kMaxRiffFileBytes) return 0;
  if (!IsOurRiff(fileName)) return 0;
  const auto s = static_cast<uint64_t>(size);
  if (!WriteU32At(fileName, 4, static_cast<uint32_t>(s - 8))) return 0;
  const int64_t o = FindRiffChunk(fileName, ChunkId("data"));
  if (o < 36) return 0;
  const auto off = static_cast<uint64_t>(o);
  if (off + 8 > s) return 0;
  return WriteU32At(fileName, off + 4, static_cast<uint32_t>(s - off - 8)) ? 1 : 0;
}

namespace {

// The data chunk's offset within the first bytes of a file, or -1.
int64_t DataChunkIn(const std::string& head) {
  uint64_t o = 12;
  while (o + 8 <= head.size()) {
    if (head.compare(o, 4, "data") == 0) return static_cast<int64_t>(o);
    const uint32_t z = Le32(head, o + 4);
    o += 8 + static_cast<uint64_t>(z) + (z & 1u);
  }
  return -1;
}

}  // namespace

int AppendWaveData(const std::string& fileName, const void* data, size_t length, std::string* why, bool sync) {
  errno = 0;
  std::fstream f(platform::U8Path(fileName), std::ios::binary | std::ios::in | std::ios::out);
  std::string head(4096, '\0');
  if (f) f.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(f ? head.size() : static_cast<size_t>(std::max<std::streamsize>(0, f.gcount())));
  const bool ours = head.size() >= kPlainHeaderBytes && head.compare(0, 4, "RIFF") == 0 && head.compare(8, 4, "WAVE") == 0;
  const int64_t o = ours ? DataChunkIn(head) : -1;
  if (o < 0) {
    // Not a header we can patch in place: the slow, general path.
    f.close();
    if (!WriteFileAt(data, length, kAtEnd, fileName)) return Failed(why);
    if (sync && !platform::SyncFileData(fileName)) return Failed(why);
    const int patched = UpdateWaveHeader(fileName) ? 1 : -1;
    if (sync) platform::SyncFileData(fileName);
    return patched;
  }
  f.clear();
  f.seekp(0, std::ios::end);
  const auto before = static_cast<uint64_t>(f.tellp());
  f.write(static_cast<const char*>(data), static_cast<std::streamsize>(length));
  f.flush();
  if (!f) return Failed(why);
  if (sync && !platform::SyncFileData(fileName)) return Failed(why);
  const uint64_t size = before + length;
  if (size > kMaxRiffFileBytes || size < static_cast<uint64_t>(o) + 8) return -1;
  std::string riff, dataSize;
  for (int i = 0; i < 4; ++i) {
    riff += static_cast<char>(((size - 8) >> (8 * i)) & 0xFF);
    dataSize += static_cast<char>(((size - static_cast<uint64_t>(o) - 8) >> (8 * i)) & 0xFF);
  }
  f.seekp(4);
  f.write(riff.data(), 4);
  f.seekp(o + 4);
  f.write(dataSize.data(), 4);
  f.flush();
  if (!f) return -1;
  if (sync && !platform::SyncFileData(fileName)) return -1;
  return 1;
}

int64_t RepairWaveHeader(const std::string& fileName) {
  if (!IsOurRiff(fileName)) return -1;
  const int64_t o = FindRiffChunk(fileName, ChunkId("data"));
  const int64_t fmt = FindRiffChunk(fileName, ChunkId("fmt "));
  const int64_t size = FileSizeOfPath(fileName);
  if (o < 0 || fmt < 0 || size < o + 8 || static_cast<uint64_t>(size) > kMaxRiffFileBytes) return -1;
  const auto align = ReadU32At(fileName, static_cast<uint64_t>(fmt) + 20);  // block align in its low 16 bits
  const uint32_t block = align ? (*align & 0xFFFF) : 0;
  if (block == 0) return -1;
  const auto off = static_cast<uint64_t>(o);
  const uint64_t present = (static_cast<uint64_t>(size) - off - 8) / block * block;
  const auto riff = ReadU32At(fileName, 4);
  const auto data = ReadU32At(fileName, off + 4);
  if (!riff || !data) return -1;
  if (*data == present && *riff == off + present) return -1;
  if (!WriteU32At(fileName, 4, static_cast<uint32_t>(off + present)) ||
      !WriteU32At(fileName, off + 4, static_cast<uint32_t>(present))) {
    return -1;
  }
  return static_cast<int64_t>(present / block);
}

namespace {

// Whether the bytes of a cut header can be ours: zero, or equal to our
// header's bytes wherever those do not depend on the rate and the sizes.
bool CouldBeOurHeader(const std::string& bytes) {
  const std::string ours = WaveHeaderBytes(44100, 16, 2, 0);
  auto variable = [](size_t i) { return (i >= 4 && i < 8) || (i >= 24 && i < 32) || i >= 40; };
  for (size_t i = 0; i < bytes.size() && i < ours.size(); ++i) {
    if (bytes[i] != '\0' && !variable(i) && bytes[i] != ours[i]) return false;
  }
  return true;
}

}  // namespace

int64_t RestoreLostHeader(const std::string& fileName, uint32_t rate) {
  const int64_t size = FileSizeOfPath(fileName);
  if (size < 0 || static_cast<uint64_t>(size) > kMaxRiffFileBytes) return -1;
  std::string head(static_cast<size_t>(std::min<int64_t>(size, kPlainHeaderBytes)), '\0');
  if (!head.empty() && !ReadFileAt(head.data(), head.size(), fileName, 0)) return -1;
  const bool zero = head.find_first_not_of('\0') == std::string::npos;
  const bool shortOne = size < static_cast<int64_t>(kPlainHeaderBytes);
  if (!(shortOne ? CouldBeOurHeader(head) : zero)) return -1;
  // A rate that survived in the cut header is the file's own.
  if (head.size() >= 28 && !zero) {
    const uint32_t stated = Le32(head, 24);
    if (stated >= 8000 && stated <= 384000) rate = stated;
  }
  const uint64_t present = shortOne ? 0 : (static_cast<uint64_t>(size) - kPlainHeaderBytes) / 4 * 4;
  const std::string header = WaveHeaderBytes(rate, 16, 2, static_cast<uint32_t>(present));
  if (!WriteFileAt(header.data(), header.size(), 0, fileName)) return -1;
  return static_cast<int64_t>(present / 4);
}

int SetWaveDataLength(const std::string& fileName, uint64_t dataLen) {
  if (dataLen > kMaxDataLength) return 0;
  if (!IsOurRiff(fileName)) return 0;
  const int64_t o = FindRiffChunk(fileName, ChunkId("data"));
  const int64_t size = FileSizeOfPath(fileName);
  if (o < 0 || size < o + 8) return 0;
  const auto off = static_cast<uint64_t>(o);
  const uint64_t present = static_cast<uint64_t>(size) - off - 8;
  if (dataLen > present) dataLen = present;
  // The pad byte of an odd length stays only when it is there already:
  // the file is never lengthened.
  const uint64_t end = std::min<uint64_t>(off + 8 + dataLen + (dataLen & 1u), static_cast<uint64_t>(size));
  if (!WriteU32At(fileName, 4, static_cast<uint32_t>(end - 8))) return 0;
  if (!WriteU32At(fileName, off + 4, static_cast<uint32_t>(dataLen))) return 0;
  return SetFileSize(fileName, end);
}

namespace {

// The layout WaveHeaderBytes writes (plain or extensible, 16-bit PCM), read
// from a file's first bytes: the offset of its data chunk, or -1.
int64_t OurDataChunk(const std::string& head) {
  if (head.size() < kPlainHeaderBytes || head.compare(0, 4, "RIFF") != 0 || head.compare(8, 8, "WAVEfmt ") != 0) return -1;
  const uint32_t fmtSize = Le32(head, 16);
  const uint16_t tag = Le16(head, 20);
  const bool plain = fmtSize == 16 && tag == 1;
  const bool extensible = fmtSize == 40 && tag == 0xFFFE && head.size() >= kExtensibleHeaderBytes &&
                          Le16(head, 44) == 1 && Le16(head, 38) == 16;
  if (!(plain || extensible) || Le16(head, 34) != 16) return -1;
  const size_t data = 20 + fmtSize;
  return head.compare(data, 4, "data") == 0 ? static_cast<int64_t>(data) : -1;
}

// Whether the bytes behind the stated audio are a chunk that ends the file
// exactly: another program's metadata (LIST, id3 …), never audio of ours.
bool ChunkBehindAudio(const std::string& fileName, uint64_t dataOffset, uint64_t size) {
  const auto stated = ReadU32At(fileName, dataOffset + 4);
  if (!stated) return false;
  const uint64_t end = dataOffset + 8 + *stated + (*stated & 1u);
  if (end + 8 > size) return false;
  std::string id(8, '\0');
  if (!ReadFileAt(id.data(), id.size(), fileName, end)) return false;
  for (size_t i = 0; i < 4; ++i) {
    if (id[i] < 0x20 || id[i] > 0x7E) return false;
  }
  const uint64_t chunkSize = Le32(id, 4);
  return end + 8 + chunkSize == size || end + 8 + chunkSize + 1 == size;
}

}  // namespace

RecordingRepair RepairRecording(const std::string& fileName, uint32_t rate) {
  const int64_t size = FileSizeOfPath(fileName);
  if (size < 0) return {RecordingRepair::Result::Missing, 0};
  if (const int64_t frames = RestoreLostHeader(fileName, rate); frames >= 0) {
    return {RecordingRepair::Result::Repaired, frames};
  }
  std::string head(static_cast<size_t>(std::min<int64_t>(size, kExtensibleHeaderBytes)), '\0');
  if (!ReadFileAt(head.data(), head.size(), fileName, 0)) return {RecordingRepair::Result::NotOurs, 0};
  const int64_t data = OurDataChunk(head);
  if (data < 0 || ChunkBehindAudio(fileName, static_cast<uint64_t>(data), static_cast<uint64_t>(size))) {
    return {RecordingRepair::Result::NotOurs, 0};
  }
  const int64_t frames = RepairWaveHeader(fileName);
  if (frames < 0) return {RecordingRepair::Result::Whole, 0};
  return {RecordingRepair::Result::Repaired, frames};
}

}  // namespace kavon
