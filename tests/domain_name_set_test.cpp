// The many-names substring search of page-domain lists against the plain
// name-by-name search, for short lists and indexed long ones.
#include <gtest/gtest.h>

#include <random>

#include "filters/domain_name_set.h"
#include "filters/rule_arena.h"

namespace quibex {
namespace {

bool naiveAnyOccurs(const std::vector<std::string>& names,
                    std::string_view key) {
  for (const std::string& name : names) {
    if (key.find(name) != std::string_view::npos) return true;
  }
  return false;
}

TEST(DomainNameSetTest, LongListCases) {
  std::vector<std::string> names;
  for (int i = 0; i < 40; ++i)
    names.push_back("site" + std::to_string(i) + ".com");
  const DomainNameSet set(names);
  EXPECT_TRUE(set.anyOccursIn("www.site7.com"));
  EXPECT_TRUE(set.anyOccursIn("xsite39.com.au"));  // substring, not labels
  EXPECT_FALSE(set.anyOccursIn("site40.com"));
  EXPECT_FALSE(set.anyOccursIn(""));
  names.push_back("");  // the empty name occurs in every key
  const DomainNameSet withEmpty(names);
  EXPECT_TRUE(withEmpty.anyOccursIn(""));
  EXPECT_TRUE(withEmpty.anyOccursIn("other.org"));
}

TEST(DomainNameSetTest, AgreesWithNameByNameSearch) {
  std::mt19937 rng(99);
  const std::string bytes = "ab.c-";
  auto randomText = [&](size_t maxLength, const std::string& from) {
    std::string text(rng() % (maxLength + 1), ' ');
    for (char& c : text) c = from[rng() % from.size()];
    return text;
  };
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::string> names;
    const size_t count = rng() % 30;
    // A few names longer than an indexed name may be, searched on their own,
    // made of other bytes than the rest.
    for (size_t i = 0; i < count; ++i) {
      names.push_back(
          rng() % 8 == 0
              ? randomText(DomainNameSet::kIndexedNameBytes + 8, "xy")
              : randomText(5, bytes));
    }
    const DomainNameSet set(names);
    for (int probe = 0; probe < 20; ++probe) {
      // Now and then a key that holds a name, or all of one but its end.
      std::string key = randomText(12, bytes);
      if (count != 0 && probe % 4 == 0) {
        const std::string& name = names[rng() % count];
        key +=
            name.substr(0, name.size() - probe % 8 / 4) + randomText(6, bytes);
      }
      ASSERT_EQ(set.anyOccursIn(key), naiveAnyOccurs(names, key))
          << "key '" << key << "' with " << names.size() << " names";
    }
  }
}

// Keys past kLongKey, and lists whose names share their first two bytes,
// go to the automaton: with a transition table for small lists, with each
// state's edges for large ones (all names behind one prefix, so that the
// index search could cost more). Empty, one-byte, long, duplicate and
// prefix or suffix names and bytes >= 0x80 come from the small alphabets.
TEST(DomainNameSetTest, AutomatonAgreesWithNameByNameSearch) {
  std::mt19937 rng(7);
  const std::string bytes = "ab.\x80\xff";
  const std::string wide = "abcdefghijklmnopqrs.\xe9";
  auto randomText = [&](size_t length, const std::string& from) {
    std::string text(length, ' ');
    for (char& c : text) c = from[rng() % from.size()];
    return text;
  };
  for (int round = 0; round < 400; ++round) {
    const bool large = round % 8 == 0;
    const std::string& from = large ? wide : bytes;
    std::vector<std::string> names;
    const size_t count = large ? 300 : rng() % 30;
    for (size_t i = 0; i < count; ++i) {
      size_t length = large ? 10 + rng() % 20 : 5 + rng() % 8;
      if (!large && rng() % 8 == 0) {
        length = DomainNameSet::kIndexedNameBytes + rng() % 9;
      } else if (!large && rng() % 16 == 0) {
        length = rng() % 3;
      }
      names.push_back((large ? "ab" : "") + randomText(length, from));
    }
    const DomainNameSet set(names);
    for (int probe = 0; probe < 8; ++probe) {
      std::string key = randomText(
          large && probe % 2 == 0 ? 200
                                  : DomainNameSet::kLongKey + 1 + rng() % 400,
          from);
      if (count != 0 && probe % 4 < 2) {
        // A name, or all of it but its last byte, after a few of its first
        // bytes (where the search must fall back to a suffix of its path).
        const std::string& name = names[rng() % count];
        const std::string piece =
            name.substr(0, rng() % 3) +
            name.substr(0,
                        name.size() - std::min<size_t>(name.size(), probe % 2));
        key.replace(rng() % (key.size() - piece.size()), piece.size(), piece);
      }
      ASSERT_EQ(set.anyOccursIn(key), naiveAnyOccurs(names, key))
          << "round " << round << " probe " << probe << ", " << names.size()
          << " names";
    }
  }
}

TEST(RuleArenaTest, PiecesAreAlignedDistinctAndLarge) {
  RuleArena arena;
  std::vector<char*> pieces;
  for (size_t size : {1u, 7u, 8u, 9u, 100u, 20000u, 70000u, 3u}) {
    char* piece = static_cast<char*>(arena.allocate(size));
    ASSERT_EQ(reinterpret_cast<uintptr_t>(piece) % 8, 0u);
    std::fill(piece, piece + size, static_cast<char>(size));
    pieces.push_back(piece);
  }
  // Every piece kept what was written to it (no overlap).
  const size_t sizes[] = {1, 7, 8, 9, 100, 20000, 70000, 3};
  for (size_t i = 0; i < pieces.size(); ++i) {
    for (size_t j = 0; j < sizes[i]; ++j) {
      ASSERT_EQ(pieces[i][j], static_cast<char>(sizes[i]));
    }
  }
  EXPECT_GE(arena.memoryBytes(), 90000u);
  // Each piece's 32-bit name leads back to it, also across several chunks
  // with chunks of their own (large pieces) in between.
  for (int i = 0; i < 300; ++i) {
    const size_t size = i % 10 == 0 ? 20000 : 700;
    pieces.push_back(static_cast<char*>(arena.allocate(size)));
  }
  for (const char* piece : pieces) {
    ASSERT_EQ(arena.at(arena.refOf(piece)), piece);
  }
  arena.release();
  EXPECT_EQ(arena.memoryBytes(), 0u);
}

}  // namespace
}  // namespace quibex
