// Per-thread COM initialisation, as CoCreateInstance checks it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "browserplatform/combaseapi.h"
#include "tests/common/temp_folder.h"

namespace {

constexpr CLSID kUnregistered = platform::MakeGuid("5EC0A1E6-0000-4000-8000-000000000000");

// Not initialised: CO_E_NOTINITIALIZED; initialised: the class is looked up (and missing).
HRESULT TryCreate() {
  void* object = nullptr;
  return CoCreateInstance(kUnregistered, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object);
}

TEST(ComInitTest, CountsPerThreadAndKeepsTheFirstModel) {
  // An empty registry of the test's own.
  platform_test::TempFolder config;
  const char* saved = std::getenv("XDG_CONFIG_HOME");
  const std::string restore = saved ? saved : "";
  ASSERT_EQ(::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1), 0);

  ASSERT_EQ(TryCreate(), CO_E_NOTINITIALIZED);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE), S_FALSE);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);  // not counted
  EXPECT_EQ(TryCreate(), REGDB_E_CLASSNOTREG);

  // Another thread has its own count and may choose its own model.
  std::thread([] {
    EXPECT_EQ(TryCreate(), CO_E_NOTINITIALIZED);
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(TryCreate(), REGDB_E_CLASSNOTREG);
    CoUninitialize();
    EXPECT_EQ(TryCreate(), CO_E_NOTINITIALIZED);
  }).join();

  CoUninitialize();
  EXPECT_EQ(TryCreate(), REGDB_E_CLASSNOTREG);  // one initialisation left
  CoUninitialize();
  EXPECT_EQ(TryCreate(), CO_E_NOTINITIALIZED);
  CoUninitialize();                                                    // one too many does nothing
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);  // a new first model
  CoUninitialize();

  int reserved = 0;
  EXPECT_EQ(CoInitializeEx(&reserved, COINIT_MULTITHREADED), E_INVALIDARG);
  EXPECT_EQ(CoInitializeEx(nullptr, 0x100), E_INVALIDARG);
  EXPECT_EQ(TryCreate(), CO_E_NOTINITIALIZED);

  if (saved) {
    ::setenv("XDG_CONFIG_HOME", restore.c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }
}

}  // namespace
