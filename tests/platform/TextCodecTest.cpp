// What Windows editors save, read back as the same text on every platform;
// and the dropped frames told from time against frames delivered.
#include <gtest/gtest.h>

#include <string>

#include "platform/DropWatch.h"
#include "platform/TextCodec.h"

namespace kavon::platform {
namespace {

std::string Utf16(const std::u16string& text, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (const char16_t u : text) {
    const char hi = static_cast<char>(u >> 8);
    const char lo = static_cast<char>(u & 0xFF);
    out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
  }
  return out;
}

TEST(TextCodec, DecodesWhatWindowsEditorsSave) {
  const std::string line = "\"0\",\"11\",\"\",\"06:00:00\",\"127\",\"\",\"録音：朝🎙\"\r\n";
  const std::u16string wide = u"\"0\",\"11\",\"\",\"06:00:00\",\"127\",\"\",\"録音：朝🎙\"\r\n";
  struct Case {
    const char* what;
    std::string bytes;
    std::string text;
  };
  const Case cases[] = {
      {"UTF-8", line, line},
      {"UTF-8, marks doubled", "\xEF\xBB\xBF\xEF\xBB\xBF" + line, line},
      {"UTF-16 LE", Utf16(wide, false), line},
      {"UTF-16 BE", Utf16(wide, true), line},
      {"UTF-16 LE without a mark", Utf16(wide, false).substr(2), line},
      {"UTF-16 BE without a mark", Utf16(wide, true).substr(2), line},
      {"Shift-JIS", "\"\x98\x5e\x89\xb9\"", "\"録音\""},
      {"UTF-16, lone surrogate and odd byte", Utf16(u"a\xD800z", false) + "x", "a\xEF\xBF\xBDz\xEF\xBF\xBD"},
      {"neither", std::string("ok\x80\xFF", 4), "ok\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"empty UTF-16", "\xFF\xFE", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeText(c.bytes), c.text) << c.what;
}

TEST(DropWatch, CountsAShortfallThatStaysNotDriftOrALateDriver) {
  constexpr uint32_t kRate = 48000;
  DropWatch watch(kRate, 0.25);
  watch.Start(0);
  double delivered = 0;
  double t = 0;
  // Runs the watch for `seconds` in 0.25 s buffers, the device's clock
  // `ppm` off the system's.
  const auto run = [&](double seconds, double ppm) {
    for (double end = t + seconds; t < end;) {
      t += 0.25;
      delivered += 0.25 * kRate * (1 + ppm * 1e-6);
      watch.Update(t, static_cast<uint64_t>(delivered));
    }
    return watch.Update(t, static_cast<uint64_t>(delivered));
  };
  EXPECT_EQ(run(3600, -300), 0u) << "a slow card over an hour";
  EXPECT_EQ(run(3600, 300), 0u) << "a fast card";
  // A whole process stopped for 8 s: the driver's 2 s come late, 6 s are gone.
  t += 8;
  watch.Update(t, static_cast<uint64_t>(delivered));
  delivered += 2.0 * kRate;
  const uint64_t lost = run(3, 0);
  EXPECT_NEAR(static_cast<double>(lost), 6.0 * kRate, 0.3 * kRate);
  EXPECT_EQ(run(60, 0), lost) << "counted once";
  // Late by 0.4 s and caught up at once: nothing lost.
  t += 0.4;
  watch.Update(t, static_cast<uint64_t>(delivered));
  delivered += 0.4 * kRate;
  EXPECT_EQ(run(5, 0), lost);
}

}  // namespace
}  // namespace kavon::platform
