#include "platform/file_faults.h"

#include "platform/no_destructor.h"

namespace platform {

FileFaults& GetFileFaults() {
  // Files may still be written by static destructors of other libraries.
  static NoDestructor<FileFaults> faults;
  return *faults;
}

}  // namespace platform
