// Code-page conversion between 8-bit text and UTF-16.
//
// Only UTF-8 exists here: CP_UTF8, and CP_ACP, which is UTF-8 because that is the system code
// page of Linux. Both calls may be used from any thread; they keep no state and report
// failures through the calling thread's last error.
#pragma once

#include "browserplatform/types.h"

constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF8 = 65001;

constexpr DWORD MB_ERR_INVALID_CHARS = 0x08;
constexpr DWORD WC_ERR_INVALID_CHARS = 0x80;

// Converts `src_bytes` bytes of UTF-8 at `src` to UTF-16 in `dst`. With `src_bytes` == -1 the
// input is NUL-terminated and the terminator is converted and counted too.
//
// With `dst_chars` == 0 nothing is written and the result is the number of UTF-16 units the
// conversion needs. Otherwise the result is the number of units written, which fit in
// `dst_chars`. Each maximal ill-formed UTF-8 subsequence becomes U+FFFD, unless `flags` holds
// MB_ERR_INVALID_CHARS. Other flags are accepted and ignored.
//
// Returns 0 and sets the last error to:
//   ERROR_INVALID_PARAMETER      code page other than CP_ACP/CP_UTF8; `src` null; `src_bytes`
//                                0 or below -1; `dst_chars` negative; `dst` null with
//                                `dst_chars` > 0; `src` and `dst` the same buffer.
//   ERROR_INSUFFICIENT_BUFFER    the result does not fit in `dst_chars` (contents of `dst`
//                                are then unspecified).
//   ERROR_NO_UNICODE_TRANSLATION the input is ill-formed and MB_ERR_INVALID_CHARS is set.
//   ERROR_ARITHMETIC_OVERFLOW    a NUL-terminated input longer than an int can count.
// `src_bytes` is the caller's promise: that many bytes must be readable.
BROWSER_EXTERN_C int MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR src, int src_bytes,
                                         LPWSTR dst, int dst_chars);

// Converts `src_chars` UTF-16 units at `src` to UTF-8 in `dst`; the mirror image of
// MultiByteToWideChar. Each unpaired surrogate becomes U+FFFD (EF BF BD), unless `flags`
// holds WC_ERR_INVALID_CHARS. `default_char` and `used_default` must be null: UTF-8 has no
// default character (ERROR_INVALID_PARAMETER otherwise, as on Windows).
//
// Returns the bytes needed (`dst_bytes` == 0) or written, or 0 with the last error set as for
// MultiByteToWideChar; ERROR_ARITHMETIC_OVERFLOW also when the UTF-8 result would be longer
// than an int can count.
BROWSER_EXTERN_C int WideCharToMultiByte(UINT code_page, DWORD flags, LPCWSTR src, int src_chars,
                                         LPSTR dst, int dst_bytes, LPCSTR default_char,
                                         BOOL* used_default);
