// PAC answers: any text is read without a crash; an accepted answer holds 1 to 64 steps, none
// twice, each with its proxy URL; a refused one's message shows no planted password
// (fuzz/plant.hpp) after any keyword.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/check.hpp"
#include "fuzz/plant.hpp"
#include "parse/candidates.hpp"
#include "parse/endpoint.hpp"
#include "parse/pac_answer.hpp"
#include "value/debug.hpp"

namespace {

using namespace zelvane;
using namespace zelvane::value;

void check_plant(std::string_view address) {
  for (std::string_view keyword : {"PROXY ", "HTTPS ", "SOCKS5 ", "DIRECT; PROXY "}) {
    const std::string answer = std::string(keyword) + std::string(address);
    if (const auto steps = parse::parse_pac_result(answer); !steps) {
      fuzz::check_hidden("parse_pac_result's message", answer, steps.error().message());
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::as_text(data, size);
  for (const auto& plant : fuzz::plants(text)) check_plant(plant.address);
  const auto steps = parse::parse_pac_result(text);
  if (!steps) {
    (void)steps.error().message();
    return 0;
  }
  ZELVANE_FUZZ_CHECK(!steps->empty() && steps->size() <= parse::CandidateList::kLimit,
                     fuzz::shown(text) + " gave " + std::to_string(steps->size()) + " steps");
  for (std::size_t i = 0; i < steps->size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      ZELVANE_FUZZ_CHECK(!((*steps)[i] == (*steps)[j]),
                         fuzz::shown(text) + " repeats " + debug_text((*steps)[i]));
    }
    (void)parse::proxy_url((*steps)[i]);
  }
  return 0;
}
