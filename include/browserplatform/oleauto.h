// BSTR strings and their comparison.
//
// A BSTR points at UTF-16 text that is preceded by its length in bytes (a 32-bit value just
// before the pointer) and followed by a NUL character. The length, not the NUL, ends the
// text: embedded NULs are part of it. A null BSTR is the empty string everywhere.
//
// Ownership: every non-null BSTR returned here belongs to the caller, who frees it with
// SysFreeString (and with nothing else). A BSTR is plain memory: any thread may use one, but
// a thread that changes it must not share it meanwhile.
#pragma once

#include "browserplatform/types.h"

// Allocates a copy of the NUL-terminated `text`. Null for a null `text` or when memory runs
// out.
BROWSER_EXTERN_C BSTR SysAllocString(const OLECHAR* text);

// Allocates a string of `length` characters copied from `text`, NULs included; a null `text`
// gives `length` zero characters. Null when the size is too large for a BSTR (byte lengths
// must stay below 2^31) or memory runs out.
BROWSER_EXTERN_C BSTR SysAllocStringLen(const OLECHAR* text, UINT length);

// Allocates a string whose byte length is `bytes` (odd sizes allowed), copied from `bytes`
// bytes at `data` or zero-filled when `data` is null; two zero bytes follow the data. Null on
// the same size and memory limits as SysAllocStringLen.
BROWSER_EXTERN_C BSTR SysAllocStringByteLen(LPCSTR data, UINT bytes);

// Frees a BSTR allocated by the calls above; null is ignored.
BROWSER_EXTERN_C void SysFreeString(BSTR text);

// The length in characters (byte length / 2) and in bytes; 0 for null.
BROWSER_EXTERN_C UINT SysStringLen(BSTR text);
BROWSER_EXTERN_C UINT SysStringByteLen(BSTR text);

// Replace *`text` with a new copy of `source` (as SysAllocString / SysAllocStringLen) and
// free the old string; `source` may point into the old string. A null `source` for
// SysReAllocStringLen keeps the old characters that still fit and zero-fills the rest.
// FALSE, with *`text` unchanged, when `text` is null or the allocation fails.
BROWSER_EXTERN_C INT SysReAllocString(BSTR* text, const OLECHAR* source);
BROWSER_EXTERN_C INT SysReAllocStringLen(BSTR* text, const OLECHAR* source, UINT length);

// Results of VarBstrCmp.
constexpr HRESULT VARCMP_LT = 0;
constexpr HRESULT VARCMP_EQ = 1;
constexpr HRESULT VARCMP_GT = 2;
constexpr HRESULT VARCMP_NULL = 3;

constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;

constexpr ULONG NORM_IGNORECASE = 0x00000001;

// Compares two BSTRs in the user's collation order (ICU, see browserplatform/collation.h):
// case-sensitive (tertiary strength), or ignoring case (secondary strength) with
// NORM_IGNORECASE; other flags are ignored. Lengths come from SysStringLen, so embedded NULs
// take part. A null or empty string sorts before every non-empty one and equals another
// null or empty one. Every `lcid` means the user's collation locale. Returns VARCMP_LT,
// VARCMP_EQ or VARCMP_GT; never fails. Any thread may call it.
BROWSER_EXTERN_C HRESULT VarBstrCmp(BSTR left, BSTR right, LCID lcid, ULONG flags);
