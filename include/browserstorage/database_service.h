// The database service of the object factory (Util::Com::GetService with IID_IDatabaseService)
// and the connection and statement objects it hands out: SQL databases in files, over SQLite 3.
//
// The objects follow the conventions of browserstorage/shared_objects.h: COM objects whose
// operations sit at the vtable slot written beside them, ReservedN() placeholders answering
// E_NOTIMPL in the slots between, one reference for the receiver on every object output, and a
// new BSTR (never null on S_OK) for every string output.
//
// SQL texts, table names and paths are 8-bit UTF-8, NUL-terminated. Parameters are numbered
// from 1 in the order they first appear in the text (":id, :key, :value" are 1, 2, 3); columns
// from 0.
//
// Result codes:
// - S_OK on success;
// - E_POINTER for a null out-pointer; E_INVALIDARG for a null text, a column outside the row or
//   null bytes with a non-zero length; E_OUTOFMEMORY when a result cannot be allocated;
// - an engine failure as DatabaseError(code), code being SQLite's extended result code: the
//   HRESULT 0x8004xxxx (severity error, FACILITY_ITF) whose low 16 bits are the code, e.g.
//   0x80040001 for a generic SQL error, 0x8004000E when a database cannot be opened. Calls on a
//   closed connection, or on a statement of one, and column reads without a current row answer
//   DatabaseError(kDatabaseMisuse).
//
// Threads: a connection and its statements may be used from any thread, one call at a time or
// concurrently: every call of a connection and of its statements runs under the connection's
// lock. Objects may be released in any order: a statement keeps its connection alive.
#pragma once

#include "browserplatform/types.h"
#include "browserplatform/unknwn.h"
#include "browserstorage/shared_objects.h"

// SQLite's result code for a call the engine refuses in the state it is in.
inline constexpr int kDatabaseMisuse = 21;

inline constexpr HRESULT DatabaseError(int code) {
  return static_cast<HRESULT>(0x80040000u | (static_cast<uint32_t>(code) & 0xFFFFu));
}

// The engine's result code carried by an HRESULT of DatabaseError, or 0 for any other.
inline constexpr int DatabaseErrorCode(HRESULT hr) {
  return (static_cast<uint32_t>(hr) & 0xFFFF0000u) == 0x80040000u
             ? static_cast<int>(static_cast<uint32_t>(hr) & 0xFFFFu)
             : 0;
}

// ---------------------------------------------------------------------------------------------
// A prepared statement. Bindings stay until they are replaced; Reset makes a statement that
// has run ready to run again with them.
struct IDatabaseStatement : public IUnknown {
  BROWSER_SHARED_OBJECT_RESERVED(3)               // slot 3
  BROWSER_SHARED_OBJECT_RESERVED(4)               // slot 4
  BROWSER_SHARED_OBJECT_RESERVED(5)               // slot 5
  BROWSER_SHARED_OBJECT_RESERVED(6)               // slot 6
  BROWSER_SHARED_OBJECT_RESERVED(7)               // slot 7
  BROWSER_SHARED_OBJECT_RESERVED(8)               // slot 8
  BROWSER_SHARED_OBJECT_RESERVED(9)               // slot 9
  BROWSER_SHARED_OBJECT_RESERVED(10)              // slot 10
  BROWSER_SHARED_OBJECT_RESERVED(11)              // slot 11
  BROWSER_SHARED_OBJECT_RESERVED(12)              // slot 12
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;  // slot 13
  BROWSER_SHARED_OBJECT_RESERVED(14)              // slot 14
  // Binds a copy of `text` (SysStringLen characters; null is the empty string) as UTF-8 text.
  // Ill-formed UTF-16 is stored with U+FFFD in its place.
  virtual HRESULT STDMETHODCALLTYPE BindText(INT index, BSTR text) = 0;  // slot 15
  BROWSER_SHARED_OBJECT_RESERVED(16)                                     // slot 16
  BROWSER_SHARED_OBJECT_RESERVED(17)                                     // slot 17
  BROWSER_SHARED_OBJECT_RESERVED(18)                                     // slot 18
  BROWSER_SHARED_OBJECT_RESERVED(19)                                     // slot 19
  // Binds a copy of the `length` bytes at `data` as a blob (null `data` with length 0: an empty
  // blob); the bytes are needed only during the call.
  virtual HRESULT STDMETHODCALLTYPE BindBlob(INT index, const BYTE* data,
                                             ULONG length) = 0;  // slot 20
  // Runs the statement to its end, passing over any rows it yields.
  virtual HRESULT STDMETHODCALLTYPE Execute() = 0;  // slot 21
  // Moves to the next row: *row TRUE when there is one, FALSE at the end (and on failure).
  virtual HRESULT STDMETHODCALLTYPE Step(BOOL* row) = 0;  // slot 22
  BROWSER_SHARED_OBJECT_RESERVED(23)                      // slot 23
  // Column readers of the current row. A NULL column reads as 0, an empty string or no bytes.
  virtual HRESULT STDMETHODCALLTYPE GetColumnInt32(INT column, INT* value) = 0;       // slot 24
  virtual HRESULT STDMETHODCALLTYPE GetColumnInt64(INT column, LONGLONG* value) = 0;  // slot 25
  BROWSER_SHARED_OBJECT_RESERVED(26)                                                  // slot 26
  BROWSER_SHARED_OBJECT_RESERVED(27)                                                  // slot 27
  // The column as UTF-16 text, in a new BSTR for the caller to free.
  virtual HRESULT STDMETHODCALLTYPE GetColumnText(INT column, BSTR* out) = 0;  // slot 28
  // The column's bytes, owned by the statement and valid until the next Step, Reset or
  // Execute; *data null and *length 0 for no bytes.
  virtual HRESULT STDMETHODCALLTYPE GetColumnBlob(INT column, const BYTE** data,
                                                  ULONG* length) = 0;  // slot 29
};
BROWSER_DECLARE_IID(IDatabaseStatement, "1E276583-DBE0-487B-8558-78AB7CF7736A");
inline constexpr const IID& IID_IDatabaseStatement = uuidof<IDatabaseStatement>();

