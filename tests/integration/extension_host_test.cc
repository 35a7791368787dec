// The extension storage as a host uses it: opened through the service in a folder of its own
// that a new user lacks, changed, persisted by UnInitialize and read back by the next
// Initialize.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "browserplatform/atlbase.h"
#include "browserplatform/oleauto.h"
#include "browserstorage/extension_storage.h"
#include "browserstorage/object_factory.h"
#include "browserstorage/storage_service.h"
#include "tests/common/app_data_root.h"
#include "tests/integration/storage_library.h"

namespace {

struct Fields {
  std::u16string ext_id;
  std::u16string path;
  std::u16string manifest;
  INT type = 0;
  INT state = 0;
  bool operator==(const Fields&) const = default;
};

ATL::CComBSTR Bstr(const std::u16string& text) {
  return ATL::CComBSTR(text.data(), static_cast<UINT>(text.size()));
}

std::u16string Text(const ATL::CComBSTR& text) {
  return text.get() ? std::u16string(text.get(), text.Length()) : std::u16string();
}

ATL::CComPtr<IExtensionRecord> Record(const Fields& fields) {
  ATL::CComPtr<IExtensionRecord> record;
  EXPECT_EQ(Util::Com::CreateObjectByIID(IID_IExtensionRecord, record.ReceiveVoid()), S_OK);
  record->SetExtensionId(Bstr(fields.ext_id));
  record->SetPath(Bstr(fields.path));
  record->SetManifest(Bstr(fields.manifest));
  record->SetType(fields.type);
  record->SetState(fields.state);
  return record;
}

std::vector<Fields> FieldsOf(IObjectList* list) {
  std::vector<Fields> out;
  UINT count = 0;
  if (list == nullptr) return out;
  list->Count(&count);
  for (UINT i = 0; i < count; ++i) {
    ATL::CComPtr<IExtensionRecord> record;
    EXPECT_EQ(list->GetAt(i, IID_IExtensionRecord, record.ReceiveVoid()), S_OK);
    if (!record) continue;
    Fields fields;
    ATL::CComBSTR id, path, manifest;
    record->GetExtensionId(id.Receive());
    record->GetPath(path.Receive());
    record->GetManifest(manifest.Receive());
    record->GetType(&fields.type);
    record->GetState(&fields.state);
    fields.ext_id = Text(id);
    fields.path = Text(path);
    fields.manifest = Text(manifest);
    out.push_back(fields);
  }
  return out;
}

class ExtensionHostTest : public storage_test::StorageLibraryTest {
 protected:
  void SetUp() override {
    StorageLibraryTest::SetUp();
    service_ = library_.Create<IStorageServiceEx>(CLSID_CStorageService);
    ASSERT_TRUE(service_);
  }

  ATL::CComPtr<IExtensionStorage> Open() {
    ATL::CComPtr<IUnknown> unknown;
    EXPECT_EQ(service_->GetStorage(Storage::kExtensionStorageId, nullptr, unknown.Receive()), S_OK);
    ATL::CComPtr<IExtensionStorage> storage;
    if (unknown) {
      EXPECT_EQ(unknown.QueryInterface(storage.Receive()), S_OK);
    }
    return storage;
  }

  static std::vector<Fields> Installed(IExtensionStorage* storage) {
    ATL::CComPtr<IObjectList> list;
    EXPECT_EQ(storage->GetExtensionList(0, 0, list.Receive()), S_OK);
    return FieldsOf(list);
  }
  static std::vector<Fields> Updates(IExtensionStorage* storage) {
    ATL::CComPtr<IObjectList> list;
    EXPECT_EQ(storage->GetUpdateList(list.Receive()), S_OK);
    return FieldsOf(list);
  }

  ATL::CComPtr<IStorageServiceEx> service_;
};

TEST_F(ExtensionHostTest, RowsSurviveUnInitializeInTheFolderMadeForThem) {
  constexpr char16_t kUser[] = u"extension round trip";
  const std::string folder = storage_test::StyleTwoUserFolder(kUser) + "localextensions";
  ASSERT_EQ(service_->Initialize(2, 2, kUser), S_OK);
  EXPECT_FALSE(platform_test::Exists(folder));
  ATL::CComPtr<IExtensionStorage> storage = Open();
  ASSERT_TRUE(storage);
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  ATL::CComBSTR path;
  ASSERT_EQ(storage->GetStoragePath(path.Receive()), S_OK);
  EXPECT_EQ(Text(path), platform_test::Widen(storage_test::StyleTwoUserFolder(kUser)) +
                            u"localextensions\\extdb_v2.json");

  const Fields b{u"bbb", u"/ext/bbb", u"{\"name\":\"B\",\"version\":\"2\"}", 1, 3};
  const Fields a{u"AAA", u"/ext/AAA", u"{}", 2, 1};
  const Fields update{u"bbb", u"/ext/bbb-next", u"{\"version\":\"3\"}", 1, 0};
  ASSERT_EQ(storage->AddExtension(Record(b)), S_OK);
  ASSERT_EQ(storage->AddExtension(Record(a)), S_OK);
  ASSERT_EQ(storage->SetExtensionState(Bstr(u"AAA"), 7), S_OK);
  ASSERT_EQ(storage->AddUpdateItem(Record(update)), S_OK);
  ASSERT_EQ(service_->UnInitialize(), S_OK);
  EXPECT_TRUE(platform_test::Exists(folder + "/extdb_v2.json"));
  ATL::CComPtr<IObjectList> list;
  EXPECT_EQ(storage->GetExtensionList(0, 0, list.Receive()), E_FAIL);  // detached

  ASSERT_EQ(service_->Initialize(2, 2, kUser), S_OK);
  ATL::CComPtr<IExtensionStorage> reopened = Open();
  ASSERT_TRUE(reopened);
  Fields a7 = a;
  a7.state = 7;
  EXPECT_EQ(Installed(reopened), (std::vector<Fields>{a7, b}));
  EXPECT_EQ(Updates(reopened), (std::vector<Fields>{update}));
  ASSERT_EQ(service_->UnInitialize(), S_OK);
}

TEST_F(ExtensionHostTest, AFolderThatCannotBeMadeStillOpensTheStorage) {
  constexpr char16_t kUser[] = u"extension folder blocked";
  ASSERT_EQ(service_->Initialize(2, 2, kUser), S_OK);
  // A file where the folder belongs.
  platform_test::WriteNative(storage_test::StyleTwoUserFolder(kUser) + "localextensions", "x");
  ATL::CComPtr<IExtensionStorage> storage = Open();
  ASSERT_TRUE(storage);
  EXPECT_TRUE(Installed(storage).empty());
  const Fields row{u"id", u"p", u"{}", 0, 0};
  ASSERT_EQ(storage->AddExtension(Record(row)), S_OK);
  EXPECT_EQ(Installed(storage), (std::vector<Fields>{row}));
  // The write fails and is logged; nothing else breaks.
  ASSERT_EQ(service_->UnInitialize(), S_OK);
  EXPECT_EQ(platform_test::ReadNative(storage_test::StyleTwoUserFolder(kUser) + "localextensions"),
            "x");
}

}  // namespace
