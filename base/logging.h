// The system's log call and its levels and categories.
#pragma once

#include "browserplatform/types.h"

namespace base {

constexpr DWORD kLogLevelFunction = 5;      // function traces
constexpr DWORD kLogLevelInfo = 16;         // thread information
constexpr DWORD kLogLevelOldLog = 32;       // thread start/stop notes
constexpr DWORD kLogLevelPerformance = 37;  // performance traces and queue notes
constexpr DWORD kLogLevelError = 64;        // errors

inline constexpr char16_t kLogCategoryFunction[] = u"function;";
inline constexpr char16_t kLogCategoryThread[] = u"thread;";
inline constexpr char16_t kLogCategoryOldLog[] = u"oldlog;";
inline constexpr char16_t kLogCategoryPerformance[] = u"performance_profile;";
inline constexpr char16_t kLogCategoryAssert[] = u"assert;";
inline constexpr char16_t kLogCategoryNone[] = u"";

// Formats (Microsoft printf conventions on UTF-16: %s is a UTF-16 string, %S an 8-bit one)
// into 2048 characters, longer text cut, and hands it to the logging controller when one is
// installed and wants this level and category. Any thread; the thread's last error is kept.
void Log(DWORD level, const char16_t* category, const char16_t* format, ...);

}  // namespace base
