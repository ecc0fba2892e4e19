// A build without a system reader: reading the system answers Unsupported, and the module
// serves the environment alone.
#include "sys/reader.hpp"

namespace zelvane::sys {

model::Result<model::ProxyConfig> read_system(const ReadOptions&) {
  return std::unexpected(model::Error(model::Error::Unsupported{}));
}

bool has_system_reader() { return false; }

}  // namespace zelvane::sys
