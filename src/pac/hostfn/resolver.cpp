#include "pac/hostfn/resolver.hpp"

#include <cstring>
#include <exception>
#include <memory>
#include <string>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace zelvane::pac::hostfn {
namespace {

struct FreeAddrinfo {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};

class SystemResolver final : public Resolver {
 public:
  SystemResolver() {  // NOLINT(modernize-use-equals-default): it starts Winsock on Windows
#ifdef _WIN32
    // Winsock stays started for the life of the process, like the resolver itself.
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
#endif
  }

  std::vector<value::IpAddr> lookup(std::string_view name) noexcept override {
    std::vector<value::IpAddr> out;
    // getaddrinfo reads a C string: a NUL inside would silently resolve the name cut there.
    if (name.empty() || name.find('\0') != std::string_view::npos) return out;
    try {
      const std::string host(name);
      addrinfo hints{};
      hints.ai_family = AF_UNSPEC;
      hints.ai_socktype = SOCK_STREAM;
      addrinfo* raw = nullptr;
      if (getaddrinfo(host.c_str(), "0", &hints, &raw) != 0) return out;
      const std::unique_ptr<addrinfo, FreeAddrinfo> list(raw);
      for (const addrinfo* ai = list.get(); ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_addr == nullptr) continue;
        if (ai->ai_family == AF_INET && ai->ai_addrlen >= sizeof(sockaddr_in)) {
          sockaddr_in sin;
          std::memcpy(&sin, ai->ai_addr, sizeof sin);
          value::Ipv4Addr a;
          std::memcpy(a.octets.data(), &sin.sin_addr, 4);
          out.push_back(value::IpAddr{a});
        } else if (ai->ai_family == AF_INET6 && ai->ai_addrlen >= sizeof(sockaddr_in6)) {
          sockaddr_in6 sin6;
          std::memcpy(&sin6, ai->ai_addr, sizeof sin6);
          value::Ipv6Addr a;
          std::memcpy(a.octets.data(), &sin6.sin6_addr, 16);
          out.push_back(value::IpAddr{a});
        }
      }
    } catch (const std::exception&) {
      // Out of memory: the lookup fails like any other.
      out.clear();
    }
    return out;
  }
};

}  // namespace

Resolver& system_resolver() {
  // Never destroyed: evaluations on pool threads may still be resolving at exit.
  static Resolver* const resolver = new SystemResolver;
  return *resolver;
}

void ScriptedResolver::set(std::string name, std::vector<value::IpAddr> addresses) {
  const util::MutexLock lock(mutex_);
  answers_.insert_or_assign(std::move(name), std::move(addresses));
}

std::vector<value::IpAddr> ScriptedResolver::lookup(std::string_view name) noexcept {
  try {
    const util::MutexLock lock(mutex_);
    asked_.emplace_back(name);
    const auto it = answers_.find(name);
    if (it != answers_.end()) return it->second;
  } catch (const std::exception&) {
    // A failed lookup, like any other.
  }
  return {};
}

std::vector<std::string> ScriptedResolver::asked() const {
  const util::MutexLock lock(mutex_);
  return asked_;
}

}  // namespace zelvane::pac::hostfn
