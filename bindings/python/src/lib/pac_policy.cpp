#include "pac_policy.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

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

// Converts one keyword into the slot; false with the Python error set.
bool take_bool(PyObject* o, const char* name, std::optional<bool>& out) {
  if (o == nullptr || o == Py_None) return true;
  if (!is_boolean(o)) {
    PyErr_Format(PyExc_TypeError, "argument '%s' must be bool or None, not %s", name, Py_TYPE(o)->tp_name);
    return false;
  }
  const int truth = PyObject_IsTrue(o);
  if (truth < 0) return false;
  out = truth != 0;
  return true;
}

std::optional<PolicyArgs> take_policy_args(PyObject* ip, PyObject* dns, PyObject* internal, PyObject* offset,
                                           PyObject* timeout) {
  PolicyArgs args;
  if (ip != nullptr && ip != Py_None) {
    if (!PyUnicode_Check(ip)) {
      PyErr_Format(PyExc_TypeError, "argument 'my_ip_address' must be str or None, not %s",
                   Py_TYPE(ip)->tp_name);
      return std::nullopt;
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(ip, &size);
    if (utf8 == nullptr) {
      // A lone surrogate is no address: shown with U+FFFD in the message that refuses it.
      PyErr_Clear();
      PyRef bytes(PyUnicode_AsEncodedString(ip, "utf-8", "replace"));
      if (!bytes) return std::nullopt;
      args.my_ip_address = std::string(PyBytes_AS_STRING(bytes.get()),
                                       static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
    } else {
      args.my_ip_address = std::string(utf8, static_cast<std::size_t>(size));
    }
  }
  if (!take_bool(dns, "resolve_dns", args.resolve_dns)) return std::nullopt;
  if (!take_bool(internal, "allow_internal_addresses", args.allow_internal_addresses)) {
    return std::nullopt;
  }
  if (offset != nullptr && offset != Py_None) {
    if (PyFloat_Check(offset)) {
      PyErr_Format(PyExc_TypeError, "argument 'utc_offset_seconds' must be int or None, not %s",
                   Py_TYPE(offset)->tp_name);
      return std::nullopt;
    }
    // Taken as 64 bits on every system (long has 32 on Windows), then held to the 32-bit
    // range with the interpreter's own error, so both systems refuse the same values alike.
    const long long v = PyLong_AsLongLong(offset);
    if (v == -1 && PyErr_Occurred()) {
      if (PyErr_ExceptionMatches(PyExc_TypeError)) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "argument 'utc_offset_seconds' must be int or None, not %s",
                     Py_TYPE(offset)->tp_name);
      }
      return std::nullopt;
    }
    if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max()) {
      PyErr_SetString(PyExc_OverflowError, "Python int too large to convert to C int");
      return std::nullopt;
    }
    args.utc_offset_seconds = static_cast<std::int32_t>(v);
  }
  if (timeout != nullptr && timeout != Py_None) {
    const double v = PyFloat_AsDouble(timeout);
    if (v == -1.0 && PyErr_Occurred()) {
      if (PyErr_ExceptionMatches(PyExc_TypeError)) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "argument 'timeout' must be float or None, not %s",
                     Py_TYPE(timeout)->tp_name);
      }
      return std::nullopt;
    }
    args.timeout = v;
  }
  return args;
}

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
    static const char* keywords[] = {"my_ip_address",      "resolve_dns", "allow_internal_addresses",
                                     "utc_offset_seconds", "timeout",     nullptr};
    PyObject* slots[5] = {nullptr, nullptr, nullptr, nullptr, nullptr};
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|$OOOOO:PacPolicy", const_cast<char**>(keywords),
                                     &slots[0], &slots[1], &slots[2], &slots[3], &slots[4])) {
      return nullptr;
    }
    auto raw = take_policy_args(slots[0], slots[1], slots[2], slots[3], slots[4]);
    if (!raw) return nullptr;
    auto policy = build_policy(*raw);
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
