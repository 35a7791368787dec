// The extension storage: the browser's database of installed extensions, as a host reaches it.
//
// A host gets the extension storage from IStorageServiceEx::GetStorage(kExtensionStorageId) and
// asks its IUnknown for IExtensionStorage. The storage keeps two tables keyed by extension
// identifier: the installed list and the update list (extensions waiting to be updated). Each
// row holds the identifier, an install path, the manifest as JSON text, a type and a state.
// Every change is visible at once to every caller; the whole database is written to the file
// "localextensions\extdb_v2.json" under the user's data folder later, in the background, and
// when the service is uninitialised.
//
// Rows travel as extension records (IExtensionRecord, browserstorage/shared_objects.h, made by
// Util::Com::CreateObjectByIID); the storage copies the five fields of a record it is handed
// and keeps no reference to it. Strings are read up to their first NUL character. Lists come
// back as object lists (IObjectList) of new records, appended under IID_IExtensionRecord, in
// ordinal order of their identifiers (UTF-16 code units compared as unsigned numbers: upper
// case before lower case, ASCII before the rest). The caller owns a list it receives.
//
// BSTR ARGUMENTS stay owned by the caller: the storage neither keeps nor frees them. A null BSTR
// is the empty identifier. A row with an empty identifier is stored like any other, but its
// change alone does not schedule a write of the file.
//
// Results common to every operation: E_FAIL once the storage has been detached from its data
// by UnInitialize; E_STORAGE_INVALIDARG (browserstorage/result_codes.h) for a null out pointer
// and for UpdateExtension's null record. Until the storage's file has been read, every
// operation on the tables waits for it. Running out of memory while copying a string throws
// Storage::CHResultException(E_OUTOFMEMORY).
//
// Threads: any thread, concurrently. Each table has its own lock; no operation holds both.
#pragma once

#include "browserplatform/oleauto.h"
#include "browserplatform/types.h"
#include "browserplatform/unknwn.h"
#include "browserstorage/result_codes.h"
#include "browserstorage/shared_objects.h"

struct IExtensionStorage : public IUnknown {
  // Slot 3. Stores a copy of `record` in the installed list, replacing all five fields of a row
  // with the same identifier. E_FAIL for a null `record`; a failure of one of the record's
  // getters is returned as it is, and nothing is stored.
  virtual HRESULT STDMETHODCALLTYPE AddExtension(IExtensionRecord* record) = 0;
  // Slot 4. *list receives a new list with one new record per installed row. The two first
  // arguments are not used. E_FAIL when no list can be made; a record that cannot be made is
  // left out.
  virtual HRESULT STDMETHODCALLTYPE GetExtensionList(INT unused1, INT unused2,
                                                     IObjectList** list) = 0;
  // Slot 5. Sets the state of the installed row `ext_id`. E_FAIL when there is none.
  virtual HRESULT STDMETHODCALLTYPE SetExtensionState(BSTR ext_id, INT state) = 0;
  // Slot 6. Sets the type of the installed row `ext_id`. E_FAIL when there is none.
  virtual HRESULT STDMETHODCALLTYPE SetExtensionType(BSTR ext_id, INT type) = 0;
  // Slot 7. Removes the installed row `ext_id`. E_FAIL when there is none.
  virtual HRESULT STDMETHODCALLTYPE RemoveExtension(BSTR ext_id) = 0;
  // Slot 8. *list receives a new list with one new record per row of the update list.
  virtual HRESULT STDMETHODCALLTYPE GetUpdateList(IObjectList** list) = 0;
  // Slot 9. AddExtension for the update list.
  virtual HRESULT STDMETHODCALLTYPE AddUpdateItem(IExtensionRecord* record) = 0;
  // Slot 10. Empties the update list; schedules a write even when it was empty. S_OK.
  virtual HRESULT STDMETHODCALLTYPE ClearUpdateList() = 0;
  // Slot 11. Always E_NOTIMPL (E_FAIL once detached).
  virtual HRESULT STDMETHODCALLTYPE ReservedOperation() = 0;
  // Slot 12. Copies the type, state, path and manifest of `record` into the installed row
  // `ext_id` (its identifier stays; the record's is not read). E_FAIL when there is no such
  // row; E_STORAGE_INVALIDARG for a null `record`; a getter's failure as AddExtension.
  virtual HRESULT STDMETHODCALLTYPE UpdateExtension(BSTR ext_id, IExtensionRecord* record) = 0;
  // Slot 13. *path receives a new copy of the storage's file path, for the caller to free.
  // E_FAIL when the storage has no path.
  virtual HRESULT STDMETHODCALLTYPE GetStoragePath(BSTR* path) = 0;
};
BROWSER_DECLARE_IID(IExtensionStorage, "14BE2E55-0289-4AED-94F2-D58360AD3DF6");
inline constexpr const IID& IID_IExtensionStorage = uuidof<IExtensionStorage>();
