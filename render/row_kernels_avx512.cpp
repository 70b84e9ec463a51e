// The 8-bit run kernels for x86-64 processors with AVX-512: 16 pixels a
// vector (the float runs take the AVX2 kernels, which measured faster on
// the same processors). Every lane does the stages' own IEEE operations
// in the stages' order, so the bits are the same; the one fused
// multiply-add (greyOfByteLuma) stands where it gives the same bits for
// every input it can meet when rounding to nearest (the only mode the row
// renderer runs kernels in). Chosen at run time, only where the processor and
// the operating system support the instructions (row_kernels.cpp).
#include "row_kernels.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

#include "numeric.h"

#include <immintrin.h>
#include <string.h>

#define AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi")))

// GCC's AVX-512 intrinsics start some results from a deliberately undefined
// vector (conversions, shifts, permutes, min and max, broadcasts), which
// its uninitialised-use warnings mistake for a bug. Only the helpers that
// call those intrinsics turn the two warnings off, around themselves.
#if defined(__GNUC__) && !defined(__clang__)
#define UNDEFINED_LANES_BEGIN                                                  \
  _Pragma("GCC diagnostic push")                                               \
      _Pragma("GCC diagnostic ignored \"-Wuninitialized\"")                    \
          _Pragma("GCC diagnostic ignored \"-Wmaybe-uninitialized\"")
#define UNDEFINED_LANES_END _Pragma("GCC diagnostic pop")
#else
#define UNDEFINED_LANES_BEGIN
#define UNDEFINED_LANES_END
#endif

// Lanes [0, n) of a 16-lane vector.
static __mmask16 firstLanes(int64_t n) {
  return n >= 16 ? (__mmask16)0xffff : (__mmask16)((1u << n) - 1u);
}

AVX512 static __m512i bytesOf(uint32_t v) { return _mm512_set1_epi32((int)v); }

// Runs Kernel::pixels over a run of 16 8-bit pixels a vector, the last
// vector under a mask.
template <typename Kernel>
AVX512 static void byteVectors(const uint8_t *source, uint8_t *output,
                               int64_t count, const typename Kernel::Setup &c) {
  int64_t i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m512i p = _mm512_loadu_si512(source + 4 * i);
    _mm512_storeu_si512(output + 4 * i, Kernel::pixels(p, c));
  }
  if (i < count) {
    const __mmask16 lanes = firstLanes(count - i);
    const __m512i p = _mm512_maskz_loadu_epi32(lanes, source + 4 * i);
    _mm512_mask_storeu_epi32(output + 4 * i, lanes, Kernel::pixels(p, c));
  }
}

// ---------------------------------------------------------------- 8-bit table

typedef struct ByteTable {
  __m512i table[4];
  __m512i opaque;
} ByteTable;

// R, G and B through a 256-byte table (two 128-entry permutes, chosen by
// each byte's top bit); alpha passes or becomes 255.
template <bool Opaque> struct ByTable {
  typedef ByteTable Setup;
  AVX512 static inline __m512i pixels(__m512i p, const ByteTable &c) {
    const __m512i low = _mm512_permutex2var_epi8(c.table[0], p, c.table[1]);
    const __m512i high = _mm512_permutex2var_epi8(c.table[2], p, c.table[3]);
    const __m512i rgb =
        _mm512_mask_blend_epi8(_mm512_movepi8_mask(p), low, high);
    const __mmask64 alphaBytes = 0x8888888888888888ull;
    return _mm512_mask_blend_epi8(alphaBytes, rgb, Opaque ? c.opaque : p);
  }
};

// A table with a fitted formula goes to the AVX2 kernel, which forms it
// with 16-bit multiplies and measured faster than the permutes. The same
// formula on 512-bit vectors ran faster on rows in the cache, but slower
// than the AVX2 kernel over a whole 1920x1080 frame.
AVX512 static void bytesByTable(const uint8_t *source, uint8_t *output,
                                int64_t count, const RunLook *look) {
  if (look->channelFitted) {
    avx2BytesByTable(source, output, count, look);
    return;
  }
  ByteTable c;
  for (int i = 0; i < 4; ++i) {
    c.table[i] = _mm512_loadu_si512(look->channel + 64 * i);
  }
  c.opaque = _mm512_set1_epi8((char)0xff);
  if (look->opaque) {
    byteVectors<ByTable<true>>(source, output, count, c);
  } else {
    byteVectors<ByTable<false>>(source, output, count, c);
  }
}

// ---------------------------------------------------------------- false colour

// Byte b of every pixel, widened to 32 bits as b * 0x01010101.
AVX512 static __m512i repeatedByte(__m512i pixels, int b) {
  const __m512i pick = _mm512_set1_epi32(0x01010101 * b);
  const __m512i lanes =
      _mm512_set4_epi32(0x0c0c0c0c, 0x08080808, 0x04040404, 0);
  return _mm512_shuffle_epi8(pixels, _mm512_add_epi32(lanes, pick));
}

