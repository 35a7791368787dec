// The extension storage through IExtensionStorage: every operation's results, the order of
// the lists, which changes schedule a write, argument checks and the detached storage. The
// storage runs over its real file synchroniser (no timer), so pending changes are those the
// file would be written for.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "browserplatform/atlcom.h"
#include "browserstorage/extension_storage.h"
#include "browserstorage/key_value_storage.h"  // IStorageInfo
#include "tests/extension/extension_test_util.h"

namespace {

using extension_test::ExtensionFileFixture;
using extension_test::Installed;
using extension_test::NewRecord;
using extension_test::Row;
using extension_test::Rows;
using extension_test::Updates;
using Storage::ExtensionRecord;

// The keys of the pending changes, in order.
std::vector<std::u16string> PendingKeys(Storage::CStorageSyncBase* sync) {
  std::vector<std::u16string> keys;
  for (const Storage::PendingChange& change : sync->pending_changes_for_testing()) {
    keys.push_back(change.key);
  }
  return keys;
}

// A record whose getter `failing` (0 id, 1 type, 2 state, 3 path, 4 manifest) fails.
class FailingRecord : public IExtensionRecord,
                      public ATL::CComObjectRootEx<ATL::CComMultiThreadModel> {
 public:
  BEGIN_COM_MAP(FailingRecord)
  COM_INTERFACE_ENTRY(IExtensionRecord)
  END_COM_MAP()

  int failing = 0;

  STDMETHODIMP SetExtensionId(BSTR) override { return S_OK; }
  STDMETHODIMP SetType(INT) override { return S_OK; }
  STDMETHODIMP SetState(INT) override { return S_OK; }
  STDMETHODIMP SetPath(BSTR) override { return S_OK; }
  STDMETHODIMP SetManifest(BSTR) override { return S_OK; }
  STDMETHODIMP GetExtensionId(BSTR* out) override { return Text(0, u"x", out); }
  STDMETHODIMP GetType(INT* type) override { return Number(1, type); }
  STDMETHODIMP GetState(INT* state) override { return Number(2, state); }
  STDMETHODIMP GetPath(BSTR* out) override { return Text(3, u"p", out); }
  STDMETHODIMP GetManifest(BSTR* out) override { return Text(4, u"{}", out); }

 private:
  HRESULT Text(int which, const char16_t* text, BSTR* out) {
    if (which == failing) return E_ACCESSDENIED;
    *out = SysAllocString(text);
    return S_OK;
  }
  HRESULT Number(int which, INT* out) {
    if (which == failing) return E_ACCESSDENIED;
    *out = 3;
    return S_OK;
  }
};

class ExtensionStorageTest : public ExtensionFileFixture {
 protected:
  void SetUp() override {
    ExtensionFileFixture::SetUp();
    Open();
  }
};

TEST_F(ExtensionStorageTest, AddingAnExistingIdReplacesAllFiveFieldsAndListsHandOutCopies) {
  ASSERT_EQ(Add(Row(u"abc", u"/ext/abc", u"{\"v\":1}", 1, 2)), S_OK);
  ASSERT_EQ(Add(Row(u"abc", u"/ext/abc2", u"{\"v\":2}", 3, 4)), S_OK);
  EXPECT_EQ(Installed(storage_), (Rows{Row(u"abc", u"/ext/abc2", u"{\"v\":2}", 3, 4)}));
  EXPECT_TRUE(Updates(storage_).empty());

  // A record handed out is the caller's: changing it changes nothing stored.
  ATL::CComPtr<IObjectList> list;
  ASSERT_EQ(storage_->GetExtensionList(7, -1, list.Receive()), S_OK);
  ATL::CComPtr<IExtensionRecord> record;
  ASSERT_EQ(list->GetAt(0, IID_IExtensionRecord, record.ReceiveVoid()), S_OK);
  record->SetState(99);
  EXPECT_EQ(Installed(storage_)[0].state, 4);
  EXPECT_EQ(PendingKeys(sync()), (std::vector<std::u16string>{u"abc", u"abc"}));
}

TEST_F(ExtensionStorageTest, OperationsOnAPresentRowChangeItAndScheduleAWrite) {
  ASSERT_EQ(Add(Row(u"a", u"pa", u"{}", 1, 1)), S_OK);
  ATL::CComBSTR id(u"a");
  EXPECT_EQ(storage_->SetExtensionState(id, 7), S_OK);
  EXPECT_EQ(storage_->SetExtensionType(id, -3), S_OK);
  EXPECT_EQ(Installed(storage_), (Rows{Row(u"a", u"pa", u"{}", -3, 7)}));
  // The record's own identifier is not read: the row keeps its own.
  EXPECT_EQ(storage_->UpdateExtension(id, NewRecord(Row(u"other", u"pb", u"[1]", 5, 6))), S_OK);
  EXPECT_EQ(Installed(storage_), (Rows{Row(u"a", u"pb", u"[1]", 5, 6)}));
  EXPECT_EQ(storage_->RemoveExtension(id), S_OK);
  EXPECT_TRUE(Installed(storage_).empty());
  EXPECT_EQ(PendingKeys(sync()), (std::vector<std::u16string>(5, u"a")));
  // The caller's BSTR is still the caller's (asan would see a double free).
  EXPECT_EQ(std::u16string(id.get()), u"a");
}

TEST_F(ExtensionStorageTest, AbsentRowsGiveEFailAndChangeNothing) {
  ASSERT_EQ(Add(Row(u"a", u"pa", u"{}", 1, 2)), S_OK);
  ASSERT_EQ(AddUpdate(Row(u"b")), S_OK);  // only the installed list is edited row by row
  const size_t pending = Pending();
  ATL::CComBSTR b(u"b");
  ATL::CComBSTR upper(u"A");  // identifiers match exactly
  EXPECT_EQ(storage_->SetExtensionState(b, 1), E_FAIL);
  EXPECT_EQ(storage_->SetExtensionType(upper, 1), E_FAIL);
  EXPECT_EQ(storage_->RemoveExtension(b), E_FAIL);
  EXPECT_EQ(storage_->UpdateExtension(upper, NewRecord(Row(u"A"))), E_FAIL);
  EXPECT_EQ(storage_->SetExtensionState(nullptr, 1), E_FAIL);  // the empty identifier
  EXPECT_EQ(Installed(storage_), (Rows{Row(u"a", u"pa", u"{}", 1, 2)}));
  EXPECT_EQ(Updates(storage_), (Rows{Row(u"b")}));
  EXPECT_EQ(Pending(), pending);
}

TEST_F(ExtensionStorageTest, ListsAreInOrdinalOrderOfCodeUnits) {
  // Upper case before lower case, a prefix before its extensions, ASCII before the rest, and
  // UTF-16 order: a surrogate pair (0xD83D...) before U+FF21.
  const std::vector<std::u16string> expected = {
      u"A", u"B", u"Z", u"a", u"ab", u"b", u"\u00e9", u"\u4e2d", u"\U0001F600", u"\uFF21"};
  for (auto it = expected.rbegin(); it != expected.rend(); ++it) {
    ASSERT_EQ(Add(Row(*it)), S_OK);
    ASSERT_EQ(AddUpdate(Row(*it)), S_OK);
  }
  std::vector<std::u16string> installed, updates;
  for (const ExtensionRecord& row : Installed(storage_)) installed.push_back(row.extId);
  for (const ExtensionRecord& row : Updates(storage_)) updates.push_back(row.extId);
  EXPECT_EQ(installed, expected);
  EXPECT_EQ(updates, expected);
}

TEST_F(ExtensionStorageTest, TheUpdateListGainsRowsAndIsClearedWhole) {
  ASSERT_EQ(AddUpdate(Row(u"u1", u"p1", u"{}", 1, 1)), S_OK);
  ASSERT_EQ(AddUpdate(Row(u"u1", u"p2", u"{}", 2, 2)), S_OK);
  ASSERT_EQ(AddUpdate(Row(u"u0")), S_OK);
  EXPECT_EQ(Updates(storage_), (Rows{Row(u"u0"), Row(u"u1", u"p2", u"{}", 2, 2)}));
  EXPECT_TRUE(Installed(storage_).empty());
  EXPECT_EQ(storage_->ClearUpdateList(), S_OK);
  EXPECT_TRUE(Updates(storage_).empty());
  // Clearing an empty list is still a change.
  EXPECT_EQ(storage_->ClearUpdateList(), S_OK);
  EXPECT_EQ(PendingKeys(sync()),
            (std::vector<std::u16string>{u"u1", u"u1", u"u0", u"1001", u"1001"}));
}

TEST_F(ExtensionStorageTest, ARowWithAnEmptyIdIsStoredWithoutSchedulingAWrite) {
  ASSERT_EQ(Add(Row(u"", u"nameless", u"{}", 1, 1)), S_OK);
  ASSERT_EQ(AddUpdate(Row(u"")), S_OK);
  EXPECT_EQ(storage_->SetExtensionState(nullptr, 5), S_OK);  // null is the empty identifier
  EXPECT_EQ(Installed(storage_), (Rows{Row(u"", u"nameless", u"{}", 1, 5)}));
  EXPECT_EQ(Updates(storage_), (Rows{Row(u"")}));
  EXPECT_EQ(Pending(), 0u);
  Sync();
  EXPECT_FALSE(FileExists());
  Close();  // the final sync finds nothing to write either
  EXPECT_FALSE(FileExists());
}

TEST_F(ExtensionStorageTest, StringsEndAtTheirFirstNul) {
  ASSERT_EQ(Add(Row(std::u16string(u"id\0tail", 7), std::u16string(u"p\0q", 3))), S_OK);
  EXPECT_EQ(Installed(storage_), (Rows{Row(u"id", u"p")}));
  ATL::CComBSTR id(std::u16string(u"id\0x", 4).data(), 4);
  EXPECT_EQ(storage_->SetExtensionState(id, 3), S_OK);
}

TEST_F(ExtensionStorageTest, NullArgumentsAreRefusedAndChangeNothing) {
  ASSERT_EQ(Add(Row(u"a", u"pa", u"{}", 1, 2)), S_OK);
  const size_t pending = Pending();
  EXPECT_EQ(storage_->AddExtension(nullptr), E_FAIL);
  EXPECT_EQ(storage_->AddUpdateItem(nullptr), E_FAIL);
  EXPECT_EQ(storage_->UpdateExtension(ATL::CComBSTR(u"a"), nullptr), E_STORAGE_INVALIDARG);
  EXPECT_EQ(storage_->GetExtensionList(0, 0, nullptr), E_STORAGE_INVALIDARG);
  EXPECT_EQ(storage_->GetUpdateList(nullptr), E_STORAGE_INVALIDARG);
  EXPECT_EQ(storage_->GetStoragePath(nullptr), E_STORAGE_INVALIDARG);
  EXPECT_EQ(Installed(storage_), (Rows{Row(u"a", u"pa", u"{}", 1, 2)}));
  EXPECT_EQ(Pending(), pending);
}

TEST_F(ExtensionStorageTest, ARecordThatCannotBeReadIsNotStored) {
  ASSERT_EQ(Add(Row(u"x", u"old", u"{}", 1, 1)), S_OK);
  const size_t pending = Pending();
  for (int failing = 0; failing < 5; ++failing) {
    SCOPED_TRACE(failing);
    ATL::CComObject<FailingRecord>* object = nullptr;
    ASSERT_EQ(ATL::CComObject<FailingRecord>::CreateInstance(&object), S_OK);
    ATL::CComPtr<IExtensionRecord> record(object);
    object->failing = failing;
    EXPECT_EQ(storage_->AddExtension(record), E_ACCESSDENIED);
    EXPECT_EQ(storage_->AddUpdateItem(record), E_ACCESSDENIED);
    // The identifier is not read by UpdateExtension.
    EXPECT_EQ(storage_->UpdateExtension(ATL::CComBSTR(u"x"), record),
              failing == 0 ? S_OK : E_ACCESSDENIED);
  }
  EXPECT_EQ(Installed(storage_), (Rows{Row(u"x", u"p", u"{}", 3, 3)}));
  EXPECT_TRUE(Updates(storage_).empty());
  EXPECT_EQ(Pending(), pending + 1);
}

TEST_F(ExtensionStorageTest, ReservedOperationAndStoragePath) {
  EXPECT_EQ(storage_->ReservedOperation(), E_NOTIMPL);
  ATL::CComBSTR path;
  ASSERT_EQ(storage_->GetStoragePath(path.Receive()), S_OK);
  EXPECT_EQ(extension_test::Text(path), this->path());

  // A model without a path has none to give.
  base::scoped_refptr<Storage::CExtensionStorageModel> pathless(
      new Storage::CExtensionStorageModel(u""));
  BSTR none = SysAllocString(u"untouched");
  BSTR kept = none;
  EXPECT_EQ(pathless->GetStoragePath(&none), E_FAIL);
  EXPECT_EQ(none, nullptr);
  SysFreeString(kept);
}

TEST_F(ExtensionStorageTest, ADetachedStorageAnswersEFailEverywhere) {
  ASSERT_EQ(object_->Detach(), S_OK);
  ATL::CComPtr<IObjectList> list;
  ATL::CComBSTR id(u"a");
  ATL::CComBSTR path;
  const ATL::CComPtr<IExtensionRecord> record = NewRecord(Row(u"a"));
  EXPECT_EQ(storage_->AddExtension(record), E_FAIL);
  EXPECT_EQ(storage_->GetExtensionList(0, 0, list.Receive()), E_FAIL);
  EXPECT_EQ(storage_->SetExtensionState(id, 1), E_FAIL);
  EXPECT_EQ(storage_->SetExtensionType(id, 1), E_FAIL);
  EXPECT_EQ(storage_->RemoveExtension(id), E_FAIL);
  EXPECT_EQ(storage_->GetUpdateList(list.Receive()), E_FAIL);
  EXPECT_EQ(storage_->AddUpdateItem(record), E_FAIL);
  EXPECT_EQ(storage_->ClearUpdateList(), E_FAIL);
  EXPECT_EQ(storage_->ReservedOperation(), E_FAIL);
  EXPECT_EQ(storage_->UpdateExtension(id, record), E_FAIL);
  EXPECT_EQ(storage_->GetStoragePath(path.Receive()), E_FAIL);
  EXPECT_FALSE(list);
  // Attached again, it serves the model once more.
  ASSERT_EQ(object_->Attach(config_.get(), model_.get()), S_OK);
  EXPECT_EQ(storage_->AddExtension(record), S_OK);
}

TEST_F(ExtensionStorageTest, AttachRefusesWhatIsNotAnExtensionModelOrHasNoConfiguration) {
  EXPECT_EQ(object_->Attach(config_.get(), nullptr), E_STORAGE_INVALIDARG);
  EXPECT_EQ(object_->Attach(nullptr, model_.get()), E_STORAGE_INVALIDARG);
  // The model attached before stays.
  EXPECT_EQ(Add(Row(u"still")), S_OK);
  // Only IExtensionStorage (and IUnknown) is answered.
  ATL::CComPtr<IUnknown> info;
  EXPECT_EQ(storage_->QueryInterface(IID_IStorageInfo, info.ReceiveVoid()), E_NOINTERFACE);
}

TEST(ExtensionModelCreateTest, MakesAModelForCacheKindOneOnly) {
  auto config = extension_test::ExtensionConfig(u"/nonexistent/folder/extdb.json");
  base::scoped_refptr<Storage::CExtensionStorageModel> model =
      Storage::CExtensionStorageModel::create(config.get(), nullptr, nullptr);
  ASSERT_TRUE(model);
  ASSERT_NE(model->synchroniser(), nullptr);
  EXPECT_EQ(model->synchroniser()->GetSyncInterval(), 300000u);
  EXPECT_EQ(model->synchroniser()->IsImported(), 1);  // imported on create: nothing there
  EXPECT_EQ(model->synchroniser()->IsImportFailed(), 0);
  config->SetCacheKind(Storage::kCacheKindMemoryLimited);
  EXPECT_FALSE(Storage::CExtensionStorageModel::create(config.get(), nullptr, nullptr));
  EXPECT_FALSE(Storage::CExtensionStorageModel::create(nullptr, nullptr, nullptr));
}

}  // namespace
