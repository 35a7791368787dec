// Records the calls of the database objects into the test log of
// external/database_service_for_testing.h while a test has it running.
#pragma once

#include <string_view>

#include "external/database_service_for_testing.h"

namespace Util {

void RecordDatabaseCall(DatabaseLogEntry::Kind kind, std::string_view text);

}  // namespace Util
