// The test and benchmark builds of the plug-in held to each kernel set, and
// a loaded build's own answer to which set it runs (these builds export
// VantorelRowKernels; the shipping module does not).
#pragma once

#include "ofx_host.h"

#include <sstream>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace kernelsets {

struct KernelBuild {
  std::string set;    // "AVX2", ...
  std::string bundle; // its bundle folder
};

// From VANTOREL_KERNEL_BUNDLES, "NAME|BUNDLE,...", fastest first.
inline std::vector<KernelBuild> kernelBuilds() {
  std::vector<KernelBuild> builds;
  std::istringstream list(VANTOREL_KERNEL_BUNDLES);
  for (std::string item; std::getline(list, item, ',');) {
    const std::size_t bar = item.find('|');
    builds.push_back({item.substr(0, bar), item.substr(bar + 1)});
  }
  return builds;
}

// The set a loaded test build runs, or "" when it does not say.
inline std::string kernelsInUse(const ofxhost::Module &module) {
  typedef const char *(*Name)(void);
  Name name = nullptr;
#if defined(_WIN32)
  HMODULE library = GetModuleHandleA(module.path().c_str());
  if (library) {
    name = reinterpret_cast<Name>(reinterpret_cast<void *>(
        GetProcAddress(library, "VantorelRowKernels")));
  }
#else
  void *library = dlopen(module.path().c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (library) {
    name = reinterpret_cast<Name>(dlsym(library, "VantorelRowKernels"));
    dlclose(library);
  }
#endif
  return name ? name() : "";
}

} // namespace kernelsets
