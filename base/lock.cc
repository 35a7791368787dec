#include "base/lock.h"

#include "base/logging.h"

namespace base {

CLock::CLock() {
  if (!InitializeCriticalSectionAndSpinCount(&section_, 2000)) {
    DWORD error = GetLastError();
    Log(kLogLevelError, kLogCategoryAssert, u"error @ %s:%d (lasterror=%u, hr=0x%X)",
        u"base::CLock::CLock", 11, error, 0u);
    SetLastError(error);
  }
}

CLock::~CLock() { DeleteCriticalSection(&section_); }

void CLock::Lock() { EnterCriticalSection(&section_); }

bool CLock::TryLock() { return TryEnterCriticalSection(&section_) != FALSE; }

void CLock::Unlock() { LeaveCriticalSection(&section_); }

}  // namespace base
