// The host library's operating-system layer on Linux and other POSIX
// systems. Where the system's loader does not load Mach-O files (anywhere
// but macOS), the library's own loader loads them.
#include "macho_loader.h"
#include "platform.h"

#include <cstdlib>
#include <dlfcn.h>
#include <fstream>
#include <iterator>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

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

namespace {

#if defined(__APPLE__)
const bool kSystemLoadsMachO = true;
#else
const bool kSystemLoadsMachO = false;
#endif

// Whether the file starts as a Mach-O file does.
bool startsAsMachO(const std::filesystem::path &file) {
  std::ifstream in(file, std::ios::binary);
  unsigned char head[4] = {};
  in.read(reinterpret_cast<char *>(head), sizeof head);
  return in && macho::isMachO(head, sizeof head);
}

void *openMachO(const std::filesystem::path &file, std::string *error) {
  std::ifstream in(file, std::ios::binary);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                        std::istreambuf_iterator<char>()};
  std::string why;
  macho::Image *image = macho::load(bytes, &why);
  if (!image && error)
    *error = "Mach-O module: " + why;
  return image;
}

} // namespace

void *openLibrary(const std::filesystem::path &file, std::string *error) {
  if (!kSystemLoadsMachO && startsAsMachO(file))
    return openMachO(file, error);
  void *library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library && error) {
    const char *why = dlerror();
    *error = why ? why : "unknown error";
  }
  return library;
}

void *librarySymbol(void *library, const char *name) {
  if (macho::isImage(library))
    return macho::symbol(static_cast<macho::Image *>(library), name);
  return dlsym(library, name);
}

void closeLibrary(void *library) {
  if (macho::isImage(library))
    macho::unload(static_cast<macho::Image *>(library));
  else
    dlclose(library);
}

bool passesVariadicsOnStack(const void *code) {
  macho::Placement placement;
  return macho::imageHolding(code, &placement) &&
         placement.cpu == macho::kCpuArm64;
}

bool ownLoaderModuleRange(const void *address, std::uintptr_t *from,
                          std::uintptr_t *to) {
  macho::Placement placement;
  if (!macho::imageHolding(address, &placement))
    return false;
  *from = placement.from;
  *to = placement.to;
  return true;
}

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
