// The logging controller: where every log line of the system goes.
//
// The system asks GetLogController() for the controller, asks it whether a level and category
// are wanted, and hands it finished text. A host or a test installs its own controller; without
// one, the default controller is off (GetLogController() returns null) unless the environment
// variable BROWSER_STORAGE_LOG names a level and a destination, read once:
//
//   BROWSER_STORAGE_LOG=<level>:<destination>    e.g. "5:stderr", "37:/var/tmp/storage.log"
//
// Lines at that level or above are written, one per call, as
//   "<yyyy-mm-dd hh:mm:ss.mmm> <thread id> <level> <category> <indent><text>", with the
// function-trace indentation of the calling thread. An unusable value leaves logging off.
#pragma once

#include "browserplatform/types.h"

class ILogController {
 public:
  // Non-zero when lines of this level and category are wanted. Any thread.
  virtual BOOL IsLogEnabled(DWORD level, const char16_t* category) = 0;
  // Writes one finished line (UTF-16, NUL-terminated). Any thread; the controller serialises.
  virtual void WriteLog(DWORD level, const char16_t* category, const char16_t* text) = 0;
  // Function traces nest: indent the calling thread's following lines one step more / less.
  virtual void IndentIn() = 0;
  virtual void IndentOut() = 0;

 protected:
  ~ILogController() = default;
};

// The installed controller, or the environment's default, or null when logging is off.
BROWSER_EXTERN_C ILogController* GetLogController();

// Installs `controller` (null: back to the environment's default) and returns the one installed
// before. The controller must stay alive, and must not be replaced, while other threads may
// still be logging through it.
BROWSER_EXTERN_C ILogController* SetLogController(ILogController* controller);
