#include "browserplatform/guid.h"

#include "platform/utf.h"

namespace {

HRESULT ParseRegistryForm(LPCOLESTR text, GUID* out, HRESULT bad_text) {
  if (text == nullptr || out == nullptr) return E_INVALIDARG;
  size_t length = platform::WideLength(text);
  // The registry form always has braces.
  if (length != 38 || !platform::guid_detail::Parse(text, length, out)) return bad_text;
  return S_OK;
}

}  // namespace

HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid) {
  return ParseRegistryForm(text, clsid, CO_E_CLASSSTRING);
}

HRESULT IIDFromString(LPCOLESTR text, LPIID iid) {
  return ParseRegistryForm(text, iid, CO_E_IIDSTRING);
}

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int buffer_chars) {
  constexpr int kChars = 39;
  if (buffer == nullptr || buffer_chars < kChars) return 0;
  static constexpr char kDigits[] = "0123456789ABCDEF";
  uint8_t bytes[16] = {
      static_cast<uint8_t>(guid.Data1 >> 24), static_cast<uint8_t>(guid.Data1 >> 16),
      static_cast<uint8_t>(guid.Data1 >> 8),  static_cast<uint8_t>(guid.Data1),
      static_cast<uint8_t>(guid.Data2 >> 8),  static_cast<uint8_t>(guid.Data2),
      static_cast<uint8_t>(guid.Data3 >> 8),  static_cast<uint8_t>(guid.Data3)};
  for (int i = 0; i < 8; ++i) bytes[8 + i] = guid.Data4[i];
  int out = 0;
  buffer[out++] = u'{';
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) buffer[out++] = u'-';
    buffer[out++] = static_cast<char16_t>(kDigits[bytes[i] >> 4]);
    buffer[out++] = static_cast<char16_t>(kDigits[bytes[i] & 0xF]);
  }
  buffer[out++] = u'}';
  buffer[out++] = u'\0';
  return out;
}
