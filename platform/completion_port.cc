// I/O completion ports: a packet FIFO with a condition variable.
//
// The handle object and the packet queue are separate so that a waiter does not keep the
// port alive: it holds only the queue, and when the last reference to the port object goes
// (its handle closed, no post in progress) the port closes the queue and wakes the waiters.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "browserplatform/ioapiset.h"
#include "platform/handle_table.h"
#include "platform/win_error.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

struct Packet {
  DWORD bytes_transferred;
  ULONG_PTR completion_key;
  LPOVERLAPPED overlapped;
};

class PacketQueue {
 public:
  PacketQueue() = default;
  PacketQueue(const PacketQueue&) = delete;
  PacketQueue& operator=(const PacketQueue&) = delete;

  void Post(const Packet& packet) {
    std::lock_guard<std::mutex> lock(mutex_);
    packets_.push_back(packet);
    available_.notify_one();
  }

  // The oldest packet, or the Win32 error that ended the wait.
  DWORD Get(DWORD milliseconds, Packet* packet) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    std::unique_lock<std::mutex> lock(mutex_);
    auto ready = [&] { return closed_ || !packets_.empty(); };
    ++blocked_;
    bool timed_out = false;
    if (milliseconds == INFINITE) {
      available_.wait(lock, ready);
    } else {
      timed_out = !available_.wait_until(lock, deadline, ready);
    }
    --blocked_;
    if (timed_out) return WAIT_TIMEOUT;
    if (closed_) return ERROR_ABANDONED_WAIT_0;
    *packet = packets_.front();
    packets_.pop_front();
    return ERROR_SUCCESS;
  }

  size_t blocked() {
    std::lock_guard<std::mutex> lock(mutex_);
    return blocked_;
  }

  void Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    packets_.clear();
    available_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable available_;
  std::deque<Packet> packets_;  // Guarded by mutex_.
  bool closed_ = false;         // Guarded by mutex_.
  size_t blocked_ = 0;          // Threads in Get's wait; guarded by mutex_.
};

class CompletionPort final : public KernelObject {
 public:
  CompletionPort()
      : KernelObject(ObjectKind::kCompletionPort), queue(std::make_shared<PacketQueue>()) {}
  ~CompletionPort() override { queue->Close(); }

  size_t CountBlockedWaiters() const override { return queue->blocked(); }

  const std::shared_ptr<PacketQueue> queue;
};

}  // namespace
}  // namespace platform

HANDLE CreateIoCompletionPort(HANDLE file, HANDLE existing_port, ULONG_PTR, DWORD) {
  if (file != INVALID_HANDLE_VALUE || existing_port != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return platform::InsertHandle(std::make_shared<platform::CompletionPort>());
}

BOOL PostQueuedCompletionStatus(HANDLE handle, DWORD bytes_transferred, ULONG_PTR completion_key,
                                LPOVERLAPPED overlapped) {
  auto port = platform::LookupHandleAs<platform::CompletionPort>(
      handle, platform::ObjectKind::kCompletionPort);
  if (!port) return FALSE;
  port->queue->Post({bytes_transferred, completion_key, overlapped});
  return TRUE;
}

BOOL GetQueuedCompletionStatus(HANDLE handle, DWORD* bytes_transferred, ULONG_PTR* completion_key,
                               LPOVERLAPPED* overlapped, DWORD milliseconds) {
  if (overlapped) *overlapped = nullptr;
  if (!bytes_transferred || !completion_key || !overlapped) {
    return platform::FailWith(ERROR_INVALID_PARAMETER);
  }
  std::shared_ptr<platform::PacketQueue> queue;
  {
    auto port = platform::LookupHandleAs<platform::CompletionPort>(
        handle, platform::ObjectKind::kCompletionPort);
    if (!port) return FALSE;
    queue = port->queue;
  }
  platform::Packet packet;
  DWORD error = queue->Get(milliseconds, &packet);
  if (error != ERROR_SUCCESS) return platform::FailWith(error);
  *bytes_transferred = packet.bytes_transferred;
  *completion_key = packet.completion_key;
  *overlapped = packet.overlapped;
  return TRUE;
}
