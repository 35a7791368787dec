// The shared data objects of the object factory, as the storage library and its hosts call them.
//
// The factory (browserstorage/object_factory.h) creates every object here. Each is a COM
// object: slots 0 to 2 are IUnknown and each operation sits at the vtable slot written beside
// it (the declaration index, IUnknown's three included). Slots that no operation uses are
// ReservedN() placeholders answering E_NOTIMPL; they carry that body here, so an
// implementation of its own (a host's object, a test fake) need not override them.
//
// Conventions of every object:
// - Object outputs come back with one reference that the receiver releases. Object inputs are
//   kept with a reference of the callee's own; the caller keeps its reference.
// - String outputs are new BSTRs that the receiver frees with SysFreeString. On S_OK they are
//   never null (an empty value comes back as an empty BSTR); on failure they are null.
// - String inputs are copied by the callee, so the caller may free its BSTR right after the
//   call. Their length is SysStringLen, so embedded NULs survive; a null BSTR is the empty
//   string.
// - A null out-pointer gives E_POINTER; running out of memory gives E_OUTOFMEMORY. Either way
//   the object is unchanged.
// - Free-threaded: any method may be called from several threads at once. Each object guards
//   its state with its own lock and, apart from AddRef on objects it holds, never calls another
//   object while holding it; objects calling each other from different threads cannot deadlock.
#pragma once

#include "browserplatform/types.h"
#include "browserplatform/unknwn.h"

#define BROWSER_SHARED_OBJECT_RESERVED(n) \
  virtual HRESULT STDMETHODCALLTYPE Reserved##n() { return E_NOTIMPL; }

// ---------------------------------------------------------------------------------------------
// An opaque byte image: the value of a key-value storage item. A fresh value is empty (size 0;
// GetBuffer may give null).
struct IValueObject : public IUnknown {
  // Sets *data to the bytes, owned by the object and valid until it changes or dies; null is
  // possible when the value is empty. A caller that shares the object with writers copies it
  // with CopyFrom instead.
  virtual HRESULT STDMETHODCALLTYPE GetBuffer(const BYTE** data) = 0;  // slot 3
  BROWSER_SHARED_OBJECT_RESERVED(4)                                    // slot 4
  BROWSER_SHARED_OBJECT_RESERVED(5)                                    // slot 5
  // *equal = TRUE when `other` holds as many bytes with the same values, else FALSE.
  // E_POINTER for a null `other`.
  virtual HRESULT STDMETHODCALLTYPE IsEqual(IValueObject* other, BOOL* equal) = 0;  // slot 6
  // Makes the `length` bytes at `data`, a block from CoTaskMemAlloc, the value. On S_OK the
  // object owns the block and frees it with CoTaskMemFree; the caller must not touch it again.
  // Null `data` with `length` 0 empties the value. Null `data` with a non-zero length gives
  // E_INVALIDARG: nothing changes and the caller keeps its block.
  virtual HRESULT STDMETHODCALLTYPE AttachBuffer(BYTE* data, ULONG length) = 0;  // slot 7
  BROWSER_SHARED_OBJECT_RESERVED(8)                                              // slot 8
  BROWSER_SHARED_OBJECT_RESERVED(9)                                              // slot 9
  virtual HRESULT STDMETHODCALLTYPE GetSize(ULONG* size) = 0;                    // slot 10
  // Copies `length` bytes from `data` as the value (null `data` allowed with length 0).
  // E_INVALIDARG for null `data` with a non-zero length.
  virtual HRESULT STDMETHODCALLTYPE SetBuffer(const BYTE* data, ULONG length) = 0;  // slot 11
  BROWSER_SHARED_OBJECT_RESERVED(12)                                                // slot 12
  BROWSER_SHARED_OBJECT_RESERVED(13)                                                // slot 13
  // Replaces the value with a copy of `other`'s bytes. E_POINTER for a null `other`.
  virtual HRESULT STDMETHODCALLTYPE CopyFrom(IValueObject* other) = 0;  // slot 14
};
BROWSER_DECLARE_IID(IValueObject, "CB4BD3FB-CEBA-4B5D-959E-5EB0267F8655");
inline constexpr const IID& IID_IValueObject = uuidof<IValueObject>();

