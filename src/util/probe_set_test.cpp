#include "util/probe_set.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

namespace zelvane::util {
namespace {

// Handles are positions plus one in `texts`; equal texts are one entry.
struct TextHash {
  const std::vector<std::string>* texts;
  std::size_t (*hash)(const std::string&);
  std::size_t operator()(std::size_t h) const { return hash((*texts)[h - 1]); }
};
struct TextEqual {
  const std::vector<std::string>* texts;
  bool operator()(std::size_t a, std::size_t b) const { return (*texts)[a - 1] == (*texts)[b - 1]; }
};

// Which positions insert() admits, for texts from a list of ids: each id's first position.
std::vector<bool> admitted(const std::vector<int>& ids, std::size_t (*hash)(const std::string&)) {
  std::vector<std::string> texts;
  texts.reserve(ids.size());
  for (int id : ids) texts.push_back("t" + std::to_string(id));
  ProbeSet<std::size_t, TextHash, TextEqual> set(TextHash{&texts, hash}, TextEqual{&texts});
  std::vector<bool> out;
  out.reserve(texts.size());
  for (std::size_t i = 0; i < texts.size(); ++i) out.push_back(set.insert(i + 1));
  return out;
}

std::vector<bool> first_of_each(const std::vector<int>& ids) {
  std::vector<bool> out;
  out.reserve(ids.size());
  for (std::size_t i = 0; i < ids.size(); ++i) {
    bool first = true;
    for (std::size_t j = 0; j < i; ++j) first = first && ids[j] != ids[i];
    out.push_back(first);
  }
  return out;
}

TEST(ProbeSet, AdmitsEachValueOnceThroughGrowthAndCollisions) {
  std::vector<int> many(3000);  // past several doublings, some ids twice, far from the first
  std::iota(many.begin(), many.end(), 0);
  for (int i = 2999; i >= 0; i -= 7) many.push_back(i);
  const std::vector<std::vector<int>> lists = {{}, {1}, {1, 1}, {1, 2, 1, 3, 2}, many};
  std::size_t (*const spread)(const std::string&) = [](const std::string& s) {
    return std::hash<std::string>{}(s);
  };
  // One bucket for everything: every insert probes, and wraps round the end of the table.
  std::size_t (*const one)(const std::string&) = [](const std::string&) -> std::size_t { return 15; };
  for (const auto& ids : lists) {
    EXPECT_EQ(admitted(ids, spread), first_of_each(ids)) << ids.size();
    if (ids.size() < 1000) {
      EXPECT_EQ(admitted(ids, one), first_of_each(ids)) << ids.size();
    }
  }
}

TEST(ProbeSet, ClearForgetsWhatWasSeen) {
  std::vector<std::string> texts = {"a", "b", "a"};
  const auto hash = [](const std::string& s) { return std::hash<std::string>{}(s); };
  ProbeSet<std::size_t, TextHash, TextEqual> set(TextHash{&texts, hash}, TextEqual{&texts});
  EXPECT_TRUE(set.insert(1));
  EXPECT_TRUE(set.insert(2));
  set.clear();
  EXPECT_TRUE(set.insert(3));
  EXPECT_FALSE(set.insert(1));
}

}  // namespace
}  // namespace zelvane::util
