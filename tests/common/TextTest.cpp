#include "common/Text.h"

#include <gtest/gtest.h>

namespace kavon {
namespace {

TEST(Text, NumbersAreReadOnlyWhenWhole) {
  struct Case {
    const char* text;
    bool numeric;
    double value;
  };
  const Case cases[] = {
      {"12", true, 12},      {" -3 ", true, -3},  {"+4", true, 4},   {"1.5", true, 1.5}, {"3e2", true, 300},
      {"", false, 0},        {"abc", false, 0},   {"1:30", false, 0}, {"12a", false, 0}, {".", false, 0},
      {"e5", false, 0},      {"--1", false, 0},   {"1e999", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(IsNumeric(c.text), c.numeric);
    if (c.numeric) {
      EXPECT_DOUBLE_EQ(*ParseNumber(c.text), c.value);
    }
  }
}

TEST(Text, IntegersRoundHalfToEvenAndRespectTheRange) {
  EXPECT_EQ(ParseInteger("2.5", 0, 10), 2);
  EXPECT_EQ(ParseInteger("3.5", 0, 10), 4);
  EXPECT_EQ(ParseInteger("11", 0, 10), std::nullopt);
  EXPECT_EQ(ParseInteger("99999999999", INT32_MIN, INT32_MAX), std::nullopt);
  EXPECT_EQ(ParseInteger("x", 0, 10), std::nullopt);
}

TEST(Text, Utf8Validation) {
  EXPECT_TRUE(IsValidUtf8("abc"));
  EXPECT_TRUE(IsValidUtf8("終了"));
  EXPECT_FALSE(IsValidUtf8("\x82\xa0"));          // Shift-JIS あ
  EXPECT_FALSE(IsValidUtf8("\xE7\xB5"));          // cut short
  EXPECT_FALSE(IsValidUtf8("\xC0\x80"));          // overlong NUL
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
}

}  // namespace
}  // namespace kavon

#include "common/Lang.h"

namespace kavon {
namespace {

TEST(Lang, JapaneseForAJapaneseLocaleEnglishOtherwise) {
  struct Case {
    const char* locale;
    int setting;
    const char* says;
  };
  for (const Case c : {Case{"ja_JP.UTF-8", 0, "日本語"}, Case{"ja_JP.UTF-8", 1, "English"}, Case{"en_US.UTF-8", 0, "English"},
                       Case{"C", 0, "English"}, Case{"", 0, "English"}}) {
    SCOPED_TRACE(c.locale);
    EXPECT_EQ(Lang(Lang::ModeFor(c.locale, c.setting)).Text("日本語", "English"), c.says);
  }
  EXPECT_EQ(Lang(Lang::kEnglish).Text("日本語", ""), "日本語");
}

}  // namespace
}  // namespace kavon
