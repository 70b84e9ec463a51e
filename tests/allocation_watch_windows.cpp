// Counting allocator calls on Windows: a module calls the C runtime's and
// the system's allocators through its import address table, so watching a
// module points its entries for them at counting stand-ins, which call on
// to the real functions. Watching another module puts the previous one's
// entries back.
#include "allocation_watch.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <vector>
#include <windows.h>

namespace vt {
namespace allocations {

namespace {

std::atomic<bool> counting{false};
std::atomic<int> calls{0};

void note() {
  if (counting.load(std::memory_order_relaxed))
    calls.fetch_add(1);
}

// Each stand-in counts, then calls the function the entry held.
#define STAND_IN(NAME, RESULT, PARAMS, ARGS)                                   \
  RESULT WINAPI counting_##NAME PARAMS {                                       \
    note();                                                                    \
    return reinterpret_cast<RESULT(WINAPI *) PARAMS>(real_##NAME) ARGS;        \
  }

void *real_malloc, *real_calloc, *real_realloc, *real_free,
    *real__aligned_malloc, *real__aligned_realloc, *real__aligned_free,
    *real__strdup, *real_HeapAlloc, *real_HeapReAlloc, *real_HeapFree,
    *real_VirtualAlloc, *real_LocalAlloc, *real_GlobalAlloc;

STAND_IN(malloc, void *, (std::size_t n), (n))
STAND_IN(calloc, void *, (std::size_t n, std::size_t size), (n, size))
STAND_IN(realloc, void *, (void *p, std::size_t n), (p, n))
STAND_IN(free, void, (void *p), (p))
STAND_IN(_aligned_malloc, void *, (std::size_t n, std::size_t alignment),
         (n, alignment))
STAND_IN(_aligned_realloc, void *,
         (void *p, std::size_t n, std::size_t alignment), (p, n, alignment))
STAND_IN(_aligned_free, void, (void *p), (p))
STAND_IN(_strdup, char *, (const char *s), (s))
STAND_IN(HeapAlloc, LPVOID, (HANDLE heap, DWORD flags, SIZE_T n),
         (heap, flags, n))
STAND_IN(HeapReAlloc, LPVOID, (HANDLE heap, DWORD flags, LPVOID p, SIZE_T n),
         (heap, flags, p, n))
STAND_IN(HeapFree, BOOL, (HANDLE heap, DWORD flags, LPVOID p), (heap, flags, p))
STAND_IN(VirtualAlloc, LPVOID, (LPVOID at, SIZE_T n, DWORD type, DWORD prot),
         (at, n, type, prot))
STAND_IN(LocalAlloc, HLOCAL, (UINT flags, SIZE_T n), (flags, n))
STAND_IN(GlobalAlloc, HGLOBAL, (UINT flags, SIZE_T n), (flags, n))

struct StandIn {
  const char *name;
  void *function;
  void **real;
};

#define ENTRY(NAME)                                                            \
  { #NAME, reinterpret_cast < void *>(counting_##NAME), &real_##NAME }
const StandIn kStandIns[] = {
    ENTRY(malloc),        ENTRY(calloc),          ENTRY(realloc),
    ENTRY(free),          ENTRY(_aligned_malloc), ENTRY(_aligned_realloc),
    ENTRY(_aligned_free), ENTRY(_strdup),         ENTRY(HeapAlloc),
    ENTRY(HeapReAlloc),   ENTRY(HeapFree),        ENTRY(VirtualAlloc),
    ENTRY(LocalAlloc),    ENTRY(GlobalAlloc)};

// An import entry redirected, and what it held.
struct Redirected {
  void **entry;
  void *held;
};
std::vector<Redirected> redirected;

void store(void **entry, void *value) {
  DWORD previous = 0;
  VirtualProtect(entry, sizeof *entry, PAGE_READWRITE, &previous);
  *entry = value;
  VirtualProtect(entry, sizeof *entry, previous, &previous);
}

void putBack() {
  for (const Redirected &r : redirected)
    store(r.entry, r.held);
  redirected.clear();
}

// Points the module's import entries for the allocators at the stand-ins.
void redirect(HMODULE module) {
  auto *base = reinterpret_cast<std::uint8_t *>(module);
  const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
  const auto *nt =
      reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY &imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!imports.VirtualAddress)
    return;
  for (auto *dll = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR *>(
           base + imports.VirtualAddress);
       dll->Name; ++dll) {
    const auto *names = reinterpret_cast<const IMAGE_THUNK_DATA *>(
        base +
        (dll->OriginalFirstThunk ? dll->OriginalFirstThunk : dll->FirstThunk));
    auto *entries =
        reinterpret_cast<IMAGE_THUNK_DATA *>(base + dll->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++entries) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
        continue;
      const auto *byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME *>(
          base + names->u1.AddressOfData);
      for (const StandIn &s : kStandIns) {
        if (std::strcmp(reinterpret_cast<const char *>(byName->Name), s.name) !=
            0)
          continue;
        auto **entry = reinterpret_cast<void **>(&entries->u1.Function);
        *s.real = *entry;
        redirected.push_back({entry, *entry});
        store(entry, s.function);
      }
    }
  }
}

} // namespace

const char *unavailable() { return nullptr; }

bool watch(const void *address) {
  unwatch();
  calls = 0;
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCWSTR>(address), &module))
    return false;
  redirect(module);
  return true;
}

void unwatch() { putBack(); }

void setCounting(bool on) { counting = on; }

int counted() { return calls.load(); }

} // namespace allocations
} // namespace vt
