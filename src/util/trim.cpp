#include "util/trim.hpp"

#include <cstddef>

#include "util/utf8.hpp"

namespace zelvane::util {
namespace {

std::size_t skip_whitespace_front(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    const DecodedChar u = decode_utf8_at(text, pos);
    if (!u.valid || !is_unicode_whitespace(u.code_point)) break;
    pos += u.length;
  }
  return pos;
}

// The size of the white-space character that ends the text, 0 when it ends otherwise. Every
// white-space character is at most three bytes, and a lead byte never continues another
// sequence, so a valid sequence that reaches the end starts on a character boundary.
std::size_t trailing_whitespace_size(std::string_view text) {
  for (std::size_t size = 1; size <= 3 && size <= text.size(); ++size) {
    const DecodedChar u = decode_utf8_at(text, text.size() - size);
    if (u.valid && u.length == size) return is_unicode_whitespace(u.code_point) ? size : 0;
  }
  return 0;
}

}  // namespace

bool is_unicode_whitespace(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

std::string_view trim_unicode_whitespace(std::string_view text) {
  text.remove_prefix(skip_whitespace_front(text));
  for (std::size_t size = trailing_whitespace_size(text); size > 0; size = trailing_whitespace_size(text)) {
    text.remove_suffix(size);
  }
  return text;
}

}  // namespace zelvane::util
