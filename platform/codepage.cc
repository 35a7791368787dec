// MultiByteToWideChar and WideCharToMultiByte over the shared UTF-8/UTF-16 converter.
#include <climits>
#include <cstring>
#include <string>
#include <string_view>

#include "browserplatform/stringapiset.h"
#include "platform/utf.h"
#include "platform/win_error.h"

namespace {

bool IsUtf8CodePage(UINT code_page) { return code_page == CP_UTF8 || code_page == CP_ACP; }

// Checks the arguments both directions share; on failure the last error is set.
template <class Src, class Dst>
bool CheckArguments(UINT code_page, const Src* src, int src_len, const Dst* dst, int dst_len) {
  if (!IsUtf8CodePage(code_page) || src == nullptr || src_len == 0 || src_len < -1 || dst_len < 0 ||
      (dst == nullptr && dst_len > 0) ||
      static_cast<const void*>(src) == static_cast<const void*>(dst)) {
    platform::FailWith(ERROR_INVALID_PARAMETER);
    return false;
  }
  return true;
}

// The input as a view; a -1 length means NUL-terminated, terminator included. Fails when
// such a length cannot be returned as an int count (the output is at most as long in
// UTF-16, and the reverse direction checks its own output).
template <class Char>
bool InputView(const Char* src, int src_len, std::basic_string_view<Char>* view) {
  if (src_len != -1) {
    *view = std::basic_string_view<Char>(src, static_cast<size_t>(src_len));
    return true;
  }
  size_t length = std::char_traits<Char>::length(src);
  if (length >= static_cast<size_t>(INT_MAX)) {
    platform::FailWith(ERROR_ARITHMETIC_OVERFLOW);
    return false;
  }
  *view = std::basic_string_view<Char>(src, length + 1);
  return true;
}

// Stores the converted text, or only sizes it when `dst_len` is 0.
template <class Char>
int Deliver(const std::basic_string<Char>& out, Char* dst, int dst_len) {
  if (out.size() > static_cast<size_t>(INT_MAX)) {
    platform::FailWith(ERROR_ARITHMETIC_OVERFLOW);
    return 0;
  }
  if (dst_len == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<size_t>(dst_len)) {
    platform::FailWith(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(dst, out.data(), out.size() * sizeof(Char));
  return static_cast<int>(out.size());
}

}  // namespace

int MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR src, int src_bytes, LPWSTR dst,
                        int dst_chars) {
  std::string_view in;
  if (!CheckArguments(code_page, src, src_bytes, dst, dst_chars) ||
      !InputView(src, src_bytes, &in)) {
    return 0;
  }
  if ((flags & MB_ERR_INVALID_CHARS) != 0 && !platform::IsWellFormedUtf8(in)) {
    platform::FailWith(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  return Deliver(platform::Utf8ToUtf16(in), dst, dst_chars);
}

int WideCharToMultiByte(UINT code_page, DWORD flags, LPCWSTR src, int src_chars, LPSTR dst,
                        int dst_bytes, LPCSTR default_char, BOOL* used_default) {
  if (default_char != nullptr || used_default != nullptr) {
    platform::FailWith(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::u16string_view in;
  if (!CheckArguments(code_page, src, src_chars, dst, dst_bytes) ||
      !InputView(src, src_chars, &in)) {
    return 0;
  }
  if ((flags & WC_ERR_INVALID_CHARS) != 0 && !platform::IsWellFormedUtf16(in)) {
    platform::FailWith(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  return Deliver(platform::Utf16ToUtf8(in), dst, dst_bytes);
}
