// The URL classifier against ada: Url::parse accepts a text exactly when find_url_failure, the
// project's re-run of the parser's steps, finds no failure; otherwise a refused URL would be
// reported under the wrong kind, or not at all. And redact_url, what a Route's repr shows of a
// URL, shows no password planted in an address (fuzz/plant.hpp), with "//" or without, unless
// the URL parser itself reads the token as the URL's user name.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/check.hpp"
#include "fuzz/plant.hpp"
#include "value/host.hpp"
#include "value/url.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zelvane;
  using namespace zelvane::value;
  const std::string_view text = fuzz::as_text(data, size);
  for (const auto& plant : fuzz::plants(text)) {
    // The URL parser drops tabs and line breaks, which can join pieces of the user name or
    // host into the token: only the planted one must not show.
    std::string joined;
    for (const char c : plant.address) {
      if (c != '\t' && c != '\n' && c != '\r') joined += c;
    }
    const std::size_t first = joined.find(fuzz::kTokenCore);
    if (joined.find(fuzz::kTokenCore, first + 1) != std::string::npos) continue;
    // A URL that the URL parser reads with the token in its user name shows it there, as the
    // snapshot's text of that URL does: a special scheme without "//" ("ws:token:x@h") is
    // followed by the authority, so the address's user name is the URL's scheme.
    if (const auto url = Url::parse(plant.address);
        url && url->username().find(fuzz::kTokenCore) != std::string_view::npos) {
      continue;
    }
    fuzz::check_hidden("redact_url", plant.address, redact_url(plant.address));
  }
  (void)redact_url(text);
  const auto url = Url::parse(text);
  const auto failure = find_url_failure(text);
  ZELVANE_FUZZ_CHECK(url.has_value() == !failure.has_value(),
                     fuzz::shown(text) + (url ? " accepted by ada, refused as " +
                                                    (failure ? std::string(name(*failure)) : std::string())
                                              : " refused by ada, accepted by the classifier"));
  if (url) {
    // Every part of an accepted URL can be read.
    (void)url->scheme();
    (void)url->host();
    (void)url->port();
    (void)url->username();
    (void)url->password();
  }
  return 0;
}
