#include "ip.hpp"

// Placeholder: the address forms and parsers land with their tests.
namespace zelvane {

Ipv6Addr Ipv6Addr::from_segments(const std::array<std::uint16_t, 8>& segments) {
  Ipv6Addr a;
  for (std::size_t i = 0; i < 8; ++i) {
    a.octets[2 * i] = static_cast<std::uint8_t>(segments[i] >> 8);
    a.octets[2 * i + 1] = static_cast<std::uint8_t>(segments[i]);
  }
  return a;
}

std::string to_string(Ipv4Addr addr) {
  return std::to_string(addr.octets[0]) + "." + std::to_string(addr.octets[1]) + "." +
         std::to_string(addr.octets[2]) + "." + std::to_string(addr.octets[3]);
}
std::string to_string(const Ipv6Addr&) { return "::"; }
std::string to_string(const IpAddr& addr) {
  return std::visit([](const auto& a) { return to_string(a); }, addr.value);
}
std::string to_string(const IpNet& net) { return to_string(net.addr) + "/" + std::to_string(net.prefix); }

void debug_fmt(std::string& out, Ipv4Addr addr) { out += to_string(addr); }
void debug_fmt(std::string& out, const Ipv6Addr& addr) { out += to_string(addr); }
void debug_fmt(std::string& out, const IpAddr& addr) { out += to_string(addr); }

}  // namespace zelvane
