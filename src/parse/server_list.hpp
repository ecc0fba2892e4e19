// The Windows proxy server list, the no_proxy list, PAC answers and the candidate list.
#pragma once

#include <string_view>
#include <unordered_set>
#include <vector>

#include "config.hpp"
#include "error.hpp"

namespace zelvane::parse {

struct ProxyServerList {
  PerScheme per_scheme;  // Use and Disabled entries only
  std::vector<RejectedValue> rejected;
};
ProxyServerList parse_proxy_server(std::string_view text);
// Direct, or Manual with the bypass list read in the Windows style.
ProxyMode parse_proxy_settings(std::string_view server_text, std::string_view bypass_text);
BypassRules parse_no_proxy(std::string_view text);
// 1 to 64 steps, or PacInvalidResult.
Result<std::vector<RouteStep>> parse_pac_result(std::string_view text);

// Route steps in the order first pushed, without duplicates, at most 64.
class CandidateList {
 public:
  static constexpr std::size_t kLimit = 64;
  CandidateList();
  void push(RouteStep step);
  std::size_t size() const { return steps_.size(); }
  // The steps, or none when there is none.
  std::optional<std::vector<RouteStep>> finish() &&;

 private:
  struct KeyedHash {
    std::size_t key;
    std::size_t operator()(const RouteStep& s) const;
  };
  std::vector<RouteStep> steps_;
  std::unordered_set<RouteStep, KeyedHash> seen_;
};

}  // namespace zelvane::parse
