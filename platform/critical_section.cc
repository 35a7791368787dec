// Critical sections: a recursive pthread mutex placed in the caller's storage, so that
// ThreadSanitizer and the usual debugging tools see an ordinary mutex.
#include <pthread.h>

#include <atomic>
#include <new>

#include "browserplatform/synchapi.h"
#include "platform/critical_section_for_testing.h"
#include "platform/win_error.h"

namespace {

std::atomic<bool> g_init_fails{false};

static_assert(sizeof(pthread_mutex_t) <= sizeof(CRITICAL_SECTION::Opaque));
static_assert(alignof(pthread_mutex_t) <= alignof(CRITICAL_SECTION));

pthread_mutex_t* MutexOf(CRITICAL_SECTION* section) {
  return std::launder(reinterpret_cast<pthread_mutex_t*>(section->Opaque));
}

int InitializeRecursiveMutex(CRITICAL_SECTION* section) {
  pthread_mutexattr_t attributes;
  int error = pthread_mutexattr_init(&attributes);
  if (error != 0) return error;
  error = pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  if (error == 0) {
    error = pthread_mutex_init(new (section->Opaque) pthread_mutex_t, &attributes);
  }
  pthread_mutexattr_destroy(&attributes);
  return error;
}

}  // namespace

void InitializeCriticalSection(CRITICAL_SECTION* section) {
  if (section) InitializeRecursiveMutex(section);
}

BOOL InitializeCriticalSectionAndSpinCount(CRITICAL_SECTION* section, DWORD) {
  if (!section) return platform::FailWith(ERROR_INVALID_PARAMETER);
  if (g_init_fails.load()) return platform::FailWith(ERROR_NOT_ENOUGH_MEMORY);
  int error = InitializeRecursiveMutex(section);
  return error == 0 ? TRUE : platform::FailWithErrno(error);
}

void EnterCriticalSection(CRITICAL_SECTION* section) {
  if (section) pthread_mutex_lock(MutexOf(section));
}

BOOL TryEnterCriticalSection(CRITICAL_SECTION* section) {
  return section && pthread_mutex_trylock(MutexOf(section)) == 0 ? TRUE : FALSE;
}

void LeaveCriticalSection(CRITICAL_SECTION* section) {
  if (section) pthread_mutex_unlock(MutexOf(section));
}

void DeleteCriticalSection(CRITICAL_SECTION* section) {
  if (section) pthread_mutex_destroy(MutexOf(section));
}

namespace platform {

void SetCriticalSectionInitFailsForTesting(bool fails) { g_init_fails = fails; }

}  // namespace platform
