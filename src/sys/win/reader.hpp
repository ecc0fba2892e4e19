// Reading the Windows proxy configuration into a ProxyConfig with its sources and fallbacks.
#pragma once

#include "config.hpp"
#include "error.hpp"

namespace zelvane::sys::win {

// The entry of read(): group policy on. Answers Unsupported where there is no system reader.
Result<ProxyConfig> read_windows_config_default();

}  // namespace zelvane::sys::win
