// The scheme slots of a manual setting and the schemes a proxy address may name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zelvane::model {

enum class SchemeSlot : std::uint8_t { Http, Https, Ftp, Socks, All };
inline constexpr SchemeSlot kAllSlots[] = {SchemeSlot::Http, SchemeSlot::Https, SchemeSlot::Ftp,
                                           SchemeSlot::Socks, SchemeSlot::All};

enum class ProxyScheme : std::uint8_t { Http, Https, Socks4, Socks4a, Socks5, Socks5h };

// Variant names, as debug text and export show them ("Https", "Socks5h", ...).
std::string_view name(SchemeSlot s);
std::string_view name(ProxyScheme s);
// Lower-case texts: "http", "https", "ftp", "socks", "all".
std::string_view slot_text(SchemeSlot s);
// Lower-case texts: "http", "https", "socks4", "socks4a", "socks5", "socks5h".
std::string_view scheme_text(ProxyScheme s);

void debug_fmt(std::string& out, SchemeSlot s);
void debug_fmt(std::string& out, ProxyScheme s);

}  // namespace zelvane::model
