// The icon storage: the browser's favicons, kept within a memory budget, as a host reaches it.
//
// A host gets the icon storage from IStorageServiceEx::GetStorage(kFavorIconStorageId) and asks
// its IUnknown for IIconStorage; the same object answers IStorageInfo
// (browserstorage/key_value_storage.h). Every change is visible at once to every caller and is
// written to the storage's file later, in the background and when the service is
// uninitialised.
//
// KEY OWNERSHIP: every BSTR key passed to a method of IIconStorage is handed over to that
// method. The method frees it (SysFreeString) before it returns, on every path: success,
// E_STORAGE_INVALIDARG, E_FAIL, and an exception alike. The host allocates a fresh BSTR for
// each call and never uses or frees it afterwards; passing a BSTR the host still needs, or a
// string not allocated by SysAllocString*, is a host error.
//
// Keys: a BSTR is read up to its first NUL character (its length prefix is not consulted). An
// empty or null key is rejected. Keys are matched and ordered in the user's collation
// (case-sensitive, locale-aware): two keys the collation holds equal name the same icon.
//
// Icons: icon objects (IIconObject, browserstorage/shared_objects.h, made by
// Util::Com::CreateObjectByIID). The storage keeps the object it is given, not a copy, and hands
// out the stored object itself: do not change an icon once it is stored. What an icon costs is
// estimated from its own lengths (data bytes, plus two bytes a character of both texts, plus
// 24); when the icons stored exceed the budget, the least recently read or stored ones are
// dropped, from memory and from the file. Dropping is not an error: GetIcon then finds nothing.
//
// Results common to every operation: E_STORAGE_INVALIDARG (browserstorage/result_codes.h) for
// an empty or null key or a null pointer argument; E_FAIL once the storage has been detached
// from its data by UnInitialize. Until the storage's file has been read, every call but
// IStorageInfo::IsImportFinished waits for it. A key that cannot be copied for lack of memory
// throws Storage::CHResultException(E_OUTOFMEMORY) (the key is still freed).
//
// IStorageInfo on the icon storage: a null out pointer gives E_STORAGE_INVALIDARG; once
// detached, both operations answer E_FAIL (out value untouched), as the bookmark storage's do.
//
// Threads: any thread, concurrently. Readers run in parallel; writers run one at a time.
#pragma once

#include "browserplatform/oleauto.h"
#include "browserplatform/types.h"
#include "browserplatform/unknwn.h"
#include "browserstorage/key_value_storage.h"  // IStorageInfo
#include "browserstorage/result_codes.h"
#include "browserstorage/shared_objects.h"

struct IIconStorage : public IUnknown {
  // Slot 3. Frees `key`. *icon receives the icon stored under `key` with a reference for the
  // caller, or null when there is none (still S_OK). Reading marks the icon used, which keeps
  // it longer.
  virtual HRESULT STDMETHODCALLTYPE GetIcon(BSTR key, IIconObject** icon) = 0;
  // Slot 4. Frees `key`. Stores `icon` itself under `key` (replacing any icon stored there),
  // marks it used and drops the least recently used icons beyond the budget (this one too, if
  // it is the oldest). S_OK.
  virtual HRESULT STDMETHODCALLTYPE SetIcon(BSTR key, IIconObject* icon) = 0;
  // Slot 5. Frees `key`. *exists = 1 when an icon is stored under `key`, else 0. S_OK.
  virtual HRESULT STDMETHODCALLTYPE HasIcon(BSTR key, BOOL* exists) = 0;
};
BROWSER_DECLARE_IID(IIconStorage, "D16D4663-6239-4B2C-B09B-3A54C92958BC");
inline constexpr const IID& IID_IIconStorage = uuidof<IIconStorage>();
