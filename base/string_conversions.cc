#include "base/string_conversions.h"

#include <climits>
#include <cstdarg>

#include "browserplatform/stringapiset.h"
#include "browserplatform/wprintf.h"

namespace base {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

// The value of one hexadecimal character as the file formats define it: letters run on past
// 'f' so that "g" is 16 and fails, and any other character is 17.
template <class Char>
int HexCharValue(Char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 17;
}

template <class Char>
bool HexToBytesImpl(std::basic_string_view<Char> text, std::vector<uint8_t>* out) {
  if (out == nullptr) return false;
  out->clear();
  std::vector<uint8_t> bytes;
  bytes.reserve(text.size() / 2 + 1);
  for (size_t i = 0; i < text.size(); i += 2) {
    int high = HexCharValue(text[i]);
    // Past the end stands the terminating NUL, which is never a digit.
    int low = i + 1 < text.size() ? HexCharValue(text[i + 1]) : 17;
    if (high > 15 || low > 15) return false;
    bytes.push_back(static_cast<uint8_t>((high << 4) | low));
  }
  *out = std::move(bytes);
  return true;
}

template <class String>
String BytesToHex(const void* bytes, size_t length) {
  String out;
  if (bytes == nullptr) return out;
  const auto* p = static_cast<const unsigned char*>(bytes);
  out.resize(length * 2);
  for (size_t i = 0; i < length; ++i) {
    out[2 * i] = static_cast<typename String::value_type>(kHexDigits[p[i] >> 4]);
    out[2 * i + 1] = static_cast<typename String::value_type>(kHexDigits[p[i] & 0xF]);
  }
  return out;
}

// Measures the formatted text first, then formats it in place behind the existing content.
template <class Char>
void AppendFormatV(std::basic_string<Char>* out, const Char* format, va_list args,
                   int (*measure)(const Char*, va_list),
                   int (*print)(Char*, size_t, const Char*, va_list)) {
  if (out == nullptr || format == nullptr) return;
  va_list copy;
  va_copy(copy, args);
  int length = measure(format, copy);
  va_end(copy);
  if (length <= 0) return;
  size_t old_size = out->size();
  out->resize(old_size + static_cast<size_t>(length) + 1);
  int written = print(out->data() + old_size, static_cast<size_t>(length) + 1, format, args);
  out->resize(old_size + (written > 0 ? static_cast<size_t>(written) : 0));
}

}  // namespace

std::unique_ptr<char[]> WideToMultiByte(const char16_t* text, UINT code_page) {
  if (text == nullptr) return nullptr;
  int size = WideCharToMultiByte(code_page, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return nullptr;
  auto buffer = std::make_unique<char[]>(static_cast<size_t>(size));
  if (WideCharToMultiByte(code_page, 0, text, -1, buffer.get(), size, nullptr, nullptr) != size) {
    return nullptr;
  }
  return buffer;
}

std::string WideToUTF8(std::u16string_view text) {
  std::string out;
  if (text.empty() || text.size() > INT_MAX) return out;
  int length = static_cast<int>(text.size());
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return out;
  out.resize(static_cast<size_t>(size));
  int written =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), size, nullptr, nullptr);
  out.resize(written > 0 ? static_cast<size_t>(written) : 0);
  return out;
}

std::u16string UTF8ToWide(std::string_view text) {
  std::u16string out;
  if (text.empty() || text.size() > INT_MAX) return out;
  int length = static_cast<int>(text.size());
  int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  if (size <= 0) return out;
  out.resize(static_cast<size_t>(size));
  int written = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, out.data(), size);
  out.resize(written > 0 ? static_cast<size_t>(written) : 0);
  return out;
}

bool UTF8ToWide(std::string_view text, std::u16string* out) {
  *out = UTF8ToWide(text);
  if (text.empty() || text.size() > INT_MAX) return text.empty();
  // The strict pass only asks: it fails on the first ill-formed sequence.
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                             static_cast<int>(text.size()), nullptr, 0) > 0;
}

std::u16string BytesToHexW(const void* bytes, size_t length) {
  return BytesToHex<std::u16string>(bytes, length);
}

std::string BytesToHexA(const void* bytes, size_t length) {
  return BytesToHex<std::string>(bytes, length);
}

std::unique_ptr<char16_t[]> BytesToHexBuffer(const void* bytes, size_t length) {
  if (bytes == nullptr && length != 0) return nullptr;
  std::u16string hex = BytesToHexW(bytes, length);
  auto buffer = std::make_unique<char16_t[]>(hex.size() + 1);
  std::copy(hex.begin(), hex.end(), buffer.get());
  buffer[hex.size()] = u'\0';
  return buffer;
}

bool HexToBytes(std::u16string_view text, std::vector<uint8_t>* out) {
  return HexToBytesImpl(text, out);
}

bool HexToBytes(std::string_view text, std::vector<uint8_t>* out) {
  return HexToBytesImpl(text, out);
}

void AppendFormatW(std::u16string* out, const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  AppendFormatV(out, format, args, &_vscwprintf, &vswprintf_s);
  va_end(args);
}

void AppendFormatA(std::string* out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  AppendFormatV(out, format, args, &_vscprintf, &vsprintf_s);
  va_end(args);
}

}  // namespace base
