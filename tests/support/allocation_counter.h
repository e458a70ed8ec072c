// Counts the allocations a process makes while counting is on. The program's own malloc family
// takes precedence over the C library's for everything it loads, libsoxr and the plugins too.
// The sanitizers bring allocators of their own, so sanitized builds have no counter
// (TESSIL_COUNTS_ALLOCATIONS is 0) and leave the tests that need one out.
#pragma once

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TESSIL_COUNTS_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TESSIL_COUNTS_ALLOCATIONS 0
#endif
#endif
#ifndef TESSIL_COUNTS_ALLOCATIONS
#define TESSIL_COUNTS_ALLOCATIONS 1
#endif

namespace tessil::test_support {

// Allocations counted since the last ResetAllocations().
void CountAllocations(bool on);
void ResetAllocations();
long Allocations();
// Whether a malloc made now is counted: what makes a count of zero mean something.
bool CounterSeesAnAllocation();

}  // namespace tessil::test_support
