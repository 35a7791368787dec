// The factory's entry points and the message-loop manager service.
#include <gtest/gtest.h>

#include <thread>

#include "tests/external/object_test_util.h"

namespace {

using ATL::CComPtr;
using objects_test::New;

constexpr IID kUnknownIid = platform::MakeGuid("6C656B84-276D-4077-9F03-7ED95B008B7F");

TEST(ObjectFactoryTest, CreatesANewObjectForEveryKnownIid) {
  const IID* known[] = {
      &IID_IValueObject,          &IID_IObjectList, &IID_ITreeNode,        &IID_IBookmarkItem,
      &IID_IBookmarkItemProperty, &IID_IIconObject, &IID_IExtensionRecord, &IID_ITextValue};
  for (const IID* iid : known) {
    CComPtr<IUnknown> first, second, queried;
    ASSERT_EQ(S_OK, Util::Com::CreateObjectByIID(*iid, first.ReceiveVoid()));
    ASSERT_EQ(S_OK, Util::Com::CreateObjectByIID(*iid, second.ReceiveVoid()));
    ASSERT_TRUE(first && second);
    EXPECT_NE(first.get(), second.get());
    ASSERT_EQ(S_OK, first->QueryInterface(*iid, queried.ReceiveVoid()));
    EXPECT_EQ(first.get(), queried.get());  // *out is the `iid` interface itself
    queried.Release();
    EXPECT_EQ(1u, objects_test::RefCount(first));
  }
}

TEST(ObjectFactoryTest, RefusesUnknownNamesAndNullArguments) {
  void* out = &out;
  EXPECT_EQ(E_NOINTERFACE, Util::Com::CreateObjectByIID(kUnknownIid, &out));
  EXPECT_EQ(nullptr, out);
  out = &out;
  EXPECT_EQ(E_NOINTERFACE, Util::Com::CreateObjectByIID(IID_IMessageLoopManager, &out));
  EXPECT_EQ(nullptr, out);
  out = &out;
  EXPECT_EQ(E_NOINTERFACE, Util::Com::GetService(IID_IValueObject, &out));
  EXPECT_EQ(nullptr, out);
  for (const char16_t* name : {u"browser.textvalue", u"Browser.TextValue ", u"Browser.Text", u""}) {
    out = &out;
    EXPECT_EQ(E_NOINTERFACE, Util::Com::CreateObjectByInterface(name, &out));
    EXPECT_EQ(nullptr, out);
  }
  out = &out;
  EXPECT_EQ(E_INVALIDARG, Util::Com::CreateObjectByInterface(nullptr, &out));
  EXPECT_EQ(nullptr, out);

  EXPECT_EQ(E_POINTER, Util::Com::CreateObjectByIID(IID_IValueObject, nullptr));
  EXPECT_EQ(E_POINTER, Util::Com::GetService(IID_IMessageLoopManager, nullptr));
  EXPECT_EQ(E_POINTER, Util::Com::CreateObjectByInterface(kTextValueInterfaceName, nullptr));
}

TEST(ObjectFactoryTest, InterfaceNameCreatesATextValue) {
  CComPtr<IUnknown> first, second;
  ASSERT_EQ(S_OK, Util::Com::CreateObjectByInterface(kTextValueInterfaceName, first.ReceiveVoid()));
  ASSERT_EQ(S_OK,
            Util::Com::CreateObjectByInterface(kTextValueInterfaceName, second.ReceiveVoid()));
  EXPECT_NE(first.get(), second.get());
  CComPtr<ITextValue> text;
  ASSERT_EQ(S_OK, first->QueryInterface(IID_ITextValue, text.ReceiveVoid()));
  EXPECT_EQ(first.get(), text.get());
}

class MessageLoopManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(S_OK, Util::Com::GetService(IID_IMessageLoopManager, manager_.ReceiveVoid()));
    ASSERT_TRUE(manager_);
  }
  void* LoopOf(DWORD thread_id) {
    void* loop = &loop;
    EXPECT_EQ(S_OK, manager_->GetLoop(thread_id, &loop));
    return loop;
  }

  // Thread ids far above any real one, so the process-wide service holds nothing else there.
  static constexpr DWORD kThreadA = 0xFFFF0001u;
  static constexpr DWORD kThreadB = 0xFFFF0002u;
  CComPtr<IMessageLoopManager> manager_;
};

TEST_F(MessageLoopManagerTest, OneServiceForTheProcess) {
  CComPtr<IMessageLoopManager> again;
  ASSERT_EQ(S_OK, Util::Com::GetService(IID_IMessageLoopManager, again.ReceiveVoid()));
  EXPECT_EQ(manager_.get(), again.get());
  CComPtr<IMessageLoopManager> from_thread;
  std::thread([&] {
    EXPECT_EQ(S_OK, Util::Com::GetService(IID_IMessageLoopManager, from_thread.ReceiveVoid()));
  }).join();
  EXPECT_EQ(manager_.get(), from_thread.get());
}

TEST_F(MessageLoopManagerTest, RegisterGetAndUnregisterPerThread) {
  int loop_a = 0, loop_b = 0, loop_c = 0;
  EXPECT_EQ(nullptr, LoopOf(kThreadA));
  ASSERT_EQ(S_OK, manager_->RegisterLoop(kThreadA, &loop_a));
  ASSERT_EQ(S_OK, manager_->RegisterLoop(kThreadB, &loop_b));
  EXPECT_EQ(&loop_a, LoopOf(kThreadA));
  EXPECT_EQ(&loop_b, LoopOf(kThreadB));

  ASSERT_EQ(S_OK, manager_->RegisterLoop(kThreadA, &loop_c));  // a nested loop replaces it
  EXPECT_EQ(&loop_c, LoopOf(kThreadA));
  ASSERT_EQ(S_OK, manager_->RegisterLoop(kThreadA, nullptr));
  EXPECT_EQ(nullptr, LoopOf(kThreadA));
  EXPECT_EQ(&loop_b, LoopOf(kThreadB));
  ASSERT_EQ(S_OK, manager_->RegisterLoop(kThreadB, nullptr));
  ASSERT_EQ(S_OK, manager_->RegisterLoop(kThreadB, nullptr));  // nothing left to remove
  EXPECT_EQ(nullptr, LoopOf(kThreadB));
  EXPECT_EQ(E_POINTER, manager_->GetLoop(kThreadA, nullptr));
}

}  // namespace
