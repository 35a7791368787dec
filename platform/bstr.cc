// BSTR allocation: [uint32 byte length][text][two or three zero bytes], pointer at the text.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "browserplatform/oleauto.h"
#include "platform/utf.h"

namespace {

constexpr size_t kPrefixBytes = sizeof(uint32_t);

// Byte lengths stay below 2^31 so that every length a caller derives from a BSTR fits an int.
constexpr uint64_t kMaxByteLength = 0x7FFFFFFFu;

// `source`, when not null, holds `byte_length` bytes; the text is zero-filled otherwise.
BSTR Allocate(const void* source, uint64_t byte_length) {
  if (byte_length > kMaxByteLength) return nullptr;
  const size_t bytes = static_cast<size_t>(byte_length);
  // Round odd sizes up to whole characters so that a NUL character follows the text.
  const size_t text_bytes = (bytes + 1) & ~size_t{1};
  auto* block =
      static_cast<unsigned char*>(std::malloc(kPrefixBytes + text_bytes + sizeof(OLECHAR)));
  if (block == nullptr) return nullptr;
  const auto prefix = static_cast<uint32_t>(bytes);
  std::memcpy(block, &prefix, sizeof(prefix));
  unsigned char* text = block + kPrefixBytes;
  if (source != nullptr) {
    std::memcpy(text, source, bytes);
  } else {
    std::memset(text, 0, bytes);
  }
  std::memset(text + bytes, 0, text_bytes - bytes + sizeof(OLECHAR));
  return reinterpret_cast<BSTR>(text);
}

unsigned char* BlockOf(BSTR text) { return reinterpret_cast<unsigned char*>(text) - kPrefixBytes; }

// Swaps in `fresh` and frees the old string; refuses a failed allocation.
INT Replace(BSTR* text, BSTR fresh) {
  if (fresh == nullptr) return FALSE;
  SysFreeString(*text);
  *text = fresh;
  return TRUE;
}

}  // namespace

BSTR SysAllocString(const OLECHAR* text) {
  if (text == nullptr) return nullptr;
  return Allocate(text, uint64_t{platform::WideLength(text)} * sizeof(OLECHAR));
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  return Allocate(text, uint64_t{length} * sizeof(OLECHAR));
}

BSTR SysAllocStringByteLen(LPCSTR data, UINT bytes) { return Allocate(data, bytes); }

void SysFreeString(BSTR text) {
  if (text != nullptr) std::free(BlockOf(text));
}

UINT SysStringByteLen(BSTR text) {
  if (text == nullptr) return 0;
  uint32_t prefix;
  std::memcpy(&prefix, BlockOf(text), sizeof(prefix));
  return prefix;
}

UINT SysStringLen(BSTR text) { return SysStringByteLen(text) / sizeof(OLECHAR); }

INT SysReAllocString(BSTR* text, const OLECHAR* source) {
  if (text == nullptr) return FALSE;
  if (source == nullptr) {
    SysFreeString(*text);
    *text = nullptr;
    return TRUE;
  }
  return Replace(text, SysAllocString(source));
}

INT SysReAllocStringLen(BSTR* text, const OLECHAR* source, UINT length) {
  if (text == nullptr) return FALSE;
  BSTR fresh = SysAllocStringLen(source, length);
  if (fresh != nullptr && source == nullptr && *text != nullptr) {
    const UINT kept = std::min(length, SysStringLen(*text));
    std::memcpy(fresh, *text, kept * sizeof(OLECHAR));
  }
  return Replace(text, fresh);
}
