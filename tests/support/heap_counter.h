// Counts heap allocations made through operator new, so that tests can check
// that a hot path allocates nothing in steady state.
#pragma once

namespace brenvo::testing {

// False where the counting cannot be installed (the AddressSanitizer build
// brings its own operator new); tests then skip their allocation checks.
bool HeapCountingAvailable();

// Number of operator new calls (all forms) in the process so far.
long long HeapAllocations();

}  // namespace brenvo::testing
