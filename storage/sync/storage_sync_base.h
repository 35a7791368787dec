// Storage::CStorageSyncBase: the base of every synchroniser. A synchroniser reads its storage's
// file or database once (performImport), collects the changes its in-memory structure reports
// (RecordSet / RecordRemove / RecordClear), writes them back on a periodic timer or at once on
// request (performSync), and writes a last time when the structure goes (scheduleFinalSync).
//
// Lifetime: the in-memory structure owns the synchroniser (one counted reference); the
// synchroniser keeps only a plain pointer back, which its owner withdraws with DetachOwner()
// before it releases it. A task queued on the sync thread holds a reference of its own, so a
// synchroniser may outlive its owner; imports and syncs run after DetachOwner do nothing. The
// synchroniser holds the service's sync manager and sync timer with counted references: a host
// may release the service, without UnInitialize, while it still uses a storage.
//
// Thread safety: record calls come from callers' threads (with the owner's lock held), imports
// and syncs from the sync thread or the thread that creates or closes the storage, SyncNow from
// timer-queue threads. `lock_` guards the pending list and the timer handle. Lock order: the
// owner's lock, then `lock_`. StopTimer holds `lock_` while it waits for a running timer
// callback (or for an Uninit of the sync timer that is deleting it), which is safe because
// callbacks take no synchroniser lock: they only post a task.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "base/kernel_event.h"
#include "base/lock.h"
#include "base/ref_counted.h"
#include "browserplatform/atlbase.h"
#include "browserplatform/oleauto.h"
#include "browserplatform/types.h"

namespace Storage {

class CStorageInMemStructure;
class CStorageSyncManager;
class CStorageSyncTimer;

enum ChangeOp : int {
  kChangeOpSet = 1,
  kChangeOpRemove = 2,
  kChangeOpClear = 3,  // all keys; the record's key is empty
};

// One change an in-memory structure hands to its synchroniser. Set records carry the new value
// (the structure's own object, shared); remove and clear records carry none.
struct PendingChange {
  std::u16string key;
  int op = kChangeOpSet;
  ATL::CComPtr<IUnknown> value;
};

class CStorageSyncBase : public base::CRefCountedThreadSafe<CStorageSyncBase> {
 public:
  // Picks the synchroniser for (storage type, sync kind, cache kind), or null when none fits.
  // `owner` must be the in-memory structure of that storage type; it is kept
  // as a plain pointer. With `import_on_create` non-zero the import runs here, in the calling
  // thread, before create returns; otherwise it is posted to `sync_manager`'s thread, or run
  // here when there is no manager or the post fails, so that the owner's import gate always
  // opens. The synchroniser keeps `sync_manager` and `sync_timer` with references; `name` (may
  // be null) is copied. Stores the result in `out` and returns it. Defined beside the storage
  // registry (storage/service/), above every folder that has a synchroniser.
  static base::scoped_refptr<CStorageSyncBase>& create(
      base::scoped_refptr<CStorageSyncBase>& out, const char16_t* file_path, int storage_type,
      int sync_kind, int cache_kind, CStorageInMemStructure* owner,
      CStorageSyncManager* sync_manager, CStorageSyncTimer* sync_timer, int import_on_create,
      BSTR name, int write_mode);

  // Virtual slots after the destructor (0), AddRef (1) and Release (2).

  // Slot 3. Non-zero once the import has finished; blocks without time-out until it has.
  virtual BOOL WaitForImport();
  // Slot 4. Marks the import finished and releases every waiter.
  virtual void SetImported();
  // Slot 5. Appends a set record holding a reference to `value` and starts the timer; with
  // `sync_now` non-zero also asks the sync manager for a sync at once. An empty key records
  // nothing.
  virtual void RecordSet(const std::u16string& key, IUnknown* value, int sync_now);
  // Slot 6. The same with a remove record.
  virtual void RecordRemove(const std::u16string& key, int sync_now);
  // Slot 7. The same with a clear record (always recorded).
  virtual void RecordClear(int sync_now);
  // Slot 8. The last write when the owner goes; the base runs performSync.
  virtual void scheduleFinalSync();
  // Slot 9. Reads the persistent data into the owner without recording changes; ends with
  // SetImported on every path. The base does nothing.
  virtual void performImport();
  // Slot 10. Takes the pending list; writes when it held anything, else stops the timer. A
  // write that fails puts the changes back, so the timer retries. The base does nothing.
  virtual void performSync();
  // Slot 11. Non-zero when the import found nothing usable and started from empty data.
  virtual int IsImportFailed();
  // Slot 12. Non-zero once the import has finished (no wait).
  virtual int IsImported();
  // Slot 13. Called by the timer; concrete synchronisers post performSync to the sync thread.
  // Returns 0.
  virtual int SyncNow();
  // Slot 14. Starts the periodic timer (first expiry and period GetSyncInterval()) unless one
  // runs or there is no sync timer. Returns 0.
  virtual int StartTimer();
  // Slot 15. Deletes the running timer, waiting for a callback in progress. Returns 0.
  virtual int StopTimer();
  // Slot 16. The timer period in milliseconds.
  virtual DWORD GetSyncInterval();
  // Slot 17. The owner is going: from now on imports and syncs leave it alone, and the timer is
  // stopped so that no callback outlives it. Concrete synchronisers forget their owner pointer
  // under their own lock and then call this.
  virtual void DetachOwner();

  // A copy of the pending list, for tests.
  std::vector<PendingChange> pending_changes_for_testing();
  // The running timer, for tests (null when none runs).
  HANDLE timer_for_testing();

 protected:
  // `sync_manager` and `sync_timer` are kept with a reference. Both may be null.
  // Throws CHResultException(E_OUTOFMEMORY) when `name` cannot be copied.
  CStorageSyncBase(CStorageSyncManager* sync_manager, CStorageSyncTimer* sync_timer,
                   int timer_enabled, BSTR name);
  ~CStorageSyncBase() override;

  // The whole pending list, leaving it empty.
  std::vector<PendingChange> TakePendingChanges();
  // Puts changes taken by a sync that could not write back in front of those recorded since,
  // and keeps the timer running, so that a later sync (or the final one) writes them.
  void RestorePendingChanges(std::vector<PendingChange> taken);
  void SetImportFailed() { import_failed_.store(1, std::memory_order_release); }
  // The shared SyncNow of the concrete synchronisers: post performSync when there is a manager.
  void PostSyncToManager();

  CStorageSyncManager* sync_manager() const { return sync_manager_.get(); }
  BSTR name() const { return name_.get(); }

 private:
  void Append(PendingChange change, int sync_now);

  base::CKernelEvent imported_event_;  // manual reset, signalled by SetImported
  base::CLock lock_;
  std::vector<PendingChange> pending_ GUARDED_BY(lock_);
  const base::scoped_refptr<CStorageSyncManager> sync_manager_;
  const base::scoped_refptr<CStorageSyncTimer> sync_timer_;
  std::atomic<int> import_failed_{0};
  std::atomic<int> imported_{0};
  HANDLE timer_ GUARDED_BY(lock_) = nullptr;
  const int timer_enabled_;
  const ATL::CComBSTR name_;
};

}  // namespace Storage
