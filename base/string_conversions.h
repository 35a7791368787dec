// String conversions: UTF-8 and UTF-16, code pages, hexadecimal text and append-format. None of
// them throws (but for running out of memory); ill-formed UTF-8 or UTF-16 becomes U+FFFD.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "browserplatform/types.h"

namespace base {

// A new NUL-terminated multi-byte copy of `text` in `code_page`; null for a null input or when
// the conversion fails.
std::unique_ptr<char[]> WideToMultiByte(const char16_t* text, UINT code_page);

// UTF-16 <-> UTF-8, with the results of the code-page calls for code page 65001, made in one
// pass into output sized once. Embedded NULs are kept. Each maximal ill-formed subsequence of
// UTF-8 (the bytes that could still have begun a valid sequence, at least one) and each unpaired
// surrogate becomes one U+FFFD.
std::string WideToUTF8(std::u16string_view text);
std::u16string UTF8ToWide(std::string_view text);
// The same conversion into *out (replacing its content); true when `text` is well-formed
// UTF-8, that is when no U+FFFD was put in for it.
bool UTF8ToWide(std::string_view text, std::u16string* out);
// Appends `text` as UTF-8.
void AppendUTF8(std::string* out, std::u16string_view text);

// Lower-case hexadecimal, high nibble first: {0x0A, 0xFF} -> "0aff".
std::u16string BytesToHexW(const void* bytes, size_t length);
std::string BytesToHexA(const void* bytes, size_t length);
// Appends the same text; nothing for null `bytes`.
void AppendHexA(std::string* out, const void* bytes, size_t length);
// The same as a new NUL-terminated buffer; null when `bytes` is null and `length` is not 0.
std::unique_ptr<char16_t[]> BytesToHexBuffer(const void* bytes, size_t length);

// Hexadecimal text -> bytes, two characters per byte. "0"-"9" are 0-9, "a"-"z" and "A"-"Z"
// are 10-35, anything else 17; a pair whose value is above 15 fails the whole conversion, and
// so does an odd length (the terminating NUL completes the last pair). On failure `out` is
// left empty and false returned.
bool HexToBytes(std::u16string_view text, std::vector<uint8_t>* out);
bool HexToBytes(std::string_view text, std::vector<uint8_t>* out);
// The same into the `size` bytes at `out`, which `text` must fill exactly (an odd length
// fails); on failure the bytes at `out` are unspecified.
bool HexToBytes(std::string_view text, uint8_t* out, size_t size);

// Appends printf-formatted text (Microsoft conventions, see browserplatform/wprintf.h). An
// invalid format appends nothing.
void AppendFormatW(std::u16string* out, const char16_t* format, ...);
void AppendFormatA(std::string* out, const char* format, ...);

}  // namespace base
