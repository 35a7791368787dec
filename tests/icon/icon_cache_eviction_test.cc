// The memory-limited icon cache: which icons a store evicts, in which order, and what it records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/collation_for_testing.h"
#include "tests/common/manual_synchroniser.h"
#include "tests/icon/icon_cache_test_util.h"

namespace {

using icon_test::Keys;
using icon_test::NewIcon;
using icon_test::Records;
using icon_test::TestIconCache;
using storage_test::ManualSynchroniser;
using Strings = std::vector<std::u16string>;

constexpr int kRegisteredLimit = 10485760;

class IconCacheEvictionTest : public testing::Test {
 protected:
  void SetUp() override { sync_->SetImported(); }

  base::scoped_refptr<TestIconCache> NewCache(int limit) {
    return base::scoped_refptr<TestIconCache>(new TestIconCache(limit, sync_.get()));
  }
  // Stores an icon estimated at `estimate` bytes at tick `tick`.
  static void Set(TestIconCache* cache, const std::u16string& key, int estimate, DWORD tick,
                  LONGLONG time = 0) {
    cache->SetTick(tick);
    ASSERT_EQ(cache->SetValue(key, NewIcon(estimate - 24, time)), S_OK);
  }
  static void Read(TestIconCache* cache, const std::u16string& key, DWORD tick) {
    cache->SetTick(tick);
    ATL::CComPtr<IIconObject> icon;
    ASSERT_EQ(cache->GetValue(key, icon.Receive()), S_OK);
    ASSERT_TRUE(icon);
  }

