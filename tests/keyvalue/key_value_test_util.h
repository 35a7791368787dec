// Helpers for the key-value tests: value objects with given bytes, key BSTRs, reference counts,
// and storages over real files in a temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "browserplatform/atlbase.h"
#include "browserplatform/atlcom.h"
#include "browserstorage/key_value_storage.h"
#include "browserstorage/object_factory.h"
#include "storage/keyvalue/key_value_storage_base.h"
#include "storage/keyvalue/key_value_storage_cache_base.h"
#include "storage/sync/storage_config_base.h"

namespace kv_test {

using Bytes = std::vector<uint8_t>;

inline ATL::CComPtr<IValueObject> NewValue(const Bytes& bytes = {}) {
  ATL::CComPtr<IValueObject> value;
  EXPECT_EQ(Util::Com::CreateObjectByIID(IID_IValueObject, value.ReceiveVoid()), S_OK);
  if (value) {
    EXPECT_EQ(value->SetBuffer(bytes.data(), static_cast<ULONG>(bytes.size())), S_OK);
  }
  return value;
}

inline Bytes BytesOf(IValueObject* value) {
  const BYTE* data = nullptr;
  ULONG size = 0;
  EXPECT_EQ(value->GetBuffer(&data), S_OK);
  EXPECT_EQ(value->GetSize(&size), S_OK);
  return data ? Bytes(data, data + size) : Bytes();
}

// A BSTR holding `text`, NULs included.
inline ATL::CComBSTR Bstr(std::u16string_view text) {
  return ATL::CComBSTR(text.data(), static_cast<UINT>(text.size()));
}

inline ULONG RefCount(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

// The configuration of a key-value XML storage kept in `path`.
inline base::scoped_refptr<Storage::CStorageConfigBase> XmlConfig(std::u16string path,
                                                                  int write_mode = 1) {
  base::scoped_refptr<Storage::CStorageConfigBase> config(new Storage::CStorageConfigBase());
  config->SetFilePath(std::move(path));
  config->SetStorageType(1);
  config->SetCacheKind(1);
  config->SetMemoryLimit(-1);
  config->SetSyncKind(2);
  config->SetWriteMode(write_mode);
  config->SetImportOnCreate(1);
  return config;
}

// The configuration of a key-value storage kept in the binary file at `path`.
inline base::scoped_refptr<Storage::CStorageConfigBase> BinaryConfig(std::u16string path) {
  base::scoped_refptr<Storage::CStorageConfigBase> config = XmlConfig(std::move(path));
  config->SetSyncKind(3);
  return config;
}

// A storage COM object attached to `cache` (may be null: then the object stays unattached).
inline ATL::CComPtr<IKeyValueStorage> NewStorage(Storage::CStorageConfigBase* config,
                                                 Storage::CKeyValueStorageCacheBase* cache) {
  ATL::CComObject<Storage::CKeyValueStorageBase>* object = nullptr;
  EXPECT_EQ(ATL::CComObject<Storage::CKeyValueStorageBase>::CreateInstance(&object), S_OK);
  ATL::CComPtr<IKeyValueStorage> storage(object);
  if (cache != nullptr) {
    EXPECT_EQ(object->Attach(config, cache), S_OK);
  }
  return storage;
}

// The keys of `storage` in its order, through GetAllKeys.
inline std::vector<std::u16string> AllKeys(IKeyValueStorage* storage) {
  ATL::CComPtr<IObjectList> list;
  EXPECT_EQ(Util::Com::CreateObjectByIID(IID_IObjectList, list.ReceiveVoid()), S_OK);
  EXPECT_EQ(storage->GetAllKeys(list), S_OK);
  UINT count = 0;
  EXPECT_EQ(list->Count(&count), S_OK);
  std::vector<std::u16string> keys;
  for (UINT i = 0; i < count; ++i) {
    ATL::CComBSTR key;
    EXPECT_EQ(list->GetStringAt(i, key.Receive()), S_OK);
    keys.emplace_back(key.get(), key.Length());
  }
  return keys;
}

}  // namespace kv_test
