#pragma once
// WAV files that stay valid while they grow: the header is written once
// with a data size of 0, audio is appended behind it, and after every
// append both size fields are patched from the file's length. Offsets are
// 64-bit throughout; a file never gets a size its 32-bit fields cannot state.
#include <cstdint>
#include <string>

#include "platform/FileSync.h"

namespace kavon {

inline constexpr uint32_t kPlainHeaderBytes = 44;
inline constexpr uint32_t kExtensibleHeaderBytes = 68;
inline constexpr int64_t kChunkNotFound = -1;
inline constexpr uint64_t kMaxRiffFileBytes = 4294967295ull;
inline constexpr uint64_t kMaxDataLength = 4294967250ull;

// The four bytes of a chunk id read as one little-endian number.
constexpr uint32_t ChunkId(const char (&id)[5]) {
  return static_cast<uint32_t>(static_cast<unsigned char>(id[0])) |
         static_cast<uint32_t>(static_cast<unsigned char>(id[1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(id[2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(id[3])) << 24;
}

// The header bytes for a format and data size; extensible for 6 or 8 channels.
std::string WaveHeaderBytes(uint32_t rate, int16_t bits, int16_t channels, uint32_t dataSize);
// A new file holding only the header, written in one write. An existing
// file of that name is never touched (NameTaken): a recording is never
// replaced. With sync the header and the folder entry are on the disk when
// this returns, so a power cut cannot leave an empty .wav behind. why (when
// given) receives the reason of a failure.
platform::NewFile CreateWaveFile(uint32_t rate, int16_t bits, int16_t channels, const std::string& fileName,
                                 uint32_t dataSize = 0, std::string* why = nullptr, bool sync = false);
// Patches the RIFF and data sizes of a file of ours ("RIFF"..."WAVE") from
// its length; 0 for any other file, one below 44 bytes or beyond 32 bits.
int UpdateWaveHeader(const std::string& fileName);
// Offset of the first chunk with this id, or kChunkNotFound. Every step
// moves forward, so a damaged size can never loop.
int64_t FindRiffChunk(const std::string& fileName, uint32_t chunkId);
// Makes the data chunk dataLen bytes long (at most the data present) and
// truncates the file behind it; 1 on success.
int SetWaveDataLength(const std::string& fileName, uint64_t dataLen);
// Appends audio to a file of ours and patches both sizes, opening the file
// once (the disk buffer's path, every four seconds per channel). 1 when the
// bytes and the sizes were written, 0 when the append failed (the file may
// then hold a part of the bytes), -1 when the bytes are in but the header
// could not be patched.
// why (when given) receives the reason of a failure. With sync the audio
// is forced to the disk before the sizes are patched, and the patch after
// it, so after a power cut the header never claims audio the disk lacks.
int AppendWaveData(const std::string& fileName, const void* data, size_t length, std::string* why = nullptr,
                   bool sync = false);
// A header that disagrees with the file's length (a power cut between the
// audio and the header) patched to the whole frames present; the audio is
// neither lengthened nor shortened. The frames the header now states when
// it was repaired, -1 when it was right or the file is not one of ours.
int64_t RepairWaveHeader(const std::string& fileName);
// A recording whose header a power cut lost: a file shorter than a header
// whose bytes are zero or agree with ours, or one whose first 44 bytes are
// all zero. It gets our plain header back (2 channels, 16 bits, at the rate
// its surviving bytes state, else `rate`) for the whole frames present; the
// audio stays as it is. The frames it now states, -1 for any other file
// (which is never touched).
int64_t RestoreLostHeader(const std::string& fileName, uint32_t rate);
// The repair at start of a file the journal names as open at a cut.
struct RecordingRepair {
  enum class Result { Repaired, Whole, Missing, NotOurs };
  Result result = Result::Whole;
  int64_t frames = 0;  // Repaired: the frames the header now states
};
// A lost or cut header is restored, a torn one patched to the whole frames
// present (RestoreLostHeader, RepairWaveHeader); the audio stays as it is.
// Only kavon's own layout is ever touched: 16-bit PCM, the data chunk
// right behind the format chunk and nothing behind the audio. A file laid
// out otherwise (another format, a chunk after the audio) is NotOurs and
// left byte for byte as it is.
RecordingRepair RepairRecording(const std::string& fileName, uint32_t rate);
// Offset of the first audio byte (behind the data chunk header), or -1.
int64_t WaveDataOffset(const std::string& fileName);

}  // namespace kavon
