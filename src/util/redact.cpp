#include "util/redact.hpp"

#include <algorithm>
#include <array>
#include <iterator>
#include <vector>

#include "util/ip_text.hpp"
#include "util/trim.hpp"
#include "util/utf8.hpp"

namespace zelvane::util {
namespace {

constexpr std::size_t npos = std::string_view::npos;
constexpr std::size_t message_limit = 256;  // characters kept by sanitize_message

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

namespace {

struct Span {
  std::size_t begin, end;
  bool operator==(const Span&) const = default;
};

// The passwords that token-wise redaction replaces, as spans of the input in order.
std::vector<Span> token_passwords(std::string_view text) {
  std::vector<Span> masked;
  if (text.find('@') == npos) return masked;

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
    masked.push_back({colon < enc ? colon + 1 : enc + 3, at});
    copy = at;
  }
  return masked;
}

// The text with each span (in order, disjoint) replaced by "***".
std::string with_spans_masked(std::string_view text, const std::vector<Span>& spans) {
  std::string out;
  out.reserve(text.size());
  std::size_t copy = 0;
  for (const Span& s : spans) {
    out.append(text.substr(copy, s.begin - copy));
    out += "***";
    copy = s.end;
  }
  out.append(text.substr(copy));
  return out;
}

// The text between two token-wise redactions, from the '@' that ended the first to the
// separator that began the second, when it reads as that '@''s host (a port at most, and a
// ';' or ',' after it) followed by words without separator or '@': "@proxy:80; PROXY u:".
// Anything else there may be the middle of one password that holds white space.
bool is_host_then_user(std::string_view gap) {
  if (gap.empty() || gap.front() != '@') return false;
  gap.remove_prefix(1);
  if (gap.ends_with(':')) {
    gap.remove_suffix(1);
  } else if (gap.size() >= 3 && is_encoded_colon_at(gap, gap.size() - 3)) {
    gap.remove_suffix(3);
  } else {
    return false;
  }
  const std::size_t space = std::find_if(gap.begin(), gap.end(), is_token_separator) - gap.begin();
  if (space == gap.size()) return false;
  std::string_view host = gap.substr(0, space);
  while (!host.empty() && (host.back() == ';' || host.back() == ',')) host.remove_suffix(1);
  const std::string_view words = gap.substr(space);
  if (host.find('@') != npos || token_has_credentials(host)) return false;
  return words.find('@') == npos && !has_password_separator(words).found;
}

// Whether the spans cover [begin, end) but for gaps that is_host_then_user accepts.
bool covered_but_for_hosts(std::string_view text, Span want, const std::vector<Span>& spans) {
  std::size_t pos = want.begin;
  bool after_mask = false;
  for (auto it = std::lower_bound(spans.begin(), spans.end(), want.begin,
                                  [](const Span&s, std::size_t p) { return s.end <= p; });
       it != spans.end() && it->begin < want.end; ++it) {
    if (it->begin > pos && !(after_mask && is_host_then_user(text.substr(pos, it->begin - pos)))) {
      return false;
    }
    pos = std::max(pos, it->end);
    after_mask = true;
  }
  return pos >= want.end;
}

// The token-wise spans widened to what the address parser would take as a password when the
// address began anywhere in the text. Read from any point, an address's authority ends at the
// next '/', '?' or '#' and its credentials at the last '@' before that, and the password
// starts after the first separator: so within each stretch between those marks, everything
// from the first separator to the last '@' may be a password, white space and '@' included.
// Credentials that token-wise redaction replaced one by one stay as they are when only a host
// and the next user name stand between them.
std::vector<Span> address_wide_passwords(std::string_view text, std::vector<Span> spans) {
  std::vector<Span> wide;
  for (std::size_t begin = 0; begin < text.size();) {
    const std::size_t end = std::min(text.find_first_of("/?#", begin), text.size());
    const std::string_view part = text.substr(begin, end - begin);
    const std::size_t at = part.rfind('@');
    const SeparatorFound sep = has_password_separator(part);
    if (at != npos && sep.found && sep.after < at) {
      const Span want{begin + sep.after, begin + at};
      if (!covered_but_for_hosts(text, want, spans)) wide.push_back(want);
    }
    begin = end + 1;
  }
  if (wide.empty()) return spans;

  std::vector<Span> all;
  all.reserve(spans.size() + wide.size());
  std::merge(spans.begin(), spans.end(), wide.begin(), wide.end(), std::back_inserter(all),
             [](const Span& a, const Span& b) { return a.begin < b.begin; });
  std::vector<Span> merged;
  for (const Span& s : all) {
    if (!merged.empty() && s.begin <= merged.back().end) {
      merged.back().end = std::max(merged.back().end, s.end);
    } else {
      merged.push_back(s);
    }
  }
  return merged;
}

// The password of the text read as one address: after the first "://", from the first
// separator up to the '@' that ends the user information. The address parser takes the last
// '@' of the authority (up to the first '/', '?' or '#'); a URL-minded reader, the last '@'
// of all, unless another "://" begins a second address before it. Both readings are given;
// each is empty when it finds no password.
std::array<Span, 2> address_passwords(std::string_view text) {
  std::size_t start = 0;
  if (const std::size_t scheme = text.find("://"); scheme != npos) start = scheme + 3;
  const auto password_before = [&](std::size_t at) -> Span {
    if (at == npos || at < start) return {0, 0};
    const SeparatorFound sep = has_password_separator(text.substr(start, at - start));
    if (!sep.found) return {0, 0};
    return {start + sep.after, at};
  };
  const std::size_t cut = std::min(text.find_first_of("/?#", start), text.size());
  const std::size_t last = text.rfind('@');
  const std::size_t in_authority = text.substr(0, cut).rfind('@');
  const bool one_address = last == npos || last < start || text.find("://", start) > last;
  return {password_before(in_authority), one_address ? password_before(last) : Span{0, 0}};
}

// Whether the spans (in order, disjoint) cover the whole of `want`.
bool covered(Span want, const std::vector<Span>& spans) {
  std::size_t pos = want.begin;
  for (const Span& s : spans) {
    if (s.begin <= pos && s.end > pos) pos = s.end;
  }
  return pos >= want.end;
}

}  // namespace

std::string redact_credentials(std::string_view text) {
  if (text.find('@') == npos) return std::string(text);
  return with_spans_masked(text, address_wide_passwords(text, token_passwords(text)));
}

bool token_has_credentials(std::string_view text) {
  std::string_view t = strip_scheme(text);
  if (const std::size_t at = t.rfind('@'); at != npos) t = t.substr(at + 1);
  if (const std::size_t cut = t.find_first_of("/?#"); cut != npos && cut > 0) t = t.substr(0, cut);
  t = trim_unicode_whitespace(t);
  if (parse_ipv6_groups(t)) return false;
  if (const std::size_t colon = t.rfind(':'); colon != npos) {
    std::string_view port = t.substr(colon + 1);
    if (port.starts_with('-')) port.remove_prefix(1);
    if (!port.empty() && std::all_of(port.begin(), port.end(), is_ascii_digit)) t = t.substr(0, colon);
  }
  if (t.size() >= 2 && t.front() == '[' && t.back() == ']') t = t.substr(1, t.size() - 2);
  if (parse_ipv6_groups(t)) return false;
  return has_password_separator(t).found;
}

std::string withheld_message(std::size_t characters) {
  return "<" + std::to_string(characters) + " characters, withheld: it may hold a user:password fragment>";
}

std::string redact(std::string_view text) {
  const std::vector<Span> masked = token_passwords(text);
  std::string r = with_spans_masked(text, masked);
  const auto withheld = [&] { return withheld_message(count_chars(r)); };
  if (token_has_credentials(r)) return withheld();
  // A later "://" may begin an address of its own, cut from its '@' by a list separator
  // (a server list splits at ';'): its authority (up to the first '/', '?', '#' or token
  // separator, so the checks stay linear in the text) must not look like credentials either.
  for (std::size_t mark = r.find("://"); mark != npos; mark = r.find("://", mark + 3)) {
    const std::string_view rest = std::string_view(r).substr(mark + 3);
    if (token_has_credentials(rest.substr(0, rest.find_first_of("/?# \t\n")))) return withheld();
  }
  // What token-wise redaction left that an address read from elsewhere in the text would take
  // as a password.
  if (address_wide_passwords(text, masked) != masked) return withheld();
  // Redaction works token by token; a password that holds white space (or an '@' beside it)
  // runs past its token, and what the address parser would take as the password may then be
  // partly in clear.
  for (const Span password : address_passwords(text)) {
    if (password.end > password.begin && !covered(password, masked)) return withheld();
  }

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
    const DecodedChar u = decode_utf8_at(text, pos);
    if (u.valid && is_control(u.code_point)) {
      out += '.';
    } else {
      out.append(text.substr(pos, u.length));
    }
    pos += u.length;
  }
  return out;
}

std::string cut_to_chars(std::string_view text, std::size_t limit) {
  std::size_t end = 0;
  for (std::size_t characters = 0; end < text.size() && characters < limit; ++characters) {
    end += decode_utf8_at(text, end).length;
  }
  std::string out(text.substr(0, end));
  if (end < text.size()) out += "\u2026";
  return out;
}

std::string sanitize_message(std::string_view text) {
  // Masking came first and redaction writes only '*', so the cut holds no control character.
  return cut_to_chars(redact_credentials(mask_control_chars(text)), message_limit);
}

std::string sanitize_message(std::string_view words, std::string_view outside) {
  // Redaction writes only '*' and the words hold no '@' to redact: the cut holds no control
  // character either.
  std::string message = mask_control_chars(words);
  message += redact_credentials(mask_control_chars(outside));
  return cut_to_chars(message, message_limit);
}

}  // namespace zelvane::util
