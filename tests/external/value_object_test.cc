#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "browserplatform/atlcom.h"
#include "browserplatform/combaseapi.h"
#include "tests/external/object_test_util.h"

namespace {

using ATL::CComPtr;
using objects_test::New;
using Bytes = std::vector<BYTE>;

Bytes BytesOf(IValueObject* value) {
  ULONG size = 0;
  const BYTE* data = nullptr;
  EXPECT_EQ(S_OK, value->GetSize(&size));
  EXPECT_EQ(S_OK, value->GetBuffer(&data));
  if (size == 0) return {};
  EXPECT_NE(nullptr, data);
  return Bytes(data, data + size);
}

CComPtr<IValueObject> ValueOf(const Bytes& bytes) {
  CComPtr<IValueObject> value = New<IValueObject>();
  EXPECT_EQ(S_OK, value->SetBuffer(bytes.data(), static_cast<ULONG>(bytes.size())));
  return value;
}

bool Equal(IValueObject* a, IValueObject* b) {
  BOOL equal = 2;
  EXPECT_EQ(S_OK, a->IsEqual(b, &equal));
  EXPECT_TRUE(equal == TRUE || equal == FALSE);
  return equal == TRUE;
}

// A host's own value: the factory's value reads it through GetSize and GetBuffer.
class CHostValue : public IValueObject, public ATL::CComObjectRootEx<ATL::CComMultiThreadModel> {
 public:
  BEGIN_COM_MAP(CHostValue)
  COM_INTERFACE_ENTRY(IValueObject)
  END_COM_MAP()

  Bytes bytes;

