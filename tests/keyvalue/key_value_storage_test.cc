// The key-value storage COM object over a full cache kept in an XML file.
#include "storage/keyvalue/key_value_storage_base.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "browserstorage/result_codes.h"
#include "storage/sync/storage_sync_base.h"
#include "tests/common/temp_folder.h"
#include "tests/keyvalue/key_value_test_util.h"

namespace {

using kv_test::Bstr;
using kv_test::Bytes;
using kv_test::BytesOf;
using kv_test::NewValue;
using Storage::CKeyValueStorageCacheBase;

class KeyValueStorageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.valid());
    Open();
  }

  // A new, empty storage over a file of its own.
  void Open() {
    storage_.Release();
    cache_ = nullptr;
    config_ = kv_test::XmlConfig(folder_.Wide("kv" + std::to_string(++files_)));
    cache_ = CKeyValueStorageCacheBase::create(config_.get(), nullptr, nullptr);
    ASSERT_TRUE(cache_);
    storage_ = kv_test::NewStorage(config_.get(), cache_.get());
  }

  Storage::CKeyValueStorageBase* object() {
    return static_cast<Storage::CKeyValueStorageBase*>(storage_.get());
  }
  std::vector<Storage::PendingChange> Pending() {
    return cache_->synchroniser()->pending_changes_for_testing();
  }

  platform_test::TempFolder folder_;
  int files_ = 0;
  base::scoped_refptr<Storage::CStorageConfigBase> config_;
  base::scoped_refptr<CKeyValueStorageCacheBase> cache_;
  ATL::CComPtr<IKeyValueStorage> storage_;
};

TEST_F(KeyValueStorageTest, ResultCodesOfEveryOperation) {
  const ATL::CComBSTR present = Bstr(u"present");
  const ATL::CComBSTR missing = Bstr(u"missing");
  const ATL::CComBSTR empty = Bstr(u"");
  const ATL::CComBSTR nul_first = Bstr(std::u16string(u"\0x", 2));
  ATL::CComPtr<IValueObject> value = NewValue({1});
  ATL::CComPtr<IObjectList> list;
  ASSERT_EQ(Util::Com::CreateObjectByIID(IID_IObjectList, list.ReceiveVoid()), S_OK);
  ULONG count = 0;
  BOOL exists = FALSE;

  using Call = std::function<HRESULT(IKeyValueStorage*, IStorageInfo*)>;
  struct Case {
    const char* what;
    Call call;
    HRESULT attached;
    HRESULT detached;
  };
  const HRESULT kInvalid = E_STORAGE_INVALIDARG;
  const Case kCases[] = {
      {"GetCount", [&](auto* s, auto*) { return s->GetCount(&count); }, S_OK, E_FAIL},
      {"GetCount null", [&](auto* s, auto*) { return s->GetCount(nullptr); }, kInvalid, kInvalid},
      {"GetValue", [&](auto* s, auto*) { return s->GetValue(present, value); }, S_OK, E_FAIL},
      {"GetValue missing", [&](auto* s, auto*) { return s->GetValue(missing, value); }, E_FAIL,
       E_FAIL},
      {"GetValue null key", [&](auto* s, auto*) { return s->GetValue(nullptr, value); }, kInvalid,
       kInvalid},
      {"GetValue empty key", [&](auto* s, auto*) { return s->GetValue(empty, value); }, kInvalid,
       kInvalid},
      {"GetValue NUL first", [&](auto* s, auto*) { return s->GetValue(nul_first, value); },
       kInvalid, kInvalid},
      {"GetValue null value", [&](auto* s, auto*) { return s->GetValue(present, nullptr); },
       kInvalid, kInvalid},
      {"SetValue", [&](auto* s, auto*) { return s->SetValue(missing, value); }, S_OK, E_FAIL},
      {"SetValue empty key", [&](auto* s, auto*) { return s->SetValue(empty, value); }, kInvalid,
       kInvalid},
      {"SetValue null value", [&](auto* s, auto*) { return s->SetValue(present, nullptr); },
       kInvalid, kInvalid},
      {"RemoveValue", [&](auto* s, auto*) { return s->RemoveValue(present); }, S_OK, E_FAIL},
      {"RemoveValue missing", [&](auto* s, auto*) { return s->RemoveValue(missing); }, E_FAIL,
       E_FAIL},
      {"RemoveValue null key", [&](auto* s, auto*) { return s->RemoveValue(nullptr); }, kInvalid,
       kInvalid},
      {"Clear", [&](auto* s, auto*) { return s->Clear(); }, S_OK, S_OK},
      {"HasKey", [&](auto* s, auto*) { return s->HasKey(missing, &exists); }, S_OK, E_FAIL},
      {"HasKey empty key", [&](auto* s, auto*) { return s->HasKey(empty, &exists); }, kInvalid,
       kInvalid},
      {"HasKey null out", [&](auto* s, auto*) { return s->HasKey(present, nullptr); }, kInvalid,
       kInvalid},
      {"GetAllKeys", [&](auto* s, auto*) { return s->GetAllKeys(list); }, S_OK, E_FAIL},
      {"GetAllKeys null", [&](auto* s, auto*) { return s->GetAllKeys(nullptr); }, kInvalid,
       kInvalid},
      {"IsImportFailed", [&](auto*, auto* i) { return i->IsImportFailed(&count); }, S_OK, S_OK},
      {"IsImportFailed null", [&](auto*, auto* i) { return i->IsImportFailed(nullptr); }, kInvalid,
       kInvalid},
      {"IsImportFinished", [&](auto*, auto* i) { return i->IsImportFinished(&count); }, S_OK, S_OK},
      {"IsImportFinished null", [&](auto*, auto* i) { return i->IsImportFinished(nullptr); },
       kInvalid, kInvalid},
  };
  for (const Case& c : kCases) {
    for (bool detached : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.what << (detached ? " (detached)" : ""));
      Open();
      ASSERT_EQ(storage_->SetValue(present, NewValue({7})), S_OK);
      if (detached) {
        EXPECT_EQ(object()->Detach(), S_OK);
      }
      ATL::CComPtr<IStorageInfo> info;
      ASSERT_EQ(storage_.QueryInterface(info.Receive()), S_OK);
      EXPECT_EQ(c.call(storage_, info), detached ? c.detached : c.attached);
    }
  }
}

