// Copies between the BSTRs at the object interfaces and the strings the objects keep.
#pragma once

#include <string>
#include <string_view>

#include "base/lock.h"
#include "browserplatform/types.h"

namespace Util {

// Copies `text` (SysStringLen characters, NULs included; null is empty) into *out.
// E_OUTOFMEMORY, with *out unchanged, when the copy cannot be made.
HRESULT ReadBstr(BSTR text, std::u16string* out) noexcept;

// A new BSTR holding `text` for the caller to free; never null on S_OK, also when `text` is
// empty. E_POINTER for a null `out`; E_OUTOFMEMORY with *out null.
HRESULT NewBstr(std::u16string_view text, BSTR* out) noexcept;

// A string field of an object handed out as a new BSTR under the object's lock.
HRESULT CopyStringOut(base::CLock* lock, const std::u16string* field, BSTR* out) noexcept;

// Replaces a string field from a BSTR under the object's lock; the BSTR is copied before the
// lock is taken, so a failed copy leaves the field as it was.
HRESULT ReplaceString(base::CLock* lock, std::u16string* field, BSTR text) noexcept;

}  // namespace Util
