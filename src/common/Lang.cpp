#include "common/Lang.h"

#include <cstdlib>

#include "platform/Machine.h"

namespace kavon {

int Lang::ModeFor(const std::string& locale, int langModeSetting) {
  if (locale.rfind("ja", 0) != 0) return kEnglish;
  return langModeSetting == kEnglish ? kEnglish : kJapanese;  // any other value counts as 0
}

std::string Lang::UserLanguage(Env env, const std::string& platformLanguage) {
  if (!platformLanguage.empty()) return platformLanguage;
  std::string locale;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    locale = env(name);
    if (!locale.empty()) break;
  }
  // LANGUAGE is a list of preferences, taken only over a real locale.
  const std::string language = env("LANGUAGE");
  const bool plain = locale.empty() || locale == "C" || locale == "POSIX" || locale.rfind("C.", 0) == 0;
  if (!language.empty() && !plain) return language.substr(0, language.find(':'));
  return locale;
}

std::string Lang::EnvironmentLocale() {
  return UserLanguage(
      [](const char* name) {
        const char* v = std::getenv(name);
        return std::string(v ? v : "");
      },
      platform::UserUiLanguage());
}

std::string Lang::Text(const std::string& ja, const std::string& en) const {
  if (mode_ == kJapanese) return ja;
  if (mode_ == kEnglish) return en.empty() ? ja : en;
  return {};
}

}  // namespace kavon
