#include "value/debug.hpp"

#include "util/utf8.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>
#include <limits>
#include <span>
#include <string>

namespace zelvane::value {
namespace {

#include "value/unicode_tables.inc"

constexpr bool well_formed(std::span<const UnicodeRange> table) {
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (table[i].first > table[i].last || table[i].last > 0x10FFFF) return false;
    // Adjacent ranges would have been merged by the generator.
    if (i > 0 && table[i - 1].last + 1 >= table[i].first) return false;
  }
  return true;
}
static_assert(well_formed(kGraphemeExtend), "binary search needs sorted, disjoint ranges");
static_assert(well_formed(kPrintable), "binary search needs sorted, disjoint ranges");

bool in_table(std::span<const UnicodeRange> table, char32_t c) {
  // The first range that ends at or after c holds it, if any does.
  auto it = std::lower_bound(table.begin(), table.end(), c,
                             [](const UnicodeRange& r, char32_t v) { return r.last < v; });
  return it != table.end() && it->first <= c;
}

void write_code_escape(std::string& out, char32_t c) {
  std::array<char, 8> hex{};
  auto [end, ec] = std::to_chars(hex.data(), hex.data() + hex.size(), static_cast<std::uint32_t>(c), 16);
  out += "\\u{";
  out.append(hex.data(), end);
  out += '}';
}

bool escaped_as_code(char32_t c) {
  // Halfwidth katakana voiced sound marks: Grapheme_Extend in some database versions, not in
  // others; written as they are so that the text does not change with the version.
  if (c == 0xFF9E || c == 0xFF9F) return false;
  if (in_table(kGraphemeExtend, c)) return true;
  return c != U' ' && !in_table(kPrintable, c);
}

}  // namespace

void write_quoted(std::string& out, std::string_view text) {
  out += '"';
  while (!text.empty()) {
    const util::DecodedChar d = util::decode_utf8(text);
    if (!d.valid) {
      // Not UTF-8: a byte that begins no well-formed sequence is written as U+FFFD's escape
      // on its own, and decoding goes on at the very next byte.
      out += "\\u{fffd}";
      text.remove_prefix(1);
      continue;
    }
    switch (d.code_point) {
      case U'\0':
        out += "\\0";
        break;
      case U'\t':
        out += "\\t";
        break;
      case U'\n':
        out += "\\n";
        break;
      case U'\r':
        out += "\\r";
        break;
      case U'"':
        out += "\\\"";
        break;
      case U'\\':
        out += "\\\\";
        break;
      default:
        if (escaped_as_code(d.code_point)) {
          write_code_escape(out, d.code_point);
        } else {
          out.append(text.substr(0, d.length));
        }
    }
    text.remove_prefix(d.length);
  }
  out += '"';
}

std::string quoted(std::string_view text) {
  std::string out;
  write_quoted(out, text);
  return out;
}

void write_duration(std::string& out, Duration d) {
  // A Duration built field by field may hold a billion nanoseconds or more: carry them into
  // the seconds (saturating) so that the fraction always fits its digits.
  constexpr std::uint32_t kNanosPerSec = 1'000'000'000;
  if (d.nanos >= kNanosPerSec) {
    const std::uint64_t carry = d.nanos / kNanosPerSec;
    d.secs = d.secs > std::numeric_limits<std::uint64_t>::max() - carry
                 ? std::numeric_limits<std::uint64_t>::max()
                 : d.secs + carry;
    d.nanos %= kNanosPerSec;
  }
  std::uint64_t integer = 0;
  std::uint32_t fraction = 0;
  std::uint32_t scale = 1;  // the fraction is `fraction / scale`, below 1
  std::string_view unit;
  if (d.secs > 0) {
    integer = d.secs, fraction = d.nanos, scale = kNanosPerSec, unit = "s";
  } else if (d.nanos >= 1'000'000) {
    integer = d.nanos / 1'000'000, fraction = d.nanos % 1'000'000, scale = 1'000'000, unit = "ms";
  } else if (d.nanos < 1'000) {
    integer = d.nanos, unit = "ns";
  } else {
    integer = d.nanos / 1'000, fraction = d.nanos % 1'000, scale = 1'000, unit = "\u00b5s";
  }
  out += std::to_string(integer);
  if (fraction != 0) {
    out += '.';
    for (scale /= 10; fraction != 0; scale /= 10) {
      out += static_cast<char>('0' + fraction / scale);
      fraction %= scale;
    }
  }
  out += unit;
}

void write_wall_time(std::string& out, WallTime t) {
  RecordBuilder(out, "SystemTime").field("intervals", t.intervals).finish();
}

void debug_fmt(std::string& out, const std::string& text) { write_quoted(out, text); }
void debug_fmt(std::string& out, std::string_view text) { write_quoted(out, text); }
void debug_fmt(std::string& out, const char* text) { write_quoted(out, text); }
void debug_fmt(std::string& out, Unquoted text) { out += text.text; }
void debug_fmt(std::string& out, bool value) { out += value ? "true" : "false"; }
void debug_fmt(std::string& out, Duration d) { write_duration(out, d); }
void debug_fmt(std::string& out, WallTime t) { write_wall_time(out, t); }

}  // namespace zelvane::value
