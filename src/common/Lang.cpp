#include "common/Lang.h"

#include <cstdlib>

namespace kavon {

int Lang::ModeFor(const std::string& locale, int langModeSetting) {
  if (locale.rfind("ja", 0) != 0) return kEnglish;
  return langModeSetting == kEnglish ? kEnglish : kJapanese;  // any other value counts as 0
}

std::string Lang::EnvironmentLocale() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(name);
    if (v && *v) return v;
  }
  return {};
}

std::string Lang::Text(const std::string& ja, const std::string& en) const {
  if (mode_ == kJapanese) return ja;
  if (mode_ == kEnglish) return en.empty() ? ja : en;
  return {};
}

}  // namespace kavon
