// Key-value storages as a host uses them: opened through the service, written, persisted by
// UnInitialize and read back by the next Initialize.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "browserplatform/atlbase.h"
#include "browserstorage/key_value_storage.h"
#include "browserstorage/object_factory.h"
#include "browserstorage/storage_service.h"
#include "tests/common/app_data_root.h"
#include "tests/common/eventually.h"
#include "tests/common/temp_folder.h"
#include "tests/integration/storage_library.h"

namespace {

using Bytes = std::vector<uint8_t>;

ATL::CComPtr<IValueObject> NewValue(const Bytes& bytes) {
  ATL::CComPtr<IValueObject> value;
  EXPECT_EQ(Util::Com::CreateObjectByIID(IID_IValueObject, value.ReceiveVoid()), S_OK);
  if (value) value->SetBuffer(bytes.data(), static_cast<ULONG>(bytes.size()));
  return value;
}

Bytes Get(IKeyValueStorage* storage, const char16_t* key) {
  ATL::CComPtr<IValueObject> value = NewValue({});
  ATL::CComBSTR name(key);
  EXPECT_EQ(storage->GetValue(name, value), S_OK);
  const BYTE* data = nullptr;
  ULONG size = 0;
  value->GetBuffer(&data);
  value->GetSize(&size);
  return data ? Bytes(data, data + size) : Bytes();
}

class KeyValueHostTest : public storage_test::StorageLibraryTest {
 protected:
  void SetUp() override {
    StorageLibraryTest::SetUp();
    service_ = library_.Create<IStorageServiceEx>(CLSID_CStorageService);
    ASSERT_TRUE(service_);
  }

  // Storage `id` of the initialised service, asked for interface I.
  template <class I>
  ATL::CComPtr<I> Open(const char16_t* id) {
    ATL::CComPtr<IUnknown> unknown;
    EXPECT_EQ(service_->GetStorage(id, nullptr, unknown.Receive()), S_OK);
    ATL::CComPtr<I> typed;
    if (unknown) {
      EXPECT_EQ(unknown.QueryInterface(typed.Receive()), S_OK);
    }
    return typed;
  }

  static ULONG Flag(IStorageInfo* info, HRESULT (IStorageInfo::*query)(ULONG*)) {
    ULONG flag = 42;
    EXPECT_EQ((info->*query)(&flag), S_OK);
    return flag;
  }

