// Files and folders: the Windows calls the storage system makes, over POSIX files.
//
// Paths are NUL-terminated UTF-16. '\' and '/' are both separators ('\' becomes '/'), so
// "localextensions\extdb_v2.json" names a file below the folder "localextensions". A null or
// empty path fails with ERROR_PATH_NOT_FOUND; a path holding an unpaired surrogate fails with
// ERROR_INVALID_NAME. A missing file is ERROR_FILE_NOT_FOUND when its folder exists and
// ERROR_PATH_NOT_FOUND when the folder does not.
//
// Every call may be made from any thread. Each failing call sets the calling thread's last
// error (GetLastError) and returns FALSE, INVALID_HANDLE_VALUE, INVALID_FILE_SIZE or
// INVALID_FILE_ATTRIBUTES as stated.
//
// Share modes are enforced between the opens of this process as Windows enforces them between
// all opens (other processes are not seen): an open is refused with ERROR_SHARING_VIOLATION
// when it asks for access that an earlier open does not share, or refuses to share access that
// an earlier open holds. Reading counts as read access (GENERIC_READ, GENERIC_ALL,
// FILE_READ_DATA), writing as write access (GENERIC_WRITE, GENERIC_ALL, FILE_WRITE_DATA,
// FILE_APPEND_DATA), DELETE and GENERIC_ALL as delete access. An open with none of them (access
// 0, to query the size) neither conflicts nor is counted. DeleteFileW and MoveFileExW (on its
// source and on a target it replaces) need every open of the file to share FILE_SHARE_DELETE.
#pragma once

#include "browserplatform/types.h"

// Declared in full with the I/O completion calls; the file calls take only a null pointer.
struct OVERLAPPED;
using LPOVERLAPPED = OVERLAPPED*;

// Access rights (CreateFileW's `access`).
constexpr DWORD FILE_READ_DATA = 0x00000001;
constexpr DWORD FILE_WRITE_DATA = 0x00000002;
constexpr DWORD FILE_APPEND_DATA = 0x00000004;
constexpr DWORD DELETE = 0x00010000;
constexpr DWORD GENERIC_ALL = 0x10000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD GENERIC_READ = 0x80000000;

// Share modes (CreateFileW's `share`).
constexpr DWORD FILE_SHARE_READ = 0x00000001;
constexpr DWORD FILE_SHARE_WRITE = 0x00000002;
constexpr DWORD FILE_SHARE_DELETE = 0x00000004;

// Dispositions (CreateFileW's `disposition`).
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;

// Attributes (GetFileAttributesW; CreateFileW's `flags_and_attributes`).
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x00000001;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x00000002;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x00000004;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x00000010;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x00000020;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080;
constexpr DWORD FILE_ATTRIBUTE_TEMPORARY = 0x00000100;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

// Flags (CreateFileW's `flags_and_attributes`).
constexpr DWORD FILE_FLAG_SEQUENTIAL_SCAN = 0x08000000;
constexpr DWORD FILE_FLAG_RANDOM_ACCESS = 0x10000000;
constexpr DWORD FILE_FLAG_WRITE_THROUGH = 0x80000000;

constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFF;

// Seek origins (SetFilePointerEx's `method`).
constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;

// MoveFileExW's `flags`.
constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x00000001;
constexpr DWORD MOVEFILE_COPY_ALLOWED = 0x00000002;
constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x00000008;

// Opens or creates a regular file and returns a new handle, which the caller closes with
// CloseHandle. On failure returns INVALID_HANDLE_VALUE.
//
// `disposition`:
//   CREATE_NEW         creates; ERROR_FILE_EXISTS when the file exists.
//   CREATE_ALWAYS      creates, or truncates an existing file; last error ERROR_ALREADY_EXISTS
//                      on success when the file existed, else 0.
//   OPEN_EXISTING      opens; ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND when missing.
//   OPEN_ALWAYS        opens or creates, never truncates; last error as CREATE_ALWAYS.
//   TRUNCATE_EXISTING  opens and truncates; needs GENERIC_WRITE, GENERIC_ALL or FILE_WRITE_DATA
//                      (else ERROR_INVALID_PARAMETER).
//   anything else      ERROR_INVALID_PARAMETER. So are share bits other than FILE_SHARE_*.
// The sharing check comes before any truncation: a refused open leaves the file as it was.
// A folder (or anything but a regular file) gives ERROR_ACCESS_DENIED. A new file with
// FILE_ATTRIBUTE_READONLY gets mode 0444, else 0666, less the umask; the open itself may still
// write it. FILE_FLAG_WRITE_THROUGH makes each write durable before WriteFile returns; the
// other flags and attributes, `security` and `template_file` are accepted and ignored. The
// handle is never inherited by child processes. Other access bits (such as
// FILE_READ_ATTRIBUTES) are accepted and grant nothing beyond a query.
BROWSER_EXTERN_C HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share,
                                    LPSECURITY_ATTRIBUTES security, DWORD disposition,
                                    DWORD flags_and_attributes, HANDLE template_file);

