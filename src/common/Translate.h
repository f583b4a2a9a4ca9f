#pragma once
// The texts the core gives people (start failures, the editor's checks, the
// settings dialog's refusals, warnings, device errors) are written in
// Japanese, as the log keeps them. For an English user they are translated
// where they are shown (the window, kavon ctl, the terminal) by this table
// of Japanese phrases and their English, longest first; paths and numbers
// in a text stay as they are.
#include <span>
#include <string>
#include <string_view>

#include "common/Lang.h"

namespace kavon {

struct Phrase {
  std::string_view ja;
  std::string_view en;
};

// The text in the language of lang.
std::string Translate(const Lang& lang, std::string_view text);
// Every phrase of the table, for the test that checks each has English.
std::span<const Phrase> Phrases();

}  // namespace kavon
