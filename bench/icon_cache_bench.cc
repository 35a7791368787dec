// The memory-limited icon cache: the cost of one store or read as the number of icons grows.
// Each case runs with 1,000, 5,000 and 20,000 icons of 1,000 bytes, without synchroniser; the
// tick count advances by one at every read of it, so every store finds an older victim.
//
//   IconCacheGet               GetValue of a present key (marks it used)
//   IconCacheSet               SetValue replacing a stored icon, under the budget: no eviction
//   IconCacheSetEvicting       SetValue of a new key into a full cache: one icon evicted each time
//   IconCacheSetWalk           IconCacheSet with the plain search (every estimate summed)
//   IconCacheSetEvictingWalk   IconCacheSetEvicting with the plain search (sum and walk)
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "browserplatform/atlbase.h"
#include "browserstorage/object_factory.h"
#include "storage/icon/icon_storage_limit_memory_cache_base.h"

namespace {

constexpr int kDataBytes = 1000;

class BenchIconCache : public Storage::CIconStorageLimitMemoryCacheBase {
 public:
  using CIconStorageLimitMemoryCacheBase::EvictionSearch;
  BenchIconCache(int limit, EvictionSearch search)
      : CIconStorageLimitMemoryCacheBase(limit, search) {}

 protected:
  DWORD CurrentTick() override { return tick_.fetch_add(1, std::memory_order_relaxed); }

 private:
  std::atomic<DWORD> tick_{1};
};

ATL::CComPtr<IIconObject> NewIcon() {
  ATL::CComPtr<IIconObject> icon;
  Util::Com::CreateObjectByIID(IID_IIconObject, icon.ReceiveVoid());
  std::vector<BYTE> data(kDataBytes, 7);
  icon->SetData(data.data(), kDataBytes);
  return icon;
}

std::u16string KeyOf(int64_t i) {
  std::string ascii = "https://site" + std::to_string(i) + ".example/favicon.ico";
  return std::u16string(ascii.begin(), ascii.end());
}

// A cache holding `count` icons, with room for exactly that many when `full`.
base::scoped_refptr<BenchIconCache> FilledCache(int count, bool full,
                                                BenchIconCache::EvictionSearch search,
                                                IIconObject* icon) {
  const int64_t estimate = Storage::CIconStorageLimitMemoryCacheBase::EstimateIconSize(icon);
  const int limit = full ? static_cast<int>(estimate * count) : 0x7FFFFFFF;
  base::scoped_refptr<BenchIconCache> cache(new BenchIconCache(limit, search));
  for (int i = 0; i < count; ++i) cache->SetValue(KeyOf(i), icon);
  return cache;
}

void RunGet(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  ATL::CComPtr<IIconObject> icon = NewIcon();
  auto cache = FilledCache(count, false, BenchIconCache::EvictionSearch::kIndex, icon);
  std::vector<std::u16string> keys;
  for (int i = 0; i < count; ++i) keys.push_back(KeyOf(i));
  size_t next = 0;
  for (auto _ : state) {
    ATL::CComPtr<IIconObject> read;
    cache->GetValue(keys[next], read.Receive());
    benchmark::DoNotOptimize(read.get());
    next = (next + 7919) % keys.size();
  }
}

void RunSet(benchmark::State& state, BenchIconCache::EvictionSearch search, bool evicting) {
  const int count = static_cast<int>(state.range(0));
  ATL::CComPtr<IIconObject> icon = NewIcon();
  auto cache = FilledCache(count, evicting, search, icon);
  // Replacing: the stored keys. Evicting: twice as many keys as fit, cycled from the first one
  // not stored, so that every store brings a key the cache no longer holds.
  std::vector<std::u16string> keys;
  for (int i = 0; i < (evicting ? 2 * count : count); ++i) keys.push_back(KeyOf(i));
  size_t next = evicting ? static_cast<size_t>(count) : 0;
  for (auto _ : state) {
    cache->SetValue(keys[next], icon);
    next = (next + 1) % keys.size();
  }
  ULONG stored = 0;
  cache->GetCount(&stored);
  state.counters["icons"] = stored;
}

void IconCacheGet(benchmark::State& state) { RunGet(state); }
void IconCacheSet(benchmark::State& state) {
  RunSet(state, BenchIconCache::EvictionSearch::kIndex, false);
}
void IconCacheSetEvicting(benchmark::State& state) {
  RunSet(state, BenchIconCache::EvictionSearch::kIndex, true);
}
void IconCacheSetWalk(benchmark::State& state) {
  RunSet(state, BenchIconCache::EvictionSearch::kWalk, false);
}
void IconCacheSetEvictingWalk(benchmark::State& state) {
  RunSet(state, BenchIconCache::EvictionSearch::kWalk, true);
}

}  // namespace

BENCHMARK(IconCacheGet)->Arg(1000)->Arg(5000)->Arg(20000);
BENCHMARK(IconCacheSet)->Arg(1000)->Arg(5000)->Arg(20000);
BENCHMARK(IconCacheSetEvicting)->Arg(1000)->Arg(5000)->Arg(20000);
BENCHMARK(IconCacheSetWalk)->Arg(1000)->Arg(5000)->Arg(20000);
BENCHMARK(IconCacheSetEvictingWalk)->Arg(1000)->Arg(5000)->Arg(20000);
