#include "external/database_log.h"

#include <atomic>
#include <exception>
#include <utility>

#include "base/lock.h"
#include "platform/no_destructor.h"

namespace Util {
namespace {

struct DatabaseLog {
  base::CLock lock;
  std::vector<DatabaseLogEntry> entries GUARDED_BY(lock);
};

std::atomic<bool> g_recording{false};

DatabaseLog& Log() {
  static platform::NoDestructor<DatabaseLog> log;
  return *log;
}

}  // namespace

void RecordDatabaseCall(DatabaseLogEntry::Kind kind, std::string_view text) {
  if (!g_recording.load(std::memory_order_acquire)) return;
  DatabaseLog& log = Log();
  try {
    base::CAutoLock guard(log.lock);
    log.entries.push_back({kind, std::string(text)});
  } catch (const std::exception&) {  // allocation failures only: the test sees a short log
  }
}

void StartDatabaseLogForTesting() {
  DatabaseLog& log = Log();
  {
    base::CAutoLock guard(log.lock);
    log.entries.clear();
  }
  g_recording.store(true, std::memory_order_release);
}

std::vector<DatabaseLogEntry> StopDatabaseLogForTesting() {
  g_recording.store(false, std::memory_order_release);
  DatabaseLog& log = Log();
  base::CAutoLock guard(log.lock);
  return std::exchange(log.entries, {});
}

}  // namespace Util
