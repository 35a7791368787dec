// Helpers for the key-value-ex tests: text values, their texts, configurations and storages.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "browserplatform/atlbase.h"
#include "browserplatform/atlcom.h"
#include "browserstorage/key_value_storage.h"
#include "browserstorage/object_factory.h"
#include "storage/keyvalue/key_value_storage_ex_base.h"
#include "storage/keyvalue/key_value_storage_ex_cache_base.h"
#include "storage/sync/storage_config_base.h"

namespace kvex_test {

inline ATL::CComPtr<ITextValue> NewText(std::u16string_view text) {
  ATL::CComPtr<ITextValue> value;
  EXPECT_EQ(Util::Com::CreateObjectByInterface(kTextValueInterfaceName, value.ReceiveVoid()), S_OK);
  if (value) {
    ATL::CComBSTR string(text.data(), static_cast<UINT>(text.size()));
    EXPECT_EQ(value->SetString(string), S_OK);
  }
  return value;
}

inline std::u16string TextOf(ITextValue* value) {
  ATL::CComBSTR text;
  EXPECT_EQ(value->GetString(text.Receive()), S_OK);
  return text.get() ? std::u16string(text.get(), text.Length()) : std::u16string();
}

// The configuration of a key-value-ex storage kept in `path`, with no name unless given.
inline base::scoped_refptr<Storage::CStorageConfigBase> ExConfig(std::u16string path,
                                                                 int write_mode = 1,
                                                                 const char16_t* name = nullptr) {
  base::scoped_refptr<Storage::CStorageConfigBase> config(new Storage::CStorageConfigBase());
  config->SetFilePath(std::move(path));
  config->SetStorageType(2);
  config->SetCacheKind(1);
  config->SetMemoryLimit(-1);
  config->SetSyncKind(2);
  config->SetWriteMode(write_mode);
  config->SetImportOnCreate(1);
  if (name != nullptr) config->SetName(ATL::CComBSTR(name));
  return config;
}

// A storage COM object attached to `cache` (null: left unattached).
inline ATL::CComPtr<IKeyValueStorageEx> NewStorage(Storage::CStorageConfigBase* config,
                                                   Storage::CKeyValueStorageExCacheBase* cache) {
  ATL::CComObject<Storage::CKeyValueStorageExBase>* object = nullptr;
  EXPECT_EQ(ATL::CComObject<Storage::CKeyValueStorageExBase>::CreateInstance(&object), S_OK);
  ATL::CComPtr<IKeyValueStorageEx> storage(object);
  if (cache != nullptr) {
    EXPECT_EQ(object->Attach(config, cache), S_OK);
  }
  return storage;
}

// The string elements of `list`, in order.
inline std::vector<std::u16string> Strings(IObjectList* list) {
  UINT count = 0;
  EXPECT_EQ(list->Count(&count), S_OK);
  std::vector<std::u16string> strings;
  for (UINT i = 0; i < count; ++i) {
    ATL::CComBSTR text;
    EXPECT_EQ(list->GetStringAt(i, text.Receive()), S_OK);
    strings.emplace_back(text.get() ? text.get() : u"", text.Length());
  }
  return strings;
}

}  // namespace kvex_test
