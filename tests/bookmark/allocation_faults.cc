// The service tests' replaced operator new (tests/service/allocation_faults.h), built into this
// binary too, so that a test can make one allocation fail.
#include "tests/service/allocation_faults.cc"  // NOLINT(bugprone-suspicious-include)
