#include "base/logging.h"

#include <cstdarg>

#include "browserplatform/log.h"
#include "browserplatform/types.h"
#include "browserplatform/wprintf.h"

namespace base {

void Log(DWORD level, const char16_t* category, const char16_t* format, ...) {
  ILogController* controller = GetLogController();
  if (controller == nullptr || format == nullptr) return;
  if (!controller->IsLogEnabled(level, category)) return;
  // Logging never changes what the caller's next GetLastError() reports.
  const DWORD last_error = GetLastError();
  char16_t text[2048];
  text[0] = u'\0';
  va_list args;
  va_start(args, format);
  _vsnwprintf_s(text, 2048, _TRUNCATE, format, args);
  va_end(args);
  controller->WriteLog(level, category, text);
  SetLastError(last_error);
}

}  // namespace base
