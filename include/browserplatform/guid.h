// GUID, IID and CLSID: compared bytewise, printed and parsed in the registry form
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#pragma once

#include <cstring>

#include "browserplatform/types.h"

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
static_assert(sizeof(GUID) == 16);

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using LPCLSID = CLSID*;
using LPIID = IID*;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;

inline bool operator==(const GUID& a, const GUID& b) {
  return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}
inline bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
inline bool IsEqualIID(REFIID a, REFIID b) { return a == b; }
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return a == b; }

constexpr HRESULT CO_E_CLASSSTRING = MakeHResult(0x800401F3u);
constexpr HRESULT CO_E_IIDSTRING = MakeHResult(0x800401F4u);

namespace platform {
namespace guid_detail {

constexpr int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX", with or without braces. Returns false on
// any other text. Usable at compile time for the identifiers of interfaces and classes.
template <class Char>
constexpr bool Parse(const Char* text, size_t length, GUID* out) {
  size_t pos = 0;
  bool braces = length == 38;
  if (braces && (text[0] != '{' || text[37] != '}')) return false;
  if (!braces && length != 36) return false;
  if (braces) pos = 1;
  uint8_t bytes[16] = {};
  int nibble = 0;
  for (size_t i = 0; i < 36; ++i) {
    Char c = text[pos + i];
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (c != '-') return false;
      continue;
    }
    if (c < 0 || c > 127) return false;
    int v = HexValue(static_cast<char>(c));
    if (v < 0) return false;
    bytes[nibble / 2] = static_cast<uint8_t>(bytes[nibble / 2] | (nibble % 2 == 0 ? v << 4 : v));
    ++nibble;
  }
  out->Data1 = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
               bytes[3];
  out->Data2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
  out->Data3 = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
  for (int i = 0; i < 8; ++i) out->Data4[i] = bytes[8 + i];
  return true;
}

}  // namespace guid_detail

// A GUID from its text at compile time; text that is not a GUID does not compile.
template <size_t N>
consteval GUID MakeGuid(const char (&text)[N]) {
  GUID g{};
  if (!guid_detail::Parse(text, N - 1, &g)) throw "not a GUID";
  return g;
}

}  // namespace platform

// "{XXXXXXXX-...}" (hex of either case, braces required) -> GUID. S_OK, or CO_E_CLASSSTRING /
// CO_E_IIDSTRING for other text; E_INVALIDARG for null pointers.
BROWSER_EXTERN_C HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid);
BROWSER_EXTERN_C HRESULT IIDFromString(LPCOLESTR text, LPIID iid);
// Writes the registry form with its NUL into `buffer`; returns the characters written including
// the NUL (39), or 0 when the buffer is smaller than that.
BROWSER_EXTERN_C int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int buffer_chars);
