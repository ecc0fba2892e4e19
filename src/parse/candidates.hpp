// The candidate list of a route: steps in the order first pushed, without duplicates.
#pragma once

#include <cstddef>
#include <optional>
#include <unordered_set>
#include <vector>

#include "model/route_step.hpp"

namespace zelvane::parse {

// The parsers read text into the model's terms.
using namespace model;
using namespace value;

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
