#include "storage/sync/read_write_lock.h"

#include "base/logging.h"
#include "browserplatform/handleapi.h"
#include "browserplatform/synchapi.h"

namespace Storage {
namespace {

struct Field {
  uint32_t shift;
  uint32_t mask;  // unshifted
};
constexpr Field kActiveReaders{0, 0x7FF};
constexpr Field kQueuedReaders{11, 0x7FF};
constexpr Field kQueuedWriters{24, 0x7F};
constexpr uint32_t kWriter = 1u << 22;
constexpr uint32_t kWriterPending = 1u << 31;
constexpr LONG kGateMaximum = 2147483647;

uint32_t Get(uint32_t s, Field f) { return (s >> f.shift) & f.mask; }
uint32_t Set(uint32_t s, Field f, uint32_t value) {
  return (s & ~(f.mask << f.shift)) | ((value & f.mask) << f.shift);
}
// Counts wrap inside their own bits instead of carrying into the next field.
uint32_t Increment(uint32_t s, Field f) { return Set(s, f, Get(s, f) + 1); }
uint32_t Decrement(uint32_t s, Field f) { return Set(s, f, Get(s, f) - 1); }

// A release lets one queued writer take its turn: it leaves the queue and the writer-pending
// bit goes, so that everybody woken retries on equal terms.
uint32_t HandTurnToQueuedWriter(uint32_t s) {
  if (Get(s, kQueuedWriters) == 0) return s;
  return Decrement(s, kQueuedWriters) & ~kWriterPending;
}

// A failed wait (not a time-out) retries; a short pause keeps that from spinning hot.
void PauseAfterFailedWait(DWORD result) {
  if (result == WAIT_FAILED) Sleep(1);
}

}  // namespace

CReadWriteLock::CReadWriteLock() {
  DWORD error = ERROR_SUCCESS;
  for (HANDLE* gate : {&shared_gate_, &exclusive_gate_}) {
    *gate = CreateSemaphoreW(nullptr, 0, kGateMaximum, nullptr);
    if (*gate == nullptr && error == ERROR_SUCCESS) error = GetLastError();
  }
  if (error == ERROR_SUCCESS) return;
  // Waiters would have nothing to sleep on: the lock goes without gates.
  for (HANDLE* gate : {&shared_gate_, &exclusive_gate_}) {
    if (*gate) CloseHandle(*gate);
    *gate = nullptr;
  }
  without_gates_ = true;
  base::Log(base::kLogLevelError, base::kLogCategoryAssert,
            u"error @ %s:%d (lasterror=%u, hr=0x%X)", u"Storage::CReadWriteLock::CReadWriteLock",
            __LINE__, error, 0u);
  SetLastError(error);
}

CReadWriteLock::~CReadWriteLock() {
  if (shared_gate_) CloseHandle(shared_gate_);
  if (exclusive_gate_) CloseHandle(exclusive_gate_);
}

bool CReadWriteLock::AcquireShared(DWORD timeout_ms) {
  if (without_gates_) return AcquireAlone(timeout_ms, false);
  for (;;) {
    uint32_t s = state_.load(std::memory_order_relaxed);
    const bool blocked = (s & (kWriter | kWriterPending)) != 0;
    uint32_t next = blocked ? Increment(s, kQueuedReaders) : Increment(s, kActiveReaders);
    if (!state_.compare_exchange_weak(s, next, std::memory_order_acq_rel)) continue;
    if (!blocked) return true;

    DWORD result = WaitForSingleObject(shared_gate_, timeout_ms);
    if (result != WAIT_TIMEOUT) {
      PauseAfterFailedWait(result);
      continue;  // register afresh
    }
    for (;;) {
      s = state_.load(std::memory_order_relaxed);
      if (s & (kWriter | kWriterPending)) {
        next = Get(s, kQueuedReaders) ? Decrement(s, kQueuedReaders) : s;
        if (state_.compare_exchange_weak(s, next, std::memory_order_acq_rel)) return false;
      } else {
        next = Increment(s, kActiveReaders);
        if (state_.compare_exchange_weak(s, next, std::memory_order_acq_rel)) return true;
      }
    }
  }
}

bool CReadWriteLock::AcquireExclusive(DWORD timeout_ms) {
  if (without_gates_) return AcquireAlone(timeout_ms, true);
  const HANDLE gates[2] = {shared_gate_, exclusive_gate_};
  for (;;) {
    uint32_t s = state_.load(std::memory_order_relaxed);
    const bool blocked = (s & kWriter) || Get(s, kActiveReaders) != 0;
    uint32_t next = blocked ? (Increment(s, kQueuedWriters) | kWriterPending) : (s | kWriter);
    if (!state_.compare_exchange_weak(s, next, std::memory_order_acq_rel)) continue;
    if (!blocked) return true;

    // One count from each gate, taken together.
    DWORD result = WaitForMultipleObjects(2, gates, TRUE, timeout_ms);
    if (result != WAIT_TIMEOUT) {
      PauseAfterFailedWait(result);
      continue;  // register afresh
    }
    for (;;) {
      s = state_.load(std::memory_order_relaxed);
      if (!(s & kWriter) && Get(s, kActiveReaders) == 0) {
        if (state_.compare_exchange_weak(s, s | kWriter, std::memory_order_acq_rel)) return true;
      } else {
        next = s;
        if (Get(s, kQueuedWriters) != 0) {
          next = Decrement(s, kQueuedWriters);
          if (Get(next, kQueuedWriters) == 0) next &= ~kWriterPending;
        }
        if (state_.compare_exchange_weak(s, next, std::memory_order_acq_rel)) return false;
      }
    }
  }
}

void CReadWriteLock::ReleaseShared() {
  if (without_gates_) return ReleaseAlone(false);
  uint32_t s = state_.load(std::memory_order_relaxed);
  uint32_t next;
  do {
    if (Get(s, kActiveReaders) == 0) return;  // not held shared: nothing to release
    next = Decrement(s, kActiveReaders);
    if (Get(next, kActiveReaders) == 0) {
      next = HandTurnToQueuedWriter(Set(next, kQueuedReaders, 0));
    }
  } while (!state_.compare_exchange_weak(s, next, std::memory_order_acq_rel));
  if (Get(next, kActiveReaders) == 0) Wake(s);
}

void CReadWriteLock::ReleaseExclusive() {
  if (without_gates_) return ReleaseAlone(true);
  uint32_t s = state_.load(std::memory_order_relaxed);
  uint32_t next;
  do {
    if (!(s & kWriter)) return;  // not held exclusively: nothing to release
    next = HandTurnToQueuedWriter(Set(s & ~kWriter, kQueuedReaders, 0));
  } while (!state_.compare_exchange_weak(s, next, std::memory_order_acq_rel));
  Wake(s);
}

void CReadWriteLock::Wake(uint32_t old_state) {
  const uint32_t queued_readers = Get(old_state, kQueuedReaders);
  const uint32_t queued_writers = Get(old_state, kQueuedWriters);
  if (queued_writers != 0) ReleaseSemaphore(exclusive_gate_, 1, nullptr);
  if (queued_readers != 0 || queued_writers != 0) {
    LONG count = static_cast<LONG>(queued_readers + (queued_writers != 0 ? 1 : 0));
    ReleaseSemaphore(shared_gate_, count, nullptr);
  }
}

bool CReadWriteLock::AcquireAlone(DWORD timeout_ms, bool exclusive) {
  if (timeout_ms == INFINITE) {
    serial_.Lock();
  } else if (!serial_.TryLock()) {
    return false;
  }
  // Only holders of serial_ change the word now; it shows who holds the lock.
  uint32_t s = state_.load(std::memory_order_relaxed);
  state_.store(exclusive ? (s | kWriter) : Increment(s, kActiveReaders), std::memory_order_release);
  return true;
}

void CReadWriteLock::ReleaseAlone(bool exclusive) {
  uint32_t s = state_.load(std::memory_order_acquire);
  // Not held that way: nothing to release, as with gates.
  if (exclusive ? !(s & kWriter) : Get(s, kActiveReaders) == 0) return;
  state_.store(exclusive ? (s & ~kWriter) : Decrement(s, kActiveReaders),
               std::memory_order_release);
  serial_.Unlock();
}

}  // namespace Storage
