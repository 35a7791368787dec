// Locale-aware string order (ICU collation) and case-insensitive search.
//
// The collation locale is the user's: the first non-empty of LC_ALL, LC_COLLATE and LANG,
// read once, with its ".encoding" and "@modifier" parts dropped ("sv_SE.UTF-8" -> "sv_SE");
// "C", "POSIX" or nothing mean ICU's root order. The process locale (setlocale) is never
// consulted or changed.
//
// Thread safety: every call here may be made from any number of threads at once; each thread
// collates with collators of its own. If the locale's collator cannot be opened the root
// order is used, and if ICU fails altogether, UTF-16 code-unit order; nothing here fails.
#pragma once

#include <string>
#include <string_view>

#include "browserplatform/types.h"

namespace platform {

// The ICU locale ID collation uses ("" is the root locale).
BROWSER_PLATFORM_API std::string CollationLocale();

// Compares at tertiary strength: case and accents matter ("a" < "A" < "b" in the root
// order). Returns -1, 0 or 1. This is the order of VarBstrCmp without flags.
BROWSER_PLATFORM_API int CollationCompare(std::u16string_view a, std::u16string_view b);

// The ICU sort key of `text`: for any a and b, comparing CollationSortKey(a) with
// CollationSortKey(b) as byte strings (std::string's operator<) gives exactly
// CollationCompare(a, b). Keys depend on the locale and the ICU version: keep them in memory
// only, never on disk.
BROWSER_PLATFORM_API std::string CollationSortKey(std::u16string_view text);

}  // namespace platform

// Finds the first occurrence of `needle` in `haystack`, ignoring case (Unicode simple case
// folding, code point by code point, so matches keep their lengths). Returns a pointer into
// `haystack` where the match starts, or null when there is none, when either argument is
// null, or when `needle` is empty. Both strings are NUL-terminated. Any thread may call it.
BROWSER_EXTERN_C LPWSTR StrStrIW(LPCWSTR haystack, LPCWSTR needle);
