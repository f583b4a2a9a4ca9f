// Any bytes as a HID report descriptor: the parser never reads outside
// them, never overflows, and gives lengths a report can have.
#include <cstdint>
#include <cstdlib>
#include <initializer_list>

#include "platform/linux/HidDescriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto layout = kavon::platform::ParseReportDescriptor(data, size);
  for (const int length : {layout.inputLength, layout.outputLength}) {
    if (length < 0 || length > 65537) std::abort();
  }
  return 0;
}
