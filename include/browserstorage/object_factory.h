// The object factory (libbrowserobjects.so): the one way to obtain the shared data objects of
// browserstorage/shared_objects.h and the process-wide services.
//
// Every call returns an HRESULT and, on success, one reference in *out that the caller
// releases. On failure *out is null. A null `out` gives E_POINTER (nothing else happens). Any
// thread may call these functions at any time, concurrently.
#pragma once

#include "browserplatform/types.h"
#include "browserplatform/unknwn.h"
#include "browserstorage/objects_export.h"

namespace Util::Com {

// A new object answering `iid`, its interface pointer in *out. `iid` is one of IID_IValueObject,
// IID_IObjectList, IID_ITreeNode, IID_IBookmarkItem, IID_IBookmarkItemProperty,
// IID_IIconObject, IID_IExtensionRecord, IID_ITextValue; each call makes a new object.
// E_NOINTERFACE for any other identifier; E_OUTOFMEMORY when the object cannot be made.
BROWSER_OBJECTS_API HRESULT CreateObjectByIID(REFIID iid, void** out);

// The process-wide service registered under `iid`: IID_IMessageLoopManager gives the
// message-loop manager, IID_IDatabaseService the database service
// (browserstorage/database_service.h). The service lives as long as the process; each call hands
// out a new reference to the same object. E_NOINTERFACE for any other identifier.
BROWSER_OBJECTS_API HRESULT GetService(REFIID iid, void** out);

// A new object chosen by its interface name: kTextValueInterfaceName (compared exactly,
// case-sensitively) gives a text value, its ITextValue pointer in *out. E_INVALIDARG for a
// null `name`; E_NOINTERFACE for any other name.
BROWSER_OBJECTS_API HRESULT CreateObjectByInterface(const OLECHAR* name, void** out);

}  // namespace Util::Com
