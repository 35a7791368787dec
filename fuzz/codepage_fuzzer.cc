// Feeds arbitrary bytes through both code-page conversions, as UTF-8 and as UTF-16.
//
// Invariants checked (abort on violation): the size query and the conversion agree; a buffer
// one unit short fails; well-formed input round-trips exactly; the lenient conversion always
// yields well-formed output; NUL-terminated lengths count the terminator.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "browserplatform/stringapiset.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// Converts with a size query first; false when the conversion refuses the input.
bool ToWide(const char* src, int src_len, DWORD flags, std::u16string* out) {
  int needed = MultiByteToWideChar(CP_UTF8, flags, src, src_len, nullptr, 0);
  if (needed == 0) {
    Check(GetLastError() == ERROR_NO_UNICODE_TRANSLATION && (flags & MB_ERR_INVALID_CHARS));
    return false;
  }
  out->assign(static_cast<size_t>(needed), u'\0');
  if (needed > 1) {
    Check(MultiByteToWideChar(CP_UTF8, flags, src, src_len, out->data(), needed - 1) == 0);
    Check(GetLastError() == ERROR_INSUFFICIENT_BUFFER);
  }
  Check(MultiByteToWideChar(CP_UTF8, flags, src, src_len, out->data(), needed) == needed);
  return true;
}

bool ToNarrow(const char16_t* src, int src_len, DWORD flags, std::string* out) {
  int needed = WideCharToMultiByte(CP_UTF8, flags, src, src_len, nullptr, 0, nullptr, nullptr);
  if (needed == 0) {
    Check(GetLastError() == ERROR_NO_UNICODE_TRANSLATION && (flags & WC_ERR_INVALID_CHARS));
    return false;
  }
  out->assign(static_cast<size_t>(needed), '\0');
  if (needed > 1) {
    Check(WideCharToMultiByte(CP_UTF8, flags, src, src_len, out->data(), needed - 1, nullptr,
                              nullptr) == 0);
    Check(GetLastError() == ERROR_INSUFFICIENT_BUFFER);
  }
  Check(WideCharToMultiByte(CP_UTF8, flags, src, src_len, out->data(), needed, nullptr, nullptr) ==
        needed);
  return true;
}

void FuzzUtf8(const std::string& bytes) {
  const int len = static_cast<int>(bytes.size());
  std::u16string lenient;
  Check(ToWide(bytes.data(), len, 0, &lenient));
  std::u16string strict;
  const bool well_formed = ToWide(bytes.data(), len, MB_ERR_INVALID_CHARS, &strict);
  if (well_formed) Check(strict == lenient);

  std::string back;
  Check(ToNarrow(lenient.data(), static_cast<int>(lenient.size()), WC_ERR_INVALID_CHARS, &back));
  if (well_formed) Check(back == bytes);

  // As a NUL-terminated string: everything up to the first NUL, plus the terminator.
  const std::string terminated = bytes + '\0';
  std::u16string prefix;
  Check(ToWide(terminated.c_str(), -1, 0, &prefix));
  std::u16string expected;
  ToWide(terminated.c_str(), static_cast<int>(std::strlen(terminated.c_str())) + 1, 0, &expected);
  Check(prefix == expected && !prefix.empty() && prefix.back() == u'\0');
}

void FuzzUtf16(const uint8_t* data, size_t size) {
  std::u16string units(size / 2, u'\0');
  if (units.empty()) return;
  std::memcpy(units.data(), data, units.size() * sizeof(char16_t));
  const int len = static_cast<int>(units.size());
  std::string lenient;
  Check(ToNarrow(units.data(), len, 0, &lenient));
  std::string strict;
  const bool well_formed = ToNarrow(units.data(), len, WC_ERR_INVALID_CHARS, &strict);
  if (well_formed) Check(strict == lenient);

  std::u16string back;
  Check(ToWide(lenient.data(), static_cast<int>(lenient.size()), MB_ERR_INVALID_CHARS, &back));
  if (well_formed) Check(back == units);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > INT_MAX / 4) return 0;
  FuzzUtf8(std::string(reinterpret_cast<const char*>(data), size));
  FuzzUtf16(data, size);
  return 0;
}