// What the 8-bit false-colour kernel holds in registers.
typedef struct BytesFalseColour {
  __m512 weights[3]; // luma weights times 2^-32
  __m512 limits;     // by bucket
  __m512i pickBelow, pickAbove;
  __m512i aboveBit;
  __m512 barFactor;
  __m512i laneStarts; // 4 * lane in each lane's R, G and B bytes
  __m512i bandValues; // look->bandValues, repeated
  __m512i alphaByte;
} BytesFalseColour;

static const uint32_t kLaneStarts[16] = {
    0x000000, 0x040404, 0x080808, 0x0c0c0c, 0x101010, 0x141414,
    0x181818, 0x1c1c1c, 0x202020, 0x242424, 0x282828, 0x2c2c2c,
    0x303030, 0x343434, 0x383838, 0x3c3c3c};

AVX512 static BytesFalseColour bytesFalseColourFor(const RunLook *look) {
  BytesFalseColour c;
  const float weights[3] = {kLumaRed, kLumaGreen, kLumaBlue};
  for (int i = 0; i < 3; ++i) {
    c.weights[i] = _mm512_set1_ps(weights[i] * 0x1p-32f);
  }
  c.limits = _mm512_loadu_ps(look->bucketLimit);
  c.pickBelow = _mm512_loadu_si512(look->bucketPickBelow);
  c.pickAbove = _mm512_loadu_si512(look->bucketPickAbove);
  c.aboveBit = _mm512_set1_epi32(16);
  c.barFactor = _mm512_set1_ps(look->barFactor);
  c.laneStarts = _mm512_loadu_si512(kLaneStarts);
  uint32_t values;
  memcpy(&values, look->bandValues, sizeof values);
  c.bandValues = bytesOf(values);
  c.alphaByte = bytesOf(0xff000000u);
  return c;
}

// A channel byte b's luma term. b / 255 in binary is b's eight bits
// repeated, so b * 0x01010101 holds its first 32 bits; for b in 1..254 the
// rest always rounds that up to the nearest float, and b = 0 and 255 are
// exact. Rounding up to a float, then scaling by 2^-32 and the weight (the
// scaling exact) gives the product (b / 255.0f) * weight.
UNDEFINED_LANES_BEGIN
AVX512 static inline __m512 lumaTerm(__m512i pixels, int b, __m512 weight) {
  const __m512 value = _mm512_cvt_roundepu32_ps(
      repeatedByte(pixels, b), _MM_FROUND_TO_POS_INF | _MM_FROUND_NO_EXC);
  return _mm512_mul_ps(value, weight);
}
UNDEFINED_LANES_END

UNDEFINED_LANES_BEGIN
AVX512 static inline __m512i storedGrey(__m512 v) {
  return _mm512_cvttps_epi32(_mm512_mul_ps(v, _mm512_set1_ps(255.0f)));
}
UNDEFINED_LANES_END

// The stored grey of a luma formed from three bytes, as the low byte of
// 2^23 + grey: luma * 255 + 2^23, rounded once toward zero, keeps the whole
// part of the exact product. The store truncates the product rounded to a
// float instead; the two differ only when a product lies within half a
// float step below a whole number, which no luma of three bytes does (all
// 2^24 of them checked), so this is storedGrey's byte in one operation.
AVX512 static inline __m512i greyOfByteLuma(__m512 luma) {
  return _mm512_castps_si512(_mm512_fmadd_round_ps(
      luma, _mm512_set1_ps(255.0f), _mm512_set1_ps(0x1p23f),
      _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC));
}

// How a row's bars treat an 8-bit grey: none; a factor within 0..1, which
// keeps a luma (0 to just above 1) where the store's clamp changes nothing;
// any other factor.
enum ByteBars { kNoBars, kBarsWithin, kBarsClamped };

// What the first pass over 16 pixels leaves for the second.
typedef struct LumaAndGrey {
  __m512 luma;
  __m512i grey; // the stored luma in the low byte, before any bars
} LumaAndGrey;

// 16 pixels in two steps. The band comes from the luma's bucket and one
// comparison; the grey is the stored luma, scaled (and clamped) first in
// bar rows; elsewhere a grey luma lies within 0.1..0.95 already. Each
// output byte is then picked from the greys and the band values.
template <ByteBars Bars, bool Opaque> struct FalseColourBytes {
  typedef BytesFalseColour Setup;
  typedef LumaAndGrey Analysis;
  AVX512 static inline LumaAndGrey analyse(__m512i p,
                                           const BytesFalseColour &c);
  AVX512 static inline __m512i finish(__m512i p, LumaAndGrey a,
                                      const BytesFalseColour &c);
  AVX512 static inline __m512i pixels(__m512i p, const BytesFalseColour &c) {
    return finish(p, analyse(p, c), c);
  }
};

