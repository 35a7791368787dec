#include "browserplatform/clock.h"

#include <time.h>

namespace {

constexpr int64_t kNanosPerSecond = 1000000000;
// 100-ns intervals between 1601-01-01 and 1970-01-01.
constexpr int64_t kFileTimeUnixEpoch = 116444736000000000;

timespec Read(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return ts;
}

int64_t MonotonicNanos() {
  timespec ts = Read(CLOCK_MONOTONIC);
  return int64_t{ts.tv_sec} * kNanosPerSecond + ts.tv_nsec;
}

}  // namespace

ULONGLONG GetTickCount64() { return static_cast<ULONGLONG>(MonotonicNanos() / 1000000); }

DWORD GetTickCount() { return static_cast<DWORD>(GetTickCount64()); }

BOOL QueryPerformanceCounter(LARGE_INTEGER* counter) {
  if (counter == nullptr) return FALSE;
  counter->QuadPart = MonotonicNanos();
  return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
  if (frequency == nullptr) return FALSE;
  frequency->QuadPart = kNanosPerSecond;
  return TRUE;
}

void GetSystemTimeAsFileTime(FILETIME* time) {
  if (time == nullptr) return;
  timespec ts = Read(CLOCK_REALTIME);
  int64_t value = kFileTimeUnixEpoch + int64_t{ts.tv_sec} * 10000000 + ts.tv_nsec / 100;
  time->dwLowDateTime = static_cast<DWORD>(value);
  time->dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(value) >> 32);
}

__time64_t _time64(__time64_t* out) {
  __time64_t now = Read(CLOCK_REALTIME).tv_sec;
  if (out) *out = now;
  return now;
}
