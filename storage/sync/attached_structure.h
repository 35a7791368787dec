// Storage::CAttachedStructure: the in-memory structure a storage COM object forwards to, as
// CStorageBase::Attach and Detach hand it over.
//
// Thread safety: any thread. The lock guards only the reference: each call takes its own
// reference and works without the lock, so Detach never waits for a call in progress, and that
// call keeps the structure alive until it returns.
#pragma once

#include <utility>

#include "base/ref_counted.h"
#include "browserstorage/result_codes.h"
#include "storage/sync/read_write_lock.h"

namespace Storage {

class CStorageConfigBase;
class CStorageInMemStructure;

template <class Structure>
class CAttachedStructure {
 public:
  // Null when detached.
  base::scoped_refptr<Structure> get() {
    CSharedLockGuard guard(lock_);
    return structure_;
  }

  // E_STORAGE_INVALIDARG for a null `config` or a structure of another kind; else replaces the
  // held structure. S_OK.
  HRESULT Attach(CStorageConfigBase* config, CStorageInMemStructure* structure) {
    auto* typed = dynamic_cast<Structure*>(structure);
    if (config == nullptr || typed == nullptr) return E_STORAGE_INVALIDARG;
    base::scoped_refptr<Structure> previous;
    {
      CExclusiveLockGuard guard(lock_);
      previous = std::exchange(structure_, base::scoped_refptr<Structure>(typed));
    }
    // Dropped outside the lock: the last reference runs the structure's final sync.
    return S_OK;
  }

  HRESULT Detach() {
    base::scoped_refptr<Structure> previous;
    {
      CExclusiveLockGuard guard(lock_);
      previous.swap(structure_);
    }
    return S_OK;
  }

 private:
  CReadWriteLock lock_;
  base::scoped_refptr<Structure> structure_ GUARDED_BY(lock_);
};

}  // namespace Storage
