#pragma once
// The language of the program's messages: Japanese for a Japanese user,
// English for everyone else. The log keeps its Japanese texts either way.
#include <string>

namespace kavon {

class Lang {
 public:
  static constexpr int kJapanese = 0;
  static constexpr int kEnglish = 1;

  // locale: the user's language ("ja_JP.UTF-8", "ja", "en_GB"). A Japanese
  // user takes the LangMode setting (0 Japanese, 1 English); any other
  // user gets English.
  static int ModeFor(const std::string& locale, int langModeSetting);
  // The user's language: on Windows the UI language of the user's account
  // (platformLanguage, "ja" or "en"); elsewhere as gettext picks it: the
  // first entry of LANGUAGE unless the locale is C or POSIX, else LC_ALL,
  // LC_MESSAGES, LANG. env reads a variable ("" when unset).
  using Env = std::string (*)(const char* name);
  static std::string UserLanguage(Env env, const std::string& platformLanguage);
  // The same for this process.
  static std::string EnvironmentLocale();

  explicit Lang(int mode = kJapanese) : mode_(mode) {}
  int Mode() const { return mode_; }
  // Japanese mode: ja; English mode: en, or ja when en is empty; other: "".
  std::string Text(const std::string& ja, const std::string& en) const;

 private:
  int mode_;
};

}  // namespace kavon
