// Storage::CStorageInMemStructure: the base of every cache and model. It owns the storage's
// synchroniser and, when the structure goes, has it write a last time.
//
// The final sync reads the structure (a cache's CopyAll, a model's snapshot), so it must run
// while the derived object is still whole: the most-derived destructor calls RunFinalSync()
// first thing. The base destructor calls it as well, for structures that have nothing to read
// back; the second call finds the synchroniser gone and does nothing.
#pragma once

#include "base/ref_counted.h"
#include "browserplatform/types.h"

namespace Storage {

class CStorageConfigBase;
class CStorageSyncBase;
class CStorageSyncManager;
class CStorageSyncTimer;

class CStorageInMemStructure : public base::CRefCountedThreadSafe<CStorageInMemStructure> {
 public:
  // The synchroniser (null when none could be built); valid while this structure lives.
  CStorageSyncBase* synchroniser() const { return sync_.get(); }

 protected:
  CStorageInMemStructure();
  ~CStorageInMemStructure() override;

  // Takes the structure's synchroniser; called once, by the derived constructor.
  void SetSynchroniser(base::scoped_refptr<CStorageSyncBase> sync);
  // Takes the synchroniser CStorageSyncBase::create picks for `config` (borrowed), with this
  // structure as its owner and `name` (may be null); it may import before this returns, so the
  // derived constructor calls it last.
  void CreateSynchroniser(CStorageConfigBase* config, CStorageSyncManager* sync_manager,
                          CStorageSyncTimer* sync_timer, BSTR name);

  // Runs the synchroniser's scheduleFinalSync in the calling thread, tells it that its owner is
  // gone (stopping its timer), then releases it. Does nothing the second time.
  void RunFinalSync();

 private:
  // Written only while the structure is built or destroyed, when no other thread reaches it.
  base::scoped_refptr<CStorageSyncBase> sync_;
};

}  // namespace Storage
