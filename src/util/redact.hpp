// The three rules that keep credentials out of every message and diagnostic: redaction, the
// withheld form and sanitising. Positions are byte offsets and every mark searched for is
// ASCII, so cuts fall on character boundaries.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zelvane::util {

// The text after a leading scheme and its "://", or the text itself when there is none or
// the part before "://" holds a password separator.
std::string_view strip_scheme(std::string_view text);

struct SeparatorFound {
  bool found = false;
  std::size_t after = 0;  // just after the earliest ':' or "%3A"
};
SeparatorFound has_password_separator(std::string_view text);

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
// The same for a message made of the system's own words followed by a text from outside (a
// script's message, an engine's report): the outside text is redacted on its own before it
// joins the words, so the words and their punctuation are never taken for a user name or a
// password; both are masked, and the whole is cut as sanitize_message cuts.
std::string sanitize_message(std::string_view words, std::string_view outside);
// The first `limit` characters of the text, then "…" when anything was cut.
std::string cut_to_chars(std::string_view text, std::size_t limit);

}  // namespace zelvane::util
