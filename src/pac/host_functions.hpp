// The fourteen PAC host functions as native functions of one QuickJS-ng context: the script's
// arguments converted to text (the language's ToString, in order, nothing beyond each
// function's arity), the C++ bodies of pac/hostfn called, their results handed back as
// script values.
#pragma once

#include <expected>
#include <string>

#include "pac/hostfn/policy.hpp"
#include "pac/hostfn/resolver.hpp"
#include "quickjs.h"

namespace zelvane::pac {

// What the functions of one evaluation read. It must outlive the runtime they are bound in.
struct HostBinding {
  const hostfn::PacPolicy& policy;
  hostfn::Resolver& resolver;
};

// Stores the fourteen functions on `global` as ordinary properties, in their fixed order.
// Stops at the first failure and describes it; a pending exception is left to the caller.
std::expected<void, std::string> install_host_functions(JSContext* ctx, JSValueConst global,
                                                        const HostBinding& binding);

}  // namespace zelvane::pac
