// The one text rendering of every value for people: single-line, built from a few forms
// (records, one-value variants, tuples, lists, maps, optionals, quoted text, durations,
// wall-clock times, IP addresses). Reprs and messages that quote a value use it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "value/time.hpp"

namespace zelvane::value {

// Text in double quotes with escapes: \0 \t \n \r \" \\, Grapheme_Extend and non-printable
// characters as \u{hex}. Input that is not valid UTF-8 has each bad byte written as \u{fffd}.
void write_quoted(std::string& out, std::string_view text);
std::string quoted(std::string_view text);

// 5s, 1.5s, 250ms, 1.5ms, 1µs, 999ns: the largest unit that fits, exact fraction.
void write_duration(std::string& out, Duration d);
// SystemTime { intervals: N }
void write_wall_time(std::string& out, WallTime t);

// Text written as it stands, without quotes (a unit name, a redacted URL, an address).
struct Unquoted {
  std::string_view text;
};

// ---- debug_fmt overloads of the plain forms; types of the model add their own beside them.
void debug_fmt(std::string& out, const std::string& text);
void debug_fmt(std::string& out, std::string_view text);
void debug_fmt(std::string& out, const char* text);
void debug_fmt(std::string& out, Unquoted text);
void debug_fmt(std::string& out, bool value);
void debug_fmt(std::string& out, Duration d);
void debug_fmt(std::string& out, WallTime t);
template <class T>
requires(std::is_integral_v<T> && !std::is_same_v<T, bool> &&
         !std::is_same_v<T, char>) void debug_fmt(std::string& out, T value) {
  out += std::to_string(value);
}
template <class T>
void debug_fmt(std::string& out, const std::optional<T>& value);
template <class T>
void debug_fmt(std::string& out, const std::vector<T>& values);
template <class K, class V>
void debug_fmt(std::string& out, const std::map<K, V>& values);

template <class T>
std::string debug_text(const T& value) {
  std::string out;
  debug_fmt(out, value);
  return out;
}

// name(value), as in Some(Http) or Ipv4(192.0.2.1).
template <class T>
void write_variant(std::string& out, std::string_view name, const T& value) {
  out += name;
  out += '(';
  debug_fmt(out, value);
  out += ')';
}

// Name { a: 1, b: 2 }; a record without fields is its bare name.
class RecordBuilder {
 public:
  RecordBuilder(std::string& out, std::string_view name) : out_(out) { out_ += name; }
  template <class T>
  RecordBuilder& field(std::string_view name, const T& value) {
    out_ += any_ ? ", " : " { ";
    any_ = true;
    out_ += name;
    out_ += ": ";
    debug_fmt(out_, value);
    return *this;
  }
  void finish() {
    if (any_) out_ += " }";
  }

 private:
  std::string& out_;
  bool any_ = false;
};

// (a, b); a single element is written (a,).
class TupleBuilder {
 public:
  explicit TupleBuilder(std::string& out) : out_(out) { out_ += '('; }
  template <class T>
  TupleBuilder& element(const T& value) {
    if (count_++ > 0) out_ += ", ";
    debug_fmt(out_, value);
    return *this;
  }
  void finish() { out_ += count_ == 1 ? ",)" : ")"; }

 private:
  std::string& out_;
  std::size_t count_ = 0;
};

class ListBuilder {
 public:
  explicit ListBuilder(std::string& out) : out_(out) { out_ += '['; }
  template <class T>
  ListBuilder& element(const T& value) {
    if (any_) out_ += ", ";
    any_ = true;
    debug_fmt(out_, value);
    return *this;
  }
  void finish() { out_ += ']'; }

 private:
  std::string& out_;
  bool any_ = false;
};

class MapBuilder {
 public:
  explicit MapBuilder(std::string& out) : out_(out) { out_ += '{'; }
  template <class K, class V>
  MapBuilder& entry(const K& key, const V& value) {
    if (any_) out_ += ", ";
    any_ = true;
    debug_fmt(out_, key);
    out_ += ": ";
    debug_fmt(out_, value);
    return *this;
  }
  void finish() { out_ += '}'; }

 private:
  std::string& out_;
  bool any_ = false;
};

template <class T>
void debug_fmt(std::string& out, const std::optional<T>& value) {
  if (value) {
    write_variant(out, "Some", *value);
  } else {
    out += "None";
  }
}

template <class T>
void debug_fmt(std::string& out, const std::vector<T>& values) {
  ListBuilder list(out);
  for (const auto& v : values) list.element(v);
  list.finish();
}

template <class K, class V>
void debug_fmt(std::string& out, const std::map<K, V>& values) {
  MapBuilder map(out);
  for (const auto& [k, v] : values) map.entry(k, v);
  map.finish();
}

}  // namespace zelvane::value
