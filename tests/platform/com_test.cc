#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "browserplatform/atlbase.h"
#include "browserplatform/atlcom.h"

struct IGreeter : public IUnknown {
  virtual int STDMETHODCALLTYPE Greet() = 0;
};
struct ICounter : public IUnknown {
  virtual int STDMETHODCALLTYPE Next() = 0;
};
BROWSER_DECLARE_IID(IGreeter, "6A1B8E0C-5B36-4C57-9D3C-1F0B4E2A7C01");
BROWSER_DECLARE_IID(ICounter, "6A1B8E0C-5B36-4C57-9D3C-1F0B4E2A7C02");

namespace {

constexpr CLSID kClsidThing = platform::MakeGuid("6A1B8E0C-5B36-4C57-9D3C-1F0B4E2A7C10");
constexpr CLSID kClsidSealed = platform::MakeGuid("6A1B8E0C-5B36-4C57-9D3C-1F0B4E2A7C11");

int g_destroyed = 0;
int g_final_released = 0;
HRESULT g_final_construct_result = S_OK;

class CThing : public IGreeter,
               public ICounter,
               public ATL::CComObjectRootEx<ATL::CComMultiThreadModel>,
               public ATL::CComCoClass<CThing, &kClsidThing> {
 public:
  BEGIN_COM_MAP(CThing)
  COM_INTERFACE_ENTRY(IGreeter)
  COM_INTERFACE_ENTRY(ICounter)
  END_COM_MAP()

  virtual ~CThing() { ++g_destroyed; }
  HRESULT FinalConstruct() { return g_final_construct_result; }
  void FinalRelease() { ++g_final_released; }

  int STDMETHODCALLTYPE Greet() override { return 42; }
  int STDMETHODCALLTYPE Next() override { return ++n_; }

 private:
  int n_ = 0;
};

class CSealed : public IGreeter,
                public ATL::CComObjectRootEx<ATL::CComMultiThreadModel>,
                public ATL::CComCoClass<CSealed, &kClsidSealed> {
 public:
  DECLARE_NOT_AGGREGATABLE(CSealed)
  BEGIN_COM_MAP(CSealed)
  COM_INTERFACE_ENTRY(IGreeter)
  END_COM_MAP()
  int STDMETHODCALLTYPE Greet() override { return 7; }
};

const ATL::_ATL_OBJMAP_ENTRY kObjectMap[] = {
    OBJECT_ENTRY(kClsidThing, CThing),
    OBJECT_ENTRY(kClsidSealed, CSealed),
};

// An outer object that aggregates a CThing and exposes its interfaces as its own.
class COuter : public IUnknown {
 public:
  HRESULT Init() {
    ATL::CComPtr<IClassFactory> factory;
    HRESULT hr = ATL::AtlGetClassObject(kObjectMap, 2, kClsidThing, IID_IClassFactory,
                                        factory.ReceiveVoid());
    if (FAILED(hr)) return hr;
    return factory->CreateInstance(this, IID_IUnknown, inner_.ReceiveVoid());
  }
  STDMETHODIMP QueryInterface(REFIID iid, void** result) override {
    if (iid == IID_IUnknown) {
      *result = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    return inner_->QueryInterface(iid, result);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override { return --refs_; }
  ULONG refs() const { return refs_; }
  void DropInner() { inner_.Release(); }

 private:
  ULONG refs_ = 1;
  ATL::CComPtr<IUnknown> inner_;
};

class ComTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_destroyed = 0;
    g_final_released = 0;
    g_final_construct_result = S_OK;
    ASSERT_EQ(ATL::AtlCanUnloadNow(), S_OK);
  }
  void TearDown() override { EXPECT_EQ(ATL::AtlCanUnloadNow(), S_OK) << "an object leaked"; }
};

TEST_F(ComTest, ReleaseFromOneDeletesAndFromTwoDoesNot) {
  ATL::CComObject<CThing>* thing = nullptr;
  ASSERT_EQ(ATL::CComObject<CThing>::CreateInstance(&thing), S_OK);
  EXPECT_EQ(ATL::GetModule().GetLockCount(), 1);
  EXPECT_EQ(thing->AddRef(), 1u);
  EXPECT_EQ(thing->AddRef(), 2u);
  EXPECT_EQ(thing->Release(), 1u);
  EXPECT_EQ(g_destroyed, 0);
  EXPECT_EQ(ATL::AtlCanUnloadNow(), S_FALSE);
  EXPECT_EQ(thing->Release(), 0u);
  EXPECT_EQ(g_destroyed, 1);
  EXPECT_EQ(g_final_released, 1);
}

TEST_F(ComTest, QueryInterfaceFollowsTheMap) {
  ATL::CComPtr<IGreeter> greeter;
  ASSERT_EQ(ATL::AtlGetClassObject(kObjectMap, 2, kClsidThing, IID_IClassFactory, nullptr),
            E_POINTER);
  {
    ATL::CComPtr<IClassFactory> factory;
    ASSERT_EQ(ATL::AtlGetClassObject(kObjectMap, 2, kClsidThing, IID_IClassFactory,
                                     factory.ReceiveVoid()),
              S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, uuidof<IGreeter>(), greeter.ReceiveVoid()), S_OK);
  }
  EXPECT_EQ(greeter->Greet(), 42);

