// The COM task allocator over the C heap.
#include <cstdlib>

#include "browserplatform/combaseapi.h"

LPVOID CoTaskMemAlloc(SIZE_T size) {
  // malloc(0) may return null; a zero-length block must still be a unique, freeable pointer.
  return std::malloc(size == 0 ? 1 : size);
}

void CoTaskMemFree(LPVOID block) { std::free(block); }
