// Kernels for runs: stretches of one row inside the source whose pixels all
// take the same path through the stages (the picture analysis, then the
// bars when the row is a bar row). A kernel reads `count` pixels from
// `source` and writes them to `output`.
#ifndef VANTOREL_ROW_KERNELS_H
#define VANTOREL_ROW_KERNELS_H

#include "stage_rules.h"
#include "vantorel_types.h"

// The weighted luma terms of each byte value: a channel byte's float value
// times its luma weight, rounded as the luma rule rounds it.
typedef struct LumaTerms {
  float red[256], green[256], blue[256];
} LumaTerms;

// The false-colour scale's band limits, and the classes between them.
enum { kBandClasses = 8 };

// Everything about a run besides its pixels, for rows with or without
// bars, taken once a frame from the stages themselves.
typedef struct RunLook {
  bool bar;        // colours are multiplied by barFactor
  bool opaque;     // alpha becomes 1; otherwise it passes through
  float barFactor; // meaningful in bar rows
  // An 8-bit bar row with factor 0 comes out black and opaque whatever the
  // picture: every stage before the bars leaves finite values there.
  bool blackBytes;
  // 8-bit pixels, red in the low byte:
  uint8_t channel[256]; // R, G or B byte after the analysis stage and bars
  // Whether channel[b] is, for every byte b, the stored value of b / 255,
  // legalized when `legalize`, then through the bars: kernels without a
  // byte permute compute it instead of looking it up.
  bool channelComputable, legalize;
  // Whether channel[b] is, for every byte b, (floor(b * channelSlope / 256)
  // + channelOffset) / 256 rounded down: kernels with 16-bit multiplies
  // form it with one high-half multiply, an add and a shift.
  bool channelFitted;
  uint16_t channelSlope, channelOffset;
  uint32_t bandBytes[kFalseColourBands]; // stored band colours, alpha 0
  uint32_t whiteBytes;                   // a stored guide pixel, alpha 0
  const LumaTerms *luma;
  // The bands by bucket, for kernels that classify a luma with one
  // comparison: a luma lies in bucket trunc(clamp(luma, 0, 1) * 255) / 16
  // and changes band in that bucket only at bucketLimit (its band is
  // bucketBandBelow below the limit, bucketBandAbove from it on). bucketsFit
  // is false when the scale does not fit one limit a bucket.
  bool bucketsFit;
  float bucketLimit[16];
  int32_t bucketBandBelow[16], bucketBandAbove[16];
  // For 8-bit kernels that pick each stored R, G and B byte out of 128
  // bytes: 16 pixels' greys, each in the low byte of a 32-bit lane whose
  // next byte is 0, then bandValues repeated. Bytes 0 to 2 of
  // bucketPickBelow and bucketPickAbove hold, for R, G and B, where a band
  // colour's channel lies from its lane's first byte: 0 for the grey (grey
  // band), kPickZero, or kPickValues + its place in bandValues.
  // bandsPickable is false when the band colours hold more than four
  // distinct non-zero bytes.
  bool bandsPickable;
  uint8_t bandValues[4];
  uint32_t bucketPickBelow[16], bucketPickAbove[16];
  // For 8-bit kernels that class a luma by its hundredths h (0 to 100) a
  // byte a lane: the bands change only at whole hundredths, and the class
  // of h is gridClassBase[h / 8], plus 1 where h > gridClassStep[h / 8];
  // gridClassBytes holds each class's stored R, G and B band bytes, 0 for
  // grey classes, whose gridClassGrey is 0xff. hundredthsFit is false when
  // a band edge is not a whole hundredth or an eighth holds two.
  bool hundredthsFit;
  int8_t gridClassBase[16], gridClassStep[16];
  uint8_t gridClassBytes[3][16], gridClassGrey[16];
  // Such kernels find the stored grey from the luma's 255ths, which is
  // right in bar rows only when the factor is 2^-k (k up to 15): then
  // luma * factor * 255 rounds as luma * 255 does, scaled, and the grey
  // is the plain one shifted right by k. gridGreyShift is k (0 outside bar
  // rows), or -1 for any other factor.
  int8_t gridGreyShift;
  // The bands as classes along the luma, for kernels that count the limits
  // a luma reaches: class c holds lumas from classLimit[c - 1] (inclusive)
  // to classLimit[c], and its band is classBand[c]. classesAscend is false
  // unless the limits are above zero and in ascending order.
  bool classesAscend;
  float classLimit[kBandClasses - 1];
  int8_t classBand[kBandClasses];
  // float pixels (alpha unused):
  WorkPixel bandColours[kFalseColourBands];
  WorkPixel white;
} RunLook;

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

enum { kKernelGroup = 16 };
enum { kPickZero = 1, kPickValues = 64 };

typedef struct RowKernels {
  // R, G and B through look->channel.
  void (*bytesByTable)(const uint8_t *source, uint8_t *output, int64_t count,
                       const RunLook *look);
  void (*bytesFalseColour)(const uint8_t *source, uint8_t *output,
                           int64_t count, const RunLook *look);
  // Optionally legalized, then the bars.
  void (*floatsAnalysed)(const uint8_t *source, uint8_t *output, int64_t count,
                         const RunLook *look, bool legalize);
  // Answers how many pixels it drew: all, unless it stopped at most
  // kKernelGroup - 1 pixels before the first whose luma is NaN (that
  // pixel's bits depend on which NaN the sums meet first).
  int64_t (*floatsFalseColour)(const uint8_t *source, uint8_t *output,
                               int64_t count, const RunLook *look);
} RowKernels;

// Finds channelSlope and channelOffset for look->channel, if any fit.
void fitChannelFormula(RunLook *look);

// Fills the bucket, pick and hundredths tables from kFalseColour and
// look->bandBytes.
void fillBandBuckets(RunLook *look);

// Kernels in plain C++, for any machine. Their floatsFalseColour stops
// exactly at the first pixel whose luma is NaN.
RowKernels portableKernels(void);
void portableBytesByTable(const uint8_t *source, uint8_t *output, int64_t count,
                          const RunLook *look);

// One set of kernels for a class of processors, and its name.
typedef struct KernelSet {
  const char *name;
  RowKernels kernels;
} KernelSet;

// The sets for each processor class, defined only where built: x86-64 with
// AVX-512 (F, BW and VBMI), with AVX2, and with SSE4.1 (the x86-64
// baseline: older processors take the portable kernels); aarch64 (NEON).
// They are written here rather than with a portable SIMD library: Debian's
// Highway (1.0.3) dispatches through libhwy.so, which needs the C++
// runtime this module does without, and it measured slower on 8-bit false
// colour (1.47 against 1.28 ms a 1920x1080 frame).
extern const KernelSet kAvx512Kernels, kAvx2Kernels, kSse41Kernels,
    kNeonKernels;

// AVX2 kernels the AVX-512 set shares where they measured faster than
// 512-bit ones (every processor with AVX-512 has AVX2): the float kernels,
// and the byte table where it has a fitted formula.
void avx2BytesByTable(const uint8_t *source, uint8_t *output, int64_t count,
                      const RunLook *look);
void avx2FloatsAnalysed(const uint8_t *source, uint8_t *output, int64_t count,
                        const RunLook *look, bool legalize);
int64_t avx2FloatsFalseColour(const uint8_t *source, uint8_t *output,
                              int64_t count, const RunLook *look);

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
