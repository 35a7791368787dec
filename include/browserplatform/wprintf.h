// The Microsoft C runtime's bounded printf family, over UTF-16 (wide) and UTF-8 (narrow).
//
// Conversions follow the Microsoft conventions, not glibc's:
//   %s %c      text of the format's own width (UTF-16 in the wide calls, 8-bit in the narrow)
//   %S %C      text of the other width, converted (ill-formed parts become U+FFFD)
//   %hs %hc    8-bit text; %ls %lc %ws %wc UTF-16 text, in either family
//   %d %i %u %o %x %X with h, hh, l (32-bit, as Windows long), ll, I64, j (64-bit), I32,
//              I, z, t (pointer-sized); flags - + space # 0, width, precision, '*' for both
//   %e %E %f %F %g %G %a %A  double, rendered by the C library
//   %p         16 upper-case hex digits, no "0x"
//   %%         a percent sign
// A null string argument prints "(null)". %n, unknown conversions, a format ending inside a
// conversion and widths or precisions beyond INT_MAX are invalid formats. Text outside
// conversions is copied unchanged.
//
// No call here aborts or calls an invalid-parameter handler. Failures return -1 and set
// errno: EINVAL for a null buffer or format, a zero size, or an invalid format; ERANGE when
// the result does not fit where the call does not allow truncation. Whenever a call fails
// after it was given a usable buffer, the buffer holds the empty string. Results longer than
// INT_MAX fail with EOVERFLOW. All calls are thread-safe; they keep no state.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "browserplatform/types.h"

// The `count` of the _snprintf_s family that asks for as much as fits.
inline constexpr size_t _TRUNCATE = static_cast<size_t>(-1);

// Writes at most min(`count`, `size_in_words` - 1) characters and a NUL to `buffer`.
// Returns the number of characters written. If the result is longer: with `count` ==
// _TRUNCATE or `count` < `size_in_words` the truncated result is kept and -1 returned
// (errno unchanged); otherwise (a `count` the buffer cannot hold) -1 with ERANGE.
BROWSER_EXTERN_C int _vsnwprintf_s(char16_t* buffer, size_t size_in_words, size_t count,
                                   const char16_t* format, va_list args);
BROWSER_EXTERN_C int _snwprintf_s(char16_t* buffer, size_t size_in_words, size_t count,
                                  const char16_t* format, ...);

// The number of characters the result has, without the NUL; -1 with EINVAL for a null or
// invalid format.
BROWSER_EXTERN_C int _vscwprintf(const char16_t* format, va_list args);

// Writes the whole result and a NUL; returns the number of characters written, or -1 with
// ERANGE and an empty buffer when it does not fit in `size_in_words`.
BROWSER_EXTERN_C int vswprintf_s(char16_t* buffer, size_t size_in_words, const char16_t* format,
                                 va_list args);
BROWSER_EXTERN_C int swprintf_s(char16_t* buffer, size_t size_in_words, const char16_t* format,
                                ...);

// The narrow counterparts: the same contracts in bytes over UTF-8.
BROWSER_EXTERN_C int _vsnprintf_s(char* buffer, size_t size, size_t count, const char* format,
                                  va_list args);
BROWSER_EXTERN_C int _snprintf_s(char* buffer, size_t size, size_t count, const char* format, ...);
BROWSER_EXTERN_C int _vscprintf(const char* format, va_list args);
BROWSER_EXTERN_C int vsprintf_s(char* buffer, size_t size, const char* format, va_list args);
BROWSER_EXTERN_C int sprintf_s(char* buffer, size_t size, const char* format, ...);
