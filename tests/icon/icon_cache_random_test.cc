// The eviction index against the plain search it replaces: two caches, one looking for victims
// through the index and one by summing and walking everything, take the same random operations
// at the same random ticks; after every step they must hold the same keys and have recorded the
// same changes, and on the indexed cache both searches must pick the same victim at any tick.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tests/common/manual_synchroniser.h"
#include "tests/icon/icon_cache_test_util.h"

namespace {

using icon_test::Keys;
using icon_test::NewIcon;
using icon_test::Records;
using icon_test::TestIconCache;
using storage_test::ManualSynchroniser;

// Ticks cluster on a few values, so that stamps tie and equal "now"; a few are very large (before
// a wrap of the counter) or 0 (the stamp of imports).
DWORD RandomTick(std::mt19937& random) {
  const int kind = static_cast<int>(random() % 20);
  if (kind == 0) return 0;
  if (kind == 1) return 0xFFFFFFF0u + random() % 16;
  return 100 + random() % 12;
}

struct Side {
  base::scoped_refptr<ManualSynchroniser> sync{new ManualSynchroniser()};
  base::scoped_refptr<TestIconCache> cache;
  std::mt19937 ticks;
};

TEST(IconCacheRandomTest, IndexChoosesTheVictimsTheWalkChooses) {
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 random(seed);
    const int limit = 200 + static_cast<int>(random() % 400);
    Side index, walk;
    index.cache = new TestIconCache(limit, index.sync.get(), TestIconCache::EvictionSearch::kIndex);
    walk.cache = new TestIconCache(limit, walk.sync.get(), TestIconCache::EvictionSearch::kWalk);
    for (Side* side : {&index, &walk}) {
      side->sync->SetImported();
      side->cache->SetTickSource([side] { return RandomTick(side->ticks); });
    }

    for (int step = 0; step < 400; ++step) {
      SCOPED_TRACE(testing::Message() << "step " << step);
      const std::u16string key =
          u"k" + std::u16string(1, static_cast<char16_t>(u'a' + random() % 24));
      // The same icon object for both caches, so records compare by identity.
      ATL::CComPtr<IIconObject> icon =
          NewIcon(static_cast<int>(random() % 120), static_cast<LONGLONG>(random() % 4) - 1);
      const uint32_t tick_seed = random();
      index.ticks.seed(tick_seed);
      walk.ticks.seed(tick_seed);
      const int op = static_cast<int>(random() % 100);
      for (Side* side : {&index, &walk}) {
        TestIconCache* cache = side->cache.get();
        if (op < 45) {
          ASSERT_EQ(cache->SetValue(key, icon), S_OK);
        } else if (op < 75) {
          ATL::CComPtr<IIconObject> read;
          ASSERT_EQ(cache->GetValue(key, read.Receive()), S_OK);
        } else if (op < 88) {
          ASSERT_EQ(cache->PutImportedValue(key, icon), S_OK);
        } else if (op < 99) {
          ASSERT_EQ(cache->RemoveValue(key), S_OK);
        } else {
          ASSERT_EQ(cache->Clear(), S_OK);
        }
      }
      ASSERT_EQ(Keys(index.cache.get()), Keys(walk.cache.get()));
      const auto index_records = index.sync->pending_changes_for_testing();
      const auto walk_records = walk.sync->pending_changes_for_testing();
      ASSERT_EQ(Records(index.sync.get()), Records(walk.sync.get()));
      for (size_t i = 0; i < index_records.size(); ++i) {
        ASSERT_EQ(index_records[i].value.get(), walk_records[i].value.get()) << i;
      }
      for (int probe = 0; probe < 3; ++probe) {
        const uint64_t now = RandomTick(random);
        ASSERT_EQ(index.cache->PickEvictionVictim(now), index.cache->PickEvictionVictimByWalk(now))
            << "now " << now;
      }
    }
  }
}

}  // namespace
