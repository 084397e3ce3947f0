// The node pool behind the host's tables: two tables of different node sizes
// share one pool, as the scene's do, and after any run of inserts and erases
// each must hold exactly what a plain map holds (a block handed out twice or
// to the wrong size would show up as a lost or foreign entry).
#include <cstdint>
#include <random>
#include <set>
#include <utility>

#include <gtest/gtest.h>

#include "node_pool.h"

namespace {

using Links = std::multiset<std::pair<std::uintptr_t, std::uintptr_t>>;
using fbhost_internal::NodePool;
using fbhost_internal::PoolAllocator;
using fbhost_internal::PooledMultimap;
using fbhost_internal::PooledSet;

TEST(NodePoolTest, SharedPoolTablesMatchPlainOnes) {
  NodePool pool;
  PooledSet<std::uintptr_t> set{PoolAllocator<std::uintptr_t>(pool)};
  PooledMultimap<std::uintptr_t, std::uintptr_t> links{
      PoolAllocator<std::pair<const std::uintptr_t, std::uintptr_t>>(pool)};
  std::set<std::uintptr_t> setReference;
  Links linksReference;
  std::mt19937 random(7);
  for (int step = 0; step < 60000; ++step) {
    const std::uintptr_t key = random() % 2000;
    const std::uintptr_t value = random() % 4;
    // Grow for a while, then shrink, so that freed blocks are reused.
    const bool insert = random() % 100 < (step < 30000 ? 70 : 30);
    if (insert) {
      set.insert(key);
      setReference.insert(key);
      links.emplace(key, value);
      linksReference.emplace(key, value);
    } else {
      set.erase(key);
      setReference.erase(key);
      const auto found = links.find(key);
      if (found != links.end()) {
        linksReference.erase(linksReference.find(*found));
        links.erase(found);
      }
    }
  }
  EXPECT_EQ(std::set<std::uintptr_t>(set.begin(), set.end()), setReference);
  EXPECT_EQ(Links(links.begin(), links.end()), linksReference);
}

}  // namespace