template <ByteBars Bars, bool Opaque>
AVX512 inline LumaAndGrey
FalseColourBytes<Bars, Opaque>::analyse(__m512i p, const BytesFalseColour &c) {
  const __m512 red = lumaTerm(p, 0, c.weights[0]);
  const __m512 green = lumaTerm(p, 1, c.weights[1]);
  const __m512 blue = lumaTerm(p, 2, c.weights[2]);
  const __m512 luma = _mm512_add_ps(_mm512_add_ps(red, green), blue);
  const LumaAndGrey a = {luma, greyOfByteLuma(luma)};
  return a;
}

UNDEFINED_LANES_BEGIN
template <ByteBars Bars, bool Opaque>
AVX512 inline __m512i
FalseColourBytes<Bars, Opaque>::finish(__m512i p, LumaAndGrey a,
                                       const BytesFalseColour &c) {
  // The lookups below read only an index's low five bits.
  const __m512i bucket = _mm512_srli_epi32(a.grey, 4);
  const __mmask16 aboveLimit = _mm512_cmp_ps_mask(
      a.luma, _mm512_permutexvar_ps(bucket, c.limits), _CMP_GE_OQ);
  const __m512i pick = _mm512_permutex2var_epi32(
      c.pickBelow, _mm512_mask_or_epi32(bucket, aboveLimit, bucket, c.aboveBit),
      c.pickAbove);
  // The greys: the stored luma in each lane's low byte, zero in the next.
  __m512i shown = a.grey;
  if (Bars == kBarsWithin) {
    shown = storedGrey(_mm512_mul_ps(a.luma, c.barFactor));
  } else if (Bars == kBarsClamped) {
    __m512 v = _mm512_mul_ps(a.luma, c.barFactor);
    v = _mm512_max_ps(v, _mm512_setzero_ps());
    shown = storedGrey(_mm512_min_ps(v, _mm512_set1_ps(1.0f)));
  }
  // Where each R, G and B byte comes from among the greys (bytes 0 to 63)
  // and the band values (64 to 127); the alpha byte, kept or 255, rides in
  // the same vector and the permute leaves it there.
  const __mmask64 colourBytes = 0x7777777777777777ull;
  const __m512i places = _mm512_mask_add_epi8(Opaque ? c.alphaByte : p,
                                              colourBytes, c.laneStarts, pick);
  return _mm512_mask2_permutex2var_epi8(shown, places, colourBytes,
                                        c.bandValues);
}
UNDEFINED_LANES_END

enum { kVectorsAPass = 8 };

// Runs a two-step kernel over a run: each group of kVectorsAPass vectors
// goes through the first step, then the second. A vector's steps form one
// long chain of dependent operations; taking the group's first steps
// together lets the processor overlap them instead of waiting on each
// chain. The rest of the run goes a vector at a time.
template <typename Kernel>
AVX512 static void byteVectorsInTwoPasses(const uint8_t *source,
                                          uint8_t *output, int64_t count,
                                          const typename Kernel::Setup &c) {
  const int64_t group = 16 * kVectorsAPass;
  int64_t i = 0;
  for (; i + group <= count; i += group) {
    typename Kernel::Analysis a[kVectorsAPass];
    for (int v = 0; v < kVectorsAPass; ++v) {
      a[v] = Kernel::analyse(_mm512_loadu_si512(source + 4 * (i + 16 * v)), c);
    }
    for (int v = 0; v < kVectorsAPass; ++v) {
      const int64_t at = 4 * (i + 16 * v);
      _mm512_storeu_si512(
          output + at,
          Kernel::finish(_mm512_loadu_si512(source + at), a[v], c));
    }
  }
  byteVectors<Kernel>(source + 4 * i, output + 4 * i, count - i, c);
}

AVX512 static void bytesFalseColour(const uint8_t *source, uint8_t *output,
                                    int64_t count, const RunLook *look) {
  if (!look->bucketsFit || !look->bandsPickable) {
    portableKernels().bytesFalseColour(source, output, count, look);
    return;
  }
  const BytesFalseColour c = bytesFalseColourFor(look);
  const float k = look->barFactor;
  if (!look->bar) {
    byteVectorsInTwoPasses<FalseColourBytes<kNoBars, false>>(source, output,
                                                             count, c);
  } else if (k >= 0.0f && k <= 1.0f) {
    if (look->opaque) {
      byteVectorsInTwoPasses<FalseColourBytes<kBarsWithin, true>>(
          source, output, count, c);
    } else {
      byteVectorsInTwoPasses<FalseColourBytes<kBarsWithin, false>>(
          source, output, count, c);
    }
  } else if (look->opaque) {
    byteVectorsInTwoPasses<FalseColourBytes<kBarsClamped, true>>(source, output,
                                                                 count, c);
  } else {
    byteVectorsInTwoPasses<FalseColourBytes<kBarsClamped, false>>(
        source, output, count, c);
  }
}

// ---------------------------------------------------------------- the set

const KernelSet kAvx512Kernels = {"AVX-512",
                                  {bytesByTable, bytesFalseColour,
                                   avx2FloatsAnalysed, avx2FloatsFalseColour}};

#endif
