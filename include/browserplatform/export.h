// Symbol export for the platform library; everything it does not mark here stays hidden.
#pragma once

#define BROWSER_PLATFORM_API __attribute__((visibility("default")))
#define BROWSER_EXTERN_C extern "C" BROWSER_PLATFORM_API
