// 8-bit false colour by buckets, for x86-64 processors with AVX-512 (F, BW
// and VBMI): 16 pixels a vector. The one kernel that is not the wide
// kernels' grid: on those processors it runs the benchmark's 8-bit false
// colour in about 0.6 of the grid's time at 512 bits (bench/RESULTS.md).
// Every lane does the stages' own IEEE operations in the stages' order, so
// the bits are the same; the one fused multiply-add (greyOfByteLuma) stands
// where it gives the same bits for every input it can meet when rounding
// to nearest (the only mode the row renderer runs kernels in). This file
// alone is compiled for AVX-512; it holds no code that runs before the
// dispatch has checked the processor.
#include "row_kernels.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#if !defined(__AVX512F__) || !defined(__AVX512BW__) || !defined(__AVX512VBMI__)
#error                                                                         \
    "row_kernels_avx512.cpp is compiled with -mavx512f -mavx512bw -mavx512vbmi"
#endif

#include "false_colour_classes.h"
#include "run_shape.h"

#include <immintrin.h>

// GCC's AVX-512 intrinsics start some results from a deliberately undefined
// vector (conversions, shifts, permutes, min and max, broadcasts), which
// its uninitialised-use warnings mistake for a bug.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace {

// ---------------------------------------------------------------- tables

// The bands by bucket: a luma lies in bucket trunc(clamp(luma, 0, 1) *
// 255) / 16 and changes class there only at limit[bucket] (+infinity where
// none lies in the bucket), one comparison a luma.
static constexpr int bucketOf(float luma) {
  const float clamped = luma < 0.0f ? 0.0f : (luma > 1.0f ? 1.0f : luma);
  return (int32_t)(clamped * 255.0f) >> 4;
}

// Each byte a pick reads for a band colour's R, G or B: the grey's (0 in
// its lane; the grey band), the zero next to it (kPickZero), or the band
// values' (kPickValues + k). The band colours' non-zero channels take at
// most four values, so the band values of a frame (those values through
// its bars) fit one 32-bit lane; a zero channel stays zero through any
// bars.
enum { kPickGrey = 0, kPickZero = 1, kPickValues = 64, kMostBandValues = 4 };

static constexpr float channelOf(const Colour &colour, int c) {
  return c == 0 ? colour.r : (c == 1 ? colour.g : colour.b);
}

// The distinct non-zero channels of the band colours, in the order met.
struct BandValues {
  int count;
  int8_t band[3 * kFalseColourBands], channel[3 * kFalseColourBands];
};

static constexpr BandValues bandValuesOf(void) {
  BandValues v = {};
  for (int band = 0; band < kFalseColourBands; ++band) {
    for (int c = 0; c < 3; ++c) {
      const float value = channelOf(kFalseColour.colours[band], c);
      bool met = value == 0.0f;
      for (int k = 0; k < v.count; ++k) {
        met = met ||
              channelOf(kFalseColour.colours[v.band[k]], v.channel[k]) == value;
      }
      if (!met) {
        v.band[v.count] = (int8_t)band;
        v.channel[v.count] = (int8_t)c;
        ++v.count;
      }
    }
  }
  return v;
}

static constexpr BandValues kBandValues = bandValuesOf();
static_assert(kBandValues.count <= kMostBandValues,
              "the band values fit a 32-bit lane");

// Where a band colour's R, G and B bytes are picked from (bytes 0 to 2).
static constexpr uint32_t bandPickOf(int band) {
  if (band == kGreyBand) {
    return kPickGrey;
  }
  uint32_t pick = 0;
  for (int c = 0; c < 3; ++c) {
    const float value = channelOf(kFalseColour.colours[band], c);
    uint32_t place = kPickZero;
    for (int k = kBandValues.count - 1; k >= 0; --k) {
      if (value != 0.0f && channelOf(kFalseColour.colours[kBandValues.band[k]],
                                     kBandValues.channel[k]) == value) {
        place = kPickValues + k;
      }
    }
    pick |= place << (8 * c);
  }
  return pick;
}

struct BucketTables {
  float limit[16];
  uint32_t pickBelow[16], pickAbove[16];
};

static constexpr BucketTables bucketTablesOf(void) {
  BucketTables t = {};
  for (int bucket = 0, c = 0; bucket < 16; ++bucket) {
    t.limit[bucket] = __builtin_inff();
    t.pickBelow[bucket] = t.pickAbove[bucket] = bandPickOf(kClassBand[c]);
    if (c < kLumaClasses - 1 && bucketOf(kClassLimits[c]) == bucket) {
      t.limit[bucket] = kClassLimits[c];
      t.pickAbove[bucket] = bandPickOf(kClassBand[++c]);
    }
  }
  return t;
}

static constexpr BucketTables kBuckets = bucketTablesOf();

