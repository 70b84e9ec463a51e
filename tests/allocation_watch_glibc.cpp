// Counting allocator calls on glibc: this program replaces the allocator's
// entry points and, while counting, counts the calls whose return address
// lies in the watched object's loaded segments (read from its ELF program
// headers, or for a macOS module from the host library's Mach-O loader).
// Sanitizer runtimes replace the allocator themselves, so under them
// nothing is counted.
#include "allocation_watch.h"
#include "platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <link.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VANTOREL_ALLOCATOR_TAKEN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) ||     \
    __has_feature(memory_sanitizer)
#define VANTOREL_ALLOCATOR_TAKEN 1
#endif
#endif

namespace {

// Calls counted while `counting` is on and the caller lies in
// [watchedFrom, watchedTo).
std::atomic<bool> counting{false};
std::atomic<std::uintptr_t> watchedFrom{0}, watchedTo{0};
std::atomic<int> watchedCalls{0};

[[maybe_unused]] void note(void *caller) {
  if (!counting.load(std::memory_order_relaxed)) {
    return;
  }
  const auto at = reinterpret_cast<std::uintptr_t>(caller);
  if (at >= watchedFrom.load() && at < watchedTo.load()) {
    watchedCalls.fetch_add(1);
  }
}

} // namespace

#if !defined(VANTOREL_ALLOCATOR_TAKEN)
// Out of line, so each sees its real caller.
#define REPLACEMENT __attribute__((noinline))
extern "C" {
void *__libc_malloc(std::size_t);
void *__libc_calloc(std::size_t, std::size_t);
void *__libc_realloc(void *, std::size_t);
void *__libc_memalign(std::size_t, std::size_t);
void __libc_free(void *);

REPLACEMENT void *malloc(std::size_t n) {
  note(__builtin_return_address(0));
  return __libc_malloc(n);
}
REPLACEMENT void *calloc(std::size_t n, std::size_t size) {
  note(__builtin_return_address(0));
  return __libc_calloc(n, size);
}
REPLACEMENT void *realloc(void *p, std::size_t n) {
  note(__builtin_return_address(0));
  return __libc_realloc(p, n);
}
REPLACEMENT void free(void *p) {
  note(__builtin_return_address(0));
  __libc_free(p);
}
REPLACEMENT void *memalign(std::size_t alignment, std::size_t n) {
  note(__builtin_return_address(0));
  return __libc_memalign(alignment, n);
}
REPLACEMENT void *aligned_alloc(std::size_t alignment, std::size_t n) {
  note(__builtin_return_address(0));
  return __libc_memalign(alignment, n);
}
REPLACEMENT int posix_memalign(void **out, std::size_t alignment,
                               std::size_t n) {
  note(__builtin_return_address(0));
  *out = __libc_memalign(alignment, n);
  return *out ? 0 : ENOMEM;
}
}
#endif

namespace vt {
namespace allocations {

namespace {

// The address range of the loaded object (program or module) holding
// `address`: from its lowest to its highest loaded segment.
struct Range {
  std::uintptr_t from = 0, to = 0;
};

Range rangeHolding(const void *address) {
  struct Search {
    std::uintptr_t address;
    Range range;
  } search{reinterpret_cast<std::uintptr_t>(address), {}};
  dl_iterate_phdr(
      [](dl_phdr_info *info, std::size_t, void *data) {
        auto *s = static_cast<Search *>(data);
        Range r{std::numeric_limits<std::uintptr_t>::max(), 0};
        for (int i = 0; i < info->dlpi_phnum; ++i) {
          const ElfW(Phdr) &h = info->dlpi_phdr[i];
          if (h.p_type == PT_LOAD) {
            const std::uintptr_t start = info->dlpi_addr + h.p_vaddr;
            r.from = std::min(r.from, start);
            r.to = std::max<std::uintptr_t>(r.to, start + h.p_memsz);
          }
        }
        if (s->address < r.from || s->address >= r.to) {
          return 0;
        }
        s->range = r;
        return 1;
      },
      &search);
  if (search.range.from == search.range.to)
    ofxhost::platform::ownLoaderModuleRange(address, &search.range.from,
                                            &search.range.to);
  return search.range;
}

} // namespace

const char *unavailable() {
#if defined(VANTOREL_ALLOCATOR_TAKEN)
  return "a sanitizer runtime owns the allocator";
#else
  return nullptr;
#endif
}

bool watch(const void *address) {
  const Range range = rangeHolding(address);
  watchedFrom = range.from;
  watchedTo = range.to;
  watchedCalls = 0;
  return range.from < range.to;
}

void unwatch() { watchedFrom = watchedTo = 0; }

void setCounting(bool on) { counting = on; }

int counted() { return watchedCalls.load(); }

} // namespace allocations
} // namespace vt
