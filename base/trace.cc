#include "base/trace.h"

#include <algorithm>
#include <string>

#include "base/logging.h"
#include "base/string_conversions.h"
#include "browserplatform/clock.h"

namespace base {

void CTraceArgs::Append(const char16_t* text, size_t count) {
  size_t room = kCapacity - 1 - length_;
  count = std::min(count, room);
  std::copy(text, text + count, text_ + length_);
  length_ += count;
  text_[length_] = u'\0';
}

void CTraceArgs::Separate() {
  if (has_value_) Append(u", ", 2);
  has_value_ = true;
}

void CTraceArgs::Add(const char16_t* value) {
  Separate();
  if (value == nullptr) value = u"(null)";
  Append(value, std::char_traits<char16_t>::length(value));
}

void CTraceArgs::Add(const char* value) {
  if (value == nullptr) {
    Add(static_cast<const char16_t*>(nullptr));
    return;
  }
  std::u16string wide = UTF8ToWide(value);
  Separate();
  Append(wide.data(), wide.size());
}

void CTraceArgs::AddInteger(int64_t value) {
  std::string digits = std::to_string(value);
  std::u16string wide(digits.begin(), digits.end());
  Separate();
  Append(wide.data(), wide.size());
}

void CTraceArgs::AddUnsigned(uint64_t value) {
  std::string digits = std::to_string(value);
  std::u16string wide(digits.begin(), digits.end());
  Separate();
  Append(wide.data(), wide.size());
}

bool CFunctionTrace::Begin() {
  controller_ = GetLogController();
  if (controller_ == nullptr) return false;
  enabled_ = controller_->IsLogEnabled(kLogLevelFunction, kLogCategoryFunction) != 0;
  return enabled_;
}

void CFunctionTrace::LogEntry() {
  Log(kLogLevelFunction, kLogCategoryFunction, u"%s(%s) {", name_, args_.c_str());
}

void CFunctionTrace::IndentIn() {
  if (controller_ != nullptr) controller_->IndentIn();
}

CFunctionTrace::~CFunctionTrace() {
  if (controller_ == nullptr) return;
  controller_->IndentOut();
  if (enabled_) Log(kLogLevelFunction, kLogCategoryFunction, u"} %s(%s)", name_, args_.c_str());
}

CPerformanceTrace::CPerformanceTrace(const char16_t* name)
    : name_(name), start_ticks_(GetTickCount()) {
  Log(kLogLevelPerformance, kLogCategoryPerformance, u"进入函数:%s\n", name_);
}

CPerformanceTrace::~CPerformanceTrace() {
  DWORD elapsed = GetTickCount() - start_ticks_;
  Log(kLogLevelPerformance, kLogCategoryPerformance, u"离开函数:%s 执行耗时:%d\n", name_,
      static_cast<int>(elapsed));
}

CPrecisePerformanceTrace::CPrecisePerformanceTrace(const char16_t* name) : name_(name) {
  LARGE_INTEGER value{};
  QueryPerformanceFrequency(&value);
  frequency_ = value.QuadPart > 0 ? value.QuadPart : 1;
  QueryPerformanceCounter(&value);
  start_ = value.QuadPart;
  Log(kLogLevelPerformance, kLogCategoryPerformance, u"进入函数:%s\n", name_);
}

CPrecisePerformanceTrace::~CPrecisePerformanceTrace() {
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  double seconds = static_cast<double>(now.QuadPart - start_) / static_cast<double>(frequency_);
  Log(kLogLevelPerformance, kLogCategoryPerformance, u"离开函数:%s 执行耗时:%f\n", name_, seconds);
}

}  // namespace base
