// The glob matcher against a plain backtracking matcher, on a pattern and a text cut at the
// byte 0x01 and short enough for backtracking; any longer text is matched without a crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/check.hpp"
#include "util/glob.hpp"

namespace {

bool reference_glob(std::string_view p, std::string_view t) {
  if (p.empty()) return t.empty();
  if (p[0] == '*') return reference_glob(p.substr(1), t) || (!t.empty() && reference_glob(p, t.substr(1)));
  return !t.empty() && p[0] == t[0] && reference_glob(p.substr(1), t.substr(1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zelvane;
  const auto parts = fuzz::pieces(fuzz::as_text(data, size), 2);
  const std::string_view pattern = parts[0];
  const std::string_view text = parts.size() > 1 ? parts[1] : parts[0];
  const bool matches = util::glob_match(pattern, text);
  if (pattern.size() <= 10 && text.size() <= 12) {
    ZELVANE_FUZZ_CHECK(matches == reference_glob(pattern, text),
                       "pattern " + fuzz::shown(pattern) + " text " + fuzz::shown(text));
  }
  return 0;
}
