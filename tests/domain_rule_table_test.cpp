// The request rules' shared domain table, DomainRuleTable.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/domain_rule_table.h"
#include "filters/request_filter.h"
#include "filters/rule_arena.h"

namespace quibex {
namespace {

// The table against a model (key -> its (lane, id) pairs in filing order):
// keys gaining rules of several lanes turn into groups, the slot table
// grows many times, then is resized in compact(); clear() empties it for
// the next round. The rounds file by insert(), by staging into the empty
// table, and by insert() and then staging into a table that holds keys;
// the staging rounds mix in rules long enough for a chunk of their own,
// whose arena references run against the filing order.
TEST(DomainRuleTableTest, MatchesAModelThroughGrowthCompactAndClear) {
  RuleArena arena;
  std::vector<const RequestFilter*> rules;  // rule id -> rule, for the model
  DomainRuleTable table(&arena);
  std::mt19937 random(7);
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    std::map<std::string, std::vector<std::pair<uint32_t, uint32_t>>> model;
    for (int i = 0; i < 4000; ++i) {
      // Every fifth key is drawn from a small pool, so that it repeats.
      const int pick = static_cast<int>(random() % 5000);
      const std::string key =
          "k" + std::to_string(pick % 5 == 0 ? pick % 40 : pick) + ".test";
      const uint32_t lane = static_cast<uint32_t>(random() % 5);
      // Rules without options: nothing to destroy before the arena goes.
      const bool staged = round == 1 || (round == 2 && i >= 2000);
      // Some rules have a path after their key, so that chains keep peeks.
      const std::string tail = staged && i % 300 == 0
                                   ? "/" + std::string(20000, 'x')
                               : i % 3 == 1 ? "/a" + std::to_string(i % 4)
                                            : "";
      rules.push_back(parseRequestFilter("||" + key + tail + "^", arena));
      const uint32_t id = static_cast<uint32_t>(rules.size() - 1);
      ASSERT_EQ(rules[id]->domainKeyView(), key);
      if (staged) {
        table.stage(hashKey(key), lane, rules[id]);
      } else {
        table.insert(rules[id]->domainKeyView(), hashKey(key), lane, rules[id]);
      }
      model[key].emplace_back(lane, id);
    }
    EXPECT_EQ(table.fileStaged(), 0u);
    EXPECT_EQ(table.stagedCount(), 0u);
    const auto check = [&](const char* when) {
      SCOPED_TRACE(when);
      size_t laneKeys[5] = {};
      size_t laneRules[5] = {};
      for (const auto& [key, filed] : model) {
        const uint32_t ref = table.find(key, hashKey(key));
        ASSERT_NE(ref, DomainRuleTable::kNoEntry) << key;
        EXPECT_EQ(table.keyOf(ref), key);
        for (uint32_t lane = 0; lane < 5; ++lane) {
          std::vector<uint32_t> want;
          for (const auto& [l, id] : filed) {
            if (l == lane) want.push_back(id);
          }
          std::vector<uint32_t> got;
          for (const RequestFilter* rule : table.chain(ref, lane)) {
            got.push_back(static_cast<uint32_t>(
                std::find(rules.begin(), rules.end(), rule) - rules.begin()));
          }
          EXPECT_EQ(got, want) << key << " lane " << lane;
          // The walk visits the same rules, each with its peek where the
          // chain keeps one, and stops at the rule its test accepts.
          std::vector<uint32_t> walked;
          const RequestFilter* none = nullptr;
          if (!want.empty()) {
            none = table.findInLane(ref, lane, [&](uint16_t peek, auto ruleOf) {
              const RequestFilter* rule = ruleOf();
              EXPECT_TRUE(peek == 0 || peek == rule->peekAfterKey());
              walked.push_back(static_cast<uint32_t>(
                  std::find(rules.begin(), rules.end(), rule) - rules.begin()));
              return false;
            });
            const RequestFilter* last = rules[want.back()];
            EXPECT_EQ(table.findInLane(ref, lane,
                                       [last](uint16_t, auto ruleOf) {
                                         return ruleOf() == last;
                                       }),
                      last);
          }
          EXPECT_EQ(none, nullptr);
          EXPECT_EQ(walked, want) << key << " lane " << lane;
          EXPECT_EQ((table.lanesOf(ref) >> lane & 1) != 0, !want.empty());
          laneKeys[lane] += want.empty() ? 0 : 1;
          laneRules[lane] += want.size();
        }
      }
      for (uint32_t lane = 0; lane < 5; ++lane) {
        EXPECT_EQ(table.keyCount(lane), laneKeys[lane]);
        EXPECT_EQ(table.ruleCount(lane), laneRules[lane]);
      }
      EXPECT_EQ(table.keyCount(), model.size());
      EXPECT_EQ(table.find("absent.test", hashKey("absent.test")),
                DomainRuleTable::kNoEntry);
    };
    check("filled");
    const size_t slots = table.probeLengths().slots;
    table.compact();
    EXPECT_LE(table.probeLengths().slots, slots);
    check("compacted");
    table.clear();
    EXPECT_EQ(table.keyCount(), 0u);
    EXPECT_EQ(table.find("k1.test", hashKey("k1.test")),
              DomainRuleTable::kNoEntry);
    rules.clear();
    arena.release();
  }
}

// Two keys whose hashes agree in every bit a slot keeps share a home slot;
// only the key bytes tell them apart, whether the other is absent, beside
// it, or moved by a rebuild. The pair is found by brute force against the
// real hash (a birthday search over 2^27 tags takes some ten thousand
// keys).
TEST(DomainRuleTableTest, KeysWithEqualTagsStayApart) {
  std::unordered_map<uint32_t, std::string> byTag;
  std::string first;
  std::string second;
  for (uint32_t i = 0; second.empty() && i < (1u << 20); ++i) {
    std::string key = "c" + std::to_string(i) + ".test";
    auto [at, added] = byTag.emplace(DomainRuleTable::tagOf(hashKey(key)), key);
    if (!added) {
      first = at->second;
      second = std::move(key);
    }
  }
  ASSERT_FALSE(second.empty());
  ASSERT_EQ(DomainRuleTable::tagOf(hashKey(first)),
            DomainRuleTable::tagOf(hashKey(second)));

  RuleArena arena;
  DomainRuleTable table(&arena);
  const auto file = [&](const std::string& key, uint32_t lane) {
    const RequestFilter* rule = parseRequestFilter("||" + key + "^", arena);
    table.insert(rule->domainKeyView(), hashKey(key), lane, rule);
    return rule;
  };
  const auto rulesOf = [&](const std::string& key, uint32_t lane) {
    std::vector<const RequestFilter*> rules;
    const uint32_t entry = table.find(key, hashKey(key));
    for (const RequestFilter* rule : table.chain(entry, lane)) {
      rules.push_back(rule);
    }
    return rules;
  };
  const RequestFilter* a0 = file(first, 0);
  EXPECT_EQ(table.find(second, hashKey(second)), DomainRuleTable::kNoEntry);
  const RequestFilter* b0 = file(second, 0);
  const RequestFilter* a1 = file(first, 1);
  const RequestFilter* b0again = file(second, 0);
  for (const char* when : {"filed", "rebuilt"}) {
    SCOPED_TRACE(when);
    const uint32_t a = table.find(first, hashKey(first));
    const uint32_t b = table.find(second, hashKey(second));
    ASSERT_NE(a, DomainRuleTable::kNoEntry);
    ASSERT_NE(b, DomainRuleTable::kNoEntry);
    EXPECT_NE(a, b);
    EXPECT_EQ(table.keyOf(a), first);
    EXPECT_EQ(table.keyOf(b), second);
    EXPECT_EQ(table.lanesOf(a), 3u);
    EXPECT_EQ(table.lanesOf(b), 1u);
    EXPECT_EQ(rulesOf(first, 0), std::vector<const RequestFilter*>{a0});
    EXPECT_EQ(rulesOf(first, 1), std::vector<const RequestFilter*>{a1});
    EXPECT_EQ(rulesOf(second, 0),
              (std::vector<const RequestFilter*>{b0, b0again}));
    EXPECT_TRUE(rulesOf(second, 1).empty());
    table.reserve(1000);  // both rebuild the slot table
    table.compact();
  }
  // Staged into an empty table, the four rules sort next to each other.
  table.clear();
  const RequestFilter* rules[] = {
      parseRequestFilter("||" + first + "^", arena),
      parseRequestFilter("||" + second + "^", arena),
      parseRequestFilter("||" + first + "^", arena),
      parseRequestFilter("||" + second + "^", arena)};
  const uint32_t lanes[] = {0, 0, 1, 0};
  for (size_t i = 0; i < 4; ++i) {
    table.stage(hashKey(rules[i]->domainKeyView()), lanes[i], rules[i]);
  }
  EXPECT_EQ(table.find(first, hashKey(first)), DomainRuleTable::kNoEntry);
  EXPECT_EQ(table.fileStaged(), 0u);
  EXPECT_EQ(table.keyCount(), 2u);
  EXPECT_EQ(rulesOf(first, 0), std::vector<const RequestFilter*>{rules[0]});
  EXPECT_EQ(rulesOf(first, 1), std::vector<const RequestFilter*>{rules[2]});
  EXPECT_EQ(rulesOf(second, 0),
            (std::vector<const RequestFilter*>{rules[1], rules[3]}));
}

// The key hash reads every byte of its view, whatever the length (one
// word, two overlapping words or the loop), and no byte outside it.
TEST(HashKeyTest, EveryByteInsideTheViewCountsAndNoneOutside) {
  std::mt19937 random(3);
  std::string bytes(64, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random());
  for (size_t size = 0; size <= 40; ++size) {
    const std::string_view key(bytes.data() + 8, size);
    const uint64_t hash = hashKey(key);
    bytes[7] ^= 1;
    bytes[8 + size] ^= 1;
    EXPECT_EQ(hashKey(key), hash) << size;
    bytes[7] ^= 1;
    bytes[8 + size] ^= 1;
    for (size_t i = 0; i < size; ++i) {
      bytes[8 + i] ^= 1;
      EXPECT_NE(hashKey(key), hash) << size << " " << i;
      bytes[8 + i] ^= 1;
    }
  }
}

}  // namespace
}  // namespace quibex
