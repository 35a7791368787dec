// The digest library's MD5 (RFC 1321).
#pragma once

#include "browserplatform/types.h"

// Writes the 16-byte MD5 digest of `length` bytes at `data` to `digest`. TRUE on success;
// FALSE (digest zeroed when it is not null) for a null digest, null data with a non-zero
// length, or a failure of the digest engine.
BROWSER_EXTERN_C BOOL OV_MD5(const void* data, size_t length, unsigned char digest[16]);
