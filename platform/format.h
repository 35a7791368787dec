// printf formatting with the Microsoft C runtime's conventions, for the CRT-named calls of
// browserplatform/wprintf.h.
//
// What differs from C99 printf: in wide formats %s and %c take UTF-16 and %S/%C take 8-bit
// (UTF-8) text, the other way round in narrow formats; 'h' always means 8-bit and 'l'/'w'
// always UTF-16 text; 'l' integers are 32-bit (Windows long); I64/I32/I are length
// modifiers; %p is 16 upper-case hex digits. %n is refused. Text crossing between UTF-8 and
// UTF-16 is converted, ill-formed parts becoming U+FFFD.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace platform {

// Formats `format` with `args`. Stores the first min(capacity, length) units of the result
// at `out` (no terminator; `out` may be null when `capacity` is 0) and the full length of
// the result in *length. Returns false for a format this layer refuses: an unknown
// conversion, %n, a format that ends inside a conversion, a width or precision beyond
// INT_MAX. `args` is left untouched (the formatter works on a copy).
bool FormatWide(const char16_t* format, va_list args, char16_t* out, size_t capacity,
                size_t* length);
bool FormatNarrow(const char* format, va_list args, char* out, size_t capacity, size_t* length);

}  // namespace platform
