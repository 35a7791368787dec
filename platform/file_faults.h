// Fault switches for tests of code that writes files.
//
// The file calls of fileapi.h consult these process-wide switches at the point where they call
// the operating system, so a switched-on fault behaves exactly like the real error: the same
// result, the same last error, the same state left on disk. Counters show what was made
// durable. A test turns switches on, runs the code under test, and calls Reset() when done
// (a fixture's TearDown). Every member may be read and written from any thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "browserplatform/export.h"

namespace platform {

struct FileFaults {
  // WriteFile (and the copies of CopyFileW and MoveFileExW) write nothing and fail with
  // ERROR_DISK_FULL.
  std::atomic<bool> write_fails{false};
  // When not negative: this many more bytes can be written; the write that crosses the limit
  // writes what fits and fails with ERROR_DISK_FULL, as does every write after it.
  std::atomic<int64_t> bytes_until_disk_full{-1};
  // ReadFile reads nothing and fails as an I/O error does.
  std::atomic<bool> read_fails{false};
  // Every sync (FlushFileBuffers, the sync of a copied file, the folder sync of
  // MOVEFILE_WRITE_THROUGH) fails with ERROR_WRITE_FAULT.
  std::atomic<bool> sync_fails{false};
  // MoveFileExW fails with ERROR_ACCESS_DENIED and changes nothing.
  std::atomic<bool> move_fails{false};
  // CreateFileW (and CopyFileW's target) with write access fails with ERROR_ACCESS_DENIED
  // and creates nothing.
  std::atomic<bool> open_for_write_fails{false};

  // Successful syncs of files (FlushFileBuffers, copied files) and of folders.
  std::atomic<uint64_t> file_syncs{0};
  std::atomic<uint64_t> folder_syncs{0};

  // Switches everything off and zeroes the counters.
  void Reset() {
    write_fails = false;
    read_fails = false;
    bytes_until_disk_full = -1;
    sync_fails = false;
    move_fails = false;
    open_for_write_fails = false;
    file_syncs = 0;
    folder_syncs = 0;
  }
};

// The switches of this process.
BROWSER_PLATFORM_API FileFaults& GetFileFaults();

}  // namespace platform