TEST_F(KeyValueStorageTest, DetachedStorageLeavesOutValuesAlone) {
  EXPECT_EQ(object()->Detach(), S_OK);
  EXPECT_EQ(object()->Detach(), S_OK);
  ATL::CComPtr<IStorageInfo> info;
  ASSERT_EQ(storage_.QueryInterface(info.Receive()), S_OK);
  ULONG failed = 42;
  ULONG finished = 42;
  EXPECT_EQ(info->IsImportFailed(&failed), S_OK);
  EXPECT_EQ(info->IsImportFinished(&finished), S_OK);
  EXPECT_EQ(failed, 42u);
  EXPECT_EQ(finished, 42u);
}

TEST_F(KeyValueStorageTest, AttachNeedsConfigurationAndKeyValueCache) {
  EXPECT_EQ(object()->Attach(nullptr, cache_.get()), E_STORAGE_INVALIDARG);
  EXPECT_EQ(object()->Attach(config_.get(), nullptr), E_STORAGE_INVALIDARG);
  EXPECT_EQ(storage_->GetCount(nullptr), E_STORAGE_INVALIDARG);
  ULONG count = 7;
  EXPECT_EQ(storage_->GetCount(&count), S_OK);  // the earlier cache stays attached
  EXPECT_EQ(count, 0u);
}

TEST_F(KeyValueStorageTest, AnswersItsTwoInterfacesWithOneIdentity) {
  ATL::CComPtr<IUnknown> unknown;
  ATL::CComPtr<IStorageInfo> info;
  ATL::CComPtr<IValueObject> none;
  EXPECT_EQ(storage_.QueryInterface(unknown.Receive()), S_OK);
  EXPECT_EQ(storage_.QueryInterface(info.Receive()), S_OK);
  EXPECT_EQ(storage_.QueryInterface(none.Receive()), E_NOINTERFACE);
  ATL::CComPtr<IUnknown> from_info;
  EXPECT_EQ(info.QueryInterface(from_info.Receive()), S_OK);
  EXPECT_EQ(unknown.get(), from_info.get());
  EXPECT_EQ(static_cast<void*>(unknown.get()), static_cast<void*>(storage_.get()));
}

// Hosts call by slot: the operations must sit where the interfaces put them.
TEST_F(KeyValueStorageTest, OperationsSitAtTheirSlots) {
  auto slot = [](void* object, size_t index) { return (*static_cast<void***>(object))[index]; };
  ASSERT_EQ(storage_->SetValue(Bstr(u"k"), NewValue({1})), S_OK);
  ULONG count = 0;
  using GetCountFn = HRESULT (*)(IKeyValueStorage*, ULONG*);
  EXPECT_EQ(reinterpret_cast<GetCountFn>(slot(storage_.get(), 3))(storage_, &count), S_OK);
  EXPECT_EQ(count, 1u);
  BOOL exists = FALSE;
  using HasKeyFn = HRESULT (*)(IKeyValueStorage*, BSTR, BOOL*);
  EXPECT_EQ(reinterpret_cast<HasKeyFn>(slot(storage_.get(), 8))(storage_, Bstr(u"k"), &exists),
            S_OK);
  EXPECT_EQ(exists, 1);
  ATL::CComPtr<IStorageInfo> info;
  ASSERT_EQ(storage_.QueryInterface(info.Receive()), S_OK);
  ULONG finished = 0;
  using FlagFn = HRESULT (*)(IStorageInfo*, ULONG*);
  EXPECT_EQ(reinterpret_cast<FlagFn>(slot(info.get(), 4))(info, &finished), S_OK);
  EXPECT_EQ(finished, 1u);
}

