// The COM task allocator: memory that passes ownership between a caller and a COM object.
//
// A buffer from CoTaskMemAlloc may be handed to an object that documents it takes ownership
// (the value object's attach-buffer); whoever owns it last frees it with CoTaskMemFree and with
// nothing else. Any thread may call these; a buffer may be freed on another thread than the
// one that allocated it.
#pragma once

#include "browserplatform/types.h"

// A new uninitialised block of `size` bytes, aligned for any type. A size of 0 gives a valid
// pointer, distinct from every other live block, that must be freed like any other. Null when
// memory runs out (no last error is set, as on Windows).
BROWSER_EXTERN_C LPVOID CoTaskMemAlloc(SIZE_T size);

// Frees a block from CoTaskMemAlloc; null is ignored.
BROWSER_EXTERN_C void CoTaskMemFree(LPVOID block);
