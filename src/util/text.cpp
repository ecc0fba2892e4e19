#include "util/text.hpp"

#include <algorithm>
#include <iterator>
#include <limits>
#include <vector>

#include "ip.hpp"
#include "util/utf8.hpp"

namespace zelvane::util {
namespace {

constexpr std::size_t npos = std::string_view::npos;
constexpr std::size_t message_limit = 256;  // characters kept by sanitize_message

// The character at pos; an ill-formed sequence is one unit of its maximal subpart, so that
// counting, masking and cutting never split or crash on bad bytes.
DecodedChar decode_at(std::string_view text, std::size_t pos) { return decode_utf8(text.substr(pos)); }

bool is_control(char32_t c) { return c <= 0x1F || (c >= 0x7F && c <= 0x9F); }

bool is_token_separator(char c) { return c == '\t' || c == '\n' || c == ' '; }

bool is_gap_space(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

bool is_encoded_colon_at(std::string_view text, std::size_t pos) {
  return pos + 3 <= text.size() && text[pos] == '%' && text[pos + 1] == '3' &&
         (text[pos + 2] == 'A' || text[pos + 2] == 'a');
}

// The position of the '%' of the first "%3A" (either case) at or after from.
std::size_t find_encoded_colon(std::string_view text, std::size_t from = 0) {
  for (std::size_t p = text.find('%', from); p != npos; p = text.find('%', p + 1)) {
    if (is_encoded_colon_at(text, p)) return p;
  }
  return npos;
}

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

std::size_t skip_whitespace_front(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    const DecodedChar u = decode_at(text, pos);
    if (!u.valid || !is_unicode_whitespace(u.code_point)) break;
    pos += u.length;
  }
  return pos;
}

// The size of the white-space character that ends the text, 0 when it ends otherwise. Every
// white-space character is at most three bytes, and a lead byte never continues another
// sequence, so a valid sequence that reaches the end starts on a character boundary.
std::size_t trailing_whitespace_size(std::string_view text) {
  for (std::size_t size = 1; size <= 3 && size <= text.size(); ++size) {
    const DecodedChar u = decode_at(text, text.size() - size);
    if (u.valid && u.length == size) return is_unicode_whitespace(u.code_point) ? size : 0;
  }
  return 0;
}

// Tokens split at the token separators; empty tokens are left out (they hold nothing).
template <class F>
bool any_token(std::string_view text, F&& f) {
  std::size_t begin = 0;
  while (begin <= text.size()) {
    std::size_t end = begin;
    while (end < text.size() && !is_token_separator(text[end])) ++end;
    if (end > begin && f(text.substr(begin, end - begin))) return true;
    begin = end + 1;
  }
  return false;
}

// "***@" at a position after the first character, directly after ':' or "%3A": the mark that
// redact_credentials leaves where it replaced a password.
bool holds_redaction(std::string_view token) {
  for (std::size_t p = token.find("***@", 1); p != npos; p = token.find("***@", p + 1)) {
    if (token[p - 1] == ':') return true;
    if (p >= 3 && is_encoded_colon_at(token, p - 3)) return true;
  }
  return false;
}

// The first recorded position at or after pos, npos when there is none.
std::size_t first_at_or_after(const std::vector<std::size_t>& marks, std::size_t pos) {
  const auto it = std::lower_bound(marks.begin(), marks.end(), pos);
  return it == marks.end() ? npos : *it;
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

std::expected<std::optional<std::uint16_t>, std::string> parse_port(std::string_view text) {
  if (text.empty()) return std::nullopt;
  if (std::all_of(text.begin(), text.end(), is_ascii_digit)) {
    std::uint32_t value = 0;
    for (char c : text) {
      value = value * 10 + static_cast<std::uint32_t>(c - '0');
      if (value > 65535) {
        return std::unexpected("invalid port: " + std::to_string(text.size()) +
                               "-digit number is out of the 0-65535 range");
      }
    }
    return static_cast<std::uint16_t>(value);
  }
  const std::size_t characters = count_chars(text);
  const auto digits = static_cast<std::size_t>(std::count_if(text.begin(), text.end(), is_ascii_digit));
  return std::unexpected("invalid port: " + std::to_string(characters) + " character" +
                         (characters == 1 ? "" : "s") + " (" + std::to_string(digits) +
                         " ASCII digit" + (digits == 1 ? "" : "s") + ", " +
                         std::to_string(characters - digits) +
                         " other), expected only ASCII digits 0-9");
}

std::expected<HostPort, std::string> split_host_port(std::string_view text) {
  std::size_t colon = npos;
  if (text.starts_with('[')) {
    const std::size_t close = text.find(']');
    if (close == npos) return std::unexpected("unbalanced '[' in IPv6 literal");
    if (close + 1 == text.size()) return HostPort{text, std::nullopt};
    if (text[close + 1] != ':') return std::unexpected("unexpected trailing text after IPv6 literal");
    colon = close + 1;
  } else {
    colon = text.find(':');
    if (colon == npos || text.find(':', colon + 1) != npos) return HostPort{text, std::nullopt};
  }
  auto port = parse_port(text.substr(colon + 1));
  if (!port) return std::unexpected(std::move(port.error()));
  return HostPort{text.substr(0, colon), *port};
}

std::string_view strip_scheme(std::string_view text) {
  const std::size_t mark = text.find("://");
  if (mark == npos || has_password_separator(text.substr(0, mark)).found) return text;
  return text.substr(mark + 3);
}

SeparatorFound has_password_separator(std::string_view text) {
  const std::size_t colon = text.find(':');
  const std::size_t encoded = find_encoded_colon(text);
  if (colon == npos && encoded == npos) return {};
  if (colon < encoded) return {true, colon + 1};
  return {true, encoded + 3};
}

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

std::string redact_credentials(std::string_view text) {
  if (text.find('@') == npos) return std::string(text);

  // One pass records every mark; each '@' is then resolved by bisection, so many '@' cost
  // a logarithm each rather than a rescan of the text.
  std::vector<std::size_t> separators, encoded, colons, schemes, ats;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (is_token_separator(c)) {
      separators.push_back(i);
    } else if (c == '%') {
      if (is_encoded_colon_at(text, i)) encoded.push_back(i);
    } else if (c == ':') {
      colons.push_back(i);
      if (text.substr(i, 3) == "://") schemes.push_back(i);
    } else if (c == '@') {
      ats.push_back(i);
    }
  }

  std::string out;
  out.reserve(text.size());
  std::size_t copy = 0;
  for (std::size_t n = 0; n < ats.size(); ++n) {
    const std::size_t at = ats[n];
    // A password may hold '@': within one token the decision falls to its last '@'.
    if (n + 1 < ats.size()) {
      const std::string_view gap = text.substr(at + 1, ats[n + 1] - at - 1);
      if (std::none_of(gap.begin(), gap.end(), is_gap_space) && gap.find("//") == npos) continue;
    }

    std::size_t start = copy;
    const auto sep = std::lower_bound(separators.begin(), separators.end(), at);
    if (sep != separators.begin()) start = std::max(start, *std::prev(sep) + 1);

    const std::size_t scheme = first_at_or_after(schemes, start);
    if (scheme != npos && scheme + 3 <= at && first_at_or_after(colons, start) >= scheme) {
      const std::size_t enc = first_at_or_after(encoded, start);
      if (enc == npos || enc + 3 > scheme) start = scheme + 3;
    }

    std::size_t colon = first_at_or_after(colons, start);
    if (colon != npos && colon >= at) colon = npos;
    std::size_t enc = first_at_or_after(encoded, start);
    if (enc != npos && enc + 3 > at) enc = npos;
    if (colon == npos && enc == npos) continue;
    const std::size_t password = colon < enc ? colon + 1 : enc + 3;

    out.append(text.substr(copy, password - copy));
    out += "***";
    copy = at;
  }
  out.append(text.substr(copy));
  return out;
}

bool token_has_credentials(std::string_view text) {
  std::string_view t = strip_scheme(text);
  if (const std::size_t at = t.rfind('@'); at != npos) t = t.substr(at + 1);
  if (const std::size_t cut = t.find_first_of("/?#"); cut != npos && cut > 0) t = t.substr(0, cut);
  t = trim_unicode_whitespace(t);
  if (parse_ipv6_standard(t)) return false;
  if (const std::size_t colon = t.rfind(':'); colon != npos) {
    std::string_view port = t.substr(colon + 1);
    if (port.starts_with('-')) port.remove_prefix(1);
    if (!port.empty() && std::all_of(port.begin(), port.end(), is_ascii_digit)) t = t.substr(0, colon);
  }
  if (t.size() >= 2 && t.front() == '[' && t.back() == ']') t = t.substr(1, t.size() - 2);
  if (parse_ipv6_standard(t)) return false;
  return has_password_separator(t).found;
}

std::string withheld_message(std::size_t characters) {
  return "<" + std::to_string(characters) +
         " characters, withheld: it may hold a user:password fragment>";
}

std::string redact(std::string_view text) {
  std::string r = redact_credentials(text);
  const auto withheld = [&] { return withheld_message(count_chars(r)); };
  if (token_has_credentials(r)) return withheld();

  // After a redaction, a later token with a bare user name before its '@' suggests that the
  // password ran on past a space and its tail is still there.
  bool after_redaction = false;
  const bool suspicious_tail = any_token(r, [&](std::string_view token) {
    if (const std::size_t at = token.rfind('@'); after_redaction && at != npos) {
      if (!has_password_separator(strip_scheme(token.substr(0, at))).found) return true;
    }
    after_redaction = after_redaction || holds_redaction(token);
    return false;
  });
  if (suspicious_tail) return withheld();

  const bool unredacted = any_token(r, [](std::string_view token) {
    const std::size_t at = token.rfind('@');
    if (at == npos) return token_has_credentials(token);
    const std::string_view user = token.substr(0, at);
    const std::string_view stripped = strip_scheme(user);
    const SeparatorFound sep = has_password_separator(stripped);
    if (!sep.found || stripped.substr(sep.after) == "***") return false;
    return token_has_credentials(user);
  });
  if (unredacted) return withheld();
  return r;
}

std::string mask_control_chars(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    const DecodedChar u = decode_at(text, pos);
    if (u.valid && is_control(u.code_point)) {
      out += '.';
    } else {
      out.append(text.substr(pos, u.length));
    }
    pos += u.length;
  }
  return out;
}

std::string sanitize_message(std::string_view text) {
  const std::string r = redact_credentials(mask_control_chars(text));
  std::size_t end = 0;
  for (std::size_t characters = 0; end < r.size() && characters < message_limit; ++characters) {
    end += decode_at(r, end).length;
  }
  // Masking came first and redaction writes only '*', so the cut holds no control character.
  std::string out = r.substr(0, end);
  if (end < r.size()) out += "\u2026";
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

std::size_t count_chars(std::string_view text) {
  std::size_t characters = 0;
  for (std::size_t pos = 0; pos < text.size(); ++characters) pos += decode_at(text, pos).length;
  return characters;
}

bool is_unicode_whitespace(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

std::string_view trim_unicode_whitespace(std::string_view text) {
  text.remove_prefix(skip_whitespace_front(text));
  for (std::size_t size = trailing_whitespace_size(text); size > 0;
       size = trailing_whitespace_size(text)) {
    text.remove_suffix(size);
  }
  return text;
}

namespace {
char lower_ascii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = lower_ascii(c);
  return out;
}

std::string ascii_upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool equals_ignore_ascii_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return lower_ascii(x) == lower_ascii(y);
         });
}

}  // namespace zelvane::util
