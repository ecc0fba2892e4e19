// A proxy setting: direct, manual (a proxy per scheme slot, with bypass rules), a PAC script
// by URL or inline, or WPAD discovery; each with the values refused while reading it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "model/bypass_rules.hpp"
#include "model/endpoint.hpp"
#include "model/rejected.hpp"
#include "value/url.hpp"

namespace zelvane::model {

using value::Url;

struct SchemeEntry {
  struct Use {
    ProxyEndpoint endpoint;
    friend bool operator==(const Use&, const Use&) = default;
  };
  struct Disabled {
    friend bool operator==(const Disabled&, const Disabled&) = default;
  };
  struct Unusable {
    RejectedValue rejected;
    friend bool operator==(const Unusable&, const Unusable&) = default;
  };

  std::variant<Use, Disabled, Unusable> value;
  friend bool operator==(const SchemeEntry&, const SchemeEntry&) = default;
};

// Keyed by slot, so equality and debug text never depend on the order entries were added in.
using PerScheme = std::map<SchemeSlot, SchemeEntry>;

struct ProxyMode {
  struct Direct {
    friend bool operator==(const Direct&, const Direct&) = default;
  };
  struct Manual {
    PerScheme per_scheme;
    BypassRules bypass;
    std::vector<RejectedValue> rejected;
    friend bool operator==(const Manual&, const Manual&) = default;
  };
  struct Pac {
    Url url;
    std::vector<RejectedValue> rejected;
    friend bool operator==(const Pac&, const Pac&) = default;
  };
  struct PacInline {
    std::string script;
    std::vector<RejectedValue> rejected;
    friend bool operator==(const PacInline&, const PacInline&) = default;
  };
  struct WpadAutoDetect {
    friend bool operator==(const WpadAutoDetect&, const WpadAutoDetect&) = default;
  };

  std::variant<Direct, Manual, Pac, PacInline, WpadAutoDetect> value;

  template <class T>
  bool is() const {
    return std::holds_alternative<T>(value);
  }
  template <class T>
  const T* get_if() const {
    return std::get_if<T>(&value);
  }

  // Enters each refused value that names an empty slot as that slot's Unusable entry (the
  // first one wins) and makes the list the mode's rejected list; Direct and WpadAutoDetect
  // drop the list.
  ProxyMode attach_rejected(std::vector<RejectedValue> list) &&;
  friend bool operator==(const ProxyMode&, const ProxyMode&) = default;
};

// The 64-bit FNV-1a hash that stands for an inline script in debug text.
std::uint64_t fnv1a64(std::string_view bytes);

void debug_fmt(std::string& out, const SchemeEntry& entry);
void debug_fmt(std::string& out, const ProxyMode& mode);

}  // namespace zelvane::model
