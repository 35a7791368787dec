#include "base/string_conversions.h"

#include <array>
#include <cstdarg>
#include <cstring>
#include <type_traits>

#include "browserplatform/stringapiset.h"
#include "browserplatform/wprintf.h"

namespace base {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr char16_t kReplacement = 0xFFFD;

// The value of one hexadecimal character as the file formats define it: letters run on past
// 'f' so that "g" is 16 and fails, and any other character is 17. Only 0-15 decode, so the
// table keeps those and marks everything else 0xFF.
constexpr std::array<uint8_t, 256> MakeHexValues() {
  std::array<uint8_t, 256> values{};
  values.fill(0xFF);
  for (int c = '0'; c <= '9'; ++c) values[c] = static_cast<uint8_t>(c - '0');
  for (int c = 0; c < 6; ++c) {
    values['a' + c] = static_cast<uint8_t>(10 + c);
    values['A' + c] = static_cast<uint8_t>(10 + c);
  }
  return values;
}

constexpr std::array<uint8_t, 256> kHexValues = MakeHexValues();

template <class Char>
uint8_t HexValue(Char c) {
  const auto unit = static_cast<std::make_unsigned_t<Char>>(c);
  return unit < 256 ? kHexValues[unit] : 0xFF;
}

// Decodes text.size() / 2 pairs into `out`; the caller has checked that the length is even.
template <class Char>
bool DecodeHex(std::basic_string_view<Char> text, uint8_t* out) {
  for (size_t i = 0; i < text.size(); i += 2) {
    const uint8_t high = HexValue(text[i]);
    const uint8_t low = HexValue(text[i + 1]);
    if ((high | low) > 15) return false;
    out[i / 2] = static_cast<uint8_t>((high << 4) | low);
  }
  return true;
}

template <class Char>
bool HexToBytesImpl(std::basic_string_view<Char> text, std::vector<uint8_t>* out) {
  if (out == nullptr) return false;
  out->clear();
  // An odd length fails: the terminating NUL would complete the last pair.
  if (text.size() % 2 != 0) return false;
  out->resize(text.size() / 2);
  if (!DecodeHex(text, out->data())) {
    out->clear();
    return false;
  }
  return true;
}

template <class Char>
void WriteHex(const unsigned char* bytes, size_t length, Char* out) {
  for (size_t i = 0; i < length; ++i) {
    out[2 * i] = static_cast<Char>(kHexDigits[bytes[i] >> 4]);
    out[2 * i + 1] = static_cast<Char>(kHexDigits[bytes[i] & 0xF]);
  }
}

template <class String>
String BytesToHex(const void* bytes, size_t length) {
  String out;
  if (bytes == nullptr) return out;
  out.resize(length * 2);
  WriteHex(static_cast<const unsigned char*>(bytes), length, out.data());
  return out;
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Decodes UTF-8 into `out`, which has room for text.size() units: no sequence yields more
// units than it has bytes. Returns the number of units written.
size_t DecodeUTF8(std::string_view text, char16_t* out, bool* well_formed) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const auto* const end = s + text.size();
  char16_t* d = out;
  bool ok = true;
  while (s < end) {
    // Runs of ASCII, the usual case, eight bytes at a time.
    uint64_t chunk;
    while (end - s >= 8 && (std::memcpy(&chunk, s, 8), (chunk & 0x8080808080808080u) == 0)) {
      for (int i = 0; i < 8; ++i) d[i] = s[i];
      s += 8;
      d += 8;
    }
    if (s == end) break;
    const unsigned char lead = *s++;
    if (lead < 0x80) {
      *d++ = lead;
      continue;
    }
    size_t trail;
    char32_t code = 0;
    // The bounds of the first trail byte rule out overlong forms, surrogates and values above
    // U+10FFFF; later trail bytes are 0x80-0xBF.
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      trail = 1;
      code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      trail = 2;
      code = lead & 0x0F;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      trail = 3;
      code = lead & 0x07;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      *d++ = kReplacement;
      ok = false;
      continue;
    }
    // A sequence cut short gives one U+FFFD for the bytes read so far; the byte that broke it
    // starts over.
    bool complete = true;
    for (; trail > 0; --trail, ++s) {
      if (s == end || *s < low || *s > high) {
        complete = false;
        break;
      }
      code = (code << 6) | (*s & 0x3F);
      low = 0x80;
      high = 0xBF;
    }
    if (!complete) {
      *d++ = kReplacement;
      ok = false;
    } else if (code >= 0x10000) {
      code -= 0x10000;
      *d++ = static_cast<char16_t>(0xD800 + (code >> 10));
      *d++ = static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      *d++ = static_cast<char16_t>(code);
    }
  }
  *well_formed = ok;
  return static_cast<size_t>(d - out);
}

// Bytes of the UTF-8 form of `text`; an unpaired surrogate takes the three of U+FFFD.
size_t UTF8Length(std::u16string_view text) {
  size_t length = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c < 0x80) {
      length += 1;
    } else if (c < 0x800) {
      length += 2;
    } else if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      length += 4;
      ++i;
    } else {
      length += 3;
    }
  }
  return length;
}

// Writes the UTF8Length(text) bytes of `text` at `out`.
void EncodeUTF8(std::u16string_view text, char* out) {
  auto* d = reinterpret_cast<unsigned char*>(out);
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c < 0x80) {
      *d++ = static_cast<unsigned char>(c);
      continue;
    }
    if (c < 0x800) {
      *d++ = static_cast<unsigned char>(0xC0 | (c >> 6));
      *d++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
      continue;
    }
    if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (char32_t{text[++i]} - 0xDC00);
      *d++ = static_cast<unsigned char>(0xF0 | (c >> 18));
      *d++ = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
    } else {
      if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i])) c = kReplacement;
      *d++ = static_cast<unsigned char>(0xE0 | (c >> 12));
    }
    *d++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
    *d++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
  }
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
  AppendUTF8(&out, text);
  return out;
}

void AppendUTF8(std::string* out, std::u16string_view text) {
  if (out == nullptr || text.empty()) return;
  const size_t old_size = out->size();
  out->resize(old_size + UTF8Length(text));
  EncodeUTF8(text, out->data() + old_size);
}

std::u16string UTF8ToWide(std::string_view text) {
  std::u16string out;
  UTF8ToWide(text, &out);
  return out;
}

bool UTF8ToWide(std::string_view text, std::u16string* out) {
  bool well_formed = true;
  if (out == nullptr) return false;
  out->resize(text.size());
  out->resize(DecodeUTF8(text, out->data(), &well_formed));
  return well_formed;
}

std::u16string BytesToHexW(const void* bytes, size_t length) {
  return BytesToHex<std::u16string>(bytes, length);
}

std::string BytesToHexA(const void* bytes, size_t length) {
  return BytesToHex<std::string>(bytes, length);
}

void AppendHexA(std::string* out, const void* bytes, size_t length) {
  if (out == nullptr || bytes == nullptr) return;
  const size_t old_size = out->size();
  out->resize(old_size + 2 * length);
  WriteHex(static_cast<const unsigned char*>(bytes), length, out->data() + old_size);
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

bool HexToBytes(std::string_view text, uint8_t* out, size_t size) {
  if (text.size() != 2 * size || (out == nullptr && size != 0)) return false;
  return DecodeHex(text, out);
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