// ---------------------------------------------------------------------------------------------
// An ordered list whose elements are strings or object references. The order changes only by
// InsertAt and RemoveAt; an index counts from 0.
struct IObjectList : public IUnknown {
  // A new list holding the same strings and the same object references (each with a reference
  // of the new list's own) in the same order. The source list is unchanged, and later changes
  // to either list do not show in the other.
  virtual HRESULT STDMETHODCALLTYPE Clone(IObjectList** out) = 0;  // slot 3
  virtual HRESULT STDMETHODCALLTYPE Count(UINT* count) = 0;        // slot 4
  BROWSER_SHARED_OBJECT_RESERVED(5)                                // slot 5
  BROWSER_SHARED_OBJECT_RESERVED(6)                                // slot 6
  BROWSER_SHARED_OBJECT_RESERVED(7)                                // slot 7
  BROWSER_SHARED_OBJECT_RESERVED(8)                                // slot 8
  BROWSER_SHARED_OBJECT_RESERVED(9)                                // slot 9
  BROWSER_SHARED_OBJECT_RESERVED(10)                               // slot 10
  BROWSER_SHARED_OBJECT_RESERVED(11)                               // slot 11
  BROWSER_SHARED_OBJECT_RESERVED(12)                               // slot 12
  BROWSER_SHARED_OBJECT_RESERVED(13)                               // slot 13
  BROWSER_SHARED_OBJECT_RESERVED(14)                               // slot 14
  BROWSER_SHARED_OBJECT_RESERVED(15)                               // slot 15
  BROWSER_SHARED_OBJECT_RESERVED(16)                               // slot 16
  BROWSER_SHARED_OBJECT_RESERVED(17)                               // slot 17
  BROWSER_SHARED_OBJECT_RESERVED(18)                               // slot 18
  BROWSER_SHARED_OBJECT_RESERVED(19)                               // slot 19
  BROWSER_SHARED_OBJECT_RESERVED(20)                               // slot 20
  BROWSER_SHARED_OBJECT_RESERVED(21)                               // slot 21
  BROWSER_SHARED_OBJECT_RESERVED(22)                               // slot 22
  BROWSER_SHARED_OBJECT_RESERVED(23)                               // slot 23
  BROWSER_SHARED_OBJECT_RESERVED(24)                               // slot 24
  BROWSER_SHARED_OBJECT_RESERVED(25)                               // slot 25
  BROWSER_SHARED_OBJECT_RESERVED(26)                               // slot 26
  BROWSER_SHARED_OBJECT_RESERVED(27)                               // slot 27
  BROWSER_SHARED_OBJECT_RESERVED(28)                               // slot 28
  BROWSER_SHARED_OBJECT_RESERVED(29)                               // slot 29
  BROWSER_SHARED_OBJECT_RESERVED(30)                               // slot 30
  BROWSER_SHARED_OBJECT_RESERVED(31)                               // slot 31
  BROWSER_SHARED_OBJECT_RESERVED(32)                               // slot 32
  BROWSER_SHARED_OBJECT_RESERVED(33)                               // slot 33
  BROWSER_SHARED_OBJECT_RESERVED(34)                               // slot 34
  BROWSER_SHARED_OBJECT_RESERVED(35)                               // slot 35
  BROWSER_SHARED_OBJECT_RESERVED(36)                               // slot 36
  BROWSER_SHARED_OBJECT_RESERVED(37)                               // slot 37
  BROWSER_SHARED_OBJECT_RESERVED(38)                               // slot 38
  BROWSER_SHARED_OBJECT_RESERVED(39)                               // slot 39
  BROWSER_SHARED_OBJECT_RESERVED(40)                               // slot 40
  // A new copy of the string element at `index`. E_INVALIDARG, with *out null, when `index` is
  // out of range or the element is an object.
  virtual HRESULT STDMETHODCALLTYPE GetStringAt(UINT index, BSTR* out) = 0;  // slot 41
  // Appends a copy of `text` (null: the empty string) as a string element.
  virtual HRESULT STDMETHODCALLTYPE AppendString(BSTR text) = 0;  // slot 42
  BROWSER_SHARED_OBJECT_RESERVED(43)                              // slot 43
  // The object element at `index`. When `iid` is the identifier the element was appended or
  // inserted with, *out is exactly the pointer stored then (callers find elements by pointer
  // comparison), with a new reference; otherwise it is the element's answer to
  // QueryInterface(`iid`) (E_NOINTERFACE and null when it has none). E_INVALIDARG, with *out
  // null, when `index` is out of range or the element is a string.
  virtual HRESULT STDMETHODCALLTYPE GetAt(UINT index, REFIID iid, void** out) = 0;  // slot 44
  // Appends `object`, a pointer to its `iid` interface, as given; the list takes a reference.
  // E_POINTER for a null `object`.
  virtual HRESULT STDMETHODCALLTYPE Append(REFIID iid, IUnknown* object) = 0;  // slot 45
  // Inserts `object` (as Append) before the element at `index`; `index` equal to the count
  // appends. E_INVALIDARG for an index above the count, E_POINTER for a null `object`.
  virtual HRESULT STDMETHODCALLTYPE InsertAt(UINT index, REFIID iid,
                                             IUnknown* object) = 0;  // slot 46
  BROWSER_SHARED_OBJECT_RESERVED(47)                                 // slot 47
  BROWSER_SHARED_OBJECT_RESERVED(48)                                 // slot 48
  BROWSER_SHARED_OBJECT_RESERVED(49)                                 // slot 49
  BROWSER_SHARED_OBJECT_RESERVED(50)                                 // slot 50
  BROWSER_SHARED_OBJECT_RESERVED(51)                                 // slot 51
  BROWSER_SHARED_OBJECT_RESERVED(52)                                 // slot 52
  BROWSER_SHARED_OBJECT_RESERVED(53)                                 // slot 53
  BROWSER_SHARED_OBJECT_RESERVED(54)                                 // slot 54
  BROWSER_SHARED_OBJECT_RESERVED(55)                                 // slot 55
  BROWSER_SHARED_OBJECT_RESERVED(56)                                 // slot 56
  BROWSER_SHARED_OBJECT_RESERVED(57)                                 // slot 57
  BROWSER_SHARED_OBJECT_RESERVED(58)                                 // slot 58
  BROWSER_SHARED_OBJECT_RESERVED(59)                                 // slot 59
  BROWSER_SHARED_OBJECT_RESERVED(60)                                 // slot 60
  BROWSER_SHARED_OBJECT_RESERVED(61)                                 // slot 61
  BROWSER_SHARED_OBJECT_RESERVED(62)                                 // slot 62
  BROWSER_SHARED_OBJECT_RESERVED(63)                                 // slot 63
  BROWSER_SHARED_OBJECT_RESERVED(64)                                 // slot 64
  BROWSER_SHARED_OBJECT_RESERVED(65)                                 // slot 65
  BROWSER_SHARED_OBJECT_RESERVED(66)                                 // slot 66
  BROWSER_SHARED_OBJECT_RESERVED(67)                                 // slot 67
  BROWSER_SHARED_OBJECT_RESERVED(68)                                 // slot 68
  BROWSER_SHARED_OBJECT_RESERVED(69)                                 // slot 69
  BROWSER_SHARED_OBJECT_RESERVED(70)                                 // slot 70
  // Removes the element at `index` (later elements move up one place) and releases the list's
  // reference to it. E_INVALIDARG when `index` is out of range.
  virtual HRESULT STDMETHODCALLTYPE RemoveAt(UINT index) = 0;  // slot 71
};
BROWSER_DECLARE_IID(IObjectList, "CC04A44F-92FC-4540-A2E0-C656D07F189D");
inline constexpr const IID& IID_IObjectList = uuidof<IObjectList>();

