// Redaction and message sanitising: any text is taken, and a password planted in a proxy
// address (fuzz/plant.hpp) shows in no redacted or sanitised text, wherever the address stands.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/check.hpp"
#include "fuzz/plant.hpp"
#include "util/redact.hpp"

namespace {

using namespace zelvane;

void check_redaction(std::string_view text) {
  fuzz::check_hidden("redact", text, util::redact(text));
  fuzz::check_hidden("redact_credentials", text, util::redact_credentials(text));
  fuzz::check_hidden("sanitize_message", text, util::sanitize_message(text));
  // The same text from outside after the system's own words.
  fuzz::check_hidden("sanitize_message after words", text,
                     util::sanitize_message("FindProxyForURL failed: ", text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::as_text(data, size);
  (void)util::redact(text);
  (void)util::sanitize_message(text);
  (void)util::token_has_credentials(text);
  (void)util::strip_scheme(text);
  (void)util::has_password_separator(text);
  (void)util::mask_control_chars(text);
  for (const auto& plant : fuzz::plants(text)) {
    check_redaction(plant.address);
    check_redaction(plant.in_text);
  }
  return 0;
}
