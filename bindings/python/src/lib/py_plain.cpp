#include "py_plain.hpp"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

#include "diagnostic_texts.hpp"
#include "util/overloaded.hpp"

#ifdef __linux__
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace zelvane::python {

using namespace model;
using namespace value;

namespace {

// The export's keys and names as interned str, made once for the process and never released:
// an export then allocates nothing for them and, interned str being immortal in the
// free-threaded build, threads exporting at once share no reference count. Slots are claimed
// by the name's address without a lock; a full table, or a slot whose str is not the name,
// only costs a new str.
class NameCache {
 public:
  PyRef get(std::string_view name) {
    const auto key = reinterpret_cast<std::uintptr_t>(name.data());
    std::size_t i = static_cast<std::size_t>((key >> 3) * 0x9E3779B97F4A7C15ull >> 56);
    for (std::size_t probe = 0; probe < 8; ++probe, i = (i + 1) % kSlots) {
      Slot& slot = slots_[i];
      const char* seen = slot.data.load(std::memory_order_acquire);
      if (seen == nullptr) {
        if (slot.data.compare_exchange_strong(seen, name.data(), std::memory_order_acq_rel))
          seen = name.data();
      }
      if (seen != name.data()) continue;
      if (PyObject* known = slot.object.load(std::memory_order_acquire); known && is(known, name)) {
        return PyRef::borrow(known);
      }
      PyRef made = interned(name);
      if (!made) return made;
      PyObject* expected = nullptr;
      if (slot.object.compare_exchange_strong(expected, made.get(), std::memory_order_acq_rel)) {
        Py_INCREF(made.get());  // the slot's reference, kept for the life of the process
      }
      return made;
    }
    return py_str(name);
  }

 private:
  static constexpr std::size_t kSlots = 256;
  struct Slot {
    std::atomic<const char*> data{nullptr};
    std::atomic<PyObject*> object{nullptr};
  };

  static bool is(PyObject* text, std::string_view name) {
    return PyUnicode_IS_ASCII(text) && static_cast<std::size_t>(PyUnicode_GET_LENGTH(text)) == name.size() &&
           std::memcmp(PyUnicode_DATA(text), name.data(), name.size()) == 0;
  }
  static PyRef interned(std::string_view name) {
    PyObject* text = PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
    if (text == nullptr) return PyRef();
    PyUnicode_InternInPlace(&text);
    return PyRef(text);
  }

  Slot slots_[kSlots];
};

constinit NameCache names;

// One conversion of a tree. The lists of refused texts made so far are remembered (borrowed:
// the tree under construction holds them), so the reading's whole list reuses their str.
class Converter {
 public:
  PyObject* convert(const PlainValue& value) {
    return std::visit(util::Overloaded{
                          [](const std::monostate&) -> PyObject* { Py_RETURN_NONE; },
                          [](const bool& v) -> PyObject* { return PyBool_FromLong(v); },
                          [](const std::int64_t& v) -> PyObject* { return PyLong_FromLongLong(v); },
                          [](const std::string& v) -> PyObject* { return py_str(v).release(); },
                          [](const PlainName& v) -> PyObject* { return names.get(v.text).release(); },
                          [&](const PlainList& v) -> PyObject* {
                            PyRef list(PyList_New(static_cast<Py_ssize_t>(v.size())));
                            if (!list) return nullptr;
                            for (std::size_t i = 0; i < v.size(); ++i) {
                              PyObject* item = convert(v[i]);
                              if (item == nullptr) return nullptr;
                              PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
                            }
                            return list.release();
                          },
                          [&](const PlainDict& v) -> PyObject* {
                            PyRef dict(PyDict_New());
                            if (!dict) return nullptr;
                            for (const auto& [key, item] : v) {
                              PyRef py_item(convert(item));
                              if (!py_item) return nullptr;
                              PyRef py_key = names.get(key);
                              if (!py_key || PyDict_SetItem(dict.get(), py_key.get(), py_item.get()) < 0)
                                return nullptr;
                            }
                            return dict.release();
                          },
                          [&](const PlainRejected& v) -> PyObject* {
                            PyRef list(PyList_New(static_cast<Py_ssize_t>(v.list->size())));
                            if (!list) return nullptr;
                            for (std::size_t i = 0; i < v.list->size(); ++i) {
                              PyRef text = py_str(rejected_text((*v.list)[i]));
                              if (!text) return nullptr;
                              PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), text.release());
                            }
                            made_.emplace_back(v.list, list.get());
                            return list.release();
                          },
                          [&](const PlainAllRejected& v) -> PyObject* {
                            PyRef list(PyList_New(0));
                            if (!list) return nullptr;
                            bool ok = true;
                            each_distinct_rejected(*v.config, [&](const RejectedValue& r) {
                              if (!ok) return;
                              PyRef text = made_text(r);
                              ok = text && PyList_Append(list.get(), text.get()) == 0;
                            });
                            return ok ? list.release() : nullptr;
                          },
                      },
                      value.value);
  }

 private:
  PyRef made_text(const RejectedValue& r) {
    const std::less<const RejectedValue*> before;
    for (const auto& [source, list] : made_) {
      const RejectedValue* first = source->data();
      if (!before(&r, first) && before(&r, first + source->size())) {
        return PyRef::borrow(PyList_GET_ITEM(list, &r - first));
      }
    }
    return py_str(rejected_text(r));
  }

  std::vector<std::pair<const std::vector<RejectedValue>*, PyObject*>> made_;
};

}  // namespace

PyObject* plain_to_py(const PlainValue& value) { return Converter().convert(value); }

std::optional<std::string> repr_str_list(const std::vector<std::string>& texts) {
  PyRef list(plain_to_py(strings_to_values(texts)));
  if (!list) return std::nullopt;
  PyRef repr(PyObject_Repr(list.get()));
  if (!repr) return std::nullopt;
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(repr.get(), &size);
  if (utf8 == nullptr) return std::nullopt;
  return std::string(utf8, static_cast<std::size_t>(size));
}

PyRef py_str_consuming(std::string&& text) {
  const bool ascii =
      std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (!ascii) {
    PyRef str = py_str(text);
    std::string().swap(text);
    return str;
  }
  PyRef str(PyUnicode_New(static_cast<Py_ssize_t>(text.size()), 127));
  if (!str) return str;
  char* to = reinterpret_cast<char*>(PyUnicode_1BYTE_DATA(str.get()));
  // Back to front, a step at a time: the whole pages of a step copied lie above everything
  // still to copy and below the terminator, and hold nothing of the allocator's own.
  constexpr std::size_t kStep = std::size_t{1} << 20;
  const auto from = reinterpret_cast<std::uintptr_t>(text.data());
#ifdef __linux__
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
#endif
  for (std::size_t end = text.size(); end > 0;) {
    const std::size_t begin = end > kStep ? end - kStep : 0;
    std::memcpy(to + begin, text.data() + begin, end - begin);
#ifdef __linux__
    const std::uintptr_t low = (from + begin + page - 1) / page * page, high = (from + end) / page * page;
    if (high > low) madvise(reinterpret_cast<void*>(low), high - low, MADV_DONTNEED);
#else
    (void)from;
#endif
    end = begin;
  }
  std::string().swap(text);
  return str;
}

}  // namespace zelvane::python
