#pragma once
// UTF-8 and the wide strings of the Windows API, both ways.
#include <string>
#include <string_view>

namespace kavon::platform {

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);
// The system's text for an error code (GetLastError), in UTF-8.
std::string ErrorText(unsigned long code);

}  // namespace kavon::platform
