// The host library's operating-system layer on Linux and other POSIX
// systems.
#include "platform.h"

#include <cstdlib>
#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

namespace ofxhost {
namespace platform {

const char kPathListSeparator = ':';

std::string standardPluginFolder() {
#if defined(__APPLE__)
  return "/Library/OFX/Plugins";
#else
  return "/usr/OFX/Plugins";
#endif
}

void *openLibrary(const std::filesystem::path &file, std::string *error) {
  void *library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library && error) {
    const char *why = dlerror();
    *error = why ? why : "unknown error";
  }
  return library;
}

void *librarySymbol(void *library, const char *name) {
  return dlsym(library, name);
}

void closeLibrary(void *library) { dlclose(library); }

std::size_t pageSize() {
  static const std::size_t size =
      static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  return size;
}

void *reserveInaccessible(std::size_t size) {
  void *at = mmap(nullptr, size, PROT_NONE,
                  MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  return at == MAP_FAILED ? nullptr : at;
}

bool makeReadWrite(void *at, std::size_t size) {
  return mprotect(at, size, PROT_READ | PROT_WRITE) == 0;
}

void releaseReservation(void *reservation, std::size_t size) {
  munmap(reservation, size);
}

void setEnvironment(const char *name, const char *value) {
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
}

long processId() { return static_cast<long>(getpid()); }

} // namespace platform
} // namespace ofxhost
