#include "browserplatform/ioapiset.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "browserplatform/handleapi.h"
#include "browserplatform/synchapi.h"
#include "platform/handle_table.h"
#include "tests/common/eventually.h"

namespace {

constexpr DWORD kLongWait = 10000;

// True once a thread is blocked waiting for a packet of `port`.
bool BlockedOn(HANDLE port) {
  return testing_support::Eventually(
      [&] { return platform::BlockedWaiterCountForTesting(port) == 1; });
}

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using ScopedHandle = std::unique_ptr<void, HandleCloser>;

ScopedHandle NewPort() {
  HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
  EXPECT_NE(port, nullptr);
  return ScopedHandle(port);
}

struct Dequeued {
  BOOL ok = FALSE;
  DWORD error = 0;
  DWORD bytes = 0;
  ULONG_PTR key = 0;
  LPOVERLAPPED overlapped = nullptr;
};

Dequeued Get(HANDLE port, DWORD milliseconds) {
  Dequeued d;
  // Poisoned, so that a result left unset shows.
  d.overlapped = reinterpret_cast<LPOVERLAPPED>(uintptr_t{0xBAD0});
  SetLastError(0);
  d.ok = GetQueuedCompletionStatus(port, &d.bytes, &d.key, &d.overlapped, milliseconds);
  d.error = GetLastError();
  return d;
}

TEST(CompletionPortTest, PacketsComeOutFirstInFirstOutWithTheirValues) {
  ScopedHandle port = NewPort();
  OVERLAPPED overlapped[3] = {};
  for (DWORD i = 0; i < 3; ++i) {
    ASSERT_TRUE(PostQueuedCompletionStatus(port.get(), 100 + i, 0xC0FFEE00u + i, &overlapped[i]));
  }
  ASSERT_TRUE(PostQueuedCompletionStatus(port.get(), 0, 0, nullptr));
  for (DWORD i = 0; i < 3; ++i) {
    Dequeued d = Get(port.get(), 0);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.bytes, 100 + i);
    EXPECT_EQ(d.key, 0xC0FFEE00u + i);
    EXPECT_EQ(d.overlapped, &overlapped[i]);
  }
  Dequeued last = Get(port.get(), 0);
  EXPECT_TRUE(last.ok);
  EXPECT_EQ(last.overlapped, nullptr);
}

TEST(CompletionPortTest, EmptyPortTimesOut) {
  ScopedHandle port = NewPort();
  for (DWORD milliseconds : {0u, 30u}) {
    Dequeued d = Get(port.get(), milliseconds);
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.error, WAIT_TIMEOUT);
    EXPECT_EQ(d.overlapped, nullptr);
  }
}

TEST(CompletionPortTest, WaiterWakesForAPacketPostedLater) {
  ScopedHandle port = NewPort();
  Dequeued d;
  std::thread waiter([&] { d = Get(port.get(), kLongWait); });
  ASSERT_TRUE(BlockedOn(port.get()));
  ASSERT_TRUE(PostQueuedCompletionStatus(port.get(), 7, 8, nullptr));
  waiter.join();
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.bytes, 7u);
  EXPECT_EQ(d.key, 8u);
}

TEST(CompletionPortTest, ClosingThePortReleasesItsWaiterAsAbandoned) {
  HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 0);
  ASSERT_NE(port, nullptr);
  Dequeued d;
  std::thread waiter([&] { d = Get(port, kLongWait); });
  ASSERT_TRUE(BlockedOn(port));
  EXPECT_TRUE(CloseHandle(port));
  waiter.join();
  EXPECT_FALSE(d.ok);
  EXPECT_EQ(d.error, ERROR_ABANDONED_WAIT_0);
  EXPECT_EQ(d.overlapped, nullptr);

  Dequeued after = Get(port, 0);
  EXPECT_FALSE(after.ok);
  EXPECT_EQ(after.error, ERROR_INVALID_HANDLE);
  EXPECT_EQ(after.overlapped, nullptr);
}

TEST(CompletionPortTest, ConcurrentProducersKeepTheirOwnOrder) {
  ScopedHandle port = NewPort();
  constexpr DWORD kProducers = 4, kPackets = 2000;
  std::vector<std::thread> producers;
  for (DWORD p = 0; p < kProducers; ++p) {
    producers.emplace_back([&, p] {
      for (DWORD i = 0; i < kPackets; ++i) PostQueuedCompletionStatus(port.get(), i, p, nullptr);
    });
  }
  std::vector<DWORD> next(kProducers, 0);
  DWORD received = 0;
  for (; received < kProducers * kPackets; ++received) {
    Dequeued d = Get(port.get(), kLongWait);
    ASSERT_TRUE(d.ok);
    ASSERT_LT(d.key, kProducers);
    EXPECT_EQ(d.bytes, next[d.key]++);
  }
  for (auto& producer : producers) producer.join();
  EXPECT_EQ(Get(port.get(), 0).error, WAIT_TIMEOUT);
}

TEST(CompletionPortTest, RefusesUnsupportedUsesAndBadArguments) {
  ScopedHandle port = NewPort();
  ScopedHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  struct CreateCase {
    HANDLE file, existing;
  };
  for (const CreateCase& c :
       {CreateCase{event.get(), nullptr}, CreateCase{INVALID_HANDLE_VALUE, port.get()},
        CreateCase{nullptr, nullptr}}) {
    SetLastError(0);
    EXPECT_EQ(CreateIoCompletionPort(c.file, c.existing, 1, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }

  for (HANDLE bad : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE, event.get()}) {
    SetLastError(0);
    EXPECT_FALSE(PostQueuedCompletionStatus(bad, 0, 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    Dequeued d = Get(bad, 0);
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.error, ERROR_INVALID_HANDLE);
    EXPECT_EQ(d.overlapped, nullptr);
  }

  DWORD bytes = 0;
  ULONG_PTR key = 0;
  LPOVERLAPPED overlapped = nullptr;
  SetLastError(0);
  EXPECT_FALSE(GetQueuedCompletionStatus(port.get(), nullptr, &key, &overlapped, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  SetLastError(0);
  EXPECT_FALSE(GetQueuedCompletionStatus(port.get(), &bytes, nullptr, &overlapped, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  SetLastError(0);
  EXPECT_FALSE(GetQueuedCompletionStatus(port.get(), &bytes, &key, nullptr, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