  base::scoped_refptr<ManualSynchroniser> sync_{new ManualSynchroniser()};
};

TEST_F(IconCacheEvictionTest, ExactlyAtTheLimitKeepsEverythingOneByteMoreEvictsTheOldest) {
  struct Case {
    int second_estimate;
    Strings keys;
    Strings records;
  };
  const Case cases[] = {
      {kRegisteredLimit / 2, {u"a", u"b"}, {u"+a", u"+b"}},
      {kRegisteredLimit / 2 + 1, {u"b"}, {u"+a", u"-a", u"+b"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.second_estimate);
    sync_ = new ManualSynchroniser();
    sync_->SetImported();
    auto cache = NewCache(kRegisteredLimit);
    Set(cache.get(), u"a", kRegisteredLimit / 2, 100);
    Set(cache.get(), u"b", c.second_estimate, 200);
    EXPECT_EQ(Keys(cache.get()), c.keys);
    EXPECT_EQ(Records(sync_.get()), c.records);
  }
}

TEST_F(IconCacheEvictionTest, NeverReadImportsGoFirstThenTheLeastRecentlyUsed) {
  auto cache = NewCache(100);
  ASSERT_EQ(cache->PutImportedValue(u"imported1", NewIcon(1)), S_OK);  // 25 bytes each
  ASSERT_EQ(cache->PutImportedValue(u"imported2", NewIcon(1)), S_OK);
  ASSERT_EQ(cache->PutImportedValue(u"imported3", NewIcon(1)), S_OK);
  Set(cache.get(), u"stored", 25, 10);  // at the limit: nothing goes
  Read(cache.get(), u"imported3", 20);  // reading protects it from here on
  EXPECT_EQ(Keys(cache.get()), (Strings{u"imported1", u"imported2", u"imported3", u"stored"}));

  Set(cache.get(), u"x", 75, 30);  // 175 bytes: three of 25 go
  EXPECT_EQ(Keys(cache.get()), (Strings{u"imported3", u"x"}));
  EXPECT_EQ(Records(sync_.get()),
            (Strings{u"+stored", u"-imported1", u"-imported2", u"-stored", u"+x"}));
}

TEST_F(IconCacheEvictionTest, EqualStampsGoByIconTimeThenKeyOrder) {
  struct Case {
    LONGLONG time_a, time_b, time_c;
    std::u16string victim;
  };
  const Case cases[] = {
      {5, 5, 5, u"a"},   // equal times: the first key
      {5, 3, 4, u"b"},   // the smallest time, wherever it is
      {5, 3, 3, u"b"},   // a tie on the smallest time: the first of them
      {-1, 0, 7, u"a"},  // times compare signed
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.time_a << " " << c.time_b << " " << c.time_c);
    sync_ = new ManualSynchroniser();
    sync_->SetImported();
    auto cache = NewCache(100);
    Set(cache.get(), u"c", 30, 7, c.time_c);
    Set(cache.get(), u"a", 30, 7, c.time_a);
    Set(cache.get(), u"b", 30, 7, c.time_b);
    Set(cache.get(), u"d", 30, 9);  // 120 bytes: one of a, b, c goes
    EXPECT_EQ(Records(sync_.get()).at(3), u"-" + c.victim);
    EXPECT_EQ(cache->PickEvictionVictimByWalk(9), cache->PickEvictionVictim(9));
  }
}

TEST_F(IconCacheEvictionTest, OnlyStampsOlderThanNowAreVictims) {
  auto cache = NewCache(100);
  Set(cache.get(), u"a", 60, 50);
  Set(cache.get(), u"b", 60, 50);  // same tick: "a" is not older than now, nothing goes
  EXPECT_EQ(Keys(cache.get()), (Strings{u"a", u"b"}));
  EXPECT_EQ(cache->PickEvictionVictim(50), u"");
  EXPECT_EQ(cache->PickEvictionVictim(51), u"a");

  // After the tick count wraps, stamps from before are larger than now: never chosen.
  Set(cache.get(), u"c", 60, 3);
  EXPECT_EQ(Keys(cache.get()), (Strings{u"a", u"b", u"c"}));
  // A later store finds the post-wrap icon, and then only what is older than now again.
  Set(cache.get(), u"d", 30, 4);
  EXPECT_EQ(Keys(cache.get()), (Strings{u"a", u"b", u"d"}));
  EXPECT_EQ(Records(sync_.get()), (Strings{u"+a", u"+b", u"+c", u"-c", u"+d"}));
}

TEST_F(IconCacheEvictionTest, TheIconJustStoredGoesWhenItIsTheOldest) {
  auto cache = NewCache(100);
  Set(cache.get(), u"a", 60, 50);
  // The store stamps at 40, then the tick reads 60 for the victim: the new icon is the oldest.
  DWORD ticks[] = {40, 60};
  int next = 0;
  cache->SetTickSource([&] { return ticks[next++]; });
  ASSERT_EQ(cache->SetValue(u"b", NewIcon(60 - 24)), S_OK);
  EXPECT_EQ(Keys(cache.get()), (Strings{u"a"}));
  // The removal is recorded before the store's own record.
  EXPECT_EQ(Records(sync_.get()), (Strings{u"+a", u"-b", u"+b"}));
}

TEST_F(IconCacheEvictionTest, NoLimitOrNoPositiveLimitNeverEvicts) {
  for (int limit : {0, -1}) {
    auto cache = NewCache(limit);
    Set(cache.get(), u"a", 1000, 1);
    Set(cache.get(), u"b", 1000, 2);
    EXPECT_EQ(Keys(cache.get()).size(), 2u) << limit;
  }
}

TEST_F(IconCacheEvictionTest, ReplacingAndRemovingKeepTheEstimateExact) {
  auto cache = NewCache(100);
  Set(cache.get(), u"a", 90, 1);
  Set(cache.get(), u"a", 40, 2);  // replaces: 40 in use, not 130
  Set(cache.get(), u"b", 60, 3);
  EXPECT_EQ(Keys(cache.get()), (Strings{u"a", u"b"}));
  ASSERT_EQ(cache->RemoveValue(u"a"), S_OK);
  ASSERT_EQ(cache->RemoveValue(u"absent"), S_OK);
  Set(cache.get(), u"c", 40, 4);  // 100
  EXPECT_EQ(Keys(cache.get()), (Strings{u"b", u"c"}));
  ASSERT_EQ(cache->Clear(), S_OK);
  Set(cache.get(), u"d", 100, 5);
  EXPECT_EQ(Keys(cache.get()), (Strings{u"d"}));
  EXPECT_EQ(Records(sync_.get()), (Strings{u"+a", u"+a", u"+b", u"-a", u"+c", u"*", u"+d"}));
}

TEST_F(IconCacheEvictionTest, CollationEqualKeysAddressOneEntry) {
  platform::SetCollationLocaleForTesting("en_US");
  auto cache = NewCache(0);
  const std::u16string precomposed = u"caf\u00E9";
  const std::u16string decomposed = u"cafe\u0301";
  Set(cache.get(), precomposed, 30, 1);
  Set(cache.get(), decomposed, 40, 2);
  ULONG count = 0;
  ASSERT_EQ(cache->GetCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(Keys(cache.get()), (Strings{precomposed}));  // the first text stays
  BOOL exists = 0;
  ASSERT_EQ(cache->HasKey(decomposed, &exists), S_OK);
  EXPECT_EQ(exists, 1);
  ATL::CComPtr<IIconObject> icon;
  ASSERT_EQ(cache->GetValue(precomposed, icon.Receive()), S_OK);
  EXPECT_EQ(Storage::CIconStorageLimitMemoryCacheBase::EstimateIconSize(icon), 40);
  ASSERT_EQ(cache->RemoveValue(decomposed), S_OK);
  EXPECT_TRUE(Keys(cache.get()).empty());
  // Case still matters.
  Set(cache.get(), u"A", 30, 3);
  Set(cache.get(), u"a", 30, 4);
  EXPECT_EQ(Keys(cache.get()), (Strings{u"a", u"A"}));
  platform::SetCollationLocaleForTesting(nullptr);
}

TEST_F(IconCacheEvictionTest, BadArgumentsChangeNothing) {
  auto cache = NewCache(100);
  Set(cache.get(), u"a", 30, 1);
  ATL::CComPtr<IIconObject> icon;
  EXPECT_EQ(cache->GetValue(u"", icon.Receive()), E_FAIL);
  EXPECT_EQ(cache->GetValue(u"a", nullptr), E_FAIL);
  EXPECT_EQ(cache->SetValue(u"a", nullptr), E_FAIL);
  EXPECT_EQ(cache->SetValue(u"", NewIcon(1)), E_FAIL);
  EXPECT_EQ(cache->PutImportedValue(u"b", nullptr), E_FAIL);
  EXPECT_EQ(cache->GetCount(nullptr), E_FAIL);
  EXPECT_EQ(cache->HasKey(u"a", nullptr), E_FAIL);
  EXPECT_EQ(cache->CopyAll(nullptr), E_FAIL);
  EXPECT_EQ(cache->GetKeys(nullptr), E_FAIL);
  ASSERT_EQ(cache->GetValue(u"absent", icon.Receive()), S_OK);
  EXPECT_FALSE(icon);
  EXPECT_EQ(Keys(cache.get()), (Strings{u"a"}));
  EXPECT_EQ(Records(sync_.get()), (Strings{u"+a"}));
}

TEST_F(IconCacheEvictionTest, ImportKeepsTheStampOfAStoredIconAndRecordsNothing) {
  auto cache = NewCache(100);
  Set(cache.get(), u"read", 30, 5);
  ASSERT_EQ(cache->PutImportedValue(u"read", NewIcon(30 - 24)), S_OK);  // keeps stamp 5
  ASSERT_EQ(cache->PutImportedValue(u"old", NewIcon(30 - 24)), S_OK);   // stamp 0
  EXPECT_EQ(cache->PickEvictionVictim(6), u"old");
  std::vector<Storage::IconEntry> entries;
  ASSERT_EQ(cache->CopyAll(&entries), S_OK);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].key, u"old");
  EXPECT_EQ(entries[1].key, u"read");
  Set(cache.get(), u"new", 50, 9);  // 110: "old" goes, "read" (5) stays
  EXPECT_EQ(Keys(cache.get()), (Strings{u"new", u"read"}));
  EXPECT_EQ(Records(sync_.get()), (Strings{u"+read", u"-old", u"+new"}));
}

TEST(IconCacheEstimateTest, DataPlusTwoBytesPerTextUnitPlus24) {
  using Storage::CIconStorageLimitMemoryCacheBase;
  EXPECT_EQ(CIconStorageLimitMemoryCacheBase::EstimateIconSize(nullptr), 0);
  EXPECT_EQ(CIconStorageLimitMemoryCacheBase::EstimateIconSize(NewIcon(0)), 24);
  EXPECT_EQ(CIconStorageLimitMemoryCacheBase::EstimateIconSize(NewIcon(10, 0, u"abc", u"de")),
            10 + 6 + 4 + 24);
  // A text counts up to its first NUL.
  ATL::CComPtr<IIconObject> icon = NewIcon(0);
  ATL::CComBSTR text(u"ab\0cd", 5);
  icon->SetFirstText(text);
  EXPECT_EQ(CIconStorageLimitMemoryCacheBase::EstimateIconSize(icon), 4 + 24);
}

}  // namespace
