#pragma once
// What a HID report descriptor says about report lengths: the longest
// input and output report, counted as the Windows HID layer does (one byte
// for the report ID included, also when the device has none), whether the
// reports are numbered, and the usage of the first top-level collection.
// A descriptor whose counts would make a report longer than 64 KB (or
// overflow) describes no usable device: its lengths are 0.
#include <cstddef>
#include <cstdint>

namespace kavon::platform {

struct HidReportLayout {
  int inputLength = 0;
  int outputLength = 0;
  bool numbered = false;
  // The ID of the longest output report (0 when reports are not numbered):
  // the first byte of every report written to the device.
  uint8_t outputReportId = 0;
  uint32_t usage = 0;  // usage page << 16 | usage
};

HidReportLayout ParseReportDescriptor(const uint8_t* data, size_t size);

}  // namespace kavon::platform
