// Allocation failures on demand, for the service tests: this binary replaces the global
// operator new, and a test can make one allocation of the calling thread fail as memory
// exhaustion does (std::bad_alloc, or null from the nothrow form). Other threads are not
// affected.
#pragma once

#include <cstddef>

namespace service_test {

// The `nth` allocation of this thread from now on fails, once.
void FailNthAllocation(size_t nth);
// Switches off a failure that has not come yet; true when the armed failure happened.
bool StopFailingAllocations();

}  // namespace service_test
