// Calls through raw vtable indexes: the slot numbers are the binary contract with the storage
// library, whatever the C++ declarations say.
#include <gtest/gtest.h>

#include "browserstorage/database_service.h"
#include "tests/external/object_test_util.h"

namespace {

using ATL::CComBSTR;
using ATL::CComPtr;
using objects_test::New;

// Calls the function in `slot` of `object`'s vtable with `object` as the first argument.
template <class... Args>
HRESULT CallSlot(void* object, int slot, Args... args) {
  using Function = HRESULT (*)(void*, Args...);
  void** vtable = *static_cast<void***>(object);
  return reinterpret_cast<Function>(vtable[slot])(object, args...);
}

TEST(VtableSlotTest, NamedOperationsSitAtTheirSlots) {
  CComPtr<IValueObject> value = New<IValueObject>();
  const BYTE bytes[] = {1, 2, 3};
  ASSERT_EQ(S_OK, CallSlot(value.get(), 11, static_cast<const BYTE*>(bytes), ULONG{3}));
  ULONG size = 0;
  ASSERT_EQ(S_OK, CallSlot(value.get(), 10, &size));
  EXPECT_EQ(3u, size);

  CComPtr<IObjectList> list = New<IObjectList>();
  ASSERT_EQ(S_OK, CallSlot(list.get(), 45, &IID_IValueObject, static_cast<IUnknown*>(value)));
  ASSERT_EQ(S_OK, CallSlot(list.get(), 42, static_cast<BSTR>(nullptr)));
  UINT count = 0;
  ASSERT_EQ(S_OK, CallSlot(list.get(), 4, &count));
  EXPECT_EQ(2u, count);
  ASSERT_EQ(S_OK, CallSlot(list.get(), 71, UINT{0}));
  ASSERT_EQ(S_OK, list->Count(&count));
  EXPECT_EQ(1u, count);

  CComPtr<IBookmarkItem> item = New<IBookmarkItem>();
  ASSERT_EQ(S_OK, CallSlot(item.get(), 26, LONGLONG{42}));
  LONGLONG position = 0;
  ASSERT_EQ(S_OK, CallSlot(item.get(), 29, &position));
  EXPECT_EQ(42, position);
  ASSERT_EQ(S_OK, CallSlot(item.get(), 17, LONG{5}));
  LONG access_count = 0;
  ASSERT_EQ(S_OK, CallSlot(item.get(), 18, &access_count));
  EXPECT_EQ(5, access_count);

  CComPtr<IExtensionRecord> record = New<IExtensionRecord>();
  ASSERT_EQ(S_OK, CallSlot(record.get(), 7, INT{9}));
  INT state = 0;
  ASSERT_EQ(S_OK, CallSlot(record.get(), 13, &state));
  EXPECT_EQ(9, state);

  CComPtr<IMessageLoopManager> manager;
  ASSERT_EQ(S_OK, Util::Com::GetService(IID_IMessageLoopManager, manager.ReceiveVoid()));
  int loop = 0;
  ASSERT_EQ(S_OK, CallSlot(manager.get(), 4, DWORD{0xFFFF0101u}, static_cast<void*>(&loop)));
  void* found = nullptr;
  ASSERT_EQ(S_OK, CallSlot(manager.get(), 5, DWORD{0xFFFF0101u}, &found));
  EXPECT_EQ(&loop, found);
  ASSERT_EQ(S_OK, manager->RegisterLoop(0xFFFF0101u, nullptr));
}

TEST(VtableSlotTest, DatabaseOperationsSitAtTheirSlots) {
  CComPtr<IDatabaseService> service;
  ASSERT_EQ(S_OK, Util::Com::GetService(IID_IDatabaseService, service.ReceiveVoid()));
  IDatabaseConnection* raw_connection = nullptr;
  ASSERT_EQ(S_OK, CallSlot(service.get(), 7, ":memory:", &raw_connection));
  CComPtr<IDatabaseConnection> connection;
  connection.Attach(raw_connection);
  ASSERT_EQ(S_OK, CallSlot(connection.get(), 10, "create table t(n, s, b)"));
  BOOL exists = FALSE;
  ASSERT_EQ(S_OK, CallSlot(connection.get(), 11, "t", &exists));
  EXPECT_TRUE(exists);
  ASSERT_EQ(S_OK, CallSlot(connection.get(), 14));

  IDatabaseStatement* raw_statement = nullptr;
  ASSERT_EQ(S_OK,
            CallSlot(connection.get(), 9, "insert into t values(42, :s, :b)", &raw_statement));
  CComPtr<IDatabaseStatement> insert;
  insert.Attach(raw_statement);
  CComBSTR text(u"text");
  const BYTE bytes[] = {7, 8};
  ASSERT_EQ(S_OK, CallSlot(insert.get(), 15, INT{1}, static_cast<BSTR>(text)));
  ASSERT_EQ(S_OK, CallSlot(insert.get(), 20, INT{2}, static_cast<const BYTE*>(bytes), ULONG{2}));
  ASSERT_EQ(S_OK, CallSlot(insert.get(), 21));
  ASSERT_EQ(S_OK, CallSlot(insert.get(), 13));
  ASSERT_EQ(S_OK, CallSlot(connection.get(), 15));

  ASSERT_EQ(S_OK, connection->Prepare("select * from t", insert.Receive()));
  BOOL row = FALSE;
  ASSERT_EQ(S_OK, CallSlot(insert.get(), 22, &row));
  ASSERT_TRUE(row);
  INT narrow = 0;
  ASSERT_EQ(S_OK, CallSlot(insert.get(), 24, INT{0}, &narrow));
  EXPECT_EQ(42, narrow);
  LONGLONG wide = 0;
  ASSERT_EQ(S_OK, CallSlot(insert.get(), 25, INT{0}, &wide));
  EXPECT_EQ(42, wide);
  CComBSTR read;
  ASSERT_EQ(S_OK, CallSlot(insert.get(), 28, INT{1}, read.Receive()));
  EXPECT_EQ(std::u16string(u"text"), std::u16string(read.get(), read.Length()));
  const BYTE* data = nullptr;
  ULONG length = 0;
  ASSERT_EQ(S_OK, CallSlot(insert.get(), 29, INT{2}, &data, &length));
  ASSERT_EQ(2u, length);
  EXPECT_EQ(8, data[1]);

  ASSERT_EQ(S_OK, CallSlot(connection.get(), 8));
  EXPECT_EQ(DatabaseError(kDatabaseMisuse), connection->Execute("select 1"));

  for (int slot : {3, 6}) EXPECT_EQ(E_NOTIMPL, CallSlot(service.get(), slot)) << slot;
  for (int slot : {3, 7, 12, 13}) EXPECT_EQ(E_NOTIMPL, CallSlot(connection.get(), slot)) << slot;
  for (int slot : {3, 12, 14, 16, 19, 23, 26, 27}) {
    EXPECT_EQ(E_NOTIMPL, CallSlot(insert.get(), slot)) << slot;
  }
}

TEST(VtableSlotTest, ReservedSlotsAnswerNotImplemented) {
  CComPtr<IObjectList> list = New<IObjectList>();
  for (int slot : {5, 40, 43, 47, 70}) EXPECT_EQ(E_NOTIMPL, CallSlot(list.get(), slot)) << slot;
  CComPtr<IBookmarkItem> item = New<IBookmarkItem>();
  for (int slot : {21, 30}) EXPECT_EQ(E_NOTIMPL, CallSlot(item.get(), slot)) << slot;
  CComPtr<IValueObject> value = New<IValueObject>();
  for (int slot : {4, 5, 8, 9, 12, 13}) EXPECT_EQ(E_NOTIMPL, CallSlot(value.get(), slot)) << slot;
}

}  // namespace
