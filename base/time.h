// The thread runtime's clocks.
#pragma once

#include <cstdint>

namespace base {

// Microseconds on a monotonic clock (the performance counter). Any thread.
int64_t MonotonicMicroseconds();

// Wall time in microseconds since 1 January 1601 (UTC), advanced with the monotonic counter
// from a reference pair (wall time, counter) that is taken again once more than 60 seconds of
// counter time have passed since it, so that it stays smooth between those points. Any thread.
int64_t Now();

}  // namespace base
