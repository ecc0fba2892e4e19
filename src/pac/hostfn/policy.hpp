// The record that governs the PAC host functions and the evaluation that binds them. A plain
// value, copied wherever it goes (into each host function bound with it, into a pooled job).
// The core checks none of its values and invents no defaults: every value of each field's
// type is taken, and the absent ones mean what the comments say.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "value/ip.hpp"
#include "value/time.hpp"

namespace zelvane::pac::hostfn {

struct PacPolicy {
  // Whether the host functions may ask the system resolver; false: no name ever resolves.
  bool resolve_dns = false;
  // Whether resolved addresses in the internal ranges are usable; false: they are skipped.
  bool allow_internal_addresses = false;
  // What myIpAddress answers; none: 127.0.0.1.
  std::optional<value::IpAddr> my_ip_address;
  // Budget of one evaluation; none: evaluate on the caller's thread without a deadline.
  std::optional<value::Duration> timeout;
  // Seconds east of UTC that turn the UTC clock into the script's local time.
  std::int32_t local_utc_offset = 0;
  // A fixed clock for the date and time functions; none: the system's wall clock.
  std::optional<value::WallTime> now;

  // PacPolicy { resolve_dns: false, allow_internal_addresses: false, my_ip_address: None,
  // timeout: Some(5s), local_utc_offset: 0, now: None }
  std::string debug_text() const;

  friend bool operator==(const PacPolicy&, const PacPolicy&) = default;
};

void debug_fmt(std::string& out, const PacPolicy& policy);

}  // namespace zelvane::pac::hostfn
