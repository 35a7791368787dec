// The test seam of collation: tests must not depend on the machine's locale. Exported by the
// platform library for tests only; hosts never see it.
#pragma once

#include "browserplatform/export.h"

namespace platform {

// Makes every thread collate for `locale` (normalised like the environment's value) from the
// next call on; null returns to the environment's locale. For tests, which must not depend on
// the machine's locale.
BROWSER_PLATFORM_API void SetCollationLocaleForTesting(const char* locale);

}  // namespace platform
