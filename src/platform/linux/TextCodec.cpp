#include "platform/TextCodec.h"

#include <iconv.h>

#include <cerrno>

namespace kavon::platform {

std::optional<std::string> Cp932ToUtf8(std::string_view bytes) {
  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out;
  out.resize(bytes.size() * 3 + 16);
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  char* dst = out.data();
  size_t outLeft = out.size();
  const size_t r = iconv(cd, &in, &inLeft, &dst, &outLeft);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1)) return std::nullopt;
  out.resize(out.size() - outLeft);
  return out;
}

}  // namespace kavon::platform
