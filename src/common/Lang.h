#pragma once
// The language of the program's messages: Japanese for a Japanese user,
// English for everyone else. The log keeps its Japanese texts either way.
#include <string>

namespace kavon {

class Lang {
 public:
  static constexpr int kJapanese = 0;
  static constexpr int kEnglish = 1;

  // locale: the user's locale name (LC_ALL, LC_MESSAGES or LANG, "ja_JP.UTF-8").
  // A Japanese locale takes the LangMode setting; any other is English.
  static int ModeFor(const std::string& locale, int langModeSetting);
  // The locale name of this process's environment.
  static std::string EnvironmentLocale();

  explicit Lang(int mode = kJapanese) : mode_(mode) {}
  int Mode() const { return mode_; }
  // Japanese mode: ja; English mode: en, or ja when en is empty; other: "".
  std::string Text(const std::string& ja, const std::string& en) const;

 private:
  int mode_;
};

}  // namespace kavon
