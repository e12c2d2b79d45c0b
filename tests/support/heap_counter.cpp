#include "support/heap_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long long> gAllocations{0};
}

namespace brenvo::testing {

long long HeapAllocations() { return gAllocations.load(std::memory_order_relaxed); }

#if defined(__SANITIZE_ADDRESS__)
bool HeapCountingAvailable() { return false; }
#else
bool HeapCountingAvailable() { return true; }
#endif

}  // namespace brenvo::testing

#if !defined(__SANITIZE_ADDRESS__)
// The library's array, nothrow and default delete forms all go through these
// two and free(), so replacing them counts every allocation.
void* operator new(std::size_t size) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

void* operator new(std::size_t size, std::align_val_t align) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  const std::size_t a = static_cast<std::size_t>(align);
  const std::size_t rounded = (size + a - 1) / a * a;
  if (void* p = std::aligned_alloc(a, rounded == 0 ? a : rounded)) return p;
  throw std::bad_alloc();
}
#endif
