// The key-value storage: string keys to opaque byte values, as a host reaches it.
//
// A host gets a key-value storage from IStorageServiceEx::GetStorage (the user and browser
// preferences, the user-selected information) and asks its IUnknown for IKeyValueStorage; the
// same object answers IStorageInfo. Every change is visible at once to every caller and is
// written to the storage's file later, in the background and when the service is
// uninitialised.
//
// Keys: a BSTR is read up to its first NUL character (its length prefix is not consulted), so a
// key with an embedded NUL names the part before it. An empty or null key is rejected. Keys are
// case-sensitive and enumerated in the order of their UTF-16 code units, lowest first
// ("A" < "B" < "a" < "b"; a prefix before the longer key).
//
// Values: value objects (IValueObject, browserstorage/shared_objects.h, made by
// Util::Com::CreateObjectByIID). The storage copies the bytes in and out; it never keeps or
// changes the caller's object.
//
// Results common to every operation: E_STORAGE_INVALIDARG (browserstorage/result_codes.h) for
// an empty or null key or a null pointer argument; E_FAIL once the storage has been detached
// from its data by UnInitialize. Until the storage's file has been read, every call but
// IStorageInfo::IsImportFinished waits for it.
//
// Threads: any thread, concurrently. Readers run in parallel; writers run one at a time.
#pragma once

#include "browserplatform/oleauto.h"
#include "browserplatform/types.h"
#include "browserplatform/unknwn.h"
#include "browserstorage/result_codes.h"
#include "browserstorage/shared_objects.h"

struct IKeyValueStorage : public IUnknown {
  // Slot 3. The number of keys in *count. S_OK.
  virtual HRESULT STDMETHODCALLTYPE GetCount(ULONG* count) = 0;
  // Slot 4. Copies the value stored under `key` into `value` (its CopyFrom). S_OK; E_FAIL when
  // `key` is absent (`value` unchanged).
  virtual HRESULT STDMETHODCALLTYPE GetValue(BSTR key, IValueObject* value) = 0;
  // Slot 5. Stores a copy of `value`'s bytes under `key`. S_OK; a value equal to the stored one
  // changes nothing and causes no write. If the copy cannot be made the old value stays and the
  // result is still S_OK.
  virtual HRESULT STDMETHODCALLTYPE SetValue(BSTR key, IValueObject* value) = 0;
  // Slot 6. Removes `key`. S_OK; E_FAIL when it is absent.
  virtual HRESULT STDMETHODCALLTYPE RemoveValue(BSTR key) = 0;
  // Slot 7. Removes every key. Always S_OK (also once detached).
  virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
  // Slot 8. *exists = 1 when `key` is present, else 0. S_OK.
  virtual HRESULT STDMETHODCALLTYPE HasKey(BSTR key, BOOL* exists) = 0;
  // Slot 9. Appends every key, in key order, to `keys` as string elements (AppendString). S_OK.
  // Throws Storage::CHResultException(E_OUTOFMEMORY) when a key cannot be copied.
  virtual HRESULT STDMETHODCALLTYPE GetAllKeys(IObjectList* keys) = 0;
};
BROWSER_DECLARE_IID(IKeyValueStorage, "7718EBA1-B10A-4CB9-B68C-37EEC2BA0C5E");
inline constexpr const IID& IID_IKeyValueStorage = uuidof<IKeyValueStorage>();

// How the storage's file was read when it was opened. Once detached, both operations of a
// key-value storage leave their out value untouched and return S_OK; those of the bookmark and
// icon storages answer E_FAIL, as the bookmark storage's do for a storage without file
// (CreateTempStorage).
struct IStorageInfo : public IUnknown {
  // Slot 3. *failed = 1 when the file was missing, unreadable or malformed, so the storage
  // started empty (it is written again at the next sync); else 0. Waits for the read. S_OK.
  virtual HRESULT STDMETHODCALLTYPE IsImportFailed(ULONG* failed) = 0;
  // Slot 4. *finished = 1 once the file has been read, else 0; never waits. S_OK.
  virtual HRESULT STDMETHODCALLTYPE IsImportFinished(ULONG* finished) = 0;
};
BROWSER_DECLARE_IID(IStorageInfo, "0141FAC4-AF9A-4225-B1C9-4507D7114C1B");
inline constexpr const IID& IID_IStorageInfo = uuidof<IStorageInfo>();

