// Extension rows as records and lists, and a fixture that opens the extension storage over a
// real file in a temporary folder: a model made by CExtensionStorageModel::create with the
// registered row's kinds, its JSON file synchroniser, and the COM object attached to it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "browserplatform/atlbase.h"
#include "browserplatform/atlcom.h"
#include "browserstorage/extension_storage.h"
#include "browserstorage/object_factory.h"
#include "browserstorage/storage_service.h"
#include "storage/extension/extension_storage_impl.h"
#include "storage/extension/extension_storage_model.h"
#include "storage/sync/storage_config_base.h"
#include "storage/sync/storage_sync_base.h"
#include "tests/common/temp_folder.h"

namespace extension_test {

using Storage::ExtensionRecord;
using Rows = std::vector<ExtensionRecord>;

inline ExtensionRecord Row(std::u16string ext_id, std::u16string path = u"p",
                           std::u16string manifest = u"{}", int type = 0, int state = 0) {
  return {std::move(ext_id), std::move(path), std::move(manifest), type, state};
}

inline ATL::CComPtr<IExtensionRecord> NewRecord(const ExtensionRecord& row) {
  ATL::CComPtr<IExtensionRecord> record;
  EXPECT_EQ(Util::Com::CreateObjectByIID(IID_IExtensionRecord, record.ReceiveVoid()), S_OK);
  if (!record) return record;
  ATL::CComBSTR ext_id(row.extId.data(), static_cast<UINT>(row.extId.size()));
  ATL::CComBSTR path(row.path.data(), static_cast<UINT>(row.path.size()));
  ATL::CComBSTR manifest(row.manifest.data(), static_cast<UINT>(row.manifest.size()));
  record->SetExtensionId(ext_id);
  record->SetPath(path);
  record->SetManifest(manifest);
  record->SetType(row.type);
  record->SetState(row.state);
  return record;
}

inline std::u16string Text(BSTR text) {
  return text ? std::u16string(text, SysStringLen(text)) : std::u16string();
}

inline ExtensionRecord RowOf(IExtensionRecord* record) {
  ExtensionRecord row;
  ATL::CComBSTR ext_id, path, manifest;
  record->GetExtensionId(ext_id.Receive());
  record->GetPath(path.Receive());
  record->GetManifest(manifest.Receive());
  record->GetType(&row.type);
  record->GetState(&row.state);
  row.extId = Text(ext_id);
  row.path = Text(path);
  row.manifest = Text(manifest);
  return row;
}

// The records of `list`, in list order.
inline Rows RowsOf(IObjectList* list) {
  Rows rows;
  UINT count = 0;
  if (list == nullptr || FAILED(list->Count(&count))) return rows;
  for (UINT i = 0; i < count; ++i) {
    ATL::CComPtr<IExtensionRecord> record;
    EXPECT_EQ(list->GetAt(i, IID_IExtensionRecord, record.ReceiveVoid()), S_OK);
    if (record) rows.push_back(RowOf(record));
  }
  return rows;
}

inline Rows Installed(IExtensionStorage* storage) {
  ATL::CComPtr<IObjectList> list;
  EXPECT_EQ(storage->GetExtensionList(0, 0, list.Receive()), S_OK);
  return RowsOf(list);
}

inline Rows Updates(IExtensionStorage* storage) {
  ATL::CComPtr<IObjectList> list;
  EXPECT_EQ(storage->GetUpdateList(list.Receive()), S_OK);
  return RowsOf(list);
}

inline base::scoped_refptr<Storage::CStorageConfigBase> ExtensionConfig(std::u16string path,
                                                                        int import_on_create = 1) {
  base::scoped_refptr<Storage::CStorageConfigBase> config(new Storage::CStorageConfigBase());
  config->SetFilePath(std::move(path));
  config->SetStorageType(Storage::kStorageTypeExtension);
  config->SetCacheKind(Storage::kCacheKindFull);
  config->SetMemoryLimit(Storage::kNoMemoryLimit);
  config->SetSyncKind(Storage::kSyncKindTextFile);
  config->SetWriteMode(Storage::kWriteModePlain);
  config->SetImportOnCreate(import_on_create);
  return config;
}

// The COM object attached to `model`, as the storage creation makes it.
inline ATL::CComPtr<IExtensionStorage> Attached(
    Storage::CExtensionStorageModel* model, Storage::CStorageConfigBase* config,
    Storage::CExtensionStorageImpl** object_out = nullptr) {
  ATL::CComObject<Storage::CExtensionStorageImpl>* object = nullptr;
  EXPECT_EQ(ATL::CComObject<Storage::CExtensionStorageImpl>::CreateInstance(&object), S_OK);
  ATL::CComPtr<IUnknown> unknown(object->GetUnknown());
  EXPECT_EQ(object->Attach(config, model), S_OK);
  ATL::CComPtr<IExtensionStorage> storage;
  EXPECT_EQ(unknown->QueryInterface(IID_IExtensionStorage, storage.ReceiveVoid()), S_OK);
  if (object_out != nullptr) *object_out = object;
  return storage;
}

// A storage over the file "extdb.json" in the test's folder. Open() builds the model (reading
// the file) and its COM object; Close() drops both, which writes the pending changes.
class ExtensionFileFixture : public platform_test::FileFixture {
 protected:
  void TearDown() override {
    Close();
    FileFixture::TearDown();
  }

  void Open() {
    config_ = ExtensionConfig(path());
    model_ = Storage::CExtensionStorageModel::create(config_.get(), nullptr, nullptr);
    ASSERT_TRUE(model_);
    storage_ = Attached(model_.get(), config_.get(), &object_);
  }
  void Close() {
    storage_.Release();
    object_ = nullptr;
    model_.reset();
  }
  void Reopen() {
    Close();
    Open();
  }

  std::u16string path() const { return folder_.Wide("extdb.json"); }
  std::string ReadFile() const { return platform_test::ReadNative(folder_.Native("extdb.json")); }
  void WriteFile(std::string_view bytes) const {
    platform_test::WriteNative(folder_.Native("extdb.json"), bytes);
  }
  bool FileExists() const { return platform_test::Exists(folder_.Native("extdb.json")); }
  std::string ReadBad() const {
    return platform_test::ReadNative(folder_.Native("extdb.json.bad"));
  }
  bool BadExists() const { return platform_test::Exists(folder_.Native("extdb.json.bad")); }

  Storage::CStorageSyncBase* sync() const { return model_->synchroniser(); }
  size_t Pending() const { return sync()->pending_changes_for_testing().size(); }
  void Sync() const { sync()->performSync(); }
  // The document the model would write now.
  std::u16string Encoded() const {
    std::u16string text;
    model_->EncodeExtensionDb(&text);
    return text;
  }

  HRESULT Add(const ExtensionRecord& row) { return storage_->AddExtension(NewRecord(row)); }
  HRESULT AddUpdate(const ExtensionRecord& row) { return storage_->AddUpdateItem(NewRecord(row)); }

  base::scoped_refptr<Storage::CStorageConfigBase> config_;
  base::scoped_refptr<Storage::CExtensionStorageModel> model_;
  Storage::CExtensionStorageImpl* object_ = nullptr;
  ATL::CComPtr<IExtensionStorage> storage_;
};

}  // namespace extension_test
