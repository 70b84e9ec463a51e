// The run kernels in plain C++: the same arithmetic as the stages, in the
// same order, with the per-frame parts looked up instead of recomputed.
#include "row_kernels.h"
#include "module_export.h"
#include "pixels.h"

#include <math.h>
#include <string.h>

static uint32_t greyBytes(uint8_t v) { return v * 0x010101u; }

static uint32_t alphaBytes(const uint8_t *pixel, const RunLook *look) {
  return look->opaque ? 0xff000000u : (uint32_t)pixel[3] << 24;
}

static void putBytes(uint8_t *pixel, uint32_t v) {
  pixel[0] = (uint8_t)v;
  pixel[1] = (uint8_t)(v >> 8);
  pixel[2] = (uint8_t)(v >> 16);
  pixel[3] = (uint8_t)(v >> 24);
}

void portableBytesByTable(const uint8_t *source, uint8_t *output, int64_t count,
                          const RunLook *look) {
  for (int64_t i = 0; i < count; ++i) {
    const uint8_t *s = source + 4 * i;
    uint8_t *o = output + 4 * i;
    o[0] = look->channel[s[0]];
    o[1] = look->channel[s[1]];
    o[2] = look->channel[s[2]];
    o[3] = look->opaque ? 255 : s[3];
  }
}

static void portableBytesFalseColour(const uint8_t *source, uint8_t *output,
                                     int64_t count, const RunLook *look) {
  const LumaTerms *terms = look->luma;
  for (int64_t i = 0; i < count; ++i) {
    const uint8_t *s = source + 4 * i;
    const float luma =
        lumaFromTerms(terms->red[s[0]], terms->green[s[1]], terms->blue[s[2]]);
    const int band = falseColourBand(luma);
    const uint32_t rgb = band == kGreyBand
                             ? greyBytes(channelToByte(barred(luma, look)))
                             : look->bandBytes[band];
    putBytes(output + 4 * i, rgb | alphaBytes(s, look));
  }
}

static float alphaOf(const WorkPixel &p, const RunLook *look) {
  return look->opaque ? 1.0f : p.a;
}

static void portableFloatsAnalysed(const uint8_t *source, uint8_t *output,
                                   int64_t count, const RunLook *look,
                                   bool legalize) {
  for (int64_t i = 0; i < count; ++i) {
    WorkPixel p = FloatPixels::load(source + 16 * i);
    if (legalize) {
      p.r = legalized(p.r);
      p.g = legalized(p.g);
      p.b = legalized(p.b);
    }
    const WorkPixel out = {barred(p.r, look), barred(p.g, look),
                           barred(p.b, look), alphaOf(p, look)};
    FloatPixels::store(output + 16 * i, out);
  }
}

static int64_t portableFloatsFalseColour(const uint8_t *source, uint8_t *output,
                                         int64_t count, const RunLook *look) {
  for (int64_t i = 0; i < count; ++i) {
    const WorkPixel p = FloatPixels::load(source + 16 * i);
    const float luma = lumaOf(p.r, p.g, p.b);
    if (luma != luma) {
      return i;
    }
    const int band = falseColourBand(luma);
    WorkPixel out = look->bandColours[band < 0 ? 0 : band];
    if (band == kGreyBand) {
      out.r = out.g = out.b = barred(luma, look);
    }
    out.a = alphaOf(p, look);
    FloatPixels::store(output + 16 * i, out);
  }
  return count;
}

// ---------------------------------------------------------------- buckets

static int bucketOf(float luma) {
  const float clamped = smallerOf(largerOf(luma, 0.0f), 1.0f);
  return (int32_t)(clamped * 255.0f) >> 4;
}

static float nextAbove(float v) {
  uint32_t bits;
  memcpy(&bits, &v, sizeof bits);
  ++bits; // v is positive
  memcpy(&v, &bits, sizeof v);
  return v;
}

// Where a stored band channel v lies among the bytes a pick reads; a new
// non-zero value joins bandValues while there is room.
static uint32_t pickOf(uint8_t v, RunLook *look, int *values) {
  if (v == 0) {
    return kPickZero;
  }
  for (int k = 0; k < *values; ++k) {
    if (look->bandValues[k] == v) {
      return kPickValues + k;
    }
  }
  if (*values == 4) {
    look->bandsPickable = false;
    return 0;
  }
  look->bandValues[*values] = v;
  return kPickValues + (*values)++;
}

static void fillBandPicks(RunLook *look) {
  uint32_t picks[kFalseColourBands];
  int values = 0;
  look->bandsPickable = true;
  memset(look->bandValues, 0, sizeof look->bandValues);
  for (int band = 0; band < kFalseColourBands; ++band) {
    picks[band] = 0;
    for (int c = 0; c < 3; ++c) {
      const uint8_t v = (uint8_t)(look->bandBytes[band] >> (8 * c));
      picks[band] |= pickOf(v, look, &values) << (8 * c);
    }
  }
  for (int bucket = 0; bucket < 16; ++bucket) {
    const int below = look->bucketBandBelow[bucket];
    const int above = look->bucketBandAbove[bucket];
    look->bucketPickBelow[bucket] = below == kGreyBand ? 0 : picks[below];
    look->bucketPickAbove[bucket] = above == kGreyBand ? 0 : picks[above];
  }
}

