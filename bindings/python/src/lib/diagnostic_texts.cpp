#include "diagnostic_texts.hpp"

#include <functional>

#include "util/overloaded.hpp"
#include "util/probe_set.hpp"
#include "value/debug.hpp"

namespace zelvane::python {

using namespace model;
using namespace value;

namespace {

// The refused values of one mode, in the order the export and Diagnostics list them.
template <class F>
void each_rejected(const ProxyMode& mode, F&& f) {
  const auto each = [&](const std::vector<RejectedValue>& list) {
    for (const auto& r : list) f(r);
  };
  std::visit(util::Overloaded{
                 [](const ProxyMode::Direct&) {},
                 [&](const ProxyMode::Manual& m) {
                   each(m.rejected);
                   each(m.bypass.rejected);
                 },
                 [&](const ProxyMode::Pac& m) { each(m.rejected); },
                 [&](const ProxyMode::PacInline& m) { each(m.rejected); },
                 [](const ProxyMode::WpadAutoDetect&) {},
             },
             mode.value);
}

}  // namespace

std::string rejected_text(const RejectedValue& value) {
  std::string text(name(value.kind));
  text += " from ";
  debug_fmt(text, value.source);
  text += ": ";
  text += value.redacted_input;
  return text;
}

void each_distinct_rejected(const ProxyConfig& config, const std::function<void(const RejectedValue&)>& f) {
  // A set keeps this linear: a hostile no_proxy can hold millions of refusals.
  struct Hash {
    std::size_t operator()(const RejectedValue* r) const {
      std::size_t h = std::hash<std::string>{}(r->redacted_input);
      h ^= std::hash<std::string>{}(r->source.text) + 0x9e3779b97f4a7c15ull + (h << 6);
      h ^= (static_cast<std::size_t>(r->kind) << 8) ^ (static_cast<std::size_t>(r->source.kind) << 16) ^
           (r->scheme ? static_cast<std::size_t>(*r->scheme) + 1 : 0);
      return h;
    }
  };
  struct Equal {
    bool operator()(const RejectedValue* a, const RejectedValue* b) const { return *a == *b; }
  };
  util::ProbeSet<const RejectedValue*, Hash, Equal> seen(Hash{}, Equal{});
  auto keep = [&](const RejectedValue& r) {
    if (seen.insert(&r)) f(r);
  };
  each_rejected(config.effective, keep);
  for (const auto& s : config.sources) each_rejected(s.mode, keep);
}

std::vector<std::string> collect_rejected(const ProxyConfig& config) {
  std::vector<std::string> texts;
  each_distinct_rejected(config, [&](const RejectedValue& r) { texts.push_back(rejected_text(r)); });
  return texts;
}

std::size_t debug_text_size_hint(const ProxyConfig& config) {
  // Each record's field names and punctuation come to about a hundred bytes beside its texts.
  std::size_t size = 1024;
  const auto add = [&](const ProxyMode& mode) {
    each_rejected(
        mode, [&](const RejectedValue& r) { size += 128 + r.redacted_input.size() + r.source.text.size(); });
    if (const auto* m = mode.get_if<ProxyMode::Manual>()) {
      size += 160 * m->per_scheme.size() + 96 * m->bypass.patterns.size();
    }
  };
  add(config.effective);
  for (const auto& s : config.sources) add(s.mode);
  return size;
}

std::vector<std::string> source_names(const std::vector<SourceEntry>& sources) {
  std::vector<std::string> out;
  out.reserve(sources.size());
  for (const auto& s : sources) out.emplace_back(name(s.kind));
  return out;
}

std::vector<std::string> fallback_names(const std::vector<SourceKind>& fallbacks) {
  std::vector<std::string> out;
  out.reserve(fallbacks.size());
  for (auto k : fallbacks) out.emplace_back(name(k));
  return out;
}

}  // namespace zelvane::python
