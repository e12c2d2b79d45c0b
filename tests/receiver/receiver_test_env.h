// Receiver tests need the decoding globals: built once per test program,
// with the shipped contest file and an empty data folder (no call lists).
#pragma once

#include <string>

namespace brenvo::testing {

// Idempotent; called by every test that builds receivers.
void EnsureDecoderGlobals();

}  // namespace brenvo::testing
