// Costs of the platform primitives the storages sit on.
//
//   CriticalSection         uncontended enter + leave
//   EventSetWait            set + wait of an auto-reset event on one thread (handle lookup,
//                           dispatcher lock, no blocking)
//   EventPingPong           round trip between two threads through two auto-reset events
//   WaitAllTwoSemaphores    release both + wait-all on both (the exclusive path of the
//                           reader/writer lock when it has to wait)
//   CompletionPortRoundTrip post + dequeue one packet
//   VarBstrCmp / SortKeyCompare   collating two strings vs comparing their stored sort keys
//   Utf16ToUtf8             1 KiB of mixed text through WideCharToMultiByte
//   FormatTraceLine         "%s(%s) {" into the 2048-character log buffer
//   Crc32                   64 KiB
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/crc32.h"
#include "browserplatform/collation.h"
#include "browserplatform/handleapi.h"
#include "browserplatform/ioapiset.h"
#include "browserplatform/oleauto.h"
#include "browserplatform/stringapiset.h"
#include "browserplatform/synchapi.h"
#include "browserplatform/wprintf.h"

namespace {

void BM_CriticalSection(benchmark::State& state) {
  CRITICAL_SECTION cs;
  InitializeCriticalSectionAndSpinCount(&cs, 2000);
  for (auto _ : state) {
    EnterCriticalSection(&cs);
    LeaveCriticalSection(&cs);
  }
  DeleteCriticalSection(&cs);
}
BENCHMARK(BM_CriticalSection);

void BM_EventSetWait(benchmark::State& state) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  for (auto _ : state) {
    SetEvent(event);
    benchmark::DoNotOptimize(WaitForSingleObject(event, INFINITE));
  }
  CloseHandle(event);
}
BENCHMARK(BM_EventSetWait);

void BM_EventPingPong(benchmark::State& state) {
  HANDLE ping = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE pong = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  std::atomic<bool> done{false};
  std::thread partner([&] {
    while (WaitForSingleObject(ping, INFINITE) == WAIT_OBJECT_0 && !done.load()) SetEvent(pong);
  });
  for (auto _ : state) {
    SetEvent(ping);
    WaitForSingleObject(pong, INFINITE);
  }
  done = true;
  SetEvent(ping);
  partner.join();
  CloseHandle(ping);
  CloseHandle(pong);
}
BENCHMARK(BM_EventPingPong)->UseRealTime();

void BM_WaitAllTwoSemaphores(benchmark::State& state) {
  HANDLE gates[2] = {CreateSemaphoreW(nullptr, 0, 1, nullptr),
                     CreateSemaphoreW(nullptr, 0, 1, nullptr)};
  for (auto _ : state) {
    ReleaseSemaphore(gates[0], 1, nullptr);
    ReleaseSemaphore(gates[1], 1, nullptr);
    benchmark::DoNotOptimize(WaitForMultipleObjects(2, gates, TRUE, INFINITE));
  }
  CloseHandle(gates[0]);
  CloseHandle(gates[1]);
}
BENCHMARK(BM_WaitAllTwoSemaphores);

void BM_CompletionPortRoundTrip(benchmark::State& state) {
  HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
  DWORD bytes;
  ULONG_PTR key;
  OVERLAPPED* overlapped;
  for (auto _ : state) {
    PostQueuedCompletionStatus(port, 0, 1, nullptr);
    GetQueuedCompletionStatus(port, &bytes, &key, &overlapped, INFINITE);
  }
  CloseHandle(port);
}
BENCHMARK(BM_CompletionPortRoundTrip);

// Two bookmark-title-like strings that share a long prefix.
const char16_t kLeft[] = u"Browser storage back end: bookmarks and favicons (draft A)";
const char16_t kRight[] = u"Browser storage back end: bookmarks and favicons (draft b)";

void BM_VarBstrCmp(benchmark::State& state) {
  BSTR a = SysAllocString(kLeft);
  BSTR b = SysAllocString(kRight);
  for (auto _ : state) benchmark::DoNotOptimize(VarBstrCmp(a, b, LOCALE_USER_DEFAULT, 0));
  SysFreeString(a);
  SysFreeString(b);
}
BENCHMARK(BM_VarBstrCmp);

void BM_SortKeyCompare(benchmark::State& state) {
  std::string a = platform::CollationSortKey(kLeft);
  std::string b = platform::CollationSortKey(kRight);
  for (auto _ : state) benchmark::DoNotOptimize(a.compare(b));
}
BENCHMARK(BM_SortKeyCompare);

void BM_Utf16ToUtf8(benchmark::State& state) {
  std::u16string text;
  while (text.size() < 1024) text += u"key_\u4e2d\u6587_value ";
  std::string out(text.size() * 3, '\0');
  for (auto _ : state) {
    benchmark::DoNotOptimize(WideCharToMultiByte(CP_UTF8, 0, text.data(),
                                                 static_cast<int>(text.size()), out.data(),
                                                 static_cast<int>(out.size()), nullptr, nullptr));
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size() * 2));
}
BENCHMARK(BM_Utf16ToUtf8);

void BM_FormatTraceLine(benchmark::State& state) {
  char16_t buffer[2048];
  for (auto _ : state) {
    benchmark::DoNotOptimize(_snwprintf_s(buffer, 2048, _TRUNCATE, u"%s(%s) {",
                                          u"Storage::CStorageCreater::GetStorage",
                                          u"userpref_v2, 1"));
  }
}
BENCHMARK(BM_FormatTraceLine);

void BM_Crc32(benchmark::State& state) {
  std::vector<unsigned char> data(64 * 1024, 0x5A);
  for (auto _ : state) benchmark::DoNotOptimize(base::Crc32(0, data.data(), data.size()));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}
BENCHMARK(BM_Crc32);

}  // namespace
