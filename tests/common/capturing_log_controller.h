// A logging controller for tests: installs itself, records every line with the indentation
// it was written at, and restores the previous controller when it goes.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "browserplatform/log.h"

namespace testing_support {

struct LogLine {
  DWORD level;
  std::u16string category;
  std::u16string text;
  int indent;
};

class CapturingLogController final : public ILogController {
 public:
  explicit CapturingLogController(DWORD min_level = 0) : min_level_(min_level) {
    previous_ = SetLogController(this);
  }
  ~CapturingLogController() { SetLogController(previous_); }
  CapturingLogController(const CapturingLogController&) = delete;
  CapturingLogController& operator=(const CapturingLogController&) = delete;

  BOOL IsLogEnabled(DWORD level, const char16_t*) override { return level >= min_level_; }
  void WriteLog(DWORD level, const char16_t* category, const char16_t* text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back({level, category ? category : u"", text ? text : u"", indent_});
  }
  void IndentIn() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++indent_;
  }
  void IndentOut() override {
    std::lock_guard<std::mutex> lock(mutex_);
    --indent_;
  }

  std::vector<LogLine> lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  // The lines of one category, in order.
  std::vector<LogLine> lines(const std::u16string& category) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<LogLine> out;
    for (const LogLine& line : lines_) {
      if (line.category == category) out.push_back(line);
    }
    return out;
  }
  // Their texts.
  std::vector<std::u16string> texts(const std::u16string& category) const {
    std::vector<std::u16string> out;
    for (const LogLine& line : lines(category)) out.push_back(line.text);
    return out;
  }
  int indent() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return indent_;
  }

 private:
  const DWORD min_level_;
  ILogController* previous_ = nullptr;
  mutable std::mutex mutex_;
  std::vector<LogLine> lines_;
  int indent_ = 0;
};

}  // namespace testing_support
