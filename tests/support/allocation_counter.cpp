#include "support/allocation_counter.h"

#if TESSIL_COUNTS_ALLOCATIONS
#include <atomic>
#include <cstddef>
#include <cstdlib>

extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void* __libc_memalign(size_t, size_t);

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
void Count() {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

extern "C" void* malloc(size_t size) {
  Count();
  return __libc_malloc(size);
}
extern "C" void* calloc(size_t count, size_t size) {
  Count();
  return __libc_calloc(count, size);
}
extern "C" void* realloc(void* block, size_t size) {
  Count();
  return __libc_realloc(block, size);
}
extern "C" void* memalign(size_t alignment, size_t size) {
  Count();
  return __libc_memalign(alignment, size);
}
extern "C" void* aligned_alloc(size_t alignment, size_t size) {
  Count();
  return __libc_memalign(alignment, size);
}
extern "C" int posix_memalign(void** result, size_t alignment, size_t size) {
  Count();
  *result = __libc_memalign(alignment, size);
  return *result == nullptr ? 12 : 0;
}

namespace tessil::test_support {
void CountAllocations(bool on) { counting.store(on, std::memory_order_relaxed); }
void ResetAllocations() { allocations.store(0, std::memory_order_relaxed); }
long Allocations() { return allocations.load(std::memory_order_relaxed); }
bool CounterSeesAnAllocation() {
  const long before = Allocations();
  CountAllocations(true);
  void* volatile block = std::malloc(16);  // volatile: a pair the compiler could drop
  CountAllocations(false);
  std::free(block);
  return Allocations() == before + 1;
}
}  // namespace tessil::test_support
#endif
