// Any bytes as the serial box's time records, fed in pieces as reads
// deliver them: the decoder keeps a bounded record and gives only times of
// the form hh:mm:ss.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "devices/FCT_Serial.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kavon::TimeSignalDecoder decoder;
  // The first byte chooses the piece size, as reads of 1 to 32 bytes would.
  const size_t piece = size > 0 ? data[0] % 32 + 1 : 1;
  for (size_t at = 1; at < size; at += piece) {
    const size_t n = at + piece <= size ? piece : size - at;
    const std::string t = decoder.Feed(std::vector<uint8_t>(data + at, data + at + n));
    if (!t.empty() && (t.size() != 8 || t[2] != ':' || t[5] != ':')) std::abort();
    if (decoder.Pending().size() > 26) std::abort();
  }
  return 0;
}
