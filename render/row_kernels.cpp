// The run kernels in plain C++: the same arithmetic as the stages, in the
// same order, with the per-frame parts looked up instead of recomputed.
#include "row_kernels.h"
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

// ---------------------------------------------------------------- formula

// The offset that makes `slope` give every byte of the table, or -1. Each
// byte b asks for 256 * channel[b] <= floor(b * slope / 256) + offset <
// 256 * (channel[b] + 1).
static int32_t offsetFitting(const uint8_t channel[256], int32_t slope) {
  int32_t low = 0, high = 65535;
  for (int b = 0; b < 256 && low <= high; ++b) {
    const int32_t scaled = b * slope / 256;
    const int32_t least = 256 * channel[b] - scaled;
    const int32_t most = 256 * channel[b] + 255 - scaled;
    low = least > low ? least : low;
    high = most < high ? most : high;
  }
  return low <= high ? low : -1;
}

// Whether the table climbs by steps of one size or the next: a line
// rounded down does, and a table that clamps does not.
static bool climbsEvenly(const uint8_t channel[256]) {
  int least = 255, most = 0;
  for (int b = 1; b < 256; ++b) {
    const int rise = channel[b] - channel[b - 1];
    least = rise < least ? rise : least;
    most = rise > most ? rise : most;
  }
  return least >= 0 && most - least <= 1;
}

// Tries slopes outward from the table's own, most failing within a few
// bytes; a table with no fit within kSlopeSearch keeps the lookup.
void fitChannelFormula(RunLook *look) {
  enum { kSlopeSearch = 512 };
  const uint8_t *c = look->channel;
  const int32_t middle = (int32_t)((c[255] - c[0]) * 65536.0 / 255.0 + 0.5);
  look->channelFitted = false;
  if (!climbsEvenly(c)) {
    return;
  }
  for (int32_t step = 0; step <= 2 * kSlopeSearch; ++step) {
    const int32_t slope = middle + (step % 2 ? -(step + 1) / 2 : step / 2);
    if (slope < 0 || slope > 65535) {
      continue;
    }
    const int32_t offset = offsetFitting(c, slope);
    if (offset >= 0) {
      look->channelFitted = true;
      look->channelSlope = (uint16_t)slope;
      look->channelOffset = (uint16_t)offset;
      return;
    }
  }
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

// The hundredth of a band edge, or -1 when the edge is not a whole one.
static int hundredthOf(float edge) {
  const int h = (int)(edge * 100.0f + 0.5f);
  return (float)(h / 100.0) == edge ? h : -1;
}

static int8_t greyShiftOf(const RunLook *look) {
  for (int k = 0; look->bar && k < 16; ++k) {
    if (look->barFactor == 1.0f / (float)(1 << k)) {
      return (int8_t)k;
    }
  }
  return look->bar ? -1 : 0;
}

static void fillHundredthClasses(RunLook *look) {
  // Each edge as "hundredths >= edge", in ascending order.
  const FalseColourScale &s = kFalseColour;
  const float limits[] = {s.purpleBelow, s.blueBelow, s.greenFrom, s.greenTo,
                          s.pinkFrom,    s.pinkTo,    s.redAbove};
  enum { kEdges = sizeof limits / sizeof limits[0] };
  int edges[kEdges];
  look->gridGreyShift = greyShiftOf(look);
  look->hundredthsFit = true;
  for (int e = 0; e < kEdges; ++e) {
    edges[e] = hundredthOf(limits[e]);
    look->hundredthsFit = look->hundredthsFit &&
                          edges[e] > (e ? edges[e - 1] : 0) && edges[e] < 100;
  }
  for (int eighth = 0, e = 0; eighth < 16; ++eighth) {
    while (e < kEdges && edges[e] <= 8 * eighth) {
      ++e;
    }
    look->gridClassBase[eighth] = (int8_t)e;
    look->gridClassStep[eighth] = 127;
    if (e < kEdges && edges[e] < 8 * eighth + 8) {
      look->gridClassStep[eighth] = (int8_t)(edges[e] - 1);
      look->hundredthsFit = look->hundredthsFit &&
                            (e + 1 == kEdges || edges[e + 1] >= 8 * eighth + 8);
    }
  }
  // Each class's band: that of a luma halfway along its first hundredth.
  memset(look->gridClassBytes, 0, sizeof look->gridClassBytes);
  memset(look->gridClassGrey, 0, sizeof look->gridClassGrey);
  for (int k = 0; k <= kEdges; ++k) {
    const int from = k ? edges[k - 1] : 0;
    const int band = falseColourBand(((float)from + 0.5f) / 100.0f);
    if (band == kGreyBand) {
      look->gridClassGrey[k] = 0xff;
      continue;
    }
    for (int c = 0; c < 3; ++c) {
      look->gridClassBytes[c][k] = (uint8_t)(look->bandBytes[band] >> (8 * c));
    }
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
  static_assert(count == kBandClasses - 1, "one class more than limits");
  look->classesAscend = true;
  look->classBand[0] = (int8_t)falseColourBand(-INFINITY);
  for (int c = 0; c < count; ++c) {
    look->classLimit[c] = limits[c];
    look->classBand[c + 1] = (int8_t)falseColourBand(limits[c]);
    look->classesAscend =
        look->classesAscend &&
        (c == 0 ? limits[0] > 0.0f : limits[c - 1] < limits[c]);
  }
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
  fillHundredthClasses(look);
}

// ---------------------------------------------------------------- choice

static const KernelSet kPortableSet = {
    "portable",
    {portableBytesByTable, portableBytesFalseColour, portableFloatsAnalysed,
     portableFloatsFalseColour}};

RowKernels portableKernels(void) { return kPortableSet.kernels; }

static const KernelSet *portableKernelSet(void) { return &kPortableSet; }

// A set, and its check of whether this machine runs it (the set, or null).
typedef struct KernelChoice {
  const KernelSet *set;
  const KernelSet *(*runsHere)(void);
} KernelChoice;

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

static const KernelSet *sse41KernelSet(void) {
  __builtin_cpu_init();
  return __builtin_cpu_supports("sse4.1") ? &kSse41Kernels : nullptr;
}

// Fastest first: each set, and the check of whether this machine runs it.
static const KernelChoice kKernelSets[] = {{&kAvx512Kernels, avx512KernelSet},
                                           {&kAvx2Kernels, avx2KernelSet},
                                           {&kSse41Kernels, sse41KernelSet},
                                           {&kPortableSet, portableKernelSet}};

#elif defined(__aarch64__)

// Every aarch64 processor has NEON.
static const KernelSet *neonKernelSet(void) { return &kNeonKernels; }

static const KernelChoice kKernelSets[] = {{&kNeonKernels, neonKernelSet},
                                           {&kPortableSet, portableKernelSet}};

#else

static const KernelChoice kKernelSets[] = {{&kPortableSet, portableKernelSet}};

#endif

const KernelSet *fastestKernelSetFrom(const char *first) {
  const size_t count = sizeof kKernelSets / sizeof kKernelSets[0];
  size_t i = 0;
  while (first && i + 1 < count && strcmp(kKernelSets[i].set->name, first)) {
    ++i;
  }
  for (; i < count; ++i) {
    const KernelSet *set = kKernelSets[i].runsHere();
    if (set) {
      return set;
    }
  }
  return &kPortableSet;
}

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
