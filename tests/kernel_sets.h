// The test and benchmark builds of the plug-in held to each kernel set, and
// a loaded build's own answer to which set it runs (these builds export
// VantorelRowKernels; the shipping module does not).
#pragma once

#include "ofx_host.h"

#include <sstream>
#include <string>
#include <vector>

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
  const Name name = reinterpret_cast<Name>(module.symbol("VantorelRowKernels"));
  return name ? name() : "";
}

} // namespace kernelsets