  ATL::CComPtr<ICounter> counter;
  ASSERT_EQ(greeter.QueryInterface(counter.Receive()), S_OK);
  EXPECT_EQ(counter->Next(), 1);

  // One identity: IUnknown from either interface is the same pointer.
  ATL::CComPtr<IUnknown> a, b;
  ASSERT_EQ(greeter->QueryInterface(IID_IUnknown, a.ReceiveVoid()), S_OK);
  ASSERT_EQ(counter->QueryInterface(IID_IUnknown, b.ReceiveVoid()), S_OK);
  EXPECT_EQ(a.get(), b.get());

  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(greeter->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(greeter->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

// Every way of creating an object agrees: a failing FinalConstruct destroys the object and
// answers its code with a null pointer; any success (S_FALSE too) hands the object out.
TEST_F(ComTest, FinalConstructDecidesEveryCreationPath) {
  ATL::CComPtr<IClassFactory> factory;
  ASSERT_EQ(
      ATL::AtlGetClassObject(kObjectMap, 2, kClsidThing, IID_IClassFactory, factory.ReceiveVoid()),
      S_OK);
  const HRESULT kResults[] = {S_OK, S_FALSE, E_OUTOFMEMORY, E_FAIL};
  for (HRESULT result : kResults) {
    SCOPED_TRACE(testing::Message() << "FinalConstruct answers 0x" << std::hex << result);
    g_final_construct_result = result;
    g_destroyed = 0;

    ATL::CComObject<CThing>* thing = reinterpret_cast<ATL::CComObject<CThing>*>(1);
    EXPECT_EQ(ATL::CComObject<CThing>::CreateInstance(&thing), result);
    void* created = reinterpret_cast<void*>(1);
    HRESULT created_hr = CThing::_CreatorClass::CreateInstance(nullptr, IID_IUnknown, &created);
    void* made = reinterpret_cast<void*>(1);
    HRESULT made_hr = factory->CreateInstance(nullptr, uuidof<IGreeter>(), &made);

    if (FAILED(result)) {
      EXPECT_EQ(thing, nullptr);
      EXPECT_EQ(created_hr, result);
      EXPECT_EQ(created, nullptr);
      EXPECT_EQ(made_hr, result);
      EXPECT_EQ(made, nullptr);
      EXPECT_EQ(g_destroyed, 3);
      continue;
    }
    ASSERT_NE(thing, nullptr);
    thing->AddRef();
    thing->Release();
    EXPECT_TRUE(SUCCEEDED(created_hr));
    ASSERT_NE(created, nullptr);
    static_cast<IUnknown*>(created)->Release();
    EXPECT_TRUE(SUCCEEDED(made_hr));
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(static_cast<IGreeter*>(made)->Greet(), 42);
    static_cast<IGreeter*>(made)->Release();
    EXPECT_EQ(g_destroyed, 3);
  }
}

TEST_F(ComTest, AggregationAnswersIUnknownThroughTheOuterObject) {
  COuter outer;
  ASSERT_EQ(outer.Init(), S_OK);
  ATL::CComPtr<IGreeter> greeter;
  ASSERT_EQ(outer.QueryInterface(uuidof<IGreeter>(), greeter.ReceiveVoid()), S_OK);
  EXPECT_EQ(greeter->Greet(), 42);
  // References taken through the inner object's interfaces count on the outer object.
  EXPECT_EQ(outer.refs(), 2u);

  IUnknown* identity = nullptr;
  ASSERT_EQ(greeter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
  identity->Release();

  // Interfaces the outer object does not have come back from the inner map, or not at all.
  ATL::CComPtr<ICounter> counter;
  EXPECT_EQ(greeter.QueryInterface(counter.Receive()), S_OK);
  void* none = nullptr;
  EXPECT_EQ(greeter->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);

  counter.Release();
  greeter.Release();
  EXPECT_EQ(outer.refs(), 1u);
  EXPECT_EQ(g_destroyed, 0);
  outer.DropInner();  // the outer object's non-delegating reference ends the inner one
  EXPECT_EQ(g_destroyed, 1);
}

TEST_F(ComTest, ClassFactoryRulesForAggregation) {
  struct Case {
    const CLSID* clsid;
    bool with_outer;
    const IID* iid;
    HRESULT expected;
  };
  const Case cases[] = {
      {&kClsidThing, true, &uuidof<IGreeter>(), CLASS_E_NOAGGREGATION},
      {&kClsidThing, true, &IID_IUnknown, S_OK},
      {&kClsidSealed, true, &IID_IUnknown, CLASS_E_NOAGGREGATION},
      {&kClsidSealed, false, &uuidof<IGreeter>(), S_OK},
      {&kClsidSealed, false, &uuidof<ICounter>(), E_NOINTERFACE},
  };
  for (const Case& c : cases) {
    COuter outer;
    ATL::CComPtr<IClassFactory> factory;
    ASSERT_EQ(
        ATL::AtlGetClassObject(kObjectMap, 2, *c.clsid, IID_IClassFactory, factory.ReceiveVoid()),
        S_OK);
    ATL::CComPtr<IUnknown> object;
    EXPECT_EQ(
        factory->CreateInstance(c.with_outer ? &outer : nullptr, *c.iid, object.ReceiveVoid()),
        c.expected);
    EXPECT_EQ(object.get() != nullptr, c.expected == S_OK);
  }
  void* out = nullptr;
  EXPECT_EQ(ATL::AtlGetClassObject(kObjectMap, 2, uuidof<IGreeter>(), IID_IClassFactory, &out),
            CLASS_E_CLASSNOTAVAILABLE);
}

TEST_F(ComTest, LockServerAndLiveObjectsHoldTheModule) {
  ATL::CComPtr<IClassFactory> factory;
  ASSERT_EQ(
      ATL::AtlGetClassObject(kObjectMap, 2, kClsidThing, IID_IClassFactory, factory.ReceiveVoid()),
      S_OK);
  EXPECT_EQ(ATL::AtlCanUnloadNow(), S_OK) << "a class factory alone must not lock the module";
  ASSERT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(ATL::AtlCanUnloadNow(), S_FALSE);
  ASSERT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(ATL::AtlCanUnloadNow(), S_OK);
  ATL::CComPtr<IUnknown> object;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, object.ReceiveVoid()), S_OK);
  EXPECT_EQ(ATL::AtlCanUnloadNow(), S_FALSE);
  object.Release();
  EXPECT_EQ(ATL::AtlCanUnloadNow(), S_OK);
}

TEST_F(ComTest, ConcurrentAddRefReleaseDeletesExactlyOnce) {
  ATL::CComObject<CThing>* thing = nullptr;
  ASSERT_EQ(ATL::CComObject<CThing>::CreateInstance(&thing), S_OK);
  thing->AddRef();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    thing->AddRef();
    threads.emplace_back([thing] {
      for (int i = 0; i < 10000; ++i) {
        thing->AddRef();
        thing->Release();
      }
      thing->Release();
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(g_destroyed, 0);
  thing->Release();
  EXPECT_EQ(g_destroyed, 1);
}

TEST(ComBstrTest, OwnsCopiesAndHandsOver) {
  ATL::CComBSTR empty;
  EXPECT_EQ(empty.get(), nullptr);
  EXPECT_EQ(empty.Length(), 0u);
  EXPECT_EQ(empty.Copy(), nullptr);

  ATL::CComBSTR text(u"a\0b", 3);
  EXPECT_EQ(text.Length(), 3u);
  ATL::CComBSTR copy = text;
  EXPECT_NE(copy.get(), text.get());
  EXPECT_EQ(std::u16string(copy.get(), copy.Length()), std::u16string(u"a\0b", 3));

  BSTR out = copy.Detach();
  EXPECT_EQ(copy.get(), nullptr);
  ATL::CComBSTR owner;
  owner.Attach(out);
  EXPECT_EQ(owner.Length(), 3u);
  *owner.Receive() = SysAllocString(u"new");
  EXPECT_EQ(std::u16string(owner.get()), u"new");
}

TEST(GuidTest, ParseAndPrintTheRegistryForm) {
  GUID g{};
  ASSERT_EQ(CLSIDFromString(u"{43011CA5-9AE5-497B-8A6E-17D29713661F}", &g), S_OK);
  EXPECT_EQ(g.Data1, 0x43011CA5u);
  EXPECT_EQ(g.Data2, 0x9AE5u);
  EXPECT_EQ(g.Data3, 0x497Bu);
  EXPECT_EQ(g.Data4[0], 0x8A);
  EXPECT_EQ(g.Data4[7], 0x1F);
  EXPECT_EQ(g, platform::MakeGuid("43011ca5-9ae5-497b-8a6e-17d29713661f"));
  char16_t text[39];
  ASSERT_EQ(StringFromGUID2(g, text, 39), 39);
  EXPECT_EQ(std::u16string(text), u"{43011CA5-9AE5-497B-8A6E-17D29713661F}");
  EXPECT_EQ(StringFromGUID2(g, text, 38), 0);

  for (const char16_t* bad :
       {u"", u"43011CA5-9AE5-497B-8A6E-17D29713661F", u"{43011CA5-9AE5-497B-8A6E-17D29713661G}",
        u"{43011CA5+9AE5-497B-8A6E-17D29713661F}", u"{43011CA5-9AE5-497B-8A6E-17D29713661F}x"}) {
    EXPECT_EQ(CLSIDFromString(bad, &g), CO_E_CLASSSTRING) << std::u16string(bad).size();
  }
  EXPECT_EQ(IIDFromString(u"{nope}", &g), CO_E_IIDSTRING);
  EXPECT_EQ(CLSIDFromString(nullptr, &g), E_INVALIDARG);
}

}  // namespace