  STDMETHODIMP GetBuffer(const BYTE** data) override {
    *data = bytes.data();
    return S_OK;
  }
  STDMETHODIMP IsEqual(IValueObject*, BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP AttachBuffer(BYTE*, ULONG) override { return E_NOTIMPL; }
  STDMETHODIMP GetSize(ULONG* size) override {
    *size = static_cast<ULONG>(bytes.size());
    return S_OK;
  }
  STDMETHODIMP SetBuffer(const BYTE*, ULONG) override { return E_NOTIMPL; }
  STDMETHODIMP CopyFrom(IValueObject*) override { return E_NOTIMPL; }
};

TEST(ValueObjectTest, FreshValueIsEmpty) {
  CComPtr<IValueObject> value = New<IValueObject>();
  EXPECT_EQ(Bytes{}, BytesOf(value));
  EXPECT_TRUE(Equal(value, New<IValueObject>()));
}

// Every way of filling a value from a source (bytes, the factory's value, a host's own value,
// the value itself) gives the source's bytes, equal to the source and independent of it; and
// the value's byte image rebuilds an equal value.
TEST(ValueObjectTest, FillingFromAnySourceGivesAnEqualIndependentCopy) {
  enum class Source { kBytes, kFactoryValue, kHostValue, kItself };
  const Bytes kImages[] = {{}, {0x00, 0x01, 0xFF, 0x00, 0x7F}};
  for (Source source :
       {Source::kBytes, Source::kFactoryValue, Source::kHostValue, Source::kItself}) {
    for (const Bytes& image : kImages) {
      SCOPED_TRACE(testing::Message()
                   << "source " << static_cast<int>(source) << ", " << image.size() << " bytes");
      CComPtr<IValueObject> value = ValueOf({0x42});
      Bytes bytes = image;
      CComPtr<IValueObject> from;  // the source value, where there is one
      ATL::CComObject<CHostValue>* host = nullptr;
      switch (source) {
        case Source::kBytes:
          ASSERT_EQ(S_OK, value->SetBuffer(bytes.data(), static_cast<ULONG>(bytes.size())));
          break;
        case Source::kFactoryValue:
          from = ValueOf(image);
          ASSERT_EQ(S_OK, value->CopyFrom(from));
          break;
        case Source::kHostValue:
          ASSERT_EQ(S_OK, ATL::CComObject<CHostValue>::CreateInstance(&host));
          from = host;
          host->bytes = image;
          ASSERT_EQ(S_OK, value->CopyFrom(from));
          break;
        case Source::kItself:
          value = ValueOf(image);
          ASSERT_EQ(S_OK, value->CopyFrom(value));
          break;
      }
      EXPECT_EQ(image, BytesOf(value));
      if (from) {
        EXPECT_TRUE(Equal(value, from));
      }

      const BYTE* data = nullptr;
      ULONG size = 0;
      ASSERT_EQ(S_OK, value->GetBuffer(&data));
      ASSERT_EQ(S_OK, value->GetSize(&size));
      CComPtr<IValueObject> rebuilt = New<IValueObject>();
      ASSERT_EQ(S_OK, rebuilt->SetBuffer(data, size));
      EXPECT_TRUE(Equal(value, rebuilt));

      // Changing the source afterwards leaves the value alone.
      bytes.push_back(0x33);
      if (host) {
        host->bytes.push_back(0x33);
      } else if (from) {
        ASSERT_EQ(S_OK, from->SetBuffer(bytes.data(), static_cast<ULONG>(bytes.size())));
      }
      EXPECT_EQ(image, BytesOf(value));
      if (from) {
        EXPECT_FALSE(Equal(value, from));
      }
    }
  }
  CComPtr<IValueObject> value = ValueOf({1, 2});
  ASSERT_EQ(S_OK, value->SetBuffer(nullptr, 0));
  EXPECT_EQ(Bytes{}, BytesOf(value));
}

TEST(ValueObjectTest, AttachBufferTakesOwnership) {
  CComPtr<IValueObject> value = New<IValueObject>();
  auto* block = static_cast<BYTE*>(CoTaskMemAlloc(3));
  ASSERT_NE(nullptr, block);
  std::memcpy(block, "abc", 3);
  ASSERT_EQ(S_OK, value->AttachBuffer(block, 3));
  const BYTE* data = nullptr;
  ASSERT_EQ(S_OK, value->GetBuffer(&data));
  EXPECT_EQ(block, data);  // no copy
  EXPECT_EQ((Bytes{'a', 'b', 'c'}), BytesOf(value));

  // Replacing the value frees the attached block; LeakSanitizer and ASan watch both paths.
  void* empty_block = CoTaskMemAlloc(0);
  ASSERT_NE(nullptr, empty_block);
  ASSERT_EQ(S_OK, value->AttachBuffer(static_cast<BYTE*>(empty_block), 0));
  EXPECT_EQ(Bytes{}, BytesOf(value));
  ASSERT_EQ(S_OK, value->SetBuffer(reinterpret_cast<const BYTE*>("xy"), 2));
  ASSERT_EQ(S_OK, value->AttachBuffer(static_cast<BYTE*>(CoTaskMemAlloc(1)), 1));
}

TEST(ValueObjectTest, RejectedBuffersChangeNothing) {
  CComPtr<IValueObject> value = ValueOf({1, 2});
  EXPECT_EQ(E_INVALIDARG, value->AttachBuffer(nullptr, 4));
  EXPECT_EQ(E_INVALIDARG, value->SetBuffer(nullptr, 4));
  EXPECT_EQ((Bytes{1, 2}), BytesOf(value));
  EXPECT_EQ(E_POINTER, value->GetBuffer(nullptr));
  EXPECT_EQ(E_POINTER, value->GetSize(nullptr));
  BOOL equal = TRUE;
  EXPECT_EQ(E_POINTER, value->IsEqual(nullptr, &equal));
  EXPECT_EQ(E_POINTER, value->IsEqual(value, nullptr));
  EXPECT_EQ(E_POINTER, value->CopyFrom(nullptr));
}

TEST(ValueObjectTest, IsEqualComparesSizeAndBytes) {
  struct Case {
    Bytes a, b;
    bool equal;
  };
  const Case cases[] = {
      {{}, {}, true},   {{1, 2}, {1, 2}, true},  {{0, 0}, {0, 0}, true}, {{1, 2}, {1, 2, 0}, false},
      {{}, {0}, false}, {{1, 2}, {1, 3}, false},
  };
  for (const Case& c : cases) {
    CComPtr<IValueObject> a = ValueOf(c.a), b = ValueOf(c.b);
    EXPECT_EQ(c.equal, Equal(a, b)) << c.a.size() << " vs " << c.b.size();
    EXPECT_EQ(c.equal, Equal(b, a));
    EXPECT_TRUE(Equal(a, a));
  }
}

// Short values are held in the object itself and long ones in a block; every operation works
// across the two forms, in both directions, and a value may be rebuilt from its own bytes.
TEST(ValueObjectTest, ShortAndLongValuesMixInEveryOperation) {
  auto make = [](ULONG size, BYTE first) {
    Bytes bytes(size);
    for (ULONG i = 0; i < size; ++i) bytes[i] = static_cast<BYTE>(first + i);
    return bytes;
  };
  const ULONG sizes[] = {0, 1, 7, 8, 9, 64};
  for (ULONG from : sizes) {
    for (ULONG to : sizes) {
      SCOPED_TRACE(testing::Message() << from << " -> " << to);
      const Bytes old_bytes = make(from, 1), new_bytes = make(to, 100);
      CComPtr<IValueObject> value = ValueOf(old_bytes);
      ASSERT_EQ(S_OK, value->SetBuffer(new_bytes.data(), to));
      EXPECT_EQ(new_bytes, BytesOf(value));

      CComPtr<IValueObject> copy = ValueOf(old_bytes);
      ASSERT_EQ(S_OK, copy->CopyFrom(value));
      EXPECT_EQ(new_bytes, BytesOf(copy));

      // An attached block stays a block whatever its size; it equals the same bytes held in place.
      CComPtr<IValueObject> attached = New<IValueObject>();
      auto* block = static_cast<BYTE*>(CoTaskMemAlloc(to));
      ASSERT_NE(nullptr, block);
      if (to > 0) std::memcpy(block, new_bytes.data(), to);
      ASSERT_EQ(S_OK, attached->AttachBuffer(block, to));
      EXPECT_TRUE(Equal(value, attached));
      EXPECT_TRUE(Equal(attached, value));
      EXPECT_EQ(from == 0 && to == 0, Equal(ValueOf(old_bytes), value));
      ASSERT_EQ(S_OK, attached->CopyFrom(ValueOf(old_bytes)));
      EXPECT_EQ(old_bytes, BytesOf(attached));
    }
    if (from > 0) {
      CComPtr<IValueObject> value = ValueOf(make(from, 7));
      const BYTE* data = nullptr;
      ASSERT_EQ(S_OK, value->GetBuffer(&data));
      ASSERT_EQ(S_OK, value->SetBuffer(data + 1, from - 1));
      EXPECT_EQ(make(from - 1, 8), BytesOf(value)) << from;
    }
  }
}

TEST(ValueObjectTest, TaskMemoryGivesUniqueBlocksForZeroSize) {
  void* a = CoTaskMemAlloc(0);
  void* b = CoTaskMemAlloc(0);
  EXPECT_NE(nullptr, a);
  EXPECT_NE(nullptr, b);
  EXPECT_NE(a, b);
  CoTaskMemFree(a);
  CoTaskMemFree(b);
  CoTaskMemFree(nullptr);
}

}  // namespace
