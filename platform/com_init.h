// What CoCreateInstance asks of the thread's COM initialisation.
#pragma once

namespace platform {

// Whether the calling thread has initialised COM (CoInitializeEx) and not yet uninitialised it.
bool IsComInitializedOnThread();

}  // namespace platform
