// UTF-8 decoding shared by the quoted text, the environment reading and the Python module.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zelvane::util {

struct DecodedChar {
  char32_t code_point;  // U+FFFD for an invalid sequence
  std::size_t length;   // bytes consumed: the sequence, or its maximal invalid subpart
  bool valid;
};
// Decodes the character at the start of a non-empty text; an invalid sequence consumes its
// maximal subpart (the Unicode recommendation, as Python's "replace" handler does).
DecodedChar decode_utf8(std::string_view text);

// decode_utf8 of the text from pos on; counting, masking and cutting on it never split or
// crash on bad bytes.
DecodedChar decode_utf8_at(std::string_view text, std::size_t pos);

bool is_valid_utf8(std::string_view text);
// Unicode scalar values in valid UTF-8 text; an invalid sequence counts as one.
std::size_t count_chars(std::string_view text);
// Each invalid sequence replaced by U+FFFD.
std::string utf8_lossy(std::string_view bytes);
void append_utf8(std::string& out, char32_t code_point);

// UTF-16 code units to UTF-8, each unpaired surrogate replaced by U+FFFD; none instead when
// `strict` and a surrogate is unpaired.
std::string utf16_to_utf8_lossy(std::u16string_view units);
std::optional<std::string> utf16_to_utf8_strict(std::u16string_view units);
std::u16string utf8_to_utf16(std::string_view text);

}  // namespace zelvane::util
