// What the fuzzers share: a property check that stops the run with the failing values, and the
// cut of one input into pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace zelvane::fuzz {

// libFuzzer keeps the input that aborts as a crash; the replay driver fails its test.
[[noreturn]] inline void property_failed(const char* what, std::string_view detail) {
  std::fprintf(stderr, "property failed: %s\n  %.*s\n", what, static_cast<int>(detail.size()), detail.data());
  std::abort();
}

#define ZELVANE_FUZZ_CHECK(condition, detail)                                 \
  do {                                                                        \
    if (!(condition)) ::zelvane::fuzz::property_failed(#condition, (detail)); \
  } while (false)

inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The pieces of the input between bytes 0x01, at most `count` (the last keeps the rest).
// Seeds taken from the tests hold no 0x01 and are one piece.
inline std::vector<std::string_view> pieces(std::string_view text, std::size_t count) {
  std::vector<std::string_view> out;
  while (out.size() + 1 < count) {
    const std::size_t cut = text.find('\x01');
    if (cut == std::string_view::npos) break;
    out.push_back(text.substr(0, cut));
    text.remove_prefix(cut + 1);
  }
  out.push_back(text);
  return out;
}

// C-style escapes of the bytes, for the report of a failure.
inline std::string shown(std::string_view text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

}  // namespace zelvane::fuzz
