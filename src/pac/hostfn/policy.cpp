#include "pac/hostfn/policy.hpp"

#include "value/debug.hpp"

namespace zelvane::pac::hostfn {

void debug_fmt(std::string& out, const PacPolicy& policy) {
  value::RecordBuilder(out, "PacPolicy")
      .field("resolve_dns", policy.resolve_dns)
      .field("allow_internal_addresses", policy.allow_internal_addresses)
      .field("my_ip_address", policy.my_ip_address)
      .field("timeout", policy.timeout)
      .field("local_utc_offset", policy.local_utc_offset)
      .field("now", policy.now)
      .finish();
}

std::string PacPolicy::debug_text() const {
  std::string out;
  debug_fmt(out, *this);
  return out;
}

}  // namespace zelvane::pac::hostfn
