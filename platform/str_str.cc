// StrStrIW: case-insensitive substring search by simple case folding.
//
// Simple folding maps one code point to one code point, so a match is compared code point by
// code point and its start is a position in the caller's own text.
#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <string_view>
#include <vector>

#include "browserplatform/collation.h"
#include "platform/utf.h"

namespace {

UChar32 FoldedAt(std::u16string_view text, size_t* pos) {
  UChar32 c;
  U16_NEXT(text.data(), *pos, text.size(), c);
  return u_foldCase(c, U_FOLD_CASE_DEFAULT);
}

bool MatchesAt(std::u16string_view haystack, size_t pos, const std::vector<UChar32>& needle) {
  for (UChar32 wanted : needle) {
    if (pos >= haystack.size() || FoldedAt(haystack, &pos) != wanted) return false;
  }
  return true;
}

}  // namespace

LPWSTR StrStrIW(LPCWSTR haystack, LPCWSTR needle) {
  if (haystack == nullptr || needle == nullptr || *needle == u'\0') return nullptr;
  const std::u16string_view needle_text(needle, platform::WideLength(needle));
  std::vector<UChar32> folded_needle;
  for (size_t pos = 0; pos < needle_text.size();) {
    folded_needle.push_back(FoldedAt(needle_text, &pos));
  }
  const std::u16string_view text(haystack, platform::WideLength(haystack));
  for (size_t start = 0; start < text.size();) {
    if (MatchesAt(text, start, folded_needle)) return const_cast<LPWSTR>(haystack + start);
    U16_FWD_1(text.data(), start, text.size());
  }
  return nullptr;
}
