#include "base/time.h"

#include "base/lock.h"
#include "browserplatform/clock.h"
#include "platform/no_destructor.h"

namespace base {
namespace {

constexpr int64_t kMicrosPerSecond = 1000000;
constexpr int64_t kReferenceLifetimeMicros = 60000 * 1000;

// Counter units -> microseconds without overflowing: counter * 1000000 alone would overflow
// 64 bits after a few hours of uptime at a nanosecond frequency.
int64_t CounterToMicros(int64_t counter, int64_t frequency) {
  return static_cast<int64_t>(static_cast<__int128>(counter) * kMicrosPerSecond / frequency);
}

class MonotonicClock {
 public:
  int64_t NowMicros() {
    CAutoLock guard(lock_);
    if (frequency_ == 0) {
      LARGE_INTEGER frequency{};
      QueryPerformanceFrequency(&frequency);
      frequency_ = frequency.QuadPart > 0 ? frequency.QuadPart : 1;
    }
    LARGE_INTEGER reading{};
    QueryPerformanceCounter(&reading);
    // A counter that wrapped its low 32 bits reads lower than before.
    if (reading.QuadPart < last_reading_) offset_ += int64_t{1} << 32;
    last_reading_ = reading.QuadPart;
    return CounterToMicros(offset_ + reading.QuadPart, frequency_);
  }

 private:
  CLock lock_;
  int64_t frequency_ GUARDED_BY(lock_) = 0;
  int64_t last_reading_ GUARDED_BY(lock_) = 0;
  int64_t offset_ GUARDED_BY(lock_) = 0;
};

MonotonicClock& Clock() {
  // Static destructors of other objects may still read the clock at exit.
  static platform::NoDestructor<MonotonicClock> clock;
  return *clock;
}

int64_t WallMicrosSince1601() {
  FILETIME ft{};
  GetSystemTimeAsFileTime(&ft);
  uint64_t value = (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
  return static_cast<int64_t>(value / 10);
}

class WallClock {
 public:
  int64_t NowMicros() {
    CAutoLock guard(lock_);
    int64_t ticks = MonotonicMicroseconds();
    while (!initialized_ || ticks - reference_ticks_ > kReferenceLifetimeMicros) {
      reference_wall_ = WallMicrosSince1601();
      reference_ticks_ = MonotonicMicroseconds();
      initialized_ = true;
      ticks = MonotonicMicroseconds();
    }
    return reference_wall_ + (ticks - reference_ticks_);
  }

 private:
  CLock lock_;
  bool initialized_ GUARDED_BY(lock_) = false;
  int64_t reference_wall_ GUARDED_BY(lock_) = 0;
  int64_t reference_ticks_ GUARDED_BY(lock_) = 0;
};

}  // namespace

int64_t MonotonicMicroseconds() { return Clock().NowMicros(); }

int64_t Now() {
  static platform::NoDestructor<WallClock> clock;
  return clock->NowMicros();
}

}  // namespace base
