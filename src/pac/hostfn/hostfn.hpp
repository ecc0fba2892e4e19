// The fourteen host functions a PAC script calls, as plain C++ of already-converted
// arguments: texts are UTF-8, an absent argument is the empty text, and each function answers
// bad input with a plain value (false, none, 0, a fixed text) instead of an error. The engine
// binding converts the script's arguments with ToString (converting nothing beyond each
// function's arity, and nothing at all for a clock function given kMaxClockArgs + 1 or more)
// and turns the results back into script values.
//
// Global name          C++ body                  script result
// isPlainHostName      is_plain_host_name        boolean
// dnsDomainIs          dns_domain_is             boolean
// localHostOrDomainIs  local_host_or_domain_is   boolean
// isResolvable         is_resolvable             boolean              (policy, resolver)
// isInNet              is_in_net                 boolean              (policy, resolver)
// dnsResolve           dns_resolve               string, or null      (policy, resolver)
// myIpAddress          my_ip_address             string; arguments ignored, never converted
// dnsDomainLevels      dns_domain_levels         number
// shExpMatch           sh_exp_match              boolean
// weekdayRange         weekday_range             boolean              (policy; rest arguments)
// dateRange            date_range                boolean              (policy; rest arguments)
// timeRange            time_range                boolean              (policy; rest arguments)
// alert                alert                     undefined; first argument converted, dropped
// convert_addr         convert_addr_number       number (signed 32-bit)
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "pac/hostfn/datetime.hpp"
#include "pac/hostfn/policy.hpp"
#include "pac/hostfn/resolver.hpp"
#include "value/ip.hpp"

namespace zelvane::pac::hostfn {

// The global names in the order the evaluation binds them.
inline constexpr std::array<std::string_view, 14> kHostFunctionNames = {
    "isPlainHostName", "dnsDomainIs",     "localHostOrDomainIs", "isResolvable", "isInNet",   "dnsResolve",
    "myIpAddress",     "dnsDomainLevels", "shExpMatch",          "weekdayRange", "dateRange", "timeRange",
    "alert",           "convert_addr"};

// ---- The script-facing bodies, one per global function.

// Neither '.' nor ':' in host.
bool is_plain_host_name(std::string_view host);
// The ASCII-lowered host ends with the ASCII-lowered domain (no label boundary test).
bool dns_domain_is(std::string_view host, std::string_view domain);
// Equal ignoring ASCII case, or a host without '.' that hostdom begins with, then '.'.
bool local_host_or_domain_is(std::string_view host, std::string_view hostdom);
// An address literal (IPv4 in any URL form, IPv6 in the standard form, bracketed or not), or
// a name with a usable IPv4 address.
bool is_resolvable(std::string_view host, const PacPolicy& policy, Resolver& resolver = system_resolver());
// Pattern and mask strict dotted quads (read first: a bad one costs no lookup), host a dotted
// quad or resolved as dnsResolve does; (host ^ pattern) & mask == 0.
bool is_in_net(std::string_view host, std::string_view pattern, std::string_view mask,
               const PacPolicy& policy, Resolver& resolver = system_resolver());
// dns_resolve_v4 in dotted decimal; none is the script's null.
std::optional<std::string> dns_resolve(std::string_view host, const PacPolicy& policy,
                                       Resolver& resolver = system_resolver());
// The policy's address (dotted decimal, IPv6 in RFC 5952 form), else "127.0.0.1".
std::string my_ip_address(const PacPolicy& policy);
// The number of '.' characters.
std::size_t dns_domain_levels(std::string_view host);
// Without '?': util::glob_match. With '?': a walk over Unicode scalar values with one
// backtrack point and a budget of 2^24 steps (false when it runs out).
bool sh_exp_match(std::string_view text, std::string_view pattern);
// Takes the converted message and drops it: nothing is logged or stored.
inline void alert(std::string_view /*message*/) noexcept {}
// convert_addr as the script sees it: the 32-bit value as a signed integer (192.168.0.1 is
// -1062731775).
std::int32_t convert_addr_number(std::string_view ipaddr);

// ---- The operations behind them.

// The IPv4 address dnsResolve reports, or none: white space trimmed, "[v6]" unbracketed, an
// IPv4 literal answered as it stands, an IPv6 literal never answered, anything else resolved.
std::optional<value::Ipv4Addr> dns_resolve_v4(std::string_view text, const PacPolicy& policy,
                                              Resolver& resolver = system_resolver());
// The first usable IPv4 address of a lookup of the name as given; none without a lookup for
// the empty name, a name holding NUL, or resolve_dns false.
std::optional<value::Ipv4Addr> resolve_with_policy(std::string_view name, const PacPolicy& policy,
                                                   Resolver& resolver = system_resolver());
// In answer order: IPv4 addresses and IPv4-mapped IPv6 ones (as their IPv4 address) are
// candidates, other IPv6 addresses are skipped, internal candidates are skipped unless the
// policy allows them.
std::optional<value::Ipv4Addr> first_usable_ipv4(std::span<const value::IpAddr> addresses,
                                                 const PacPolicy& policy);
// Loopback, private, link-local, shared, documentation, benchmarking, multicast, reserved
// and the other special-purpose ranges; for IPv6 ::, ::1, fc00::/7, fe80::/10, ff00::/8 and
// IPv4-mapped internal addresses.
bool is_internal_address(value::Ipv4Addr address);
bool is_internal_address(const value::Ipv6Addr& address);
bool is_internal_address(const value::IpAddr& address);
// Exactly four '.'-separated parts of one to three ASCII digits, each at most 255 (leading
// zeros read as decimal); nothing else.
std::optional<value::Ipv4Addr> parse_dotted_quad(std::string_view text);
// The four first '.'-separated parts, each trimmed and read as an unsigned decimal (an
// optional '+'; unreadable is 0), low eight bits each, missing parts 0, the rest ignored.
std::uint32_t convert_addr(std::string_view text);

}  // namespace zelvane::pac::hostfn
