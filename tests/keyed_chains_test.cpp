// The site index's compact key-to-chain map, KeyedChains.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "engine/keyed_chains.h"

namespace quibex {
namespace {

std::vector<int> items(const KeyedChains<const int>& map,
                       std::string_view key) {
  std::vector<int> out;
  const uint32_t chain = map.find(key);
  if (chain == KeyedChains<const int>::kNoEntry) return out;
  for (const int* item : map.chain(chain)) out.push_back(*item);
  return out;
}

TEST(KeyedChainsTest, ChainsKeepInsertionOrderAcrossGrowth) {
  std::deque<std::string> keys;  // stable storage for the key views
  std::deque<int> values;
  KeyedChains<const int> map;
  for (int i = 0; i < 5000; ++i) {
    keys.push_back("k" + std::to_string(i % 1000));
    values.push_back(i);
    map.append(keys.back(), &values.back());
  }
  EXPECT_EQ(map.keyCount(), 1000u);
  EXPECT_EQ(map.itemCount(), 5000u);
  EXPECT_EQ(items(map, "k7"), (std::vector<int>{7, 1007, 2007, 3007, 4007}));
  EXPECT_TRUE(items(map, "k1000").empty());
  EXPECT_TRUE(items(map, "").empty());
}

TEST(KeyedChainsTest, EmptyKeyAndClear) {
  const int one = 1;
  const int two = 2;
  KeyedChains<const int> map;
  EXPECT_EQ(map.find("x"), KeyedChains<const int>::kNoEntry);
  map.append("", &one);
  map.append("", &two);
  EXPECT_EQ(items(map, ""), (std::vector<int>{1, 2}));
  map.clear();
  EXPECT_EQ(map.keyCount(), 0u);
  EXPECT_TRUE(items(map, "").empty());
  map.append("a", &two);
  EXPECT_EQ(items(map, "a"), (std::vector<int>{2}));
}

}  // namespace
}  // namespace quibex
