// COM's runtime calls: the task allocator, per-thread initialisation and the creation of
// registered classes.
#pragma once

#include "browserplatform/unknwn.h"

// ---------------------------------------------------------------------------------------------
// The COM task allocator: memory that passes ownership between a caller and a COM object.
//
// A buffer from CoTaskMemAlloc may be handed to an object that documents it takes ownership
// (the value object's attach-buffer); whoever owns it last frees it with CoTaskMemFree and with
// nothing else. Any thread may call these; a buffer may be freed on another thread than the
// one that allocated it.

// A new uninitialised block of `size` bytes, aligned for any type. A size of 0 gives a valid
// pointer, distinct from every other live block, that must be freed like any other. Null when
// memory runs out (no last error is set, as on Windows).
BROWSER_EXTERN_C LPVOID CoTaskMemAlloc(SIZE_T size);

// Frees a block from CoTaskMemAlloc; null is ignored.
BROWSER_EXTERN_C void CoTaskMemFree(LPVOID block);

// ---------------------------------------------------------------------------------------------
// Per-thread initialisation.
//
// A thread must initialise COM before it creates objects through CoCreateInstance. There are
// no apartments here: every object is free-threaded and nothing is marshalled, so the
// concurrency model only has to agree with the one the thread chose first, as on Windows.

constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
constexpr DWORD COINIT_DISABLE_OLE1DDE = 0x4;
constexpr DWORD COINIT_SPEED_OVER_MEMORY = 0x8;

constexpr HRESULT RPC_E_CHANGED_MODE = MakeHResult(0x80010106u);
constexpr HRESULT CO_E_NOTINITIALIZED = MakeHResult(0x800401F0u);
constexpr HRESULT CO_E_DLLNOTFOUND = MakeHResult(0x800401F8u);
constexpr HRESULT CO_E_ERRORINDLL = MakeHResult(0x800401F9u);

// Initialises COM on the calling thread: S_OK the first time, S_FALSE when it already is (each
// success needs its CoUninitialize). Asking for the other concurrency model than the thread's
// first gives RPC_E_CHANGED_MODE and counts nothing. `reserved` must be null and `flags` a
// combination of the COINIT_ values (else E_INVALIDARG).
BROWSER_EXTERN_C HRESULT CoInitializeEx(LPVOID reserved, DWORD flags);
// CoInitializeEx(reserved, COINIT_APARTMENTTHREADED).
BROWSER_EXTERN_C HRESULT CoInitialize(LPVOID reserved);
// Undoes one successful CoInitializeEx of the calling thread; the last one leaves the thread
// uninitialised. Libraries loaded for CoCreateInstance stay loaded. Without a matching
// CoInitializeEx it does nothing.
BROWSER_EXTERN_C void CoUninitialize();

// ---------------------------------------------------------------------------------------------
// Creation of registered classes (the registry of winreg.h, under HKEY_CLASSES_ROOT).

// CoCreateInstance's class contexts. Only in-process servers exist.
constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
constexpr DWORD CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

// The CLSID a ProgID names: the default value of "<progid>\CLSID". CO_E_CLASSSTRING when the
// ProgID is not registered (or is not a key name, or names no well-formed CLSID). A registry
// that cannot be read gives HRESULT_FROM_WIN32 of its error (ERROR_BADDB for a damaged hive).
// Any thread, COM initialised or not. Null arguments: E_INVALIDARG.
BROWSER_EXTERN_C HRESULT CLSIDFromProgID(LPCOLESTR progid, LPCLSID clsid);

// Creates an object of the registered class `clsid` and asks it for `iid`, as *object (null on
// every failure):
// - CO_E_NOTINITIALIZED when the calling thread has not initialised COM; E_POINTER for a null
//   `object`;
// - REGDB_E_CLASSNOTREG when `context` lacks CLSCTX_INPROC_SERVER, or the class has no
//   "CLSID\{clsid}\InprocServer32" key with a file name as its default value; registry errors
//   as in CLSIDFromProgID;
// - the library named there is loaded once per process and path, and stays loaded:
//   CO_E_DLLNOTFOUND when it cannot be loaded, CO_E_ERRORINDLL when it has no
//   DllGetClassObject;
// - otherwise the result of its DllGetClassObject (for IClassFactory) and of the factory's
//   CreateInstance(outer, iid, object). A library whose DllGetClassObject answers E_UNEXPECTED
//   (it failed to initialise when loaded) is let go again when its DllCanUnloadNow allows, so
//   that a later call loads it afresh.
// Any thread.
BROWSER_EXTERN_C HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context,
                                          REFIID iid, LPVOID* object);
