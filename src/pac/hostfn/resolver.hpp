// The name resolver behind dnsResolve, isResolvable and isInNet, as a seam: the system's
// resolver in production, a scripted one in tests.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "util/locks.hpp"
#include "value/ip.hpp"

namespace zelvane::pac::hostfn {

class Resolver {
 public:
  virtual ~Resolver() = default;
  // Every address of one lookup, in the order the resolver gave them; empty when the lookup
  // fails for any reason. Blocks for as long as the resolver takes. May be
  // called from several threads at once.
  virtual std::vector<value::IpAddr> lookup(std::string_view name) noexcept = 0;
};

// getaddrinfo (port 0, any family, stream sockets). A name holding a NUL character fails
// without a lookup: the C call would silently resolve the truncated name. Process-wide and
// never destroyed.
Resolver& system_resolver();

// Answers from a table; a name without an entry fails. Records every name asked, so tests
// can show that no lookup happened.
class ScriptedResolver final : public Resolver {
 public:
  ScriptedResolver() = default;
  explicit ScriptedResolver(std::map<std::string, std::vector<value::IpAddr>, std::less<>> answers)
      : answers_(std::move(answers)) {}

  void set(std::string name, std::vector<value::IpAddr> addresses) EXCLUDES(mutex_);
  std::vector<value::IpAddr> lookup(std::string_view name) noexcept override EXCLUDES(mutex_);
  std::vector<std::string> asked() const EXCLUDES(mutex_);

 private:
  mutable util::Mutex mutex_;
  std::map<std::string, std::vector<value::IpAddr>, std::less<>> answers_ GUARDED_BY(mutex_);
  std::vector<std::string> asked_ GUARDED_BY(mutex_);
};

}  // namespace zelvane::pac::hostfn
