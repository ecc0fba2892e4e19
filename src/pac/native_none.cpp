// A build without Windows: no native engine. What it would have asked WinHTTP is refused the
// way the road without a script refuses it, so that pac::resolve shows an unevaluated route.
#include "pac/native.hpp"

namespace zelvane::pac {

bool native_engine_present() { return false; }

model::Result<std::vector<model::RouteStep>> route_native(const model::ProxyConfig& config, const value::Url&,
                                                          bool) {
  return std::unexpected(unevaluable(config.effective));
}

}  // namespace zelvane::pac
