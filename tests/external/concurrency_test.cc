// Several threads on one object at once: invariants hold and nothing deadlocks. Run under
// ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <latch>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "browserplatform/combaseapi.h"
#include "tests/external/object_test_util.h"

namespace {

using ATL::CComPtr;
using objects_test::New;

// Runs each job on its own thread, all released at once, and joins them. Threads that are still
// busy after `limit` mean a deadlock: the process stops with a message rather than hang.
void RunConcurrently(std::vector<std::function<void()>> jobs,
                     std::chrono::seconds limit = std::chrono::seconds(60)) {
  struct Progress {
    std::mutex mutex;
    std::condition_variable done;
    size_t finished = 0;
  };
  auto progress = std::make_shared<Progress>();
  auto start = std::make_shared<std::latch>(static_cast<std::ptrdiff_t>(jobs.size()));
  std::vector<std::thread> threads;
  for (auto& job : jobs) {
    threads.emplace_back([progress, start, job = std::move(job)] {
      start->arrive_and_wait();
      job();
      std::lock_guard<std::mutex> lock(progress->mutex);
      ++progress->finished;
      progress->done.notify_all();
    });
  }
  {
    std::unique_lock<std::mutex> lock(progress->mutex);
    if (!progress->done.wait_for(lock, limit,
                                 [&] { return progress->finished == threads.size(); })) {
      std::fprintf(stderr, "threads still running after %d s: deadlock\n",
                   static_cast<int>(limit.count()));
      std::abort();
    }
  }
  for (std::thread& thread : threads) thread.join();
}

// A value whose every byte is its length modulo 251: a torn copy breaks the pattern.
std::vector<BYTE> Pattern(ULONG length) {
  return std::vector<BYTE>(length, static_cast<BYTE>(length % 251));
}

bool IsPattern(IValueObject* value) {
  ULONG size = 0;
  const BYTE* data = nullptr;
  if (value->GetSize(&size) != S_OK || value->GetBuffer(&data) != S_OK) return false;
  for (ULONG i = 0; i < size; ++i) {
    if (data[i] != size % 251) return false;
  }
  return true;
}

TEST(ConcurrencyTest, ListKeepsEveryWritersOrder) {
  constexpr int kAppenders = 3;
  constexpr int kPerThread = 2000;
  CComPtr<IObjectList> list = New<IObjectList>();
  CComPtr<IValueObject> marker = New<IValueObject>();
  std::vector<std::vector<CComPtr<IValueObject>>> values(kAppenders);
  std::map<IUnknown*, std::pair<int, int>> owner;  // element -> (appender, position)
  for (int t = 0; t < kAppenders; ++t) {
    for (int i = 0; i < kPerThread; ++i) {
      values[t].push_back(New<IValueObject>());
      owner[values[t].back()] = {t, i};
    }
  }

  std::vector<std::function<void()>> jobs;
  for (int t = 0; t < kAppenders; ++t) {
    jobs.push_back([&, t] {
      for (IValueObject* value : values[t]) {
        EXPECT_EQ(S_OK, list->Append(IID_IValueObject, value));
      }
    });
  }
  // Nobody else inserts at the front, so the marker is first until this thread removes it.
  jobs.push_back([&] {
    for (int i = 0; i < kPerThread; ++i) {
      ASSERT_EQ(S_OK, list->InsertAt(0, IID_IValueObject, marker));
      void* first = nullptr;
      ASSERT_EQ(S_OK, list->GetAt(0, IID_IValueObject, &first));
      EXPECT_EQ(static_cast<void*>(marker.get()), first);
      static_cast<IValueObject*>(first)->Release();
      ASSERT_EQ(S_OK, list->RemoveAt(0));
    }
  });
  // Every clone shows a prefix of each appender's sequence, in order.
  jobs.push_back([&] {
    for (int round = 0; round < 40; ++round) {
      CComPtr<IObjectList> clone;
      ASSERT_EQ(S_OK, list->Clone(clone.Receive()));
      UINT count = 0;
      ASSERT_EQ(S_OK, clone->Count(&count));
      std::vector<int> next(kAppenders, 0);
      for (UINT i = 0; i < count; ++i) {
        CComPtr<IUnknown> element;
        ASSERT_EQ(S_OK, clone->GetAt(i, IID_IValueObject, element.ReceiveVoid()));
        if (element.get() == marker.get()) continue;
        auto [appender, position] = owner.at(element);
        ASSERT_EQ(next[appender]++, position);
      }
    }
  });
  RunConcurrently(std::move(jobs));

  UINT count = 0;
  ASSERT_EQ(S_OK, list->Count(&count));
  ASSERT_EQ(UINT{kAppenders * kPerThread}, count);
  std::vector<int> next(kAppenders, 0);
  for (UINT i = 0; i < count; ++i) {
    CComPtr<IUnknown> element;
    ASSERT_EQ(S_OK, list->GetAt(i, IID_IValueObject, element.ReceiveVoid()));
    auto [appender, position] = owner.at(element);
    EXPECT_EQ(next[appender]++, position);
  }
  EXPECT_EQ(1u, objects_test::RefCount(marker));
  list.Release();
  EXPECT_EQ(1u, objects_test::RefCount(values[0][0]));
}

TEST(ConcurrencyTest, ValueCopiesAreNeverTorn) {
  CComPtr<IValueObject> shared = New<IValueObject>();
  std::vector<std::function<void()>> jobs;
  for (int t = 0; t < 2; ++t) {
    jobs.push_back([&, t] {
      for (ULONG i = 0; i < 20000; ++i) {
        const ULONG length = (i * 7 + t * 13) % 300;
        std::vector<BYTE> bytes = Pattern(length);
        if (i % 2 == 0) {
          EXPECT_EQ(S_OK, shared->SetBuffer(bytes.data(), length));
        } else {
          auto* block = static_cast<BYTE*>(CoTaskMemAlloc(length));
          std::copy(bytes.begin(), bytes.end(), block);
          EXPECT_EQ(S_OK, shared->AttachBuffer(block, length));
        }
      }
    });
  }
  for (int t = 0; t < 2; ++t) {
    jobs.push_back([&] {
      CComPtr<IValueObject> mine = New<IValueObject>();
      for (int i = 0; i < 20000; ++i) {
        ASSERT_EQ(S_OK, mine->CopyFrom(shared));
        ASSERT_TRUE(IsPattern(mine));
        BOOL equal = 2;
        ASSERT_EQ(S_OK, shared->IsEqual(mine, &equal));
        ASSERT_TRUE(equal == TRUE || equal == FALSE);
      }
    });
  }
  RunConcurrently(std::move(jobs));
  EXPECT_TRUE(IsPattern(shared));
}

TEST(ConcurrencyTest, OppositeComparisonsDoNotDeadlock) {
  CComPtr<IValueObject> a = New<IValueObject>(), b = New<IValueObject>();
  const std::vector<BYTE> bytes = Pattern(64);
  ASSERT_EQ(S_OK, a->SetBuffer(bytes.data(), 64));
  ASSERT_EQ(S_OK, b->SetBuffer(bytes.data(), 64));
  auto compare = [](IValueObject* self, IValueObject* other) {
    return [self, other] {
      for (int i = 0; i < 50000; ++i) {
        BOOL equal = FALSE;
        EXPECT_EQ(S_OK, self->IsEqual(other, &equal));
        EXPECT_EQ(TRUE, equal);
        EXPECT_EQ(S_OK, self->CopyFrom(other));
      }
    };
  };
  RunConcurrently({compare(a, b), compare(b, a)});
}

TEST(ConcurrencyTest, MessageLoopsPerThread) {
  CComPtr<IMessageLoopManager> manager;
  ASSERT_EQ(S_OK, Util::Com::GetService(IID_IMessageLoopManager, manager.ReceiveVoid()));
  std::vector<std::function<void()>> jobs;
  for (DWORD t = 0; t < 4; ++t) {
    jobs.push_back([&, t] {
      const DWORD thread_id = 0xFFFF1000u + t;
      int loop = 0;
      for (int i = 0; i < 10000; ++i) {
        ASSERT_EQ(S_OK, manager->RegisterLoop(thread_id, &loop));
        void* found = nullptr;
        ASSERT_EQ(S_OK, manager->GetLoop(thread_id, &found));
        ASSERT_EQ(static_cast<void*>(&loop), found);
        ASSERT_EQ(S_OK, manager->RegisterLoop(thread_id, nullptr));
      }
    });
  }
  RunConcurrently(std::move(jobs));
}

}  // namespace
