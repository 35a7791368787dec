// The icon storage as a host uses it: opened through the service, icons stored, persisted by
// UnInitialize and read back by the next Initialize.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "browserplatform/atlbase.h"
#include "browserplatform/oleauto.h"
#include "browserstorage/icon_storage.h"
#include "browserstorage/object_factory.h"
#include "browserstorage/storage_service.h"
#include "tests/integration/storage_library.h"

namespace {

using Bytes = std::vector<BYTE>;

ATL::CComPtr<IIconObject> NewIcon(const Bytes& data, const char16_t* key_text, LONGLONG time) {
  ATL::CComPtr<IIconObject> icon;
  EXPECT_EQ(Util::Com::CreateObjectByIID(IID_IIconObject, icon.ReceiveVoid()), S_OK);
  icon->SetData(data.data(), static_cast<INT>(data.size()));
  ATL::CComBSTR first(u"image/png");
  ATL::CComBSTR second(key_text);
  icon->SetFirstText(first);
  icon->SetSecondText(second);
  icon->SetTime(time);
  return icon;
}

Bytes DataOf(IIconObject* icon) {
  const BYTE* data = nullptr;
  INT length = 0;
  icon->GetData(&data);
  icon->GetDataLength(&length);
  return data ? Bytes(data, data + length) : Bytes();
}

class IconHostTest : public storage_test::StorageLibraryTest {
 protected:
  void SetUp() override {
    StorageLibraryTest::SetUp();
    service_ = library_.Create<IStorageServiceEx>(CLSID_CStorageService);
    ASSERT_TRUE(service_);
  }

  ATL::CComPtr<IIconStorage> Open() {
    ATL::CComPtr<IUnknown> unknown;
    EXPECT_EQ(service_->GetStorage(Storage::kFavorIconStorageId, nullptr, unknown.Receive()), S_OK);
    ATL::CComPtr<IIconStorage> storage;
    if (unknown) {
      EXPECT_EQ(unknown.QueryInterface(storage.Receive()), S_OK);
    }
    return storage;
  }

  ATL::CComPtr<IStorageServiceEx> service_;
};

TEST_F(IconHostTest, IconsSurviveUnInitializeAndComeBackUnderTheirSecondText) {
  constexpr char16_t kUser[] = u"icon round trip";
  ASSERT_EQ(service_->Initialize(2, 2, kUser), S_OK);
  ATL::CComPtr<IIconStorage> storage = Open();
  ASSERT_TRUE(storage);
  // Each key is handed over: the storage frees it.
  ASSERT_EQ(storage->SetIcon(SysAllocString(u"https://a.example/favicon.ico"),
                             NewIcon({1, 2, 3}, u"https://a.example/favicon.ico", 7)),
            S_OK);
  ASSERT_EQ(storage->SetIcon(SysAllocString(u"stored-under"), NewIcon({9}, u"second-text", 8)),
            S_OK);
  BOOL exists = 0;
  ASSERT_EQ(storage->HasIcon(SysAllocString(u"stored-under"), &exists), S_OK);
  EXPECT_EQ(exists, 1);
  ASSERT_EQ(service_->UnInitialize(), S_OK);
  EXPECT_EQ(storage->HasIcon(SysAllocString(u"stored-under"), &exists), E_FAIL);  // detached

  ASSERT_EQ(service_->Initialize(2, 2, kUser), S_OK);
  ATL::CComPtr<IIconStorage> reopened = Open();
  ASSERT_TRUE(reopened);
  ATL::CComPtr<IIconObject> icon;
  ASSERT_EQ(reopened->GetIcon(SysAllocString(u"https://a.example/favicon.ico"), icon.Receive()),
            S_OK);
  ASSERT_TRUE(icon);
  EXPECT_EQ(DataOf(icon), (Bytes{1, 2, 3}));
  LONGLONG time = 0;
  icon->GetTime(&time);
  EXPECT_EQ(time, 7);
  icon.Release();
  ASSERT_EQ(reopened->GetIcon(SysAllocString(u"stored-under"), icon.Receive()), S_OK);
  EXPECT_FALSE(icon);
  ASSERT_EQ(reopened->GetIcon(SysAllocString(u"second-text"), icon.Receive()), S_OK);
  ASSERT_TRUE(icon);
  EXPECT_EQ(DataOf(icon), (Bytes{9}));
  ATL::CComPtr<IStorageInfo> info;
  ASSERT_EQ(reopened.QueryInterface(info.Receive()), S_OK);
  ULONG flag = 5;
  EXPECT_EQ(info->IsImportFinished(&flag), S_OK);
  EXPECT_EQ(flag, 1u);
  ASSERT_EQ(service_->UnInitialize(), S_OK);
}

}  // namespace
