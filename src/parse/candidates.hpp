// The candidate list of a route: steps in the order first pushed, without duplicates.
#pragma once

#include <cstddef>
#include <optional>
#include <unordered_set>
#include <vector>

#include "model/route_step.hpp"

namespace zelvane::parse {

// Route steps in the order first pushed, without duplicates, at most 64.
class CandidateList {
 public:
  static constexpr std::size_t kLimit = 64;
  CandidateList();
  void push(model::RouteStep step);
  std::size_t size() const { return steps_.size(); }
  // The steps, or none when there is none.
  std::optional<std::vector<model::RouteStep>> finish() &&;

 private:
  struct KeyedHash {
    std::size_t key;
    std::size_t operator()(const model::RouteStep& s) const;
  };
  std::vector<model::RouteStep> steps_;
  std::unordered_set<model::RouteStep, KeyedHash> seen_;
};

}  // namespace zelvane::parse
