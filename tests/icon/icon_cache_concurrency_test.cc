// Readers mark icons used under the shared lock while writers store, remove and evict. Run under
// the tsan preset: a race on the stamps or the eviction index fails it. Readers check that what
// they get is the icon of the key they asked for; at the end the index still agrees with the walk.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/common/manual_synchroniser.h"
#include "tests/icon/icon_cache_test_util.h"

namespace {

using icon_test::Keys;
using icon_test::NewIcon;
using icon_test::TestIconCache;

std::u16string KeyOf(int i) { return u"icon" + std::u16string(1, static_cast<char16_t>(u'A' + i)); }

ATL::CComBSTR SecondText(IIconObject* icon) {
  ATL::CComBSTR text;
  icon->GetSecondText(text.Receive());
  return text;
}

TEST(IconCacheConcurrencyTest, ReadersMarkIconsUsedWhileWritersEvict) {
  constexpr int kKeys = 26;
  constexpr int kWriterSteps = 3000;
  base::scoped_refptr<storage_test::ManualSynchroniser> sync(
      new storage_test::ManualSynchroniser());
  sync->SetImported();
  // Room for about ten icons: most stores evict.
  base::scoped_refptr<TestIconCache> cache(new TestIconCache(10 * (40 + 24 + 12), sync.get()));
  std::atomic<DWORD> tick{1};
  cache->SetTickSource([&] { return tick.fetch_add(1, std::memory_order_relaxed); });

  std::atomic<int> writers_left{2};
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < 2; ++w) {
    threads.emplace_back([&, w] {
      for (int step = 0; step < kWriterSteps; ++step) {
        const std::u16string key = KeyOf((step * 7 + w * 3) % kKeys);
        if (step % 10 == 9) {
          cache->RemoveValue(key);
        } else {
          cache->SetValue(key, NewIcon(40, step % 3, key));
        }
      }
      writers_left.fetch_sub(1);
    });
  }
  for (int r = 0; r < 3; ++r) {
    threads.emplace_back([&, r] {
      int i = r;
      while (writers_left.load() > 0) {
        const std::u16string key = KeyOf(i++ % kKeys);
        ATL::CComPtr<IIconObject> icon;
        if (cache->GetValue(key, icon.Receive()) != S_OK) mismatches.fetch_add(1);
        if (icon && std::u16string(SecondText(icon).get()) != key) mismatches.fetch_add(1);
        BOOL exists = 0;
        cache->HasKey(key, &exists);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_GT(sync->pending_changes_for_testing().size(), static_cast<size_t>(kWriterSteps));
  ULONG count = 0;
  ASSERT_EQ(cache->GetCount(&count), S_OK);
  EXPECT_EQ(Keys(cache.get()).size(), count);
  for (DWORD now : {DWORD{0}, DWORD{5000}, tick.load(), tick.load() + 1000}) {
    EXPECT_EQ(cache->PickEvictionVictim(now), cache->PickEvictionVictimByWalk(now)) << now;
  }
}

}  // namespace