// Every limit (they ascend, false_colour_classes.h) in a bucket of its own.
static constexpr bool bucketsFit(void) {
  for (int c = 0; c < kLumaClasses - 1; ++c) {
    if (kBuckets.limit[bucketOf(kClassLimits[c])] != kClassLimits[c]) {
      return false;
    }
  }
  return true;
}
static_assert(bucketsFit(), "one limit a bucket at most");

// ---------------------------------------------------------------- kernel

// Lanes [0, n) of a 16-lane vector.
static __mmask16 firstLanes(int64_t n) {
  return n >= 16 ? (__mmask16)0xffff : (__mmask16)((1u << n) - 1u);
}

// What the kernel holds in registers.
struct BucketSetup {
  __m512 weights[3]; // luma weights times 2^-32
  __m512 limits;     // by bucket
  __m512i pickBelow, pickAbove;
  __m512i aboveBit;
  __m512 barFactor;
  __m512i laneStarts; // 4 * lane in each lane's R, G and B bytes
  __m512i bandValues; // the frame's band values, repeated
  __m512i alphaByte;
};

static const uint32_t kLaneStarts[16] = {
    0x000000, 0x040404, 0x080808, 0x0c0c0c, 0x101010, 0x141414,
    0x181818, 0x1c1c1c, 0x202020, 0x242424, 0x282828, 0x2c2c2c,
    0x303030, 0x343434, 0x383838, 0x3c3c3c};

// The kernel's own per-frame setup: the look's band values, each value's
// stored byte (taken from a band colour it is a channel of) in its byte.
struct BandValueBytes {
  uint32_t bytes;
};

static void prepareBucketFalseColour(const RunLook *look, RunSetup *setup) {
  uint32_t values = 0;
  for (int k = 0; k < kBandValues.count; ++k) {
    const uint32_t colour = look->bandBytes[kBandValues.band[k]];
    values |= (colour >> (8 * kBandValues.channel[k]) & 0xff) << (8 * k);
  }
  setupAs<BandValueBytes>(setup)->bytes = values;
}

static BucketSetup bucketSetupOf(const RunLook *look, uint32_t bandValues) {
  BucketSetup c;
  const float weights[3] = {kLumaRed, kLumaGreen, kLumaBlue};
  for (int i = 0; i < 3; ++i) {
    c.weights[i] = _mm512_set1_ps(weights[i] * 0x1p-32f);
  }
  c.limits = _mm512_loadu_ps(kBuckets.limit);
  c.pickBelow = _mm512_loadu_si512(kBuckets.pickBelow);
  c.pickAbove = _mm512_loadu_si512(kBuckets.pickAbove);
  c.aboveBit = _mm512_set1_epi32(16);
  c.barFactor = _mm512_set1_ps(look->barFactor);
  c.laneStarts = _mm512_loadu_si512(kLaneStarts);
  c.bandValues = _mm512_set1_epi32((int)bandValues);
  c.alphaByte = _mm512_set1_epi32((int)0xff000000u);
  return c;
}

// Byte b of every pixel, widened to 32 bits as b * 0x01010101.
static __m512i repeatedByte(__m512i pixels, int b) {
  const __m512i pick = _mm512_set1_epi32(0x01010101 * b);
  const __m512i lanes =
      _mm512_set4_epi32(0x0c0c0c0c, 0x08080808, 0x04040404, 0);
  return _mm512_shuffle_epi8(pixels, _mm512_add_epi32(lanes, pick));
}

// A channel byte b's luma term. b / 255 in binary is b's eight bits
// repeated, so b * 0x01010101 holds its first 32 bits; for b in 1..254 the
// rest always rounds that up to the nearest float, and b = 0 and 255 are
// exact. Rounding up to a float, then scaling by 2^-32 and the weight (the
// scaling exact) gives the product (b / 255.0f) * weight.
static inline __m512 lumaTerm(__m512i pixels, int b, __m512 weight) {
  const __m512 value = _mm512_cvt_roundepu32_ps(
      repeatedByte(pixels, b), _MM_FROUND_TO_POS_INF | _MM_FROUND_NO_EXC);
  return _mm512_mul_ps(value, weight);
}

static inline __m512i storedGrey(__m512 v) {
  return _mm512_cvttps_epi32(_mm512_mul_ps(v, _mm512_set1_ps(255.0f)));
}

// The stored grey of a luma formed from three bytes, as the low byte of
// 2^23 + grey: luma * 255 + 2^23, rounded once toward zero, keeps the whole
// part of the exact product. The store truncates the product rounded to a
// float instead; the two differ only when a product lies within half a
// float step below a whole number, which no luma of three bytes does (all
// 2^24 of them checked), so this is storedGrey's byte in one operation.
static inline __m512i greyOfByteLuma(__m512 luma) {
  return _mm512_castps_si512(_mm512_fmadd_round_ps(
      luma, _mm512_set1_ps(255.0f), _mm512_set1_ps(0x1p23f),
      _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC));
}

