#include "util/glob.hpp"

#include <algorithm>
#include <cstddef>
#include <limits>

namespace zelvane::util {
namespace {

constexpr std::size_t npos = std::string_view::npos;

// The first occurrence of needle in hay at or after from, in time linear in the remaining
// text and with constant space (the two-way search of Crochemore and Perrin): glob_match
// runs inside PAC host functions, which no deadline can interrupt, so a quadratic search on
// long hostile patterns would stall an evaluation thread.
std::size_t find_linear(std::string_view hay, std::string_view needle, std::size_t from) {
  if (from > hay.size()) return npos;
  const std::size_t l = needle.size();
  if (l == 0) return from;
  if (hay.size() - from < l) return npos;
  if (l == 1) return hay.find(needle[0], from);
  const auto n = [&](std::size_t i) { return static_cast<unsigned char>(needle[i]); };

  // Critical factorisation: the longer of the two maximal suffixes (one per ordering).
  // ip wraps through "minus one" on purpose, as the algorithm's index arithmetic expects.
  const auto max_suffix = [&](bool reversed, std::size_t& period) {
    std::size_t ip = std::numeric_limits<std::size_t>::max(), jp = 0, k = 1, p = 1;
    while (jp + k < l) {
      const unsigned char a = n(ip + k), b = n(jp + k);
      if (a == b) {
        if (k == p) {
          jp += p;
          k = 1;
        } else {
          ++k;
        }
      } else if (reversed ? a < b : a > b) {
        jp += k;
        k = 1;
        p = jp - ip;
      } else {
        ip = jp++;
        k = p = 1;
      }
    }
    period = p;
    return ip;
  };
  std::size_t p0 = 0, p1 = 0;
  std::size_t ms = max_suffix(false, p0);
  const std::size_t ms1 = max_suffix(true, p1);
  std::size_t p = p0;
  if (ms1 + 1 > ms + 1) ms = ms1, p = p1;

  std::size_t mem0 = 0;
  if (needle.substr(0, ms + 1) == needle.substr(p, ms + 1)) {
    mem0 = l - p;  // periodic: remember the matched prefix across shifts
  } else {
    p = std::max(ms + 1, l - ms - 1) + 1;
  }

  std::size_t h = from, mem = 0;
  while (h <= hay.size() && hay.size() - h >= l) {
    std::size_t k = std::max(ms + 1, mem);
    while (k < l && needle[k] == hay[h + k]) ++k;
    if (k < l) {
      h += k - ms;
      mem = 0;
      continue;
    }
    k = ms + 1;
    while (k > mem && needle[k - 1] == hay[h + k - 1]) --k;
    if (k <= mem) return h;
    h += p;
    mem = mem0;
  }
  return npos;
}

}  // namespace

bool glob_match(std::string_view pattern, std::string_view text) {
  const std::size_t first = pattern.find('*');
  if (first == npos) return pattern == text;
  const std::size_t last = pattern.rfind('*');
  const std::string_view prefix = pattern.substr(0, first);
  const std::string_view suffix = pattern.substr(last + 1);
  if (!text.starts_with(prefix)) return false;
  std::size_t pos = prefix.size();
  if (last > first) {
    const std::string_view middle = pattern.substr(first + 1, last - first - 1);
    std::size_t begin = 0;
    while (true) {
      const std::size_t star = middle.find('*', begin);
      const std::string_view piece = middle.substr(begin, star == npos ? npos : star - begin);
      const std::size_t found = find_linear(text, piece, pos);
      if (found == npos) return false;
      pos = found + piece.size();
      if (star == npos) break;
      begin = star + 1;
    }
  }
  return text.size() - pos >= suffix.size() && text.ends_with(suffix);
}

}  // namespace zelvane::util
