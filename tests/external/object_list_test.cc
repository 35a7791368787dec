#include <gtest/gtest.h>

#include <vector>

#include "browserplatform/atlcom.h"
#include "tests/external/object_test_util.h"

// Two interfaces on one object, so that the pointer stored for the second differs from the
// object's IUnknown.
struct IFirstFace : public IUnknown {
  virtual int STDMETHODCALLTYPE First() = 0;
};
struct ISecondFace : public IUnknown {
  virtual int STDMETHODCALLTYPE Second() = 0;
};
BROWSER_DECLARE_IID(IFirstFace, "037EE45F-36E7-4155-BFED-E8EDE1335E48");
BROWSER_DECLARE_IID(ISecondFace, "0619B911-2E97-4512-89E7-39BE6772E974");

namespace {

using ATL::CComPtr;
using objects_test::Bstr;
using objects_test::New;
using objects_test::RefCount;

class CTwoFaces : public IFirstFace,
                  public ISecondFace,
                  public ATL::CComObjectRootEx<ATL::CComMultiThreadModel> {
 public:
  BEGIN_COM_MAP(CTwoFaces)
  COM_INTERFACE_ENTRY(IFirstFace)
  COM_INTERFACE_ENTRY(ISecondFace)
  END_COM_MAP()
  int STDMETHODCALLTYPE First() override { return 1; }
  int STDMETHODCALLTYPE Second() override { return 2; }
};

UINT CountOf(IObjectList* list) {
  UINT count = 0;
  EXPECT_EQ(S_OK, list->Count(&count));
  return count;
}

// The object elements as the pointers GetAt gives for the identifier they were stored with.
std::vector<IUnknown*> ValuesOf(IObjectList* list) {
  std::vector<IUnknown*> values;
  for (UINT i = 0; i < CountOf(list); ++i) {
    CComPtr<IValueObject> value;
    EXPECT_EQ(S_OK, list->GetAt(i, IID_IValueObject, value.ReceiveVoid()));
    values.push_back(value.get());
  }
  return values;
}

TEST(ObjectListTest, CloneSharesElementsAndLeavesTheSourceUnchanged) {
  CComPtr<IObjectList> source = New<IObjectList>();
  CComPtr<IValueObject> a = New<IValueObject>(), b = New<IValueObject>();
  ASSERT_EQ(S_OK, source->Append(IID_IValueObject, a));
  ASSERT_EQ(S_OK, source->Append(IID_IValueObject, b));
  EXPECT_EQ(2u, RefCount(a));

  CComPtr<IObjectList> clone;
  ASSERT_EQ(S_OK, source->Clone(clone.Receive()));
  ASSERT_NE(source.get(), clone.get());
  EXPECT_EQ(ValuesOf(source), (std::vector<IUnknown*>{a, b}));
  EXPECT_EQ(ValuesOf(clone), (std::vector<IUnknown*>{a, b}));
  EXPECT_EQ(3u, RefCount(a));  // one reference per list

  CComPtr<IValueObject> c = New<IValueObject>();
  ASSERT_EQ(S_OK, clone->Append(IID_IValueObject, c));
  EXPECT_EQ(ValuesOf(source), (std::vector<IUnknown*>{a, b}));
  ASSERT_EQ(S_OK, source->RemoveAt(0));
  EXPECT_EQ(ValuesOf(clone), (std::vector<IUnknown*>{a, b, c}));
  EXPECT_EQ(ValuesOf(source), (std::vector<IUnknown*>{b}));

  clone.Release();
  EXPECT_EQ(1u, RefCount(a));
  EXPECT_EQ(1u, RefCount(c));
}

TEST(ObjectListTest, GetAtReturnsTheStoredPointerAndQueriesForOtherInterfaces) {
  ATL::CComObject<CTwoFaces>* raw = nullptr;
  ASSERT_EQ(S_OK, ATL::CComObject<CTwoFaces>::CreateInstance(&raw));
  CComPtr<ISecondFace> second(raw);
  IUnknown* const canonical = static_cast<IFirstFace*>(raw);  // what QueryInterface gives
  ASSERT_NE(static_cast<IUnknown*>(second.get()), canonical);
  CComPtr<IObjectList> list = New<IObjectList>();
  ASSERT_EQ(S_OK, list->Append(uuidof<ISecondFace>(), second));
  ASSERT_EQ(S_OK, list->InsertAt(0, IID_IUnknown, second));

  struct Case {
    UINT index;
    const IID* iid;
    IUnknown* expected;
  };
  const Case cases[] = {
      {0, &IID_IUnknown, second},  // stored under IID_IUnknown: the pointer as given
      {1, &uuidof<ISecondFace>(), second},
      {1, &IID_IUnknown, canonical},  // any other identifier: QueryInterface
      {0, &uuidof<IFirstFace>(), static_cast<IFirstFace*>(raw)},
  };
  for (const Case& c : cases) {
    void* got = nullptr;
    ASSERT_EQ(S_OK, list->GetAt(c.index, *c.iid, &got)) << c.index;
    EXPECT_EQ(static_cast<void*>(c.expected), got) << c.index;
    static_cast<IUnknown*>(got)->Release();
  }

  void* none = &list;
  EXPECT_EQ(E_NOINTERFACE, list->GetAt(0, IID_IValueObject, &none));
  EXPECT_EQ(nullptr, none);
  EXPECT_EQ(3u, RefCount(second));
}

TEST(ObjectListTest, InsertAndRemoveKeepTheOrder) {
  CComPtr<IObjectList> list = New<IObjectList>();
  std::vector<CComPtr<IValueObject>> v;
  for (int i = 0; i < 5; ++i) v.push_back(New<IValueObject>());
  ASSERT_EQ(S_OK, list->Append(IID_IValueObject, v[1]));
  ASSERT_EQ(S_OK, list->Append(IID_IValueObject, v[3]));
  ASSERT_EQ(S_OK, list->InsertAt(1, IID_IValueObject, v[2]));
  ASSERT_EQ(S_OK, list->InsertAt(0, IID_IValueObject, v[0]));
  ASSERT_EQ(S_OK, list->InsertAt(4, IID_IValueObject, v[4]));  // index == count appends
  EXPECT_EQ(ValuesOf(list), (std::vector<IUnknown*>{v[0], v[1], v[2], v[3], v[4]}));

  ASSERT_EQ(S_OK, list->RemoveAt(0));
  ASSERT_EQ(S_OK, list->RemoveAt(1));
  ASSERT_EQ(S_OK, list->RemoveAt(2));
  EXPECT_EQ(ValuesOf(list), (std::vector<IUnknown*>{v[1], v[3]}));
  EXPECT_EQ(1u, RefCount(v[0]));
  EXPECT_EQ(1u, RefCount(v[2]));
  EXPECT_EQ(1u, RefCount(v[4]));
}

TEST(ObjectListTest, StringElements) {
  CComPtr<IObjectList> list = New<IObjectList>();
  const std::u16string with_nul(u"a\0b", 3);
  ASSERT_EQ(S_OK, list->AppendString(Bstr(with_nul)));
  ASSERT_EQ(S_OK, list->AppendString(nullptr));
  ASSERT_EQ(2u, CountOf(list));

  ATL::CComBSTR text;
  ASSERT_EQ(S_OK, list->GetStringAt(0, text.Receive()));
  EXPECT_EQ(with_nul, std::u16string(text.get(), text.Length()));
  ASSERT_EQ(S_OK, list->GetStringAt(1, text.Receive()));
  ASSERT_NE(nullptr, text.get());
  EXPECT_EQ(0u, text.Length());

  CComPtr<IObjectList> clone;
  ASSERT_EQ(S_OK, list->Clone(clone.Receive()));
  ASSERT_EQ(S_OK, clone->GetStringAt(0, text.Receive()));
  EXPECT_EQ(with_nul, std::u16string(text.get(), text.Length()));
}

TEST(ObjectListTest, BadIndexesAndArguments) {
  CComPtr<IObjectList> list = New<IObjectList>();
  CComPtr<IValueObject> value = New<IValueObject>();
  ASSERT_EQ(S_OK, list->Append(IID_IValueObject, value));
  ASSERT_EQ(S_OK, list->AppendString(Bstr(u"text")));

  struct Case {
    const char* what;
    UINT index;  // 0: the object, 1: the string, 2: past the end
  };
  for (const Case& c : {Case{"string at object", 0}, Case{"string past end", 2}}) {
    BSTR text = Bstr(u"junk").Detach();
    BSTR junk = text;
    EXPECT_EQ(E_INVALIDARG, list->GetStringAt(c.index, &text)) << c.what;
    EXPECT_EQ(nullptr, text) << c.what;
    SysFreeString(junk);
  }
  for (const Case& c : {Case{"object at string", 1}, Case{"object past end", 2}}) {
    void* out = &list;
    EXPECT_EQ(E_INVALIDARG, list->GetAt(c.index, IID_IValueObject, &out)) << c.what;
    EXPECT_EQ(nullptr, out) << c.what;
  }
  EXPECT_EQ(E_INVALIDARG, list->InsertAt(3, IID_IValueObject, value));
  EXPECT_EQ(E_INVALIDARG, list->RemoveAt(2));
  EXPECT_EQ(E_POINTER, list->Append(IID_IValueObject, nullptr));
  EXPECT_EQ(E_POINTER, list->InsertAt(0, IID_IValueObject, nullptr));
  EXPECT_EQ(E_POINTER, list->Count(nullptr));
  EXPECT_EQ(E_POINTER, list->Clone(nullptr));
  EXPECT_EQ(E_POINTER, list->GetAt(0, IID_IValueObject, nullptr));
  EXPECT_EQ(E_POINTER, list->GetStringAt(1, nullptr));
  EXPECT_EQ(2u, CountOf(list));
  EXPECT_EQ(2u, RefCount(value));
}

}  // namespace
