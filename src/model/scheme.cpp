#include "model/scheme.hpp"

#include "model/name_table.hpp"

namespace zelvane::model {
namespace {

constexpr std::array<std::string_view, 5> kSlotNames = {"Http", "Https", "Ftp", "Socks", "All"};
constexpr std::array<std::string_view, 5> kSlotTexts = {"http", "https", "ftp", "socks", "all"};
constexpr std::array<std::string_view, 6> kSchemeNames = {"Http",    "Https",  "Socks4",
                                                          "Socks4a", "Socks5", "Socks5h"};
constexpr std::array<std::string_view, 6> kSchemeTexts = {"http",    "https",  "socks4",
                                                          "socks4a", "socks5", "socks5h"};

}  // namespace

std::string_view name(SchemeSlot s) { return name_in(kSlotNames, s); }
std::string_view name(ProxyScheme s) { return name_in(kSchemeNames, s); }
std::string_view slot_text(SchemeSlot s) { return name_in(kSlotTexts, s); }
std::string_view scheme_text(ProxyScheme s) { return name_in(kSchemeTexts, s); }

void debug_fmt(std::string& out, SchemeSlot s) { out += name(s); }
void debug_fmt(std::string& out, ProxyScheme s) { out += name(s); }

}  // namespace zelvane::model