void fillBandBuckets(RunLook *look) {
  // Where the band can change, as "luma >= limit", in ascending order.
  const FalseColourScale &s = kFalseColour;
  const float limits[] = {s.purpleBelow,        s.blueBelow,
                          s.greenFrom,          nextAbove(s.greenTo),
                          s.pinkFrom,           nextAbove(s.pinkTo),
                          nextAbove(s.redAbove)};
  const int count = sizeof limits / sizeof limits[0];
  look->bucketsFit = true;
  int limit = 0;
  int band = falseColourBand(0.0f);
  for (int bucket = 0; bucket < 16; ++bucket) {
    look->bucketLimit[bucket] = INFINITY;
    look->bucketBandBelow[bucket] = look->bucketBandAbove[bucket] = band;
    if (limit < count && bucketOf(limits[limit]) == bucket) {
      look->bucketLimit[bucket] = limits[limit];
      band = falseColourBand(limits[limit]);
      look->bucketBandAbove[bucket] = band;
      ++limit;
      const bool ascending =
          limit == count || limits[limit - 1] < limits[limit];
      if (!ascending || (limit < count && bucketOf(limits[limit]) == bucket)) {
        look->bucketsFit = false;
      }
    }
  }
  if (limit < count) {
    look->bucketsFit = false;
  }
  fillBandPicks(look);
}

// ---------------------------------------------------------------- choice

static const KernelSet kPortableSet = {
    "portable",
    {portableBytesByTable, portableBytesFalseColour, portableFloatsAnalysed,
     portableFloatsFalseColour}};

RowKernels portableKernels(void) { return kPortableSet.kernels; }

static const KernelSet *portableKernelSet(void) { return &kPortableSet; }

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

// The compiler's runtime detects the processor; it counts a feature only
// when the operating system saves its registers.
static const KernelSet *avx512KernelSet(void) {
  __builtin_cpu_init();
  const bool runs = __builtin_cpu_supports("avx512f") &&
                    __builtin_cpu_supports("avx512bw") &&
                    __builtin_cpu_supports("avx512vbmi");
  return runs ? &kAvx512Kernels : nullptr;
}

static const KernelSet *avx2KernelSet(void) {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? &kAvx2Kernels : nullptr;
}

// Every x86-64 processor has SSE2.
static const KernelSet *sse2KernelSet(void) { return &kSse2Kernels; }

// Fastest first.
static const KernelSet *(*const kKernelSets[])(void) = {
    avx512KernelSet, avx2KernelSet, sse2KernelSet, portableKernelSet};

#elif defined(__aarch64__)

// Every aarch64 processor has NEON.
static const KernelSet *neonKernelSet(void) { return &kNeonKernels; }

static const KernelSet *(*const kKernelSets[])(void) = {neonKernelSet,
                                                        portableKernelSet};

#else

static const KernelSet *(*const kKernelSets[])(void) = {portableKernelSet};

#endif

// The test and benchmark builds name the function of a set
// (VANTOREL_KERNEL_CAP) and start there, so each set can be run on a
// machine that has a faster one.
static const KernelSet *fastestKernelSet(void) {
  const size_t count = sizeof kKernelSets / sizeof kKernelSets[0];
  size_t first = 0;
#if defined(VANTOREL_KERNEL_CAP)
  while (first + 1 < count && kKernelSets[first] != VANTOREL_KERNEL_CAP) {
    ++first;
  }
#endif
  for (size_t i = first; i < count; ++i) {
    const KernelSet *set = kKernelSets[i]();
    if (set) {
      return set;
    }
  }
  return &kPortableSet;
}

// Initialised as the module loads, before any call into it.
static const KernelSet *const kChosenSet = fastestKernelSet();

const KernelSet *chosenKernelSet(void) { return kChosenSet; }

#if defined(VANTOREL_KERNEL_CAP)
// Only in the test and benchmark builds: the name of the set in use.
VANTOREL_EXPORT const char *VantorelRowKernels(void) {
  return kChosenSet->name;
}
#endif

void bytesWhite(const uint8_t *source, uint8_t *output, int64_t count,
                const RunLook *look) {
  for (int64_t i = 0; i < count; ++i) {
    putBytes(output + 4 * i,
             look->whiteBytes | alphaBytes(source + 4 * i, look));
  }
}

void floatsWhite(const uint8_t *source, uint8_t *output, int64_t count,
                 const RunLook *look) {
  for (int64_t i = 0; i < count; ++i) {
    WorkPixel out = look->white;
    out.a = alphaOf(FloatPixels::load(source + 16 * i), look);
    FloatPixels::store(output + 16 * i, out);
  }
}
