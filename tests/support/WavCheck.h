#pragma once
// Reads a WAV file with an independent reader (Python's wave module) and
// with our own eyes, to prove a file on disk is valid.
#include <cstdint>
#include <string>
#include <vector>

namespace kavon::test {

struct WavInfo {
  bool valid = false;
  int channels = 0;
  int rate = 0;
  int64_t frames = 0;
  std::string error;
};

// Python's wave module's view of the file.
WavInfo IndependentRead(const std::string& path);
// The file's header sizes agree with its length (RIFF = size - 8, data =
// size - 44), for a plain 44-byte header.
bool SizesAgree(const std::string& path);
// The interleaved samples behind a plain 44-byte header.
std::vector<int16_t> Samples(const std::string& path);
// Writes a 44100 Hz WAV file whose frame n holds (n mod 30000, -(n mod 30000)).
void RampWav(const std::string& path, int64_t frames);
// Fails the test unless samples continue that ramp from frame `from`.
void ExpectRamp(const std::vector<int16_t>& samples, int64_t from);
uint32_t U32At(const std::string& bytes, size_t offset);

}  // namespace kavon::test
