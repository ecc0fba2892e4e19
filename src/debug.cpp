#include "debug.hpp"

#include <string>

namespace zelvane {

void write_quoted(std::string& out, std::string_view text) {
  // Placeholder until the Unicode tables land: ASCII escapes only.
  out += '"';
  for (char c : text) {
    switch (c) {
      case '\0': out += "\\0"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  out += '"';
}

std::string quoted(std::string_view text) {
  std::string out;
  write_quoted(out, text);
  return out;
}

void write_duration(std::string& out, Duration d) {
  std::uint64_t integer = 0;
  std::uint32_t fraction = 0;
  int digits = 0;  // digits of the fraction before trailing zeros are dropped
  std::string_view unit;
  if (d.secs > 0) {
    integer = d.secs, fraction = d.nanos, digits = 9, unit = "s";
  } else if (d.nanos >= 1'000'000) {
    integer = d.nanos / 1'000'000, fraction = d.nanos % 1'000'000, digits = 6, unit = "ms";
  } else if (d.nanos < 1'000) {
    integer = d.nanos, unit = "ns";
  } else {
    integer = d.nanos / 1'000, fraction = d.nanos % 1'000, digits = 3, unit = "\u00b5s";
  }
  out += std::to_string(integer);
  if (fraction != 0) {
    std::string frac = std::to_string(fraction);
    frac.insert(0, static_cast<std::size_t>(digits) - frac.size(), '0');
    while (frac.back() == '0') frac.pop_back();
    out += '.';
    out += frac;
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

}  // namespace zelvane
