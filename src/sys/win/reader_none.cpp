// A build without a system reader: reading the system answers Unsupported, and the module
// serves the environment alone.
#include "sys/win/reader.hpp"

namespace zelvane::sys::win {

Result<ProxyConfig> read_windows_config_default() { return std::unexpected(Error(Error::Unsupported{})); }

}  // namespace zelvane::sys::win