TEST_F(KeyValueStorageTest, KeysEnumerateInCodeUnitOrder) {
  struct Case {
    std::vector<std::u16string> keys;
    std::vector<std::u16string> expected;
  };
  const Case kCases[] = {
      {{u"B", u"a", u"A", u"b"}, {u"A", u"B", u"a", u"b"}},
      {{u"ab", u"a", u"abc", u"b"}, {u"a", u"ab", u"abc", u"b"}},
      // Units compare unsigned and by unit, not by code point: a surrogate pair (0xD83D ...)
      // sorts before U+E000, and U+00E9 after "z".
      {{u"\uE000", u"\U0001F600", u"\u00E9", u"z"}, {u"z", u"\u00E9", u"\U0001F600", u"\uE000"}},
  };
  for (const Case& c : kCases) {
    Open();
    for (const std::u16string& key : c.keys) {
      ASSERT_EQ(storage_->SetValue(Bstr(key), NewValue({1})), S_OK);
    }
    EXPECT_EQ(kv_test::AllKeys(storage_), c.expected);
  }
}

TEST_F(KeyValueStorageTest, KeyEndsAtItsFirstNul) {
  ASSERT_EQ(storage_->SetValue(Bstr(std::u16string(u"ab\0cd", 5)), NewValue({9})), S_OK);
  EXPECT_EQ(kv_test::AllKeys(storage_), std::vector<std::u16string>{u"ab"});
  ATL::CComPtr<IValueObject> out = NewValue();
  EXPECT_EQ(storage_->GetValue(Bstr(u"ab"), out), S_OK);
  EXPECT_EQ(BytesOf(out), Bytes{9});
  EXPECT_EQ(storage_->RemoveValue(Bstr(std::u16string(u"ab\0zz", 5))), S_OK);
}

TEST_F(KeyValueStorageTest, GetValueCopiesAndLeavesTheStoredReferenceCount) {
  ASSERT_EQ(storage_->SetValue(Bstr(u"k"), NewValue({1, 2, 3})), S_OK);
  ATL::CComPtr<IValueObject> stored = cache_->GetValue(u"k");
  ASSERT_TRUE(stored);
  const ULONG before = kv_test::RefCount(stored);
  ATL::CComPtr<IValueObject> out = NewValue({5});
  for (int i = 0; i < 3; ++i) EXPECT_EQ(storage_->GetValue(Bstr(u"k"), out), S_OK);
  EXPECT_EQ(kv_test::RefCount(stored), before);
  EXPECT_NE(out.get(), stored.get());
  EXPECT_EQ(BytesOf(out), (Bytes{1, 2, 3}));

  // A missing key leaves the caller's object as it was.
  EXPECT_EQ(storage_->GetValue(Bstr(u"missing"), out), E_FAIL);
  EXPECT_EQ(BytesOf(out), (Bytes{1, 2, 3}));
}

TEST_F(KeyValueStorageTest, SetValueStoresACopyAndEqualValuesRecordNothing) {
  ATL::CComPtr<IValueObject> mine = NewValue({1});
  ASSERT_EQ(storage_->SetValue(Bstr(u"k"), mine), S_OK);
  ASSERT_EQ(Pending().size(), 1u);
  ATL::CComPtr<IValueObject> stored = cache_->GetValue(u"k");
  EXPECT_NE(stored.get(), mine.get());
  EXPECT_EQ(Pending()[0].value.get(), static_cast<IUnknown*>(stored.get()));

  mine->SetBuffer(Bytes{2}.data(), 1);  // the caller changes its object afterwards
  ATL::CComPtr<IValueObject> out = NewValue();
  EXPECT_EQ(storage_->GetValue(Bstr(u"k"), out), S_OK);
  EXPECT_EQ(BytesOf(out), Bytes{1});

  EXPECT_EQ(storage_->SetValue(Bstr(u"k"), NewValue({1})), S_OK);  // equal: nothing happens
  EXPECT_EQ(Pending().size(), 1u);
  EXPECT_EQ(cache_->GetValue(u"k").get(), stored.get());

  EXPECT_EQ(storage_->SetValue(Bstr(u"k"), NewValue({1, 0})), S_OK);
  EXPECT_EQ(Pending().size(), 2u);
  EXPECT_EQ(storage_->RemoveValue(Bstr(u"k")), S_OK);
  ASSERT_EQ(Pending().size(), 3u);
  EXPECT_EQ(Pending()[2].op, Storage::kChangeOpRemove);
}

TEST_F(KeyValueStorageTest, ClearEmptiesAndRecordsOneClearChange) {
  for (const char16_t* key : {u"a", u"b", u"c"}) {
    ASSERT_EQ(storage_->SetValue(Bstr(key), NewValue({1})), S_OK);
  }
  cache_->synchroniser()->performSync();  // writes and takes the three set records
  ASSERT_TRUE(Pending().empty());

  EXPECT_EQ(storage_->Clear(), S_OK);
  ULONG count = 9;
  EXPECT_EQ(storage_->GetCount(&count), S_OK);
  EXPECT_EQ(count, 0u);
  std::vector<Storage::PendingChange> pending = Pending();
  ASSERT_EQ(pending.size(), 1u);
  EXPECT_EQ(pending[0].op, Storage::kChangeOpClear);
  EXPECT_EQ(pending[0].key, u"");
  EXPECT_FALSE(pending[0].value);
}

}  // namespace
