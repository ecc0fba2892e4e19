// Reading the system's proxy configuration: the one entry every build has. The Windows build
// reads group policy, the current user's settings and WinHTTP's default (src/sys/win); a build
// without a system reader answers Unsupported (src/sys/none).
#pragma once

#include "model/config.hpp"
#include "model/error.hpp"

namespace zelvane::sys {

struct ReadOptions {
  // Read the machine's group-policy Internet Settings key.
  bool group_policy = true;
};

model::Result<model::ProxyConfig> read_system(const ReadOptions& options = {});

// Whether read_system asks the system at all (and may so wait on it), rather than answering
// Unsupported at once.
bool has_system_reader();

}  // namespace zelvane::sys
