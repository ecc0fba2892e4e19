#include "pac/host_functions.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <new>
#include <span>
#include <string_view>
#include <vector>

#include "pac/hostfn/datetime.hpp"
#include "pac/hostfn/hostfn.hpp"
#include "pac/js_value.hpp"

namespace zelvane::pac {
namespace {

// The order of binding; the index is the magic number each native function carries.
enum class Fn : int {
  IsPlainHostName,
  DnsDomainIs,
  LocalHostOrDomainIs,
  IsResolvable,
  IsInNet,
  DnsResolve,
  MyIpAddress,
  DnsDomainLevels,
  ShExpMatch,
  WeekdayRange,
  DateRange,
  TimeRange,
  Alert,
  ConvertAddr,
};

struct HostFn {
  const char* name;
  int arity;  // arguments taken by position; 0 for the clock functions, which take them all
};

constexpr std::array<HostFn, 14> kFunctions = {{
    {"isPlainHostName", 1},
    {"dnsDomainIs", 2},
    {"localHostOrDomainIs", 2},
    {"isResolvable", 1},
    {"isInNet", 3},
    {"dnsResolve", 1},
    {"myIpAddress", 0},
    {"dnsDomainLevels", 1},
    {"shExpMatch", 2},
    {"weekdayRange", 0},
    {"dateRange", 0},
    {"timeRange", 0},
    {"alert", 1},
    {"convert_addr", 1},
}};

constexpr bool names_match_hostfn() {
  for (std::size_t i = 0; i < kFunctions.size(); ++i) {
    if (std::string_view(kFunctions[i].name) != hostfn::kHostFunctionNames[i]) return false;
  }
  return true;
}
static_assert(names_match_hostfn());

// Converts the arguments in order into `out`; an absent one is the empty text. False with an
// exception pending when a conversion throws or yields an unpaired surrogate; later
// arguments are then not converted.
bool convert_args(JSContext* ctx, const char* name, int argc, JSValueConst* argv,
                  std::span<std::string> out) {
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (i >= static_cast<std::size_t>(argc)) {
      out[i].clear();
      continue;
    }
    auto text = to_text(ctx, argv[i]);
    if (!text) {
      if (text.error() == TextFailure::NotUtf8) {
        JS_ThrowTypeError(ctx, "%s: argument %d holds an unpaired surrogate, which has no UTF-8 form", name,
                          static_cast<int>(i) + 1);
      }
      return false;
    }
    out[i] = std::move(*text);
  }
  return true;
}

JSValue new_string(JSContext* ctx, std::string_view text) {
  return JS_NewStringLen(ctx, text.data(), text.size());
}

template <std::size_t N, class Body>
JSValue with_args(JSContext* ctx, const char* name, int argc, JSValueConst* argv, Body&& body) {
  std::array<std::string, N> args;
  if (!convert_args(ctx, name, argc, argv, args)) return JS_EXCEPTION;
  return body(args);
}

// The clock functions: more than kMaxClockArgs arguments answer false, none converted.
template <class Body>
JSValue with_rest_args(JSContext* ctx, const char* name, int argc, JSValueConst* argv, Body&& body) {
  if (argc < 0 || static_cast<std::size_t>(argc) > hostfn::kMaxClockArgs) return JS_FALSE;
  std::vector<std::string> args(static_cast<std::size_t>(argc));
  if (!convert_args(ctx, name, argc, argv, args)) return JS_EXCEPTION;
  return JS_NewBool(ctx, body(std::span<const std::string>(args)));
}

JSValue call_host(JSContext* ctx, Fn fn, int argc, JSValueConst* argv, const HostBinding& b) {
  const char* name = kFunctions[static_cast<std::size_t>(fn)].name;
  using Args1 = std::array<std::string, 1>;
  using Args2 = std::array<std::string, 2>;
  using Args3 = std::array<std::string, 3>;
  switch (fn) {
    case Fn::IsPlainHostName:
      return with_args<1>(ctx, name, argc, argv,
                          [&](const Args1& a) { return JS_NewBool(ctx, hostfn::is_plain_host_name(a[0])); });
    case Fn::DnsDomainIs:
      return with_args<2>(ctx, name, argc, argv,
                          [&](const Args2& a) { return JS_NewBool(ctx, hostfn::dns_domain_is(a[0], a[1])); });
    case Fn::LocalHostOrDomainIs:
      return with_args<2>(ctx, name, argc, argv, [&](const Args2& a) {
        return JS_NewBool(ctx, hostfn::local_host_or_domain_is(a[0], a[1]));
      });
    case Fn::IsResolvable:
      return with_args<1>(ctx, name, argc, argv, [&](const Args1& a) {
        return JS_NewBool(ctx, hostfn::is_resolvable(a[0], b.policy, b.resolver));
      });
    case Fn::IsInNet:
      return with_args<3>(ctx, name, argc, argv, [&](const Args3& a) {
        return JS_NewBool(ctx, hostfn::is_in_net(a[0], a[1], a[2], b.policy, b.resolver));
      });
    case Fn::DnsResolve:
      return with_args<1>(ctx, name, argc, argv, [&](const Args1& a) {
        const auto address = hostfn::dns_resolve(a[0], b.policy, b.resolver);
        return address ? new_string(ctx, *address) : JS_NULL;
      });
    case Fn::MyIpAddress:
      return new_string(ctx, hostfn::my_ip_address(b.policy));
    case Fn::DnsDomainLevels:
      return with_args<1>(ctx, name, argc, argv, [&](const Args1& a) {
        return JS_NewInt64(ctx, static_cast<std::int64_t>(hostfn::dns_domain_levels(a[0])));
      });
    case Fn::ShExpMatch:
      return with_args<2>(ctx, name, argc, argv,
                          [&](const Args2& a) { return JS_NewBool(ctx, hostfn::sh_exp_match(a[0], a[1])); });
    case Fn::WeekdayRange:
      return with_rest_args(ctx, name, argc, argv, [&](std::span<const std::string> a) {
        return hostfn::weekday_range(a, b.policy);
      });
    case Fn::DateRange:
      return with_rest_args(ctx, name, argc, argv,
                            [&](std::span<const std::string> a) { return hostfn::date_range(a, b.policy); });
    case Fn::TimeRange:
      return with_rest_args(ctx, name, argc, argv,
                            [&](std::span<const std::string> a) { return hostfn::time_range(a, b.policy); });
    case Fn::Alert:
      return with_args<1>(ctx, name, argc, argv, [&](const Args1& a) {
        hostfn::alert(a[0]);
        return JS_UNDEFINED;
      });
    case Fn::ConvertAddr:
      return with_args<1>(ctx, name, argc, argv, [&](const Args1& a) {
        return JS_NewInt32(ctx, hostfn::convert_addr_number(a[0]));
      });
  }
  return JS_ThrowInternalError(ctx, "no such host function");
}

// The engine's entry into every host function. C++ failures become script exceptions here:
// none may unwind through the engine's C frames.
JSValue host_entry(JSContext* ctx, JSValueConst /*this_val*/, int argc, JSValueConst* argv, int magic,
                   void* opaque) {
  const Fn fn = static_cast<Fn>(magic);
  try {
    return call_host(ctx, fn, argc, argv, *static_cast<const HostBinding*>(opaque));
  } catch (const std::bad_alloc&) {
    return JS_ThrowOutOfMemory(ctx);
  } catch (const std::exception&) {
    return JS_ThrowInternalError(ctx, "%s failed", kFunctions[static_cast<std::size_t>(fn)].name);
  }
}

}  // namespace

std::expected<void, std::string> install_host_functions(JSContext* ctx, JSValueConst global,
                                                        const HostBinding& binding) {
  // The engine only hands the pointer back to host_entry, which reads through it.
  void* opaque = const_cast<HostBinding*>(&binding);
  for (std::size_t i = 0; i < kFunctions.size(); ++i) {
    const HostFn& host_fn = kFunctions[i];
    const JSValue function =
        JS_NewCClosure(ctx, &host_entry, host_fn.name, nullptr, host_fn.arity, static_cast<int>(i), opaque);
    if (JS_IsException(function)) {
      return std::unexpected(std::string("could not create ") + host_fn.name);
    }
    // Takes the function over, on failure too.
    if (JS_DefinePropertyValueStr(ctx, global, host_fn.name, function, JS_PROP_C_W_E) < 0) {
      return std::unexpected(std::string("could not store ") + host_fn.name + " on the global object");
    }
  }
  return {};
}

}  // namespace zelvane::pac
