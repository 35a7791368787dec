// The test seam of the database service: a log of the calls that carry SQL text, so that tests
// compare what a synchroniser sent with the texts it declares. Exported by the objects library
// for tests only; hosts never see it.
#pragma once

#include <string>
#include <vector>

#include "browserstorage/objects_export.h"

namespace Util {

struct DatabaseLogEntry {
  enum Kind {
    kPrepare,      // IDatabaseConnection::Prepare: the SQL text
    kExecute,      // IDatabaseConnection::Execute: the SQL text
    kTableExists,  // IDatabaseConnection::TableExists: the table name
    kBegin,        // IDatabaseConnection::BeginTransaction: empty text
    kCommit,       // IDatabaseConnection::CommitTransaction: empty text
    kRun,          // IDatabaseStatement::Execute: the statement's SQL text
  };
  Kind kind;
  std::string text;

  bool operator==(const DatabaseLogEntry&) const = default;
};

// Starts recording every call above, of every connection of the process, from an empty log.
BROWSER_OBJECTS_API void StartDatabaseLogForTesting();
// Stops recording and hands out what was recorded, oldest first.
BROWSER_OBJECTS_API std::vector<DatabaseLogEntry> StopDatabaseLogForTesting();

// Records for its scope.
class CScopedDatabaseLog {
 public:
  CScopedDatabaseLog() { StartDatabaseLogForTesting(); }
  ~CScopedDatabaseLog() { StopDatabaseLogForTesting(); }
  CScopedDatabaseLog(const CScopedDatabaseLog&) = delete;
  CScopedDatabaseLog& operator=(const CScopedDatabaseLog&) = delete;

  // What was recorded so far; recording goes on from an empty log.
  std::vector<DatabaseLogEntry> Take() {
    std::vector<DatabaseLogEntry> entries = StopDatabaseLogForTesting();
    StartDatabaseLogForTesting();
    return entries;
  }
};

}  // namespace Util
