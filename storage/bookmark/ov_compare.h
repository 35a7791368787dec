// IOVCompare: an ordering of bookmark items, as the folder sort and the prefix search use it.
#pragma once

#include "browserplatform/types.h"
#include "browserplatform/unknwn.h"

struct IOVCompare : public IUnknown {
  // Slot 3. *before = 1 when `first` sorts before `second`, else 0. The items are asked for
  // IBookmarkItem. A strict ordering: an item never sorts before itself.
  virtual HRESULT STDMETHODCALLTYPE Compare(IUnknown* first, IUnknown* second, LONG* before) = 0;
};
BROWSER_DECLARE_IID(IOVCompare, "B17CBDC8-CBE5-422E-9A13-65873D8FD7C9");
inline constexpr const IID& IID_IOVCompare = uuidof<IOVCompare>();
