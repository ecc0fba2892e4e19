#include "pac_policy.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "py_args.hpp"
#include "py_entry.hpp"
#include "py_type.hpp"
#include "value/debug.hpp"
#include "value/ip.hpp"

namespace zelvane::python {
namespace {

using pac::hostfn::PacPolicy;
using PolicyClass = HeapType<PacPolicy>;

constexpr value::Duration kDefaultTimeout{5, 0};

// The shortest decimal text that reads back as the value: -1, -0, 2.5, inf, NaN.
std::string shortest(double v) {
  if (std::isnan(v)) return "NaN";
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, end);
}

// ceil(seconds x 1000), at least 1 and at most 2^64 - 1; seconds is positive and finite.
std::uint64_t timeout_millis(double seconds) {
  const double ms = std::ceil(seconds * 1000.0);
  // 2^64 itself is the first double the integer cannot hold.
  if (!(ms < 18446744073709551616.0)) return std::numeric_limits<std::uint64_t>::max();
  const auto whole = static_cast<std::uint64_t>(ms);
  return whole == 0 ? 1 : whole;
}

BindingError bad_value(std::string message) { return {std::move(message), kErrInvalidArgValue}; }

// A bool, or NumPy's boolean scalar through its truth value; nothing else (1 is no bool).
bool is_boolean(PyObject* o) {
  if (PyBool_Check(o)) return true;
  const char* name = Py_TYPE(o)->tp_name;
  return std::string_view(name) == "numpy.bool" || std::string_view(name) == "numpy.bool_";
}

// The converters of the keywords, in their order; None counts as left out, as leaving a
// keyword out does.

bool bool_or_none(PyObject* given, std::optional<bool>& out, const char* name) {
  if (given == Py_None) return true;
  if (!is_boolean(given)) return wrong_type(name, "bool or None", given);
  const int truth = PyObject_IsTrue(given);
  if (truth < 0) return false;
  out = truth != 0;
  return true;
}

bool offset_or_none(PyObject* given, std::optional<std::int32_t>& out, const char* name) {
  if (given == Py_None) return true;
  if (PyFloat_Check(given)) return wrong_type(name, "int or None", given);
  // Taken as 64 bits on every system (long has 32 on Windows), then held to the 32-bit
  // range with the interpreter's own error, so both systems refuse the same values alike.
  const long long v = PyLong_AsLongLong(given);
  if (v == -1 && PyErr_Occurred()) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
    PyErr_Clear();
    return wrong_type(name, "int or None", given);
  }
  if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max()) {
    PyErr_SetString(PyExc_OverflowError, "Python int too large to convert to C int");
    return false;
  }
  out = static_cast<std::int32_t>(v);
  return true;
}

bool seconds_or_none(PyObject* given, std::optional<double>& out, const char* name) {
  if (given == Py_None) return true;
  const double v = PyFloat_AsDouble(given);
  if (v == -1.0 && PyErr_Occurred()) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
    PyErr_Clear();
    return wrong_type(name, "float or None", given);
  }
  out = v;
  return true;
}

using PolicyParam = Param<PolicyArgs>;
constexpr Signature kPolicySignature{
    "PacPolicy",
    {
        PolicyParam::of<&PolicyArgs::my_ip_address, lossy_text_or_none>("my_ip_address", Pass::Name),
        PolicyParam::of<&PolicyArgs::resolve_dns, bool_or_none>("resolve_dns", Pass::Name),
        PolicyParam::of<&PolicyArgs::allow_internal_addresses, bool_or_none>("allow_internal_addresses",
                                                                             Pass::Name),
        PolicyParam::of<&PolicyArgs::utc_offset_seconds, offset_or_none>("utc_offset_seconds", Pass::Name),
        PolicyParam::of<&PolicyArgs::timeout, seconds_or_none>("timeout", Pass::Name),
    }};

PyObject* policy_new(PyTypeObject*, PyObject* args, PyObject* kwargs);
PyObject* policy_richcompare(PyObject* a, PyObject* b, int op);

PyObject* policy_repr(PyObject* self) {
  return guarded([&] {
    std::string text = "<";
    pac::hostfn::debug_fmt(text, PolicyClass::of(self));
    text += '>';
    return py_str(text).release();
  });
}