// ---------------------------------------------------------------------------------------------
// A bookmark or folder: its properties. One object answers both IBookmarkItem (the read face,
// also the identifier it is created by) and IBookmarkItemProperty (the property face); each is
// reached from the other by QueryInterface. Both faces have the same slots, setters included:
// IBookmarkItemProperty derives from IBookmarkItem and adds nothing, so the two interface
// pointers of one item are the same pointer.
//
// A fresh item has every number 0 and every string empty. Times, marks and positions are
// stored as given; the item gives them no meaning.

// The kind of a bookmark that has an address (GetUrl); every other kind is the caller's.
inline constexpr LONGLONG kBookmarkKindUrl = 1;

struct IBookmarkItem : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetId(BSTR* out) = 0;                     // slot 3
  virtual HRESULT STDMETHODCALLTYPE GetTitle(BSTR* out) = 0;                  // slot 4
  virtual HRESULT STDMETHODCALLTYPE SetTitle(BSTR title) = 0;                 // slot 5
  virtual HRESULT STDMETHODCALLTYPE GetParentId(BSTR* out) = 0;               // slot 6
  virtual HRESULT STDMETHODCALLTYPE GetUrl(BSTR* out) = 0;                    // slot 7
  virtual HRESULT STDMETHODCALLTYPE SetUrl(BSTR url) = 0;                     // slot 8
  virtual HRESULT STDMETHODCALLTYPE GetIconUrl(BSTR* out) = 0;                // slot 9
  virtual HRESULT STDMETHODCALLTYPE SetIconUrl(BSTR url) = 0;                 // slot 10
  virtual HRESULT STDMETHODCALLTYPE GetNote(BSTR* out) = 0;                   // slot 11
  virtual HRESULT STDMETHODCALLTYPE SetNote(BSTR note) = 0;                   // slot 12
  virtual HRESULT STDMETHODCALLTYPE GetKind(LONGLONG* kind) = 0;              // slot 13
  virtual HRESULT STDMETHODCALLTYPE GetLastAccessTime(LONGLONG* time) = 0;    // slot 14
  virtual HRESULT STDMETHODCALLTYPE SetSystemDefault(LONGLONG mark) = 0;      // slot 15
  virtual HRESULT STDMETHODCALLTYPE GetSystemDefault(LONGLONG* mark) = 0;     // slot 16
  virtual HRESULT STDMETHODCALLTYPE SetAccessCount(LONG count) = 0;           // slot 17
  virtual HRESULT STDMETHODCALLTYPE GetAccessCount(LONG* count) = 0;          // slot 18
  virtual HRESULT STDMETHODCALLTYPE SetTimeAdded(LONGLONG time) = 0;          // slot 19
  virtual HRESULT STDMETHODCALLTYPE GetTimeAdded(LONGLONG* time) = 0;         // slot 20
  BROWSER_SHARED_OBJECT_RESERVED(21)                                          // slot 21
  virtual HRESULT STDMETHODCALLTYPE SetOrigin(LONGLONG origin) = 0;           // slot 22
  virtual HRESULT STDMETHODCALLTYPE GetOrigin(LONGLONG* origin) = 0;          // slot 23
  virtual HRESULT STDMETHODCALLTYPE SetId(BSTR id) = 0;                       // slot 24
  virtual HRESULT STDMETHODCALLTYPE SetParentId(BSTR id) = 0;                 // slot 25
  virtual HRESULT STDMETHODCALLTYPE SetSortPosition(LONGLONG position) = 0;   // slot 26
  virtual HRESULT STDMETHODCALLTYPE SetLastAccessTime(LONGLONG time) = 0;     // slot 27
  virtual HRESULT STDMETHODCALLTYPE SetKind(LONGLONG kind) = 0;               // slot 28
  virtual HRESULT STDMETHODCALLTYPE GetSortPosition(LONGLONG* position) = 0;  // slot 29
  BROWSER_SHARED_OBJECT_RESERVED(30)                                          // slot 30
  // A new, independent item with properties equal to this one's at the time of the call.
  virtual HRESULT STDMETHODCALLTYPE Copy(IBookmarkItem** out) = 0;  // slot 31
};
BROWSER_DECLARE_IID(IBookmarkItem, "6A42C62F-FD76-451B-A774-D979B528B513");
inline constexpr const IID& IID_IBookmarkItem = uuidof<IBookmarkItem>();

