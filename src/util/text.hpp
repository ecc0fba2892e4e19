// Small text operations shared by the parsers, the messages, the debug text and the PAC
// evaluation, with the three rules that keep credentials out of every message and
// diagnostic: redaction, the withheld form and sanitising. Pure functions; positions are
// byte offsets and every mark searched for is ASCII, so cuts fall on character boundaries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace zelvane::util {

// A glob that knows only '*', byte for byte and case-sensitive.
bool glob_match(std::string_view pattern, std::string_view text);

// An empty text is no port; otherwise decimal digits up to 65535, or a message.
std::expected<std::optional<std::uint16_t>, std::string> parse_port(std::string_view text);

struct HostPort {
  std::string_view host;  // a part of the input, unchanged
  std::optional<std::uint16_t> port;
};
// host, host:port, [v6], [v6]:port, or a bare IPv6 literal (two or more ':').
std::expected<HostPort, std::string> split_host_port(std::string_view text);

// The text after a leading scheme and its "://", or the text itself when there is none or
// the part before "://" holds a password separator.
std::string_view strip_scheme(std::string_view text);

struct SeparatorFound {
  bool found = false;
  std::size_t after = 0;  // just after the earliest ':' or "%3A"
};
SeparatorFound has_password_separator(std::string_view text);

// The value of a hexadecimal digit, -1 for any other character.
int hex_value(char c);
// %XX decoded to its byte; a '%' not followed by two hex digits stays as it is.
std::string percent_decode_bytes(std::string_view text);
// As percent_decode_bytes; the input unchanged when there is no '%' or the result is not UTF-8.
std::string percent_decode_utf8(std::string_view text);

// Calls f with every piece of the text between characters of `separators` (all ASCII), empty
// pieces included, in order; an f that returns bool stops the split by returning false.
template <class F>
void split_at_any(std::string_view text, std::string_view separators, F&& f) {
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find_first_of(separators, start);
    const std::string_view piece =
        text.substr(start, end == std::string_view::npos ? end : end - start);
    if constexpr (std::is_same_v<decltype(f(piece)), bool>) {
      if (!f(piece)) return;
    } else {
      f(piece);
    }
    if (end == std::string_view::npos) return;
    start = end + 1;
  }
}

// Each password before an '@' replaced by "***"; the user name, separator and '@' stay.
std::string redact_credentials(std::string_view text);

// Whether the text still looks like a user name and a password without an '@'.
bool token_has_credentials(std::string_view text);

// redact_credentials, or the whole text withheld when it may still hold a credential:
// "<N characters, withheld: it may hold a user:password fragment>".
std::string redact(std::string_view text);
std::string withheld_message(std::size_t characters);

// Control characters (U+0000-U+001F, U+007F-U+009F) as '.'.
std::string mask_control_chars(std::string_view text);

// At most 256 characters of the masked, redacted text, then "…" when cut.
std::string sanitize_message(std::string_view text);

// Every '%' written as "%25".
std::string escape_percent(std::string_view text);

// Unicode scalar values in valid UTF-8 text.
std::size_t count_chars(std::string_view text);

// Unicode White_Space at both ends, and the test for one code point.
bool is_unicode_whitespace(char32_t c);
std::string_view trim_unicode_whitespace(std::string_view text);
// ASCII letters lower-cased, upper-cased, or compared regardless of case.
std::string ascii_lower(std::string_view text);
std::string ascii_upper(std::string_view text);
bool equals_ignore_ascii_case(std::string_view a, std::string_view b);

}  // namespace zelvane::util
