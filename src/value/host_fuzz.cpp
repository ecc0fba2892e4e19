// The WHATWG host parser against ada's. ada has no bare-host entry, so the host is given to it
// inside "http://<host>/"; that is the same parser only for hosts that the URL parser takes
// whole: no tab or newline (stripped), no ASCII white space or C0 control at the ends
// (trimmed), no '/', '\', '?', '#' or '@' (they end the host or the credentials) and no ':'
// outside brackets (it starts the port). For those, both accept or both refuse, and an
// accepted host is the same host. The bare-host reading (parse_host) must not crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/check.hpp"
#include "value/debug.hpp"
#include "value/host.hpp"
#include "value/url.hpp"

namespace {

bool url_takes_whole(std::string_view host) {
  if (host.empty()) return false;
  const auto c0_or_space = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  if (c0_or_space(host.front()) || c0_or_space(host.back())) return false;
  bool in_brackets = false;
  for (char c : host) {
    switch (c) {
      case '\t':
      case '\n':
      case '\r':
      case '/':
      case '\\':
      case '?':
      case '#':
      case '@':
        return false;
      case '[':
        in_brackets = true;
        break;
      case ']':
        in_brackets = false;
        break;
      case ':':
        if (!in_brackets) return false;
        break;
      default:
        break;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zelvane;
  using namespace zelvane::value;
  const std::string_view text = fuzz::as_text(data, size);
  const auto host = parse_url_host(text);
  (void)parse_host(text);
  if (!url_takes_whole(text)) return 0;
  const auto url = Url::parse("http://" + std::string(text) + "/");
  ZELVANE_FUZZ_CHECK(
      url.has_value() == host.has_value(),
      fuzz::shown(text) +
          (host ? " accepted by the host parser as " + debug_text(*host) + ", refused by ada"
                : " refused by the host parser as " + std::string(name(host.error())) + ", accepted by ada"));
  if (host) {
    ZELVANE_FUZZ_CHECK(url->host() == *host, fuzz::shown(text) + ": ada's host " +
                                                 (url->host() ? debug_text(*url->host()) : "none") +
                                                 ", the host parser's " + debug_text(*host));
  }
  return 0;
}
