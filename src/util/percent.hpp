// Percent-encoding: decoding %XX, and escaping '%' itself.
#pragma once

#include <string>
#include <string_view>

namespace zelvane::util {

// The value of a hexadecimal digit, -1 for any other character.
int hex_value(char c);
// %XX decoded to its byte; a '%' not followed by two hex digits stays as it is.
std::string percent_decode_bytes(std::string_view text);
// As percent_decode_bytes; the input unchanged when there is no '%' or the result is not UTF-8.
std::string percent_decode_utf8(std::string_view text);

// Every '%' written as "%25".
std::string escape_percent(std::string_view text);

}  // namespace zelvane::util