// ---------------------------------------------------------------------------------------------
// An open database.
struct IDatabaseConnection : public IUnknown {
  BROWSER_SHARED_OBJECT_RESERVED(3)  // slot 3
  BROWSER_SHARED_OBJECT_RESERVED(4)  // slot 4
  BROWSER_SHARED_OBJECT_RESERVED(5)  // slot 5
  BROWSER_SHARED_OBJECT_RESERVED(6)  // slot 6
  BROWSER_SHARED_OBJECT_RESERVED(7)  // slot 7
  // Closes the database; later calls of the connection and its statements fail (see above).
  // A transaction still open is rolled back. Closing twice is S_OK. Releasing the last
  // reference closes too.
  virtual HRESULT STDMETHODCALLTYPE Close() = 0;  // slot 8
  // Compiles the first statement of `sql` into *out.
  virtual HRESULT STDMETHODCALLTYPE Prepare(const char* sql,
                                            IDatabaseStatement** out) = 0;  // slot 9
  // Runs every statement of `sql` to its end.
  virtual HRESULT STDMETHODCALLTYPE Execute(const char* sql) = 0;  // slot 10
  // *exists TRUE when the database has a table named `name` (compared as SQLite compares
  // names: ignoring ASCII case), else FALSE.
  virtual HRESULT STDMETHODCALLTYPE TableExists(const char* name, BOOL* exists) = 0;  // slot 11
  BROWSER_SHARED_OBJECT_RESERVED(12)                                                  // slot 12
  BROWSER_SHARED_OBJECT_RESERVED(13)                                                  // slot 13
  // Begins a write transaction: the database's write lock is taken here (waiting up to a
  // second for another connection to let go of it), so a transaction that begins can write.
  virtual HRESULT STDMETHODCALLTYPE BeginTransaction() = 0;  // slot 14
  // Commits the open transaction. When the commit fails the transaction is rolled back, so
  // the connection is out of it either way and nothing of it has reached the file.
  virtual HRESULT STDMETHODCALLTYPE CommitTransaction() = 0;  // slot 15
};
BROWSER_DECLARE_IID(IDatabaseConnection, "EF548F0C-5E61-4EB6-B009-761D48959073");
inline constexpr const IID& IID_IDatabaseConnection = uuidof<IDatabaseConnection>();

// ---------------------------------------------------------------------------------------------
// The process-wide database service.
struct IDatabaseService : public IUnknown {
  BROWSER_SHARED_OBJECT_RESERVED(3)  // slot 3
  BROWSER_SHARED_OBJECT_RESERVED(4)  // slot 4
  BROWSER_SHARED_OBJECT_RESERVED(5)  // slot 5
  BROWSER_SHARED_OBJECT_RESERVED(6)  // slot 6
  // Opens the database file at `path` for reading and writing, creating an empty one when
  // there is none; each call gives a connection of its own. A file that is not a database
  // fails here (DatabaseError(26)), and so does a path that cannot be opened
  // (DatabaseError(14)). A statement waits up to a second for another connection's lock on the
  // file before it fails (DatabaseError(5)).
  virtual HRESULT STDMETHODCALLTYPE OpenDatabase(const char* path,
                                                 IDatabaseConnection** out) = 0;  // slot 7
};
BROWSER_DECLARE_IID(IDatabaseService, "85D1A575-4330-488D-9440-FFCF1753D8B0");
inline constexpr const IID& IID_IDatabaseService = uuidof<IDatabaseService>();
