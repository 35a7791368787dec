// Helpers for the thread runtime tests: tasks made of lambdas, a bounded one-shot signal, and
// a watchdog that ends a hung test instead of letting it block the run.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "thread/task.h"

namespace thread_test {

constexpr std::chrono::seconds kLongWait{10};

class FunctionTask : public Thread::CTask {
 public:
  FunctionTask(std::function<void()> run, std::function<void()> on_destroy)
      : run_(std::move(run)), on_destroy_(std::move(on_destroy)) {}
  ~FunctionTask() override {
    if (on_destroy_) on_destroy_();
  }
  void Run() override {
    if (run_) run_();
  }

 private:
  std::function<void()> run_;
  std::function<void()> on_destroy_;
};

inline std::unique_ptr<Thread::CTask> MakeTask(std::function<void()> run,
                                               std::function<void()> on_destroy = nullptr) {
  return std::make_unique<FunctionTask>(std::move(run), std::move(on_destroy));
}

class Signal {
 public:
  void Notify() {
    std::lock_guard<std::mutex> lock(mutex_);
    notified_ = true;
    cv_.notify_all();
  }
  // True when notified within `limit`.
  bool WaitFor(std::chrono::milliseconds limit = kLongWait) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, limit, [this] { return notified_; });
  }
  bool notified() {
    std::lock_guard<std::mutex> lock(mutex_);
    return notified_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool notified_ = false;
};

// Aborts the test binary if the scope is not left within `limit`: a hang in a thread stop or
// a pump's endless wait then fails that one test instead of blocking the run.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit = std::chrono::seconds(60))
      : thread_([this, limit] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!cv_.wait_for(lock, limit, [this] { return done_; })) {
            std::fprintf(stderr, "test did not finish within %d s\n",
                         static_cast<int>(limit.count()));
            std::abort();
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;  // last: starts after the members it uses
};

}  // namespace thread_test
