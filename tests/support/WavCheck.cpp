#include "support/WavCheck.h"

#include <cstdio>
#include <sstream>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace kavon::test {

uint32_t U32At(const std::string& b, size_t o) {
  if (o + 4 > b.size()) return 0;
  return static_cast<uint32_t>(static_cast<unsigned char>(b[o])) |
         static_cast<uint32_t>(static_cast<unsigned char>(b[o + 1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[o + 2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[o + 3])) << 24;
}

#ifdef _WIN32
// No Python here: a plain chunk walk, which shares no code with the writer.
WavInfo IndependentRead(const std::string& path) {
  const std::string b = ReadWholeFile(path);
  WavInfo info;
  if (b.size() < 12 || b.compare(0, 4, "RIFF") != 0 || b.compare(8, 4, "WAVE") != 0) {
    info.error = "not RIFF WAVE";
    return info;
  }
  uint32_t blockAlign = 0;
  for (size_t o = 12; o + 8 <= b.size();) {
    const uint32_t size = U32At(b, o + 4);
    if (b.compare(o, 4, "fmt ") == 0 && o + 24 <= b.size()) {
      info.channels = static_cast<unsigned char>(b[o + 10]);
      info.rate = static_cast<int>(U32At(b, o + 12));
      blockAlign = static_cast<unsigned char>(b[o + 20]) | static_cast<unsigned char>(b[o + 21]) << 8;
    }
    if (b.compare(o, 4, "data") == 0) {
      if (blockAlign == 0 || o + 8 + size > b.size()) {
        info.error = "short data";
        return info;
      }
      info.frames = static_cast<int64_t>(size / blockAlign);
      info.valid = true;
      return info;
    }
    o += 8 + size + (size & 1);
  }
  info.error = "no data chunk";
  return info;
}
#else
WavInfo IndependentRead(const std::string& path) {
  const std::string cmd =
      "python3 -c \"import sys,wave\nw=wave.open(sys.argv[1],'rb')\nn=w.getnframes()\nd=w.readframes(n)\n"
      "assert len(d)==n*w.getsampwidth()*w.getnchannels(), 'short data'\n"
      "print(w.getnchannels(), w.getframerate(), n)\" '" + path + "' 2>&1";
  WavInfo info;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return info;
  char buf[512];
  std::string out;
  while (fgets(buf, sizeof buf, p)) out += buf;
  const int rc = pclose(p);
  std::istringstream in(out);
  if (rc == 0 && (in >> info.channels >> info.rate >> info.frames)) {
    info.valid = true;
  } else {
    info.error = out;
  }
  return info;
}
#endif

bool SizesAgree(const std::string& path) {
  const std::string b = ReadWholeFile(path);
  return b.size() >= 44 && U32At(b, 4) == b.size() - 8 && U32At(b, 40) == b.size() - 44 && b.compare(0, 4, "RIFF") == 0;
}

std::vector<int16_t> Samples(const std::string& path) {
  const std::string b = ReadWholeFile(path);
  std::vector<int16_t> out;
  for (size_t o = 44; o + 1 < b.size(); o += 2) {
    out.push_back(static_cast<int16_t>(static_cast<unsigned char>(b[o]) | static_cast<unsigned char>(b[o + 1]) << 8));
  }
  return out;
}

void RampWav(const std::string& path, int64_t frames) {
  std::string data;
  auto put16 = [&data](uint32_t v) {
    data += static_cast<char>(v & 0xFF);
    data += static_cast<char>((v >> 8) & 0xFF);
  };
  auto put32 = [&](uint32_t v) {
    put16(v & 0xFFFF);
    put16(v >> 16);
  };
  data += "RIFF";
  put32(static_cast<uint32_t>(36 + frames * 4));
  data += "WAVEfmt ";
  put32(16);
  put16(1);
  put16(2);
  put32(44100);
  put32(176400);
  put16(4);
  put16(16);
  data += "data";
  put32(static_cast<uint32_t>(frames * 4));
  for (int64_t n = 0; n < frames; ++n) {
    const auto v = static_cast<int16_t>(n % 30000);
    put16(static_cast<uint16_t>(v));
    put16(static_cast<uint16_t>(static_cast<int16_t>(-v)));
  }
  WriteWholeFile(path, data);
}

void ExpectRamp(const std::vector<int16_t>& samples, int64_t from) {
  for (size_t i = 0; i < samples.size() / 2; ++i) {
    const auto v = static_cast<int16_t>((from + static_cast<int64_t>(i)) % 30000);
    if (samples[2 * i] != v || samples[2 * i + 1] != -v) {
      ADD_FAILURE() << "frame " << from + static_cast<int64_t>(i) << " holds " << samples[2 * i];
      return;
    }
  }
}

}  // namespace kavon::test
