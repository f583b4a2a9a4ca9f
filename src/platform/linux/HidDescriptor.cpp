#include "platform/linux/HidDescriptor.h"

#include <algorithm>
#include <array>
#include <map>
#include <vector>

namespace kavon::platform {
namespace {

// Item types and tags of the short items that matter here.
constexpr int kMain = 0, kGlobal = 1, kLocal = 2;
constexpr int kInput = 8, kOutput = 9, kCollection = 10, kEndCollection = 12;
constexpr int kUsagePage = 0, kReportSize = 7, kReportId = 8, kReportCount = 9, kPush = 10, kPop = 11;
constexpr int kUsage = 0;
constexpr uint8_t kLongItem = 0xFE;
constexpr size_t kMaxPushDepth = 16;  // a hostile descriptor must not grow without bound
// The longest report there can be; HID itself caps a report far lower.
constexpr uint64_t kMaxReportBytes = 65536;
constexpr uint64_t kMaxReportBits = kMaxReportBytes * 8;

struct Globals {
  uint32_t usagePage = 0;
  uint32_t reportSize = 0;
  uint32_t reportCount = 0;
  uint32_t reportId = 0;
};

uint32_t Value(const uint8_t* p, size_t n) {
  uint32_t v = 0;
  for (size_t i = 0; i < n; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
  return v;
}

// A report's length in bytes with its ID byte, or 0 when it cannot be one.
int ReportLength(uint64_t bits) {
  if (bits == 0 || bits > kMaxReportBits) return 0;
  return static_cast<int>((bits + 7) / 8 + 1);
}

}  // namespace

HidReportLayout ParseReportDescriptor(const uint8_t* data, size_t size) {
  HidReportLayout layout;
  Globals g;
  std::vector<Globals> stack;
  std::map<uint32_t, std::array<uint64_t, 2>> bits;  // per report ID: input, output
  uint32_t usage = 0;
  bool haveUsage = false;
  int depth = 0;
  size_t i = 0;
  while (i < size) {
    const uint8_t prefix = data[i];
    if (prefix == kLongItem) {
      if (i + 1 >= size) break;
      i += 3 + data[i + 1];
      continue;
    }
    const size_t n = (prefix & 3) == 3 ? 4 : (prefix & 3);
    if (i + 1 + n > size) break;  // a cut item ends the descriptor
    const uint32_t v = Value(data + i + 1, n);
    const int type = prefix >> 2 & 3;
    const int tag = prefix >> 4;
    i += 1 + n;
    if (type == kGlobal) {
      switch (tag) {
        case kUsagePage: g.usagePage = v; break;
        case kReportSize: g.reportSize = v; break;
        case kReportCount: g.reportCount = v; break;
        case kReportId:
          g.reportId = v;
          layout.numbered = true;
          break;
        case kPush:
          if (stack.size() < kMaxPushDepth) stack.push_back(g);
          break;
        case kPop:
          if (!stack.empty()) {
            g = stack.back();
            stack.pop_back();
          }
          break;
        default: break;
      }
      continue;
    }
    if (type == kLocal) {
      if (tag == kUsage) {
        usage = n == 4 ? v : (g.usagePage << 16 | v);
        haveUsage = true;
      }
      continue;
    }
    if (type != kMain) continue;
    // Each factor and their sum stay within a real report's size, so no
    // count of a hostile descriptor can overflow into a small length.
    const uint64_t field = g.reportSize <= kMaxReportBits && g.reportCount <= kMaxReportBits
                               ? static_cast<uint64_t>(g.reportSize) * g.reportCount
                               : kMaxReportBits + 1;
    const auto add = [&](uint64_t& total) { total = std::min(total + field, kMaxReportBits + 1); };
    if (tag == kInput) add(bits[g.reportId][0]);
    if (tag == kOutput) add(bits[g.reportId][1]);
    if (tag == kCollection) {
      if (depth == 0 && layout.usage == 0 && haveUsage) layout.usage = usage;
      ++depth;
    }
    if (tag == kEndCollection && depth > 0) --depth;
    haveUsage = false;  // locals belong to one main item
  }
  // A report too long to be real makes the whole layout unusable: the
  // device is then not taken for a box.
  for (const auto& [id, b] : bits) {
    if (b[0] > kMaxReportBits || b[1] > kMaxReportBits) return HidReportLayout{};
    layout.inputLength = std::max(layout.inputLength, ReportLength(b[0]));
    if (ReportLength(b[1]) > layout.outputLength) {
      layout.outputLength = ReportLength(b[1]);
      layout.outputReportId = static_cast<uint8_t>(id);
    }
  }
  return layout;
}

}  // namespace kavon::platform
