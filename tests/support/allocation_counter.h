// Counts every heap allocation of the program while an AllocationCount is alive, by replacing
// malloc and its relatives (glibc supports replacing them from the executable, and forwards its
// own internal use to the replacement), so C++ new, OpenSSL's default allocator and plain
// malloc are all seen. The sanitizers bring their own allocator, so under them nothing is
// replaced and kAllocationsCounted is false.
//
// Include this header in exactly one source file of a program: it defines malloc.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ORV_COUNT_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer) || __has_feature(thread_sanitizer)
#define ORV_COUNT_ALLOCATIONS 0
#endif
#endif
#if !defined(ORV_COUNT_ALLOCATIONS) && defined(__GLIBC__)
#define ORV_COUNT_ALLOCATIONS 1
#endif
#if !defined(ORV_COUNT_ALLOCATIONS)
#define ORV_COUNT_ALLOCATIONS 0
#endif

namespace orv::test {
inline constexpr bool kAllocationsCounted = ORV_COUNT_ALLOCATIONS;
}  // namespace orv::test

namespace {
std::atomic<bool> g_counting{false};
std::atomic<size_t> g_allocations{0};
}  // namespace

#if ORV_COUNT_ALLOCATIONS
namespace {
void note_allocation() {
  if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* ptr, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* ptr);

void* malloc(size_t size) noexcept {
  note_allocation();
  return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) noexcept {
  note_allocation();
  return __libc_calloc(count, size);
}
void* realloc(void* ptr, size_t size) noexcept {
  note_allocation();
  return __libc_realloc(ptr, size);
}
void free(void* ptr) noexcept { __libc_free(ptr); }
void* memalign(size_t alignment, size_t size) noexcept {
  note_allocation();
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) noexcept {
  note_allocation();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) noexcept {
  note_allocation();
  if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return 22;  // EINVAL
  void* p = __libc_memalign(alignment, size);
  if (p == nullptr) return 12;  // ENOMEM
  *out = p;
  return 0;
}
}
#endif

namespace orv::test {

class AllocationCount {
 public:
  AllocationCount() {
    g_allocations = 0;
    g_counting = true;
  }
  ~AllocationCount() { g_counting = false; }
  size_t stop() {
    g_counting = false;
    return g_allocations;
  }
};

}  // namespace orv::test
