// Symbol export for the storage library. The library builds with hidden visibility; only the
// entry points marked here leave it, as plain C names.
#pragma once

#define BROWSER_STORAGE_EXPORT extern "C" __attribute__((visibility("default")))
