// The hive file on disk: where it is, how it is read, and how a change reaches it.
//
// A change is a read-modify-write of the whole file under an exclusive flock on
// "<hive>.lock": the file is read, the change applied in memory, the result written to
// "<hive>.tmp", flushed, and renamed over the hive (the folder flushed after). flock locks
// belong to an open file, and every call opens the lock file anew, so two threads of one
// process exclude each other exactly as two processes do. Reads take the shared lock when the
// lock file exists; the rename is what guarantees that a read sees one whole file.
//
// A hive that cannot be read or parsed is never written: every call gives its error and the
// file stays as it is.
#pragma once

#include <functional>
#include <string>

#include "platform/registry_hive.h"

namespace platform {

// "$XDG_CONFIG_HOME/orvex/browser/registry/HKEY_CLASSES_ROOT.hive" for the current
// environment. ERROR_PATH_NOT_FOUND when no configuration folder is known.
DWORD ClassesRootHivePath(std::string* path);

// Reads the hive at `path`: a missing file (or folder) is an empty hive. ERROR_CANTREAD when
// the file exists but cannot be read, ERROR_BADDB when its contents are damaged.
DWORD ReadHive(const std::string& path, RegistryHive* hive);

// Applies `change` to the hive at `path` under the exclusive lock, creating the hive's folders
// when they are missing. `change` returns ERROR_SUCCESS with *changed set when the hive must be
// written, or an error that is passed on with nothing written. Errors of the hive itself are
// ReadHive's; a hive that would outgrow kMaxRegistryHiveSize gives ERROR_NOT_ENOUGH_QUOTA;
// failures to write give the Win32 code of the system error, the hive left as it was.
using HiveChange = std::function<DWORD(RegistryHive& hive, bool* changed)>;
DWORD ChangeHive(const std::string& path, const HiveChange& change);

}  // namespace platform
