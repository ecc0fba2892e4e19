// What both native engines answer for a setting they put to no resolver.
#include "pac/native.hpp"

namespace zelvane::pac {

model::Error unevaluable(const model::ProxyMode& mode) {
  using model::Error;
  using model::ProxyMode;
  if (const auto* pac = mode.get_if<ProxyMode::Pac>()) return Error::PacFetchRequired{pac->url};
  if (mode.is<ProxyMode::WpadAutoDetect>()) return Error::PacNotSupported{"wpad"};
  if (mode.is<ProxyMode::PacInline>()) return Error::PacNotSupported{"pac-inline"};
  return Error::PacNotSupported{mode.is<ProxyMode::Direct>() ? "direct" : "manual"};
}

}  // namespace zelvane::pac