struct IBookmarkItemProperty : public IBookmarkItem {};
BROWSER_DECLARE_IID(IBookmarkItemProperty, "572B69F3-0B20-48D3-BA19-07AECEED8C6A");
inline constexpr const IID& IID_IBookmarkItemProperty = uuidof<IBookmarkItemProperty>();

// ---------------------------------------------------------------------------------------------
// A shallow holder of one node of the bookmark tree: an item, a child list, an identifier and
// the parent's identifier (empty for top-level nodes). A fresh node has no item, no child list
// and empty strings.
struct ITreeNode : public IUnknown {
  // A new node holding the same item and child list references and equal identifiers; the
  // item and the list are shared, not copied.
  virtual HRESULT STDMETHODCALLTYPE Clone(ITreeNode** out) = 0;  // slot 3
  BROWSER_SHARED_OBJECT_RESERVED(4)                              // slot 4
  // *out is the item (null, with S_OK, when there is none).
  virtual HRESULT STDMETHODCALLTYPE GetItem(IBookmarkItem** out) = 0;  // slot 5
  // Holds `item` (null: none) in place of the previous one.
  virtual HRESULT STDMETHODCALLTYPE SetItem(IBookmarkItem* item) = 0;  // slot 6
  // Holds `list` (null: none) in place of the previous one.
  virtual HRESULT STDMETHODCALLTYPE SetChildList(IObjectList* list) = 0;  // slot 7
  // *out is the child list (null, with S_OK, when there is none).
  virtual HRESULT STDMETHODCALLTYPE GetChildList(IObjectList** out) = 0;  // slot 8
  virtual HRESULT STDMETHODCALLTYPE GetParentId(BSTR* out) = 0;           // slot 9
  virtual HRESULT STDMETHODCALLTYPE SetParentId(BSTR id) = 0;             // slot 10
  virtual HRESULT STDMETHODCALLTYPE GetId(BSTR* out) = 0;                 // slot 11
  virtual HRESULT STDMETHODCALLTYPE SetId(BSTR id) = 0;                   // slot 12
};
BROWSER_DECLARE_IID(ITreeNode, "10D77783-A7DB-46A8-9DCE-4F54F7AE6BC8");
inline constexpr const IID& IID_ITreeNode = uuidof<ITreeNode>();

