// Polls a condition until it holds, for at most `limit` (ten seconds unless told). Tests use it
// to wait for another thread without sleeping a fixed time and without hanging for ever.
#pragma once

#include <chrono>
#include <thread>

namespace testing_support {

template <class Condition>
bool Eventually(Condition condition,
                std::chrono::milliseconds limit = std::chrono::milliseconds(10000)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  return true;
}

}  // namespace testing_support
