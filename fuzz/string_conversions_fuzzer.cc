// Compares the base conversions with the code-page calls they must agree with, on arbitrary
// bytes read as UTF-8 and as UTF-16, and hexadecimal text both ways.
//
// Invariants checked (abort on violation): UTF8ToWide gives MultiByteToWideChar's units and
// reports well-formed input exactly when MB_ERR_INVALID_CHARS accepts it; WideToUTF8 gives
// WideCharToMultiByte's bytes; AppendUTF8 appends the same; hexadecimal text of the bytes decodes
// back to them, into a vector and into a buffer alike.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/string_conversions.h"
#include "browserplatform/stringapiset.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > INT_MAX / 4) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const int length = static_cast<int>(size);

  std::u16string expected(size, u'\0');
  expected.resize(static_cast<size_t>(
      MultiByteToWideChar(CP_UTF8, 0, bytes.data(), length, expected.data(), length)));
  const bool strict_ok =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), length, nullptr, 0) > 0;
  std::u16string wide;
  Check(base::UTF8ToWide(bytes, &wide) == strict_ok);
  Check(wide == expected && base::UTF8ToWide(bytes) == expected);

  std::u16string units(size / 2, u'\0');
  std::memcpy(units.data(), data, units.size() * sizeof(char16_t));
  if (!units.empty()) {
    const int unit_count = static_cast<int>(units.size());
    std::string narrow(units.size() * 3, '\0');
    narrow.resize(static_cast<size_t>(WideCharToMultiByte(
        CP_UTF8, 0, units.data(), unit_count, narrow.data(), unit_count * 3, nullptr, nullptr)));
    Check(base::WideToUTF8(units) == narrow);
    std::string appended = bytes;
    base::AppendUTF8(&appended, units);
    Check(appended == bytes + narrow);
  }

  const std::string hex = base::BytesToHexA(data, size);
  std::vector<uint8_t> decoded;
  Check(base::HexToBytes(hex, &decoded) && decoded == std::vector<uint8_t>(data, data + size));
  std::vector<uint8_t> buffer(size);
  Check(base::HexToBytes(hex, buffer.data(), buffer.size()) && buffer == decoded);
  // The input itself as hexadecimal text: both forms agree on whether it decodes.
  std::vector<uint8_t> from_input;
  std::vector<uint8_t> into(size / 2);
  const bool decodes = base::HexToBytes(bytes, &from_input);
  Check(decodes == (size % 2 == 0 && base::HexToBytes(bytes, into.data(), into.size())));
  if (decodes) Check(from_input == into);
  return 0;
}