// ---------------------------------------------------------------------------------------------
// A favicon: its image bytes, two texts (the second is the icon's key in the icon cache) and a
// time. A fresh icon has no data, empty texts and time 0.
struct IIconObject : public IUnknown {
  // Sets *data to the image bytes, owned by the object and valid until it changes or dies;
  // null is possible when there are none.
  virtual HRESULT STDMETHODCALLTYPE GetData(const BYTE** data) = 0;  // slot 3
  virtual HRESULT STDMETHODCALLTYPE GetDataLength(INT* length) = 0;  // slot 4
  virtual HRESULT STDMETHODCALLTYPE GetFirstText(BSTR* out) = 0;     // slot 5
  virtual HRESULT STDMETHODCALLTYPE GetTime(LONGLONG* time) = 0;     // slot 6
  virtual HRESULT STDMETHODCALLTYPE GetSecondText(BSTR* out) = 0;    // slot 7
  // Copies `length` bytes from `data` (null `data` allowed with length 0). E_INVALIDARG for a
  // negative length or null `data` with a positive one.
  virtual HRESULT STDMETHODCALLTYPE SetData(const BYTE* data, INT length) = 0;  // slot 8
  virtual HRESULT STDMETHODCALLTYPE SetFirstText(BSTR text) = 0;                // slot 9
  virtual HRESULT STDMETHODCALLTYPE SetTime(LONGLONG time) = 0;                 // slot 10
  virtual HRESULT STDMETHODCALLTYPE SetSecondText(BSTR text) = 0;               // slot 11
};
BROWSER_DECLARE_IID(IIconObject, "414F2289-FDFB-416B-A3C4-25B89FD5F5AE");
inline constexpr const IID& IID_IIconObject = uuidof<IIconObject>();