// What the first step over 16 pixels leaves for the second.
struct LumaAndGrey {
  __m512 luma;
  __m512i grey; // the stored luma in the low byte, before any bars
};

// 16 pixels in two steps. The band comes from the luma's bucket and one
// comparison; the grey is the stored luma, scaled (and clamped) first in
// bar rows; elsewhere a grey luma lies within 0.1..0.95 already. Each
// output byte is then picked from the greys and the band values.
static inline LumaAndGrey analyse(__m512i p, const BucketSetup &c) {
  const __m512 red = lumaTerm(p, 0, c.weights[0]);
  const __m512 green = lumaTerm(p, 1, c.weights[1]);
  const __m512 blue = lumaTerm(p, 2, c.weights[2]);
  const __m512 luma = _mm512_add_ps(_mm512_add_ps(red, green), blue);
  const LumaAndGrey a = {luma, greyOfByteLuma(luma)};
  return a;
}

template <typename Shape>
static inline __m512i finish(__m512i p, LumaAndGrey a, const BucketSetup &c) {
  // The lookups below read only an index's low five bits.
  const __m512i bucket = _mm512_srli_epi32(a.grey, 4);
  const __mmask16 aboveLimit = _mm512_cmp_ps_mask(
      a.luma, _mm512_permutexvar_ps(bucket, c.limits), _CMP_GE_OQ);
  const __m512i pick = _mm512_permutex2var_epi32(
      c.pickBelow, _mm512_mask_or_epi32(bucket, aboveLimit, bucket, c.aboveBit),
      c.pickAbove);
  // The greys: the stored luma in each lane's low byte, zero in the next.
  __m512i shown = a.grey;
  if (Shape::bars == kBars) {
    shown = storedGrey(_mm512_mul_ps(a.luma, c.barFactor));
  } else if (Shape::bars == kBarsClamped) {
    __m512 v = _mm512_mul_ps(a.luma, c.barFactor);
    v = _mm512_max_ps(v, _mm512_setzero_ps());
    shown = storedGrey(_mm512_min_ps(v, _mm512_set1_ps(1.0f)));
  }
  // Where each R, G and B byte comes from among the greys (bytes 0 to 63)
  // and the band values (64 to 127); the alpha byte, kept or 255, rides in
  // the same vector and the permute leaves it there.
  const __mmask64 colourBytes = 0x7777777777777777ull;
  const __m512i places = _mm512_mask_add_epi8(Shape::opaque ? c.alphaByte : p,
                                              colourBytes, c.laneStarts, pick);
  return _mm512_mask2_permutex2var_epi8(shown, places, colourBytes,
                                        c.bandValues);
}

enum { kVectorsAPass = 8 };

// Each group of kVectorsAPass vectors goes through the first step, then
// the second. A vector's steps form one long chain of dependent
// operations; taking the group's first steps together lets the processor
// overlap them instead of waiting on each chain. The rest of the run goes
// a vector at a time, the last under a mask.
template <typename Shape>
static int64_t bucketFalseColour(const uint8_t *source, uint8_t *output,
                                 int64_t count, const BucketSetup &c) {
  const int64_t group = 16 * kVectorsAPass;
  int64_t i = 0;
  for (; i + group <= count; i += group) {
    LumaAndGrey a[kVectorsAPass];
    for (int v = 0; v < kVectorsAPass; ++v) {
      a[v] = analyse(_mm512_loadu_si512(source + 4 * (i + 16 * v)), c);
    }
    for (int v = 0; v < kVectorsAPass; ++v) {
      const int64_t at = 4 * (i + 16 * v);
      _mm512_storeu_si512(
          output + at, finish<Shape>(_mm512_loadu_si512(source + at), a[v], c));
    }
  }
  for (; i < count; i += 16) {
    const __mmask16 lanes = firstLanes(count - i);
    const __m512i p = _mm512_maskz_loadu_epi32(lanes, source + 4 * i);
    _mm512_mask_storeu_epi32(output + 4 * i, lanes,
                             finish<Shape>(p, analyse(p, c), c));
  }
  return count;
}

int64_t bytesFalseColour(const uint8_t *source, uint8_t *output, int64_t count,
                         const RunLook *look, const RunSetup *setup) {
  const BucketSetup c =
      bucketSetupOf(look, setupOf<BandValueBytes>(setup).bytes);
  return drawByShape<kShapeClamp>(look, [&](auto shape) {
    return bucketFalseColour<decltype(shape)>(source, output, count, c);
  });
}

} // namespace

extern const RunKernel kBucketFalseColour512 = {prepareBucketFalseColour,
                                                bytesFalseColour};

#endif
