// Kernels for runs: stretches of one row inside the source whose pixels all
// take the same path through the stages (the picture analysis, then the
// bars when the row is a bar row). A kernel reads `count` pixels from
// `source` and writes them to `output`.
#ifndef VANTOREL_ROW_KERNELS_H
#define VANTOREL_ROW_KERNELS_H

#include "stage_rules.h"
#include "vantorel_types.h"

// What a run's pixels share, taken once a frame from the stages themselves
// (row_renderer.cpp): the facts of its row and the colours the stages give.
//
// Alpha: only solid bars set it to 1 (opaque, so only ever in a bar row);
// everywhere else it passes through unchanged.
typedef struct RunLook {
  bool bar;        // colours are multiplied by barFactor
  bool opaque;     // alpha becomes 1; otherwise it passes through
  bool legalize;   // the analysis squeezes colours into the legal range
  float barFactor; // meaningful in bar rows
  // An 8-bit bar row with factor 0 comes out black and opaque whatever the
  // picture: every stage before the bars leaves finite values there.
  bool blackBytes;
  // 8-bit pixels, red in the low byte:
  uint8_t channel[256]; // R, G or B byte after the analysis stage and bars
  uint32_t bandBytes[kFalseColourBands]; // stored band colours, alpha 0
  uint32_t whiteBytes;                   // a stored guide pixel, alpha 0
  // float pixels (alpha unused):
  WorkPixel bandColours[kFalseColourBands];
  WorkPixel white;
} RunLook;

// A kernel's own tables for one look, in its own layout, built once a frame
// by its `prepare` from the look.
enum { kRunSetupBytes = 512 };
typedef struct RunSetup {
  alignas(64) unsigned char bytes[kRunSetupBytes];
} RunSetup;

// A kernel's setup as the record it keeps there.
template <typename Setup> static inline Setup *setupAs(RunSetup *setup) {
  static_assert(sizeof(Setup) <= sizeof setup->bytes, "the setup fits");
  static_assert(alignof(Setup) <= alignof(RunSetup), "and is aligned");
  return reinterpret_cast<Setup *>(setup->bytes);
}
template <typename Setup>
static inline const Setup &setupOf(const RunSetup *setup) {
  return *reinterpret_cast<const Setup *>(setup->bytes);
}

// One kernel: `draw` answers how many pixels it drew, all of them but for
// the float false-colour kernels, which may stop at most kKernelGroup - 1
// pixels before the first pixel whose luma is NaN (that pixel's bits
// depend on which NaN the sums meet first). `prepare` is null when the
// kernel needs no setup.
typedef struct RunKernel {
  void (*prepare)(const RunLook *look, RunSetup *setup);
  int64_t (*draw)(const uint8_t *source, uint8_t *output, int64_t count,
                  const RunLook *look, const RunSetup *setup);
} RunKernel;

enum { kKernelGroup = 16 };

// A frame's analysed runs all take one of these: 8-bit R, G and B through
// look->channel, 8-bit false colour, float legalize (when look->legalize)
// and bars, float false colour.
typedef struct RowKernels {
  RunKernel bytesByTable, bytesFalseColour, floatsAnalysed, floatsFalseColour;
} RowKernels;

// b / 255 for a byte value b (as a float, or a vector of them) without a
// division: b * 0x0.010101 is exact, and the rest of b / 255, b / 255 *
// 2^-24, never lies near a rounding boundary of the sum, so the sum rounds
// to nearest as the quotient does (all 256 checked).
template <typename F> static inline F quotientBy255(F b) {
  const float high = 0x1.0101p-8f, rest = 0x1.010102p-32f;
  return b * high + b * rest;
}

// A colour channel through the bars of the look.
static inline float barred(float v, const RunLook *look) {
  return look->bar ? v * look->barFactor : v;
}

// The stages' own arithmetic a pixel at a time, for any machine: the
// reference the vector kernels are held to, and what they leave at the
// ends of runs. They need no setup. Their floatsFalseColour stops exactly
// at the first pixel whose luma is NaN.
extern const RowKernels kPortableKernels;

// One set of kernels for a class of processors, and its name: each kernel
// from the build that runs it fastest there (row_kernels.cpp).
typedef struct KernelSet {
  const char *name;
  const RunKernel *bytesByTable, *bytesFalseColour, *floatsAnalysed,
      *floatsFalseColour;
} KernelSet;

// The first set this machine runs, starting at the one named `first` (at
// the fastest when null).
const KernelSet *fastestKernelSetFrom(const char *first);

// The set the row renderer uses, chosen once when the module loads
// (module_variant.cpp).
const KernelSet *chosenKernelSet(void);

// Guide pixels: white, then the bars.
void bytesWhite(const uint8_t *source, uint8_t *output, int64_t count,
                const RunLook *look);
void floatsWhite(const uint8_t *source, uint8_t *output, int64_t count,
                 const RunLook *look);

#endif
