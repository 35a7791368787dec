// UTF-8 <-> UTF-16 conversion for the platform's own use (paths, code pages, collation).
//
// Ill-formed input never fails and never reads past its end: each maximal ill-formed
// subsequence of UTF-8 and each unpaired surrogate of UTF-16 becomes U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

// Whether the text is well-formed (no replacement would be made).
bool IsWellFormedUtf8(std::string_view text);
bool IsWellFormedUtf16(std::u16string_view text);

// Length of a NUL-terminated UTF-16 string; 0 for null.
size_t WideLength(const char16_t* text);

}  // namespace platform
