// A sandbox layer for tests: answers the three queries as told and records, in order, the
// name of every Internal_OV_* call made while it is installed.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "browserplatform/sandbox.h"
#include "platform/sandbox_for_testing.h"

namespace testing_support {

class FakeSandbox final : public platform::SandboxForTesting {
 public:
  FakeSandbox(bool ovsafe, bool waitable, bool file)
      : ovsafe_(ovsafe), waitable_(waitable), file_(file) {
    platform::SetSandboxForTesting(this);
  }
  ~FakeSandbox() { platform::SetSandboxForTesting(nullptr); }
  FakeSandbox(const FakeSandbox&) = delete;
  FakeSandbox& operator=(const FakeSandbox&) = delete;

  bool OvsafeEnabled() override { return ovsafe_; }
  bool WaitableHookEnabled() override { return waitable_; }
  bool FileHookEnabled() override { return file_; }
  void OnCall(const char* name) override {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(name);
  }

  std::vector<std::string> calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }

 private:
  const bool ovsafe_;
  const bool waitable_;
  const bool file_;
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
};

}  // namespace testing_support
