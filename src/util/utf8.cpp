#include "util/utf8.hpp"

namespace zelvane::util {

DecodedChar decode_utf8(std::string_view text) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char b0 = byte(0);
  if (b0 < 0x80) return {b0, 1, true};
  std::size_t need;
  char32_t cp;
  unsigned char lo = 0x80, hi = 0xBF;  // the allowed range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1, cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2, cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3, cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return {U'\uFFFD', 1, false};
  }
  for (std::size_t i = 1; i <= need; ++i) {
    if (i >= text.size()) return {U'\uFFFD', i, false};
    const unsigned char b = byte(i);
    const unsigned char min = i == 1 ? lo : 0x80, max = i == 1 ? hi : 0xBF;
    if (b < min || b > max) return {U'\uFFFD', i, false};
    cp = (cp << 6) | (b & 0x3F);
  }
  return {cp, need + 1, true};
}

bool is_valid_utf8(std::string_view text) {
  while (!text.empty()) {
    DecodedChar d = decode_utf8(text);
    if (!d.valid) return false;
    text.remove_prefix(d.length);
  }
  return true;
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string utf8_lossy(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  while (!bytes.empty()) {
    DecodedChar d = decode_utf8(bytes);
    if (d.valid) {
      out.append(bytes.substr(0, d.length));
    } else {
      append_utf8(out, U'\uFFFD');
    }
    bytes.remove_prefix(d.length);
  }
  return out;
}

namespace {
// Decodes UTF-16; returns false at the first unpaired surrogate when strict.
bool utf16_decode(std::u16string_view units, std::string& out, bool strict) {
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      append_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      if (strict) return false;
      append_utf8(out, U'\uFFFD');
    } else {
      append_utf8(out, u);
    }
  }
  return true;
}
}  // namespace

std::string utf16_to_utf8_lossy(std::u16string_view units) {
  std::string out;
  utf16_decode(units, out, false);
  return out;
}

std::optional<std::string> utf16_to_utf8_strict(std::u16string_view units) {
  std::string out;
  if (!utf16_decode(units, out, true)) return std::nullopt;
  return out;
}

std::u16string utf8_to_utf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  while (!text.empty()) {
    DecodedChar d = decode_utf8(text);
    text.remove_prefix(d.length);
    if (d.code_point >= 0x10000) {
      char32_t v = d.code_point - 0x10000;
      out += static_cast<char16_t>(0xD800 + (v >> 10));
      out += static_cast<char16_t>(0xDC00 + (v & 0x3FF));
    } else {
      out += static_cast<char16_t>(d.code_point);
    }
  }
  return out;
}

DecodedChar decode_utf8_at(std::string_view text, std::size_t pos) { return decode_utf8(text.substr(pos)); }

std::size_t count_chars(std::string_view text) {
  std::size_t characters = 0;
  for (std::size_t pos = 0; pos < text.size(); ++characters) pos += decode_utf8_at(text, pos).length;
  return characters;
}

}  // namespace zelvane::util
