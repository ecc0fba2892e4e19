// The Windows proxy server list: any text is read without a crash, and a planted password
// (fuzz/plant.hpp) shows in no refused entry, whether the address stands alone or after a
// scheme's "name=".
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/check.hpp"
#include "fuzz/plant.hpp"
#include "parse/server_list.hpp"
#include "value/debug.hpp"

namespace {

using namespace zelvane;
using namespace zelvane::value;

void check_plant(std::string_view address) {
  for (std::string_view form : {"", "http=", "socks="}) {
    const std::string list = std::string(form) + std::string(address);
    for (const auto& r : parse::parse_proxy_server(list).rejected) {
      fuzz::check_hidden("a refused server list entry", list, debug_text(r));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::as_text(data, size);
  for (const auto& plant : fuzz::plants(text)) check_plant(plant.address);
  for (const auto& r : parse::parse_proxy_server(text).rejected) (void)debug_text(r);
  return 0;
}
