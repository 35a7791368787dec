#include "storage/icon/icon_storage_limit_memory_cache_base.h"

#include <new>
#include <tuple>
#include <utility>

#include "browserplatform/clock.h"
#include "browserplatform/collation.h"
#include "browserstorage/result_codes.h"
#include "storage/sync/storage_config_base.h"
#include "storage/sync/storage_sync_base.h"

namespace Storage {
namespace {

// A text's length in UTF-16 units up to its first NUL; 0 when it cannot be read.
int64_t TextLength(IIconObject* icon, HRESULT (STDMETHODCALLTYPE IIconObject::*get)(BSTR*)) {
  ATL::CComBSTR text;
  if (FAILED((icon->*get)(text.Receive())) || text.get() == nullptr) return 0;
  return static_cast<int64_t>(std::u16string_view(text.get()).size());
}

// The icon's time; 0 when it cannot be read, for the index and the walk alike.
LONGLONG TimeOf(IIconObject* icon) {
  LONGLONG time = 0;
  if (icon == nullptr || FAILED(icon->GetTime(&time))) return 0;
  return time;
}

}  // namespace

bool CIconStorageLimitMemoryCacheBase::EvictionLess::operator()(const Entry* a,
                                                                const Entry* b) const {
  return std::tie(a->indexed_stamp, a->time, *a->sort_key) <
         std::tie(b->indexed_stamp, b->time, *b->sort_key);
}

CIconStorageLimitMemoryCacheBase::CIconStorageLimitMemoryCacheBase(
    CStorageConfigBase* config, CStorageSyncManager* sync_manager, CStorageSyncTimer* sync_timer)
    : search_(EvictionSearch::kIndex), memory_limit_(config->GetMemoryLimit()) {
  CreateSynchroniser(config, sync_manager, sync_timer, nullptr);
}

CIconStorageLimitMemoryCacheBase::CIconStorageLimitMemoryCacheBase(int memory_limit,
                                                                   EvictionSearch search)
    : search_(search), memory_limit_(memory_limit) {}

CIconStorageLimitMemoryCacheBase::~CIconStorageLimitMemoryCacheBase() { RunFinalSync(); }

int64_t CIconStorageLimitMemoryCacheBase::EstimateIconSize(IIconObject* icon) {
  if (icon == nullptr) return 0;
  INT length = 0;
  if (FAILED(icon->GetDataLength(&length)) || length < 0) length = 0;
  return length + 2 * TextLength(icon, &IIconObject::GetFirstText) +
         2 * TextLength(icon, &IIconObject::GetSecondText) + 24;
}

DWORD CIconStorageLimitMemoryCacheBase::CurrentTick() { return GetTickCount(); }

void CIconStorageLimitMemoryCacheBase::AwaitImport() {
  if (import_awaited_.load(std::memory_order_acquire)) return;
  if (CStorageSyncBase* sync = synchroniser()) {
    sync->WaitForImport();
    import_awaited_.store(1, std::memory_order_release);
  }
}

std::string CIconStorageLimitMemoryCacheBase::SortKeyOf(const std::u16string& key) {
  try {
    return platform::CollationSortKey(key);
  } catch (const std::bad_alloc&) {
    throw CHResultException(E_OUTOFMEMORY);
  }
}

void CIconStorageLimitMemoryCacheBase::Touch(Entry& entry, uint64_t stamp) {
  entry.stamp.store(stamp, std::memory_order_relaxed);
  if (entry.touched.exchange(true, std::memory_order_acq_rel)) return;  // listed already
  // Only this thread links `entry`; the list is taken under the exclusive lock, after every
  // reader has left.
  Entry* head = touched_.load(std::memory_order_relaxed);
  do {
    entry.next_touched = head;
  } while (!touched_.compare_exchange_weak(head, &entry, std::memory_order_release,
                                           std::memory_order_relaxed));
}

void CIconStorageLimitMemoryCacheBase::IndexTouchedEntries() {
  Entry* entry = touched_.exchange(nullptr, std::memory_order_acquire);
  while (entry != nullptr) {
    Entry* next = entry->next_touched;
    entry->next_touched = nullptr;
    entry->touched.store(false, std::memory_order_relaxed);
    if (entry->indexed_stamp != entry->stamp.load(std::memory_order_relaxed)) Reindex(*entry);
    entry = next;
  }
}

void CIconStorageLimitMemoryCacheBase::Reindex(Entry& entry) {
  // The node moves; nothing is allocated.
  auto node = eviction_order_.extract(entry.position);
  entry.indexed_stamp = entry.stamp.load(std::memory_order_relaxed);
  entry.position = eviction_order_.insert(std::move(node)).position;
}

void CIconStorageLimitMemoryCacheBase::Store(const std::u16string& key, std::string sort_key,
                                             IIconObject* icon, uint64_t stamp, bool restamp) {
  const int64_t estimate = EstimateIconSize(icon);
  const LONGLONG time = TimeOf(icon);
  EntryMap::iterator found;
  bool inserted = false;
  try {
    std::tie(found, inserted) = entries_.try_emplace(std::move(sort_key), key);
  } catch (const std::bad_alloc&) {
    throw CHResultException(E_OUTOFMEMORY);
  }
  Entry& entry = found->second;
  if (inserted) {
    entry.sort_key = &found->first;
    entry.icon = icon;
    entry.estimate = estimate;
    entry.time = time;
    entry.stamp.store(stamp, std::memory_order_relaxed);
    entry.indexed_stamp = stamp;
    try {
      entry.position = eviction_order_.insert(&entry).first;
    } catch (const std::bad_alloc&) {
      entries_.erase(found);
      throw CHResultException(E_OUTOFMEMORY);
    }
    estimated_bytes_ += estimate;
    return;
  }
  // A collation-equal key: the entry keeps the text it was first stored under. Its place in the
  // index depends on the icon's time, so it moves.
  auto node = eviction_order_.extract(entry.position);
  estimated_bytes_ += estimate - entry.estimate;
  entry.icon = icon;
  entry.estimate = estimate;
  entry.time = time;
  if (restamp) entry.stamp.store(stamp, std::memory_order_relaxed);
  entry.indexed_stamp = entry.stamp.load(std::memory_order_relaxed);
  entry.position = eviction_order_.insert(std::move(node)).position;
}

void CIconStorageLimitMemoryCacheBase::Erase(EntryMap::iterator found) {
  eviction_order_.erase(found->second.position);
  estimated_bytes_ -= found->second.estimate;
  entries_.erase(found);
}

CIconStorageLimitMemoryCacheBase::Entry* CIconStorageLimitMemoryCacheBase::VictimByIndex(
    uint64_t now) {
  if (eviction_order_.empty()) return nullptr;
  Entry* first = *eviction_order_.begin();
  // The index is ordered as the walk chooses: the smallest stamp, then time, then key. The walk
  // starts from `now` and takes only a stamp below it, so a first entry at `now` or later means
  // that every stamp is: no victim.
  return first->indexed_stamp < now ? first : nullptr;
}

CIconStorageLimitMemoryCacheBase::Entry* CIconStorageLimitMemoryCacheBase::VictimByWalk(
    uint64_t now) {
  uint64_t best_stamp = now;
  Entry* best = nullptr;
  for (auto& [sort_key, entry] : entries_) {
    const uint64_t stamp = entry.stamp.load(std::memory_order_relaxed);
    if (stamp < best_stamp) {
      best_stamp = stamp;
      best = &entry;
    } else if (stamp == best_stamp && best != nullptr && best->icon && entry.icon &&
               TimeOf(entry.icon) < TimeOf(best->icon)) {
      best = &entry;
    }
  }
  return best;
}

std::u16string CIconStorageLimitMemoryCacheBase::PickEvictionVictim(uint64_t now) {
  CExclusiveLockGuard guard(lock_);
  IndexTouchedEntries();
  Entry* victim = VictimByIndex(now);
  return victim != nullptr ? victim->key : std::u16string();
}

std::u16string CIconStorageLimitMemoryCacheBase::PickEvictionVictimByWalk(uint64_t now) {
  CExclusiveLockGuard guard(lock_);
  Entry* victim = VictimByWalk(now);
  return victim != nullptr ? victim->key : std::u16string();
}

void CIconStorageLimitMemoryCacheBase::EnforceMemoryLimit() {
  const bool walk = search_ == EvictionSearch::kWalk;
  int64_t sum = estimated_bytes_;
  if (walk) {
    sum = 0;
    for (const auto& [sort_key, entry] : entries_) sum += EstimateIconSize(entry.icon);
  }
  if (sum <= 0 || memory_limit_ <= 0 || sum <= memory_limit_) return;
  CStorageSyncBase* sync = synchroniser();
  for (;;) {
    // The tick is read for every victim: a store that evicts across a tick boundary may evict
    // what it has just stored.
    const uint64_t now = CurrentTick();
    Entry* victim = walk ? VictimByWalk(now) : VictimByIndex(now);
    if (victim == nullptr) return;
    sum -= walk ? EstimateIconSize(victim->icon) : victim->estimate;
    if (sync != nullptr) sync->RecordRemove(victim->key, 0);
    Erase(entries_.find(*victim->sort_key));
    if (sum <= memory_limit_) return;
  }
}

HRESULT CIconStorageLimitMemoryCacheBase::GetCount(ULONG* count) {
  if (count == nullptr) return E_FAIL;
  AwaitImport();
  CSharedLockGuard guard(lock_);
  *count = static_cast<ULONG>(entries_.size());
  return S_OK;
}

HRESULT CIconStorageLimitMemoryCacheBase::GetValue(const std::u16string& key, IIconObject** icon) {
  if (icon == nullptr || key.empty()) return E_FAIL;
  *icon = nullptr;
  AwaitImport();
  const std::string sort_key = SortKeyOf(key);
  CSharedLockGuard guard(lock_);
  auto found = entries_.find(sort_key);
  if (found == entries_.end() || !found->second.icon) return S_OK;
  Touch(found->second, CurrentTick());
  *icon = found->second.icon;
  (*icon)->AddRef();
  return S_OK;
}

HRESULT CIconStorageLimitMemoryCacheBase::SetValue(const std::u16string& key, IIconObject* icon) {
  // Every stored key has an icon, and no key is empty (an empty victim would read as none).
  if (icon == nullptr || key.empty()) return E_FAIL;
  AwaitImport();
  std::string sort_key = SortKeyOf(key);
  CExclusiveLockGuard guard(lock_);
  IndexTouchedEntries();
  Store(key, std::move(sort_key), icon, CurrentTick(), /*restamp=*/true);
  EnforceMemoryLimit();
  if (CStorageSyncBase* sync = synchroniser()) sync->RecordSet(key, icon, 0);
  return S_OK;
}

HRESULT CIconStorageLimitMemoryCacheBase::RemoveValue(const std::u16string& key) {
  AwaitImport();
  const std::string sort_key = SortKeyOf(key);
  CExclusiveLockGuard guard(lock_);
  IndexTouchedEntries();
  auto found = entries_.find(sort_key);
  if (found == entries_.end()) return S_OK;
  Erase(found);
  if (CStorageSyncBase* sync = synchroniser()) sync->RecordRemove(key, 0);
  return S_OK;
}

HRESULT CIconStorageLimitMemoryCacheBase::Clear() {
  AwaitImport();
  CExclusiveLockGuard guard(lock_);
  IndexTouchedEntries();
  eviction_order_.clear();  // before the entries it points to
  entries_.clear();
  estimated_bytes_ = 0;
  if (CStorageSyncBase* sync = synchroniser()) sync->RecordClear(0);
  return S_OK;
}

HRESULT CIconStorageLimitMemoryCacheBase::HasKey(const std::u16string& key, BOOL* exists) {
  if (exists == nullptr) return E_FAIL;
  AwaitImport();
  const std::string sort_key = SortKeyOf(key);
  CSharedLockGuard guard(lock_);
  *exists = entries_.find(sort_key) != entries_.end() ? 1 : 0;
  return S_OK;
}

HRESULT CIconStorageLimitMemoryCacheBase::PutImportedValue(const std::u16string& key,
                                                           IIconObject* icon) {
  if (icon == nullptr || key.empty()) return E_FAIL;
  std::string sort_key = SortKeyOf(key);
  CExclusiveLockGuard guard(lock_);
  IndexTouchedEntries();
  // Never read in this run: stamp 0, the first to go. A stored icon keeps its stamp.
  Store(key, std::move(sort_key), icon, 0, /*restamp=*/false);
  return S_OK;
}

HRESULT CIconStorageLimitMemoryCacheBase::CopyAll(std::vector<IconEntry>* entries) {
  if (entries == nullptr) return E_FAIL;
  AwaitImport();
  CSharedLockGuard guard(lock_);
  try {
    entries->reserve(entries->size() + entries_.size());
    for (const auto& [sort_key, entry] : entries_) entries->push_back({entry.key, entry.icon});
  } catch (const std::bad_alloc&) {
    throw CHResultException(E_OUTOFMEMORY);
  }
  return S_OK;
}

HRESULT CIconStorageLimitMemoryCacheBase::GetKeys(std::vector<std::u16string>* keys) {
  if (keys == nullptr) return E_FAIL;
  AwaitImport();
  CSharedLockGuard guard(lock_);
  try {
    keys->reserve(keys->size() + entries_.size());
    for (const auto& [sort_key, entry] : entries_) keys->push_back(entry.key);
  } catch (const std::bad_alloc&) {
    throw CHResultException(E_OUTOFMEMORY);
  }
  return S_OK;
}

int CIconStorageLimitMemoryCacheBase::IsImportFailed() {
  AwaitImport();
  CStorageSyncBase* sync = synchroniser();
  return sync ? sync->IsImportFailed() : 0;
}

int CIconStorageLimitMemoryCacheBase::IsImportFinished() {
  CStorageSyncBase* sync = synchroniser();
  if (sync != nullptr && !import_awaited_.load(std::memory_order_acquire) && sync->IsImported()) {
    import_awaited_.store(1, std::memory_order_release);
  }
  return import_awaited_.load(std::memory_order_acquire);
}

}  // namespace Storage
