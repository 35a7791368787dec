#include "storage/sync/storage_sync_base.h"

#include <iterator>
#include <utility>

#include "base/trace.h"
#include "storage/sync/storage_sync_manager.h"
#include "storage/sync/storage_sync_timer.h"
#include "storage/sync/string_copy.h"

namespace Storage {
namespace {

constexpr DWORD kDefaultSyncIntervalMs = 5000;

// Runs on a timer-queue thread and must take no lock: StopTimer waits for it while holding the
// synchroniser's lock.
void SyncTimerCallback(void* context, BOOLEAN /*timer_fired*/) {
  if (context != nullptr) static_cast<CStorageSyncBase*>(context)->SyncNow();
}

ATL::CComBSTR CopyName(BSTR name) {
  ATL::CComBSTR copy;
  copy.Attach(CopyBstrOrThrow(name));
  return copy;
}

}  // namespace

CStorageSyncBase::CStorageSyncBase(CStorageSyncManager* sync_manager, CStorageSyncTimer* sync_timer,
                                   int timer_enabled, BSTR name)
    : sync_manager_(sync_manager),
      sync_timer_(sync_timer),
      timer_enabled_(timer_enabled),
      name_(CopyName(name)) {
  imported_event_.Create(TRUE, FALSE);
}

CStorageSyncBase::~CStorageSyncBase() {
  // Normally the owner stopped the timer already (DetachOwner); a synchroniser that never had
  // an owner must not leave a callback pointing at freed memory either.
  HANDLE timer;
  {
    base::CAutoLock guard(lock_);
    timer = std::exchange(timer_, nullptr);
  }
  if (timer != nullptr && sync_timer_) sync_timer_->DeleteTimer(timer);
}

BOOL CStorageSyncBase::WaitForImport() {
  if (imported_.load(std::memory_order_acquire)) return TRUE;
  return imported_event_.Wait(INFINITE) ? TRUE : FALSE;
}

void CStorageSyncBase::SetImported() {
  imported_.store(1, std::memory_order_release);
  imported_event_.Set();
}

void CStorageSyncBase::RecordSet(const std::u16string& key, IUnknown* value, int sync_now) {
  if (key.empty()) return;
  Append(PendingChange{key, kChangeOpSet, ATL::CComPtr<IUnknown>(value)}, sync_now);
}

void CStorageSyncBase::RecordRemove(const std::u16string& key, int sync_now) {
  if (key.empty()) return;
  Append(PendingChange{key, kChangeOpRemove, nullptr}, sync_now);
}

void CStorageSyncBase::RecordClear(int sync_now) {
  Append(PendingChange{std::u16string(), kChangeOpClear, nullptr}, sync_now);
}

void CStorageSyncBase::Append(PendingChange change, int sync_now) {
  base::CAutoLock guard(lock_);
  pending_.push_back(std::move(change));
  StartTimer();
  if (sync_now && sync_manager_) sync_manager_->PostSync(this);
}

void CStorageSyncBase::scheduleFinalSync() {
  base::CPerformanceTrace trace(u"Storage::CStorageSyncBase::scheduleFinalSync");
  performSync();
}

void CStorageSyncBase::performImport() {}

void CStorageSyncBase::performSync() {}

int CStorageSyncBase::IsImportFailed() { return import_failed_.load(std::memory_order_acquire); }

int CStorageSyncBase::IsImported() { return imported_.load(std::memory_order_acquire); }

int CStorageSyncBase::SyncNow() { return 0; }

int CStorageSyncBase::StartTimer() {
  base::CPerformanceTrace trace(u"Storage::CStorageSyncBase::StartTimer");
  if (!timer_enabled_) return 0;
  base::CAutoLock guard(lock_);
  // A running timer keeps its schedule, so a burst of changes does not push the sync away.
  if (timer_ == nullptr && sync_timer_) {
    timer_ = sync_timer_->CreateTimer(&SyncTimerCallback, this, GetSyncInterval());
  }
  return 0;
}

int CStorageSyncBase::StopTimer() {
  base::CPerformanceTrace trace(u"Storage::CStorageSyncBase::StopTimer");
  if (!timer_enabled_) return 0;
  base::CAutoLock guard(lock_);
  if (timer_ != nullptr && sync_timer_) {
    sync_timer_->DeleteTimer(timer_);
    timer_ = nullptr;
  }
  return 0;
}

DWORD CStorageSyncBase::GetSyncInterval() { return kDefaultSyncIntervalMs; }

void CStorageSyncBase::DetachOwner() { StopTimer(); }

std::vector<PendingChange> CStorageSyncBase::TakePendingChanges() {
  std::vector<PendingChange> taken;
  base::CAutoLock guard(lock_);
  taken.swap(pending_);
  return taken;
}

void CStorageSyncBase::RestorePendingChanges(std::vector<PendingChange> taken) {
  if (taken.empty()) return;
  {
    base::CAutoLock guard(lock_);
    // Older changes first: a synchroniser that replays records needs them in the order made.
    taken.insert(taken.end(), std::make_move_iterator(pending_.begin()),
                 std::make_move_iterator(pending_.end()));
    pending_.swap(taken);
  }
  StartTimer();
}

void CStorageSyncBase::PostSyncToManager() {
  if (sync_manager_) sync_manager_->PostSync(this);
}

std::vector<PendingChange> CStorageSyncBase::pending_changes_for_testing() {
  base::CAutoLock guard(lock_);
  return pending_;
}

HANDLE CStorageSyncBase::timer_for_testing() {
  base::CAutoLock guard(lock_);
  return timer_;
}

}  // namespace Storage