// The interpreter tells an unhashable class by this very function's address, so it is taken
// at run time: in a constant initializer the Windows build would get the address of the DLL
// import's thunk instead, and the class would look hashable (its `__hash__` not None).
[[gnu::noinline]] void* hash_not_implemented() {
  return reinterpret_cast<void*>(PyObject_HashNotImplemented);
}

PyType_Slot policy_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(policy_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(PolicyClass::dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(policy_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(policy_richcompare)},
    // Equality without a hash: instances are unhashable.
    {Py_tp_hash, hash_not_implemented()},
    {Py_tp_doc,
     const_cast<char*>("PacPolicy(*, my_ip_address=None, resolve_dns=None, allow_internal_addresses=None, "
                       "utc_offset_seconds=None, timeout=None)\n--\n\n"
                       "What QuickJS runs a script under; each argument left out keeps its default.")},
    {0, nullptr},
};

PyType_Spec policy_spec = {
    "zelvane.PacPolicy", PolicyClass::basic_size, 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    policy_slots,
};

constinit PolicyClass policy_class{policy_spec};

PyObject* policy_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> std::expected<PyObject*, BindingError> {
    PolicyArgs raw;
    if (!bind<kPolicySignature>(args, kwargs, raw)) return nullptr;
    auto policy = build_policy(raw);
    if (!policy) return std::unexpected(std::move(policy.error()));
    return policy_class.create(std::move(*policy));
  });
}

PyObject* policy_richcompare(PyObject* a, PyObject* b, int op) {
  const PacPolicy* x = policy_of(a);
  const PacPolicy* y = policy_of(b);
  if (x == nullptr || y == nullptr || (op != Py_EQ && op != Py_NE)) Py_RETURN_NOTIMPLEMENTED;
  const bool equal = *x == *y;
  return PyBool_FromLong(op == Py_EQ ? equal : !equal);
}

}  // namespace

pac::hostfn::PacPolicy default_policy() {
  PacPolicy policy;
  policy.timeout = kDefaultTimeout;
  return policy;
}

std::expected<pac::hostfn::PacPolicy, BindingError> build_policy(const PolicyArgs& args) {
  std::optional<std::uint64_t> millis;
  if (args.timeout) {
    const double t = *args.timeout;
    if (!(t > 0.0) || !std::isfinite(t)) {
      return std::unexpected(bad_value("timeout " + shortest(t) + " is not a positive number of seconds"));
    }
    millis = timeout_millis(t);
  }
  PacPolicy policy = default_policy();
  if (args.my_ip_address) {
    auto address = value::parse_ip_standard(*args.my_ip_address);
    if (!address) {
      return std::unexpected(bad_value("my IP address " + quoted_address_argument(*args.my_ip_address) +
                                       " is not an IP address"));
    }
    policy.my_ip_address = *address;
  }
  if (args.utc_offset_seconds) {
    const std::int32_t offset = *args.utc_offset_seconds;
    if (offset < -86399 || offset > 86399) {
      return std::unexpected(
          bad_value("a UTC offset of " + std::to_string(offset) + " s is not within a day"));
    }
    policy.local_utc_offset = offset;
  }
  if (millis) {
    if (*millis < 1 || *millis > kMaxPolicyTimeoutMs) {
      return std::unexpected(bad_value("a timeout of " + std::to_string(*millis) +
                                       " ms is not between 1 ms and " + std::to_string(kMaxPolicyTimeoutMs) +
                                       " ms"));
    }
    policy.timeout = value::Duration::from_millis(*millis);
  }
  if (args.resolve_dns) policy.resolve_dns = *args.resolve_dns;
  if (args.allow_internal_addresses) policy.allow_internal_addresses = *args.allow_internal_addresses;
  policy.now = std::nullopt;
  return policy;
}

PyTypeObject* pac_policy_type() { return policy_class.type(); }

bool policy_or_none(PyObject* given, const pac::hostfn::PacPolicy*& out, const char* name) {
  if (given == Py_None) return true;
  out = policy_of(given);
  return out != nullptr || wrong_type(name, "PacPolicy or None", given);
}

const pac::hostfn::PacPolicy* policy_of(PyObject* object) {
  PyTypeObject* type = policy_class.type();
  if (type == nullptr) {
    PyErr_Clear();
    return nullptr;
  }
  if (!PyObject_TypeCheck(object, type)) return nullptr;
  return &PolicyClass::of(object);
}

}  // namespace zelvane::python
