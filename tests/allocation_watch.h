// Counting the calls one loaded program or module makes to the C allocator
// (and, on Windows, to the system heap), for the no-allocation test.
// allocation_watch_glibc.cpp stands in for glibc's allocator and tells
// callers apart by address; allocation_watch_windows.cpp redirects the
// watched module's imports.
#pragma once

namespace vt {
namespace allocations {

// Why this build cannot count (a sanitizer owns the allocator), or null.
const char *unavailable();
// From now on, counts from zero the calls made by the code of the loaded
// program or module holding `address`, and no others. False when no loaded
// code holds it.
bool watch(const void *address);
// Stops watching; call before the watched module is unloaded.
void unwatch();
void setCounting(bool on);
int counted();

} // namespace allocations
} // namespace vt
