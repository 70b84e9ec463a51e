// A stand-in plug-in binary that crashes inside the tool as a library can:
// asked for its plug-ins, it prints its own line on standard error and
// aborts.
#include <cstdio>
#include <cstdlib>

extern "C" __attribute__((visibility("default"))) int OfxGetNumberOfPlugins() {
  std::fputs("crashing plug-in: about to abort\n", stderr);
  std::abort();
}

extern "C" __attribute__((visibility("default"))) void *OfxGetPlugin(int) {
  return nullptr;
}
