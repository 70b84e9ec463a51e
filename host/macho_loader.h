// A loader of macOS plug-in modules (Mach-O bundles) into this process, so
// the host library can run a macOS build of a plug-in on Linux: the slice
// for the running processor is checked (load commands, imports, and the
// code signature's page hashes), its segments mapped, its rebases and binds
// applied (its imports from macOS's C library bound to this process's), its
// initialisers run, and its exports found in its export trie.
// platform_posix.cpp sends every Mach-O file here; the rest of the library
// reaches it only through platform.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ofxhost {
namespace macho {

// Mach-O processor types.
constexpr std::uint32_t kCpuX86_64 = 0x01000007;
constexpr std::uint32_t kCpuArm64 = 0x0100000c;
// The running process's, or 0 where no Mach-O slice can run.
extern const std::uint32_t kRunningCpu;
// "x86_64", "arm64", or "processor type 0x...".
std::string processorName(std::uint32_t cpu);

// Whether `head` (the first bytes of a file) starts a 64-bit Mach-O file or
// a universal one.
bool isMachO(const std::uint8_t *head, std::size_t size);

// Where the slice for `cpu` lies in `file` (the whole file when it is
// thin). False with *error when the file holds none or is malformed.
bool findSlice(const std::vector<std::uint8_t> &file, std::uint32_t cpu,
               std::size_t *offset, std::size_t *size, std::string *error);

// Everything this loader checks before it maps anything: the header and
// load commands, that every import is one it binds, and the code signature
// (required on arm64): every page hash of each CodeDirectory recomputed.
bool checkSlice(const std::uint8_t *slice, std::size_t size,
                std::string *error);

// The symbols a module may import, the names it gives them ("_memcpy").
std::vector<std::string> bindableImports();

struct Image;

// Loads the running processor's slice of `file`, or answers null with
// *error saying why.
Image *load(const std::vector<std::uint8_t> &file, std::string *error);
// An exported symbol by its C name ("OfxGetPlugin"), or null.
void *symbol(const Image *image, const char *name);
// Runs the terminators and unmaps the image.
void unload(Image *image);

// Whether `handle` is an image load() answered and unload() has not taken.
bool isImage(const void *handle);

// What the host must know of the loaded image holding an address.
struct Placement {
  std::uintptr_t from = 0, to = 0; // its mapped address range
  std::uint32_t cpu = 0;
};
// The loaded image whose mapping holds `address`; false when none does.
bool imageHolding(const void *address, Placement *placement);

} // namespace macho
} // namespace ofxhost
