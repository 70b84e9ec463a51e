// What sets the builds of the module apart, the one source compiled for
// each of them (every other source of the module is compiled once). The
// plug-in draws by rows with the fastest kernel set this machine runs; of
// the builds for the tests and the benchmark, the reference draws pixel by
// pixel (VANTOREL_PER_PIXEL_REFERENCE), and the others start the kernel
// choice at the set VANTOREL_KERNEL_CAP names and export VantorelRowKernels,
// which names the set in use.
#include "frame.h"
#include "module_export.h"
#include "row_kernels.h"

#include <stddef.h>

#if defined(VANTOREL_KERNEL_CAP)
static const char *const kFirstKernelSet = VANTOREL_KERNEL_CAP;
#else
static const char *const kFirstKernelSet = NULL;
#endif

// Initialised as the module loads, before any call into it.
static const KernelSet *const kChosenSet =
    fastestKernelSetFrom(kFirstKernelSet);

const KernelSet *chosenKernelSet(void) { return kChosenSet; }

#if defined(VANTOREL_KERNEL_CAP)
VANTOREL_EXPORT const char *VantorelRowKernels(void) {
  return kChosenSet->name;
}
#endif

void drawRenderWindow(const ImageView *source, const ImageView *output,
                      OfxRectI window, const FrameContext *frame) {
#if defined(VANTOREL_PER_PIXEL_REFERENCE)
  renderWindowPixelByPixel(source, output, window, frame);
#else
  renderWindowByRows(source, output, window, frame);
#endif
}