  ATL::CComPtr<IStorageServiceEx> service_;
};

TEST_F(KeyValueHostTest, ValuesSurviveUnInitializeAndInitialize) {
  constexpr char16_t kUser[] = u"kv round trip";
  ASSERT_EQ(service_->Initialize(2, 2, kUser), S_OK);
  ATL::CComPtr<IKeyValueStorage> storage = Open<IKeyValueStorage>(Storage::kUserPrefStorageId);
  ASSERT_TRUE(storage);
  ATL::CComPtr<IStorageInfo> info;
  ASSERT_EQ(storage.QueryInterface(info.Receive()), S_OK);
  EXPECT_EQ(Flag(info, &IStorageInfo::IsImportFinished), 1u);
  EXPECT_EQ(Flag(info, &IStorageInfo::IsImportFailed), 1u);  // no file yet

  EXPECT_EQ(storage->SetValue(ATL::CComBSTR(u"a"), NewValue({0x01, 0xAB})), S_OK);
  EXPECT_EQ(storage->SetValue(ATL::CComBSTR(u"B"), NewValue({})), S_OK);
  EXPECT_EQ(Get(storage, u"a"), (Bytes{0x01, 0xAB}));

  ASSERT_EQ(service_->UnInitialize(), S_OK);
  const std::string file = storage_test::StyleTwoUserFolder(kUser) + "userpref_v2";
  EXPECT_EQ(platform_test::ReadNative(file),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
            "<ItemTable version=\"1.0\">\r\n"
            "<Item key=\"B\" value=\"\">\r\n</Item>\r\n"
            "<Item key=\"a\" value=\"01ab\">\r\n</Item>\r\n"
            "</ItemTable>\r\n");
  EXPECT_FALSE(platform_test::Exists(file + ".tmp"));
  ULONG count = 0;
  EXPECT_EQ(storage->GetCount(&count), E_FAIL);  // detached

  ASSERT_EQ(service_->Initialize(2, 2, kUser), S_OK);
  ATL::CComPtr<IKeyValueStorage> again = Open<IKeyValueStorage>(Storage::kUserPrefStorageId);
  ASSERT_TRUE(again);
  EXPECT_NE(again.get(), storage.get());
  ATL::CComPtr<IStorageInfo> again_info;
  ASSERT_EQ(again.QueryInterface(again_info.Receive()), S_OK);
  EXPECT_EQ(Flag(again_info, &IStorageInfo::IsImportFailed), 0u);
  EXPECT_EQ(again->GetCount(&count), S_OK);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(Get(again, u"a"), (Bytes{0x01, 0xAB}));
  EXPECT_EQ(Get(again, u"B"), Bytes{});
  EXPECT_EQ(service_->UnInitialize(), S_OK);
}

TEST_F(KeyValueHostTest, EachKeyValueRowKeepsItsOwnFile) {
  constexpr char16_t kUser[] = u"kv rows";
  ASSERT_EQ(service_->Initialize(2, 2, kUser), S_OK);
  const char16_t* const kRows[] = {Storage::kUserPrefStorageId, Storage::kBrowserPrefStorageId,
                                   Storage::kStartupDataStorageId,
                                   Storage::kUserSelectedInfoStorageId};
  for (const char16_t* id : kRows) {
    ATL::CComPtr<IKeyValueStorage> storage = Open<IKeyValueStorage>(id);
    ASSERT_TRUE(storage);
    EXPECT_EQ(storage->SetValue(ATL::CComBSTR(u"row"), NewValue({0x07})), S_OK);
  }

  ASSERT_EQ(service_->UnInitialize(), S_OK);
  for (const char* name : {"userpref_v2", "browserpref_v2", "UserSelectedInfo_v2"}) {
    EXPECT_NE(platform_test::ReadNative(storage_test::StyleTwoUserFolder(kUser) + name)
                  .find("key=\"row\" value=\"07\""),
              std::string::npos)
        << name;
  }
  // The start-up data's binary file: N, then K, "row" in UTF-16LE, V and the value.
  EXPECT_EQ(platform_test::ReadNative(storage_test::StyleTwoUserFolder(kUser) + "startupdata"),
            std::string("\x0F\0\0\0\x06\0\0\0r\0o\0w\0\x01\0\0\0\x07", 19));

  ASSERT_EQ(service_->Initialize(2, 2, kUser), S_OK);
  ATL::CComPtr<IKeyValueStorage> startup = Open<IKeyValueStorage>(Storage::kStartupDataStorageId);
  ASSERT_TRUE(startup);
  EXPECT_EQ(Get(startup, u"row"), Bytes{0x07});
  ASSERT_EQ(service_->UnInitialize(), S_OK);
}

// The real timer (5 s for the preferences) and the real sync thread write the file while the
// service stays initialised.
TEST_F(KeyValueHostTest, ChangesReachTheFileInTheBackground) {
  constexpr char16_t kUser[] = u"kv background";
  ASSERT_EQ(service_->Initialize(2, 2, kUser), S_OK);
  ATL::CComPtr<IKeyValueStorage> storage = Open<IKeyValueStorage>(Storage::kUserPrefStorageId);
  ASSERT_TRUE(storage);
  EXPECT_EQ(storage->SetValue(ATL::CComBSTR(u"late"), NewValue({0xBE, 0xEF})), S_OK);
  const std::string file = storage_test::StyleTwoUserFolder(kUser) + "userpref_v2";
  EXPECT_FALSE(platform_test::Exists(file)) << "written before the sync interval";
  EXPECT_TRUE(testing_support::Eventually(
      [&] { return platform_test::ReadNative(file).find("value=\"beef\"") != std::string::npos; },
      std::chrono::seconds(20)));
  EXPECT_NE(platform_test::ReadNative(file).find("<Item key=\"late\" value=\"beef\">"),
            std::string::npos);
  EXPECT_FALSE(platform_test::Exists(file + ".tmp"));
  EXPECT_EQ(service_->UnInitialize(), S_OK);
}

// UnInitialize with changes pending: the final sync writes them, and once it returns nothing
// of the service runs any more (ThreadSanitizer watches the repeated teardown).
TEST_F(KeyValueHostTest, UnInitializeWithPendingChangesWritesThemEveryTime) {
  constexpr char16_t kUser[] = u"kv teardown";
  const std::string file = storage_test::StyleTwoUserFolder(kUser) + "browserpref_v2";
  for (int round = 0; round < 25; ++round) {
    ASSERT_EQ(service_->Initialize(2, 2, kUser), S_OK);
    ATL::CComPtr<IKeyValueStorage> storage = Open<IKeyValueStorage>(Storage::kBrowserPrefStorageId);
    ASSERT_TRUE(storage);
    const uint8_t byte = static_cast<uint8_t>(round);
    if (round > 0) {
      EXPECT_EQ(Get(storage, u"round"), Bytes{uint8_t(round - 1)});
    }
    EXPECT_EQ(storage->SetValue(ATL::CComBSTR(u"round"), NewValue({byte})), S_OK);
    ASSERT_EQ(service_->UnInitialize(), S_OK);
    char expected[40];
    std::snprintf(expected, sizeof(expected), "key=\"round\" value=\"%02x\"", byte);
    EXPECT_NE(platform_test::ReadNative(file).find(expected), std::string::npos) << round;
    EXPECT_EQ(storage->SetValue(ATL::CComBSTR(u"after"), NewValue({1})), E_FAIL);
  }
}

// A host may drop the service without UnInitialize and go on with a storage it holds: the
// storage keeps working and its last release writes the file.
TEST_F(KeyValueHostTest, AStorageOutlivesItsServiceReleasedWithoutUnInitialize) {
  constexpr char16_t kUser[] = u"kv service dropped";
  ASSERT_EQ(service_->Initialize(2, 2, kUser), S_OK);
  ATL::CComPtr<IKeyValueStorage> storage = Open<IKeyValueStorage>(Storage::kUserPrefStorageId);
  ASSERT_TRUE(storage);
  service_ = nullptr;
  EXPECT_EQ(storage->SetValue(ATL::CComBSTR(u"after"), NewValue({0xAF})), S_OK);
  EXPECT_EQ(Get(storage, u"after"), Bytes{0xAF});
  storage = nullptr;  // the final sync
  EXPECT_NE(platform_test::ReadNative(storage_test::StyleTwoUserFolder(kUser) + "userpref_v2")
                .find("<Item key=\"after\" value=\"af\">"),
            std::string::npos);
}

}  // namespace
