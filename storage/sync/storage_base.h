// Storage::CStorageBase: the non-COM face that every storage COM object carries beside its
// typed interface. Through it the creater hands a storage its configuration and in-memory
// structure, and takes the structure back when the service is uninitialised.
#pragma once

#include "browserplatform/types.h"

namespace Storage {

class CStorageConfigBase;
// The base of every cache and model; defined with the sync base, which builds the synchronisers
// these structures own.
class CStorageInMemStructure;

class CStorageBase {
 public:
  // Slot 0. Gives the storage `config` and `structure`; the storage keeps its own reference to
  // the structure and drops the one it held before. S_OK; E_STORAGE_INVALIDARG when `structure`
  // is null, or `config` is null for a storage that needs one (every kind but the bookmark
  // tree). Called with the service lock held.
  virtual HRESULT Attach(CStorageConfigBase* config, CStorageInMemStructure* structure) = 0;
  // Slot 1. Drops the structure reference if one is held; from then on the storage answers
  // E_FAIL. S_OK.
  virtual HRESULT Detach() = 0;

 protected:
  // Storages are owned through their COM reference count, never through this face.
  ~CStorageBase() = default;
};

}  // namespace Storage
