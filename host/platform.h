// What the host library asks of the operating system, in one place: loading
// plug-in modules, memory between inaccessible guard pages, and where hosts
// look for plug-ins. platform_posix.cpp and platform_windows.cpp implement
// it; nothing else in the library depends on the operating system. On
// Linux, openLibrary also loads macOS modules (Mach-O bundles) through the
// library's own loader, macho_loader.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace ofxhost {
namespace platform {

// Separates the folders listed in OFX_PLUGIN_PATH.
extern const char kPathListSeparator;
// The folder hosts search after those of OFX_PLUGIN_PATH.
std::string standardPluginFolder();

// A loaded module, or null with *error (when given) saying why.
void *openLibrary(const std::filesystem::path &file, std::string *error);
// An exported function of a loaded module, or null.
void *librarySymbol(void *library, const char *name);
void closeLibrary(void *library);

// Whether the loaded module holding `code` passes variadic arguments each in
// a stack slot, as Apple's arm64 convention does where this system's passes
// them in registers: a macOS module for arm64 loaded on Linux aarch64.
bool passesVariadicsOnStack(const void *code);
// The address range [from, to) of the module holding `address` when the
// library's own loader loaded it (a macOS module on Linux); false for
// modules the system loaded, which its own tools describe.
bool ownLoaderModuleRange(const void *address, std::uintptr_t *from,
                          std::uintptr_t *to);

std::size_t pageSize();
// `size` bytes (whole pages) of address space that faults when touched, or
// null.
void *reserveInaccessible(std::size_t size);
// Makes whole pages from `at` inside a reservation readable and writable.
bool makeReadWrite(void *at, std::size_t size);
// Gives back a whole reservation.
void releaseReservation(void *reservation, std::size_t size);

// Sets the environment variable `name`, or removes it when `value` is null.
void setEnvironment(const char *name, const char *value);
// This process's id, for naming scratch files.
long processId();

} // namespace platform
} // namespace ofxhost
