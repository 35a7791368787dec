// Scope traces written to the log.
//
// CFunctionTrace logs "name(args) {" at entry and "} name(args)" at every exit (level 5,
// "function;"), and indents the lines logged between them, of every level, also when its own
// lines are not wanted: the indentation follows the scopes whatever is logged. The argument
// text joins the values with ", ": strings as they are (null as "(null)"), integers in
// decimal; it holds at most 2047 characters, the rest is dropped. It is built only when the
// level is wanted.
//
// CPerformanceTrace logs "进入函数:name" at entry and "离开函数:name 执行耗时:<ms>" at exit
// (level 37, "performance_profile;"), timed with the tick count. CPrecisePerformanceTrace logs
// the same entry line and the elapsed time in seconds as a double, timed with the performance
// counter.
#pragma once

#include <cstdint>
#include <type_traits>

#include "browserplatform/log.h"
#include "browserplatform/types.h"

namespace base {

class CTraceArgs {
 public:
  static constexpr size_t kCapacity = 2048;  // characters, including the terminating NUL

  CTraceArgs() { text_[0] = u'\0'; }

  void Add(const char16_t* value);
  void Add(const char* value);  // UTF-8
  void AddInteger(int64_t value);
  void AddUnsigned(uint64_t value);

  template <class T>
  void Add(T value) requires std::is_integral_v<T> {
    if constexpr (std::is_signed_v<T>) {
      AddInteger(value);
    } else {
      AddUnsigned(value);
    }
  }

  const char16_t* c_str() const { return text_; }
  size_t length() const { return length_; }

 private:
  void Append(const char16_t* text, size_t count);
  void Separate();

  char16_t text_[kCapacity];
  size_t length_ = 0;
  bool has_value_ = false;
};

class CFunctionTrace {
 public:
  template <class... Args>
  explicit CFunctionTrace(const char16_t* name, const Args&... args) : name_(name) {
    if (Begin()) {
      (args_.Add(args), ...);
      LogEntry();
    }
    IndentIn();
  }
  ~CFunctionTrace();
  CFunctionTrace(const CFunctionTrace&) = delete;
  CFunctionTrace& operator=(const CFunctionTrace&) = delete;

 private:
  // Reports whether the entry and exit lines are wanted.
  bool Begin();
  void LogEntry();
  void IndentIn();

  const char16_t* name_;
  ILogController* controller_ = nullptr;  // the one indented at entry, indented back at exit
  bool enabled_ = false;
  CTraceArgs args_;
};

class CPerformanceTrace {
 public:
  explicit CPerformanceTrace(const char16_t* name);
  ~CPerformanceTrace();
  CPerformanceTrace(const CPerformanceTrace&) = delete;
  CPerformanceTrace& operator=(const CPerformanceTrace&) = delete;

 private:
  const char16_t* name_;
  DWORD start_ticks_;
};

class CPrecisePerformanceTrace {
 public:
  explicit CPrecisePerformanceTrace(const char16_t* name);
  ~CPrecisePerformanceTrace();
  CPrecisePerformanceTrace(const CPrecisePerformanceTrace&) = delete;
  CPrecisePerformanceTrace& operator=(const CPrecisePerformanceTrace&) = delete;

 private:
  const char16_t* name_;
  int64_t frequency_;
  int64_t start_;
};

}  // namespace base