// The key-value-ex storage: string keys to text values, as a host reaches it. The auto-fill
// and auto-login storages are of this kind; their files are encrypted.
//
// A host gets one from IStorageServiceEx::GetStorage and asks its IUnknown for
// IKeyValueStorageEx. Its identifier is IKeyValueStorage's: asking a key-value-ex storage for
// IID_IKeyValueStorage yields this table, never an IKeyValueStorage one, so a host must know
// which kind of storage it opened. The same object answers IStorageInfo, whose IsImportFailed
// is 1 when the file exists but could not be read or decrypted, is not well-formed XML, or has
// no "root" element (missing: 0).
//
// Keys: as for IKeyValueStorage (read up to the first NUL, empty or null rejected, enumerated
// in code-unit order).
//
// Values: text values (ITextValue, browserstorage/shared_objects.h; made by
// Util::Com::CreateObjectByInterface with kTextValueInterfaceName, or a host's own object that
// answers GetString). The storage keeps the caller's object itself, not a copy: changes the
// caller makes to it later are seen by readers and reach the file with the next write, but do
// not by themselves cause one. The file holds each text up to its first NUL character.
//
// Results common to every operation: E_STORAGE_INVALIDARG for an empty or null key or a null
// pointer argument; E_FAIL once the storage has been detached from its data by UnInitialize
// (but Clear, GetAllKeys and GetAllValues, which then succeed with nothing). Until the storage's
// file has been read, every call but IStorageInfo::IsImportFinished waits for it.
//
// Threads: any thread, concurrently. Stored objects are shared with callers and are used from
// several threads.
struct IKeyValueStorageEx : public IUnknown {
  // Slot 3. Copies the text stored under `key` into `value` (its SetString with the stored
  // object's GetString). S_OK; E_FAIL when `key` is absent (`value` unchanged); the failing
  // HRESULT of GetString or SetString when the text could not be copied.
  virtual HRESULT STDMETHODCALLTYPE GetValue(BSTR key, ITextValue* value) = 0;
  // Slot 4. Stores `value` itself under `key`, replacing the stored object. Every call counts
  // as a change, even with the object already stored. S_OK.
  virtual HRESULT STDMETHODCALLTYPE SetValue(BSTR key, ITextValue* value) = 0;
  // Slot 5. Removes `key`. S_OK; E_FAIL when it is absent.
  virtual HRESULT STDMETHODCALLTYPE RemoveValue(BSTR key) = 0;
  // Slot 6. Removes every key. Always S_OK.
  virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
  // Slot 7. A new object list (IObjectList) in *out, with every key in key order as a string
  // element. S_OK (an empty list for an empty or detached storage); the object factory's
  // failure code when no list can be made (*out untouched). Throws
  // Storage::CHResultException(E_OUTOFMEMORY) when a key cannot be copied.
  virtual HRESULT STDMETHODCALLTYPE GetAllKeys(IObjectList** out) = 0;
  // Slot 8. The same with every stored object, in key order, as object elements appended with
  // IID_ITextValue (the stored objects themselves, not copies).
  virtual HRESULT STDMETHODCALLTYPE GetAllValues(IObjectList** out) = 0;
};
BROWSER_DECLARE_IID(IKeyValueStorageEx, "7718EBA1-B10A-4CB9-B68C-37EEC2BA0C5E");
inline constexpr const IID& IID_IKeyValueStorageEx = uuidof<IKeyValueStorageEx>();
