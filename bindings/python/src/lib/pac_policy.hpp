// PacPolicy: the terms QuickJS runs a caller's script under, checked once when it is made.
#pragma once

#include "py.hpp"

#include <cstdint>
#include <expected>
#include <optional>
#include <string>

#include "pac/hostfn/policy.hpp"
#include "py_errors.hpp"

namespace zelvane::python {

// The converted keywords of a PacPolicy, each none when left out.
struct PolicyArgs {
  std::optional<std::string> my_ip_address;
  std::optional<bool> resolve_dns;
  std::optional<bool> allow_internal_addresses;
  std::optional<std::int32_t> utc_offset_seconds;
  std::optional<double> timeout;
};

inline constexpr std::uint64_t kMaxPolicyTimeoutMs = 60'000;

// The record of the arguments: the timeout's sign first, then the address, the offset and the
// timeout's range; the defaults fill in what was left out.
std::expected<pac::hostfn::PacPolicy, BindingError> build_policy(const PolicyArgs& args);

// What PacPolicy() without arguments holds.
pac::hostfn::PacPolicy default_policy();

PyTypeObject* pac_policy_type();
// The record of a PacPolicy instance; null when the object is not one.
const pac::hostfn::PacPolicy* policy_of(PyObject* object);
// The converter of a `policy` argument (py_args.hpp): None leaves `out` null.
bool policy_or_none(PyObject* given, const pac::hostfn::PacPolicy*& out, const char* name);

}  // namespace zelvane::python
