#include "util/percent.hpp"

#include "util/utf8.hpp"

namespace zelvane::util {
namespace {

constexpr std::size_t npos = std::string_view::npos;

}  // namespace

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string percent_decode_bytes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int hi = hex_value(text[i + 1]), lo = hex_value(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

std::string percent_decode_utf8(std::string_view text) {
  if (text.find('%') == npos) return std::string(text);
  std::string out = percent_decode_bytes(text);
  if (!is_valid_utf8(out)) return std::string(text);
  return out;
}

std::string escape_percent(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '%') {
      out += "%25";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace zelvane::util