// Reads up to `size` bytes at the file position into `buffer`, as many as the file holds, and
// advances the position. TRUE with *read (when not null) set to the count, which is 0 at the
// end of the file. Fails with ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED (handle without read
// access), ERROR_INVALID_PARAMETER (null buffer with size > 0, or non-null `overlapped`), or
// the I/O error; *read then holds the bytes read before the error.
BROWSER_EXTERN_C BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD size, DWORD* read,
                               LPOVERLAPPED overlapped);

// Writes all `size` bytes at the file position (at the end for a handle opened with
// FILE_APPEND_DATA only). TRUE with *written (when not null) = size. Fails as ReadFile does
// (ERROR_ACCESS_DENIED without write access) or with ERROR_DISK_FULL etc.; *written then holds
// the bytes that reached the file.
BROWSER_EXTERN_C BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD size, DWORD* written,
                                LPOVERLAPPED overlapped);

// Makes the file's data durable (fsync). Needs write access (else ERROR_ACCESS_DENIED);
// ERROR_WRITE_FAULT when the device reports an error.
BROWSER_EXTERN_C BOOL FlushFileBuffers(HANDLE file);

// The file's size: returns the low 32 bits and stores the high 32 bits in *size_high when it
// is not null. On failure returns INVALID_FILE_SIZE with the last error set; a size whose low
// part is 0xFFFFFFFF returns the same value with last error 0.
BROWSER_EXTERN_C DWORD GetFileSize(HANDLE file, DWORD* size_high);

// The file's size in *size. FALSE (ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER for null).
BROWSER_EXTERN_C BOOL GetFileSizeEx(HANDLE file, LARGE_INTEGER* size);

// Moves the file position by `distance` from FILE_BEGIN, FILE_CURRENT or FILE_END (else
// ERROR_INVALID_PARAMETER) and stores the new position in *new_position when not null. A
// position past the end is allowed; a negative one fails with ERROR_NEGATIVE_SEEK and leaves
// the position unchanged.
BROWSER_EXTERN_C BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance,
                                       LARGE_INTEGER* new_position, DWORD method);

// Cuts or extends (with zeros) the file to the current position. Needs write access.
BROWSER_EXTERN_C BOOL SetEndOfFile(HANDLE file);

// Renames a file or folder, atomically replacing `target` when MOVEFILE_REPLACE_EXISTING is
// given (readers see the old or the new file, never a mix).
//   - `target` exists and no MOVEFILE_REPLACE_EXISTING: ERROR_ALREADY_EXISTS.
//   - `target` is a folder (with MOVEFILE_REPLACE_EXISTING): ERROR_ACCESS_DENIED.
//   - null `target` or unknown flags: ERROR_INVALID_PARAMETER.
//   - the source, or a target it would replace, is open without FILE_SHARE_DELETE:
//     ERROR_SHARING_VIOLATION.
//   - across file systems, only files move and only with MOVEFILE_COPY_ALLOWED (else
//     ERROR_NOT_SAME_DEVICE): the data is copied to a temporary file beside the target, made
//     durable, renamed over the target, and then the source is removed. A failure leaves the
//     target as it was and no temporary file behind.
//   - MOVEFILE_WRITE_THROUGH: on return the rename is durable (the target's folder, and the
//     source's when it differs, are synced); when syncing fails the call fails with the
//     error, although the file has moved.
BROWSER_EXTERN_C BOOL MoveFileExW(LPCWSTR existing, LPCWSTR target, DWORD flags);

// MoveFileExW(existing, target, MOVEFILE_COPY_ALLOWED): never replaces a file.
BROWSER_EXTERN_C BOOL MoveFileW(LPCWSTR existing, LPCWSTR target);

// Copies a file's data and permission bits. With `fail_if_exists` an existing target fails
// with ERROR_FILE_EXISTS; otherwise it is overwritten. The source is read under
// FILE_SHARE_READ | FILE_SHARE_DELETE and the target written under no sharing, so either
// being open elsewhere in a conflicting way (or copying a file onto itself) gives
// ERROR_SHARING_VIOLATION. When the copy fails part-way the target is removed.
BROWSER_EXTERN_C BOOL CopyFileW(LPCWSTR existing, LPCWSTR target, BOOL fail_if_exists);

// Removes a file. ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND when missing,
// ERROR_ACCESS_DENIED for a folder, ERROR_SHARING_VIOLATION when it is open without
// FILE_SHARE_DELETE. Opens that share delete keep reading and writing the removed file.
BROWSER_EXTERN_C BOOL DeleteFileW(LPCWSTR path);

// Creates one folder (mode 0777 less the umask). ERROR_ALREADY_EXISTS when anything exists at
// `path`; ERROR_PATH_NOT_FOUND when its parent folder is missing. `security` is ignored.
BROWSER_EXTERN_C BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security);

// Removes an empty folder. ERROR_DIR_NOT_EMPTY when it is not empty, ERROR_DIRECTORY when
// `path` is not a folder, ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND when missing.
BROWSER_EXTERN_C BOOL RemoveDirectoryW(LPCWSTR path);

// FILE_ATTRIBUTE_DIRECTORY for a folder; for a file FILE_ATTRIBUTE_READONLY when its owner
// may not write it, else FILE_ATTRIBUTE_NORMAL. INVALID_FILE_ATTRIBUTES with
// ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND when missing.
BROWSER_EXTERN_C DWORD GetFileAttributesW(LPCWSTR path);