// ---------------------------------------------------------------------------------------------
// One row of the extension database. A fresh record has empty strings and type and state 0.
struct IExtensionRecord : public IUnknown {
  BROWSER_SHARED_OBJECT_RESERVED(3)                                  // slot 3
  BROWSER_SHARED_OBJECT_RESERVED(4)                                  // slot 4
  virtual HRESULT STDMETHODCALLTYPE SetExtensionId(BSTR id) = 0;     // slot 5
  virtual HRESULT STDMETHODCALLTYPE SetType(INT type) = 0;           // slot 6
  virtual HRESULT STDMETHODCALLTYPE SetState(INT state) = 0;         // slot 7
  virtual HRESULT STDMETHODCALLTYPE SetPath(BSTR path) = 0;          // slot 8
  virtual HRESULT STDMETHODCALLTYPE SetManifest(BSTR manifest) = 0;  // slot 9
  BROWSER_SHARED_OBJECT_RESERVED(10)                                 // slot 10
  virtual HRESULT STDMETHODCALLTYPE GetExtensionId(BSTR* out) = 0;   // slot 11
  virtual HRESULT STDMETHODCALLTYPE GetType(INT* type) = 0;          // slot 12
  virtual HRESULT STDMETHODCALLTYPE GetState(INT* state) = 0;        // slot 13
  virtual HRESULT STDMETHODCALLTYPE GetPath(BSTR* out) = 0;          // slot 14
  virtual HRESULT STDMETHODCALLTYPE GetManifest(BSTR* out) = 0;      // slot 15
};
BROWSER_DECLARE_IID(IExtensionRecord, "0AC6713A-0BFD-4007-914C-12368389C9B2");
inline constexpr const IID& IID_IExtensionRecord = uuidof<IExtensionRecord>();

// ---------------------------------------------------------------------------------------------
// A text value: the value of a key-value-ex storage item. A fresh one holds the empty string.
// A host's own object stored as such a value must answer slot 3 as well.
struct ITextValue : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetString(BSTR* out) = 0;  // slot 3
  virtual HRESULT STDMETHODCALLTYPE SetString(BSTR text) = 0;  // slot 4
};
BROWSER_DECLARE_IID(ITextValue, "0187676B-4529-435B-A31D-B18A0D2C0916");
inline constexpr const IID& IID_ITextValue = uuidof<ITextValue>();

// The interface name under which Util::Com::CreateObjectByInterface creates a text value
// (compared exactly, case-sensitively).
inline constexpr OLECHAR kTextValueInterfaceName[] = u"Browser.TextValue";

// ---------------------------------------------------------------------------------------------
// The process-wide message-loop manager service (Util::Com::GetService with
// IID_IMessageLoopManager): which thread runs which message loop. A loop is an opaque pointer
// owned by the thread runtime; the manager only keeps it, never calls or frees it.
struct IMessageLoopManager : public IUnknown {
  BROWSER_SHARED_OBJECT_RESERVED(3)  // slot 3
  // Records `loop` as the loop of `thread_id`, replacing any earlier one; null removes the
  // entry.
  virtual HRESULT STDMETHODCALLTYPE RegisterLoop(DWORD thread_id, void* loop) = 0;  // slot 4
  // *loop is the loop recorded for `thread_id`, or null (with S_OK) when there is none.
  virtual HRESULT STDMETHODCALLTYPE GetLoop(DWORD thread_id, void** loop) = 0;  // slot 5
};
BROWSER_DECLARE_IID(IMessageLoopManager, "C59AFC5A-2CB7-450E-AB48-A74FC01CEE9E");
inline constexpr const IID& IID_IMessageLoopManager = uuidof<IMessageLoopManager>();
