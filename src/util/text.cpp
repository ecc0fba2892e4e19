#include "util/text.hpp"

// Placeholder: the text helpers land with their tests. The few below are what the host
// parser needs meanwhile.
namespace zelvane::util {

std::string redact(std::string_view text) { return std::string(text); }
std::string redact_credentials(std::string_view text) { return std::string(text); }

SeparatorFound has_password_separator(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == ':') return {true, i + 1};
    if (text[i] == '%' && i + 2 < text.size() && text[i + 1] == '3' &&
        (text[i + 2] == 'A' || text[i + 2] == 'a')) {
      return {true, i + 3};
    }
  }
  return {};
}

std::string withheld_message(std::size_t characters) {
  return "<" + std::to_string(characters) +
         " characters, withheld: it may hold a user:password fragment>";
}

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::size_t count_chars(std::string_view text) {
  std::size_t n = 0;
  for (char c : text) {
    if ((static_cast<unsigned char>(c) & 0xc0u) != 0x80u) ++n;
  }
  return n;
}

std::string mask_control_chars(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x20 || b == 0x7f) {
      out += '.';
    } else if (b == 0xc2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
      out += '.';
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

bool is_unicode_whitespace(char32_t c) {
  return (c >= 0x09 && c <= 0x0d) || c == 0x20 || c == 0x85 || c == 0xa0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200a) || c == 0x2028 || c == 0x2029 || c == 0x202f ||
         c == 0x205f || c == 0x3000;
}

namespace {

// The code point of the well-formed sequence at text[i, i+len), or none.
std::optional<char32_t> decode_at(std::string_view text, std::size_t i, std::size_t len) {
  if (i + len > text.size()) return std::nullopt;
  const auto b0 = static_cast<unsigned char>(text[i]);
  char32_t c = 0;
  if (len == 1) return b0 < 0x80 ? std::optional<char32_t>(b0) : std::nullopt;
  if (len == 2 && (b0 & 0xe0u) == 0xc0u) c = b0 & 0x1fu;
  else if (len == 3 && (b0 & 0xf0u) == 0xe0u) c = b0 & 0x0fu;
  else return std::nullopt;
  for (std::size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(text[i + k]);
    if ((b & 0xc0u) != 0x80u) return std::nullopt;
    c = (c << 6) | (b & 0x3fu);
  }
  if (c < (len == 2 ? 0x80u : 0x800u)) return std::nullopt;  // overlong
  return c;
}

// Every White_Space character is at most three bytes long in UTF-8.
std::size_t leading_space(std::string_view text) {
  for (std::size_t len = 1; len <= 3; ++len) {
    auto c = decode_at(text, 0, len);
    if (c && is_unicode_whitespace(*c)) return len;
  }
  return 0;
}

std::size_t trailing_space(std::string_view text) {
  for (std::size_t len = 1; len <= 3 && len <= text.size(); ++len) {
    auto c = decode_at(text, text.size() - len, len);
    if (c && is_unicode_whitespace(*c)) return len;
  }
  return 0;
}

}  // namespace

std::string_view trim_unicode_whitespace(std::string_view text) {
  while (std::size_t n = leading_space(text)) text.remove_prefix(n);
  while (std::size_t n = trailing_space(text)) text.remove_suffix(n);
  return text;
}

}  // namespace zelvane::util
