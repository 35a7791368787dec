#include "platform/utf.h"

namespace platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point starting at text[*pos] and advances *pos. An ill-formed sequence
// yields U+FFFD and consumes its maximal subpart (the bytes that could still have started a
// valid sequence), at least one byte.
char32_t DecodeUtf8(std::string_view text, size_t* pos, bool* ok) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  size_t i = *pos;
  unsigned char lead = byte(i);
  *ok = true;
  if (lead < 0x80) {
    *pos = i + 1;
    return lead;
  }
  size_t need;
  char32_t cp;
  unsigned char lo = 0x80, hi = 0xBF;  // bounds of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    cp = lead & 0x0F;
    if (lead == 0xE0) lo = 0xA0;
    if (lead == 0xED) hi = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    cp = lead & 0x07;
    if (lead == 0xF0) lo = 0x90;
    if (lead == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    *pos = i + 1;
    *ok = false;
    return kReplacement;
  }
  size_t j = i + 1;
  for (size_t k = 0; k < need; ++k, ++j) {
    unsigned char lower = k == 0 ? lo : 0x80;
    unsigned char upper = k == 0 ? hi : 0xBF;
    if (j >= text.size() || byte(j) < lower || byte(j) > upper) {
      *pos = j;
      *ok = false;
      return kReplacement;
    }
    cp = (cp << 6) | (byte(j) & 0x3F);
  }
  *pos = j;
  return cp;
}

void AppendUtf8(char32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Decodes one code point of UTF-16 and advances *pos; an unpaired surrogate gives U+FFFD.
char32_t DecodeUtf16(std::u16string_view text, size_t* pos, bool* ok) {
  char16_t c = text[*pos];
  *ok = true;
  ++*pos;
  if (IsHighSurrogate(c)) {
    if (*pos < text.size() && IsLowSurrogate(text[*pos])) {
      char32_t cp = 0x10000 + ((char32_t{c} - 0xD800) << 10) + (char32_t{text[*pos]} - 0xDC00);
      ++*pos;
      return cp;
    }
    *ok = false;
    return kReplacement;
  }
  if (IsLowSurrogate(c)) {
    *ok = false;
    return kReplacement;
  }
  return c;
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  bool ok;
  while (pos < text.size()) AppendUtf8(DecodeUtf16(text, &pos, &ok), &out);
  return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t pos = 0;
  bool ok;
  while (pos < text.size()) {
    char32_t cp = DecodeUtf8(text, &pos, &ok);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

bool IsWellFormedUtf8(std::string_view text) {
  size_t pos = 0;
  bool ok = true;
  while (pos < text.size() && ok) DecodeUtf8(text, &pos, &ok);
  return ok;
}

bool IsWellFormedUtf16(std::u16string_view text) {
  size_t pos = 0;
  bool ok = true;
  while (pos < text.size() && ok) DecodeUtf16(text, &pos, &ok);
  return ok;
}

size_t WideLength(const char16_t* text) {
  return text ? std::char_traits<char16_t>::length(text) : 0;
}

}  // namespace platform
