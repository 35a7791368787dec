// The CRT-named bounded printf calls: argument checks and truncation rules around the
// formatter of platform/format.h.
#include "browserplatform/wprintf.h"

#include <algorithm>
#include <cerrno>
#include <climits>

#include "platform/format.h"

namespace {

bool FormatInto(const char16_t* format, va_list args, char16_t* out, size_t capacity,
                size_t* length) {
  return platform::FormatWide(format, args, out, capacity, length);
}
bool FormatInto(const char* format, va_list args, char* out, size_t capacity, size_t* length) {
  return platform::FormatNarrow(format, args, out, capacity, length);
}

int Fail(int error) {
  errno = error;
  return -1;
}

template <class Char>
int FailEmpty(Char* buffer, int error) {
  buffer[0] = 0;
  return Fail(error);
}

template <class Char>
int CountChars(const Char* format, va_list args) {
  if (format == nullptr) return Fail(EINVAL);
  size_t length;
  if (!FormatInto(format, args, nullptr, 0, &length)) return Fail(EINVAL);
  if (length > static_cast<size_t>(INT_MAX)) return Fail(EOVERFLOW);
  return static_cast<int>(length);
}

// `count` limits the characters written; `strict` callers (count not _TRUNCATE and not below
// the buffer size) get ERANGE and an empty buffer instead of a truncated result.
template <class Char>
int PrintBounded(Char* buffer, size_t size, size_t count, const Char* format, va_list args) {
  if (buffer == nullptr || size == 0) return Fail(EINVAL);
  if (format == nullptr) return FailEmpty(buffer, EINVAL);
  const size_t limit = count == _TRUNCATE ? size - 1 : std::min(count, size - 1);
  size_t length;
  if (!FormatInto(format, args, buffer, limit, &length)) return FailEmpty(buffer, EINVAL);
  if (length <= limit) {
    if (length > static_cast<size_t>(INT_MAX)) return FailEmpty(buffer, EOVERFLOW);
    buffer[length] = 0;
    return static_cast<int>(length);
  }
  if (count == _TRUNCATE || count < size) {
    buffer[limit] = 0;
    return -1;
  }
  return FailEmpty(buffer, ERANGE);
}

template <class Char>
int PrintWhole(Char* buffer, size_t size, const Char* format, va_list args) {
  if (buffer == nullptr || size == 0) return Fail(EINVAL);
  if (format == nullptr) return FailEmpty(buffer, EINVAL);
  size_t length;
  if (!FormatInto(format, args, buffer, size - 1, &length)) return FailEmpty(buffer, EINVAL);
  if (length > size - 1) return FailEmpty(buffer, ERANGE);
  if (length > static_cast<size_t>(INT_MAX)) return FailEmpty(buffer, EOVERFLOW);
  buffer[length] = 0;
  return static_cast<int>(length);
}

}  // namespace

int _vsnwprintf_s(char16_t* buffer, size_t size_in_words, size_t count, const char16_t* format,
                  va_list args) {
  return PrintBounded(buffer, size_in_words, count, format, args);
}

int _snwprintf_s(char16_t* buffer, size_t size_in_words, size_t count, const char16_t* format,
                 ...) {
  va_list args;
  va_start(args, format);
  const int result = PrintBounded(buffer, size_in_words, count, format, args);
  va_end(args);
  return result;
}

int _vscwprintf(const char16_t* format, va_list args) { return CountChars(format, args); }

int vswprintf_s(char16_t* buffer, size_t size_in_words, const char16_t* format, va_list args) {
  return PrintWhole(buffer, size_in_words, format, args);
}

int swprintf_s(char16_t* buffer, size_t size_in_words, const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = PrintWhole(buffer, size_in_words, format, args);
  va_end(args);
  return result;
}

int _vsnprintf_s(char* buffer, size_t size, size_t count, const char* format, va_list args) {
  return PrintBounded(buffer, size, count, format, args);
}

int _snprintf_s(char* buffer, size_t size, size_t count, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = PrintBounded(buffer, size, count, format, args);
  va_end(args);
  return result;
}

int _vscprintf(const char* format, va_list args) { return CountChars(format, args); }

int vsprintf_s(char* buffer, size_t size, const char* format, va_list args) {
  return PrintWhole(buffer, size, format, args);
}

int sprintf_s(char* buffer, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = PrintWhole(buffer, size, format, args);
  va_end(args);
  return result;
}
