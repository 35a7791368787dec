// The replaced global operator new behind allocation_faults.h.
#include "tests/service/allocation_faults.h"

#include <cstdlib>
#include <new>

namespace {

// Allocations left up to and including the failing one; 0 when none is armed.
thread_local size_t t_allocations_to_failure = 0;
thread_local bool t_failed = false;

bool ThisAllocationFails() {
  if (t_allocations_to_failure == 0 || --t_allocations_to_failure != 0) return false;
  t_failed = true;
  return true;
}

}  // namespace

namespace service_test {

void FailNthAllocation(size_t nth) {
  t_allocations_to_failure = nth;
  t_failed = false;
}

bool StopFailingAllocations() {
  t_allocations_to_failure = 0;
  return t_failed;
}

}  // namespace service_test

void* operator new(size_t size) {
  if (ThisAllocationFails()) throw std::bad_alloc();
  if (void* block = std::malloc(size != 0 ? size : 1)) return block;
  throw std::bad_alloc();
}

void* operator new[](size_t size) { return ::operator new(size); }

void* operator new(size_t size, const std::nothrow_t&) noexcept {
  if (ThisAllocationFails()) return nullptr;
  return std::malloc(size != 0 ? size : 1);
}

void* operator new[](size_t size, const std::nothrow_t& nothrow) noexcept {
  return ::operator new(size, nothrow);
}

void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }
void operator delete[](void* block, size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
