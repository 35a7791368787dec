// The auto-fill storage as a host uses it: opened through the service without a configuration,
// records set, persisted encrypted by UnInitialize and read back by the next Initialize.
#include <gtest/gtest.h>

#include <string>

#include "browserplatform/atlbase.h"
#include "browserstorage/key_value_storage.h"
#include "browserstorage/object_factory.h"
#include "browserstorage/storage_service.h"
#include "tests/common/app_data_root.h"
#include "tests/common/temp_folder.h"
#include "tests/integration/storage_library.h"

namespace {

ATL::CComPtr<ITextValue> NewText(const char16_t* text) {
  ATL::CComPtr<ITextValue> value;
  EXPECT_EQ(Util::Com::CreateObjectByInterface(kTextValueInterfaceName, value.ReceiveVoid()), S_OK);
  if (value) {
    ATL::CComBSTR string(text);
    value->SetString(string);
  }
  return value;
}

class KeyValueExHostTest : public storage_test::StorageLibraryTest {
 protected:
  void SetUp() override {
    StorageLibraryTest::SetUp();
    service_ = library_.Create<IStorageServiceEx>(CLSID_CStorageService);
    ASSERT_TRUE(service_);
  }

  ATL::CComPtr<IKeyValueStorageEx> Open(const char16_t* id) {
    ATL::CComPtr<IUnknown> unknown;
    EXPECT_EQ(service_->GetStorage(id, nullptr, unknown.Receive()), S_OK);
    ATL::CComPtr<IKeyValueStorageEx> storage;
    if (unknown) {
      EXPECT_EQ(unknown.QueryInterface(storage.Receive()), S_OK);
    }
    return storage;
  }

  static std::u16string Get(IKeyValueStorageEx* storage, const char16_t* key) {
    ATL::CComPtr<ITextValue> value = NewText(u"");
    ATL::CComBSTR name(key);
    if (storage->GetValue(name, value) != S_OK) return u"(absent)";
    ATL::CComBSTR text;
    value->GetString(text.Receive());
    return std::u16string(text.get() ? text.get() : u"", text.Length());
  }

  ATL::CComPtr<IStorageServiceEx> service_;
};

TEST_F(KeyValueExHostTest, AutoFillRecordsSurviveUnInitializeEncrypted) {
  constexpr char16_t kUser[] = u"autofill round trip";
  ASSERT_EQ(service_->Initialize(2, 2, kUser), S_OK);
  ATL::CComPtr<IKeyValueStorageEx> storage = Open(Storage::kAutoFillStorageId);
  ASSERT_TRUE(storage);
  ASSERT_EQ(
      storage->SetValue(ATL::CComBSTR(u"https://shop.example/#email"), NewText(u"ada@example.org")),
      S_OK);
  ASSERT_EQ(storage->SetValue(ATL::CComBSTR(u"https://shop.example/#street"),
                              NewText(u"12 \"Analytical\" Row & Co <1843>")),
            S_OK);
  ASSERT_EQ(service_->UnInitialize(), S_OK);

  const std::string file =
      platform_test::ReadNative(storage_test::StyleTwoUserFolder(kUser) + "AutoFill_v2");
  ASSERT_GT(file.size(), 16u);
  for (const char* plain : {"ada@example.org", "Analytical", "shop.example", "<root>", "Item"}) {
    EXPECT_EQ(file.find(plain), std::string::npos) << plain;
  }

  ASSERT_EQ(service_->Initialize(2, 2, kUser), S_OK);
  ATL::CComPtr<IKeyValueStorageEx> reopened = Open(Storage::kAutoFillStorageId);
  ASSERT_TRUE(reopened);
  ATL::CComPtr<IStorageInfo> info;
  ASSERT_EQ(reopened.QueryInterface(info.Receive()), S_OK);
  ULONG failed = 9;
  EXPECT_EQ(info->IsImportFailed(&failed), S_OK);
  EXPECT_EQ(failed, 0u);
  EXPECT_EQ(Get(reopened, u"https://shop.example/#email"), u"ada@example.org");
  EXPECT_EQ(Get(reopened, u"https://shop.example/#street"), u"12 \"Analytical\" Row & Co <1843>");
  ATL::CComPtr<IObjectList> keys;
  ASSERT_EQ(reopened->GetAllKeys(keys.Receive()), S_OK);
  UINT count = 0;
  EXPECT_EQ(keys->Count(&count), S_OK);
  EXPECT_EQ(count, 2u);
  // The auto-login storage keeps its own file.
  ATL::CComPtr<IKeyValueStorageEx> login = Open(Storage::kAutoLoginStorageId);
  ASSERT_TRUE(login);
  EXPECT_EQ(Get(login, u"https://shop.example/#email"), u"(absent)");
  ASSERT_EQ(service_->UnInitialize(), S_OK);
}

}  // namespace
