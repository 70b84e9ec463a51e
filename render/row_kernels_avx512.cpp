// The run kernels for x86-64 processors with AVX-512: 16 bytes-pixels or 4
// float pixels a vector. Every lane does the stages' own IEEE operations
// in the stages' order (no fused multiply-add), so the bits are the same.
// Chosen at run time, only where the processor and the operating system
// support the instructions.
#include "row_kernels.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) &&        \
    !defined(VANTOREL_PORTABLE_KERNELS)

#include "numeric.h"

#include <cpuid.h>
#include <immintrin.h>

// GCC's AVX-512 intrinsics start some results from a deliberately undefined
// vector, which its uninitialised-use warnings mistake for a bug.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#define AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi")))

// Lanes [0, n) of a 16-lane vector.
static __mmask16 firstLanes(int64_t n) {
  return n >= 16 ? (__mmask16)0xffff : (__mmask16)((1u << n) - 1u);
}

AVX512 static __m512i bytesOf(uint32_t v) { return _mm512_set1_epi32((int)v); }

// ---------------------------------------------------------------- 8-bit

// A 256-byte table lookup of every byte: two 128-entry permutes, chosen
// by each byte's top bit.
AVX512 static __m512i lookUp(__m512i bytes, const __m512i table[4]) {
  const __m512i low = _mm512_permutex2var_epi8(table[0], bytes, table[1]);
  const __m512i high = _mm512_permutex2var_epi8(table[2], bytes, table[3]);
  return _mm512_mask_blend_epi8(_mm512_movepi8_mask(bytes), low, high);
}

static const __mmask64 kAlphaBytes = 0x8888888888888888ull;

AVX512 static void bytesByTable(const uint8_t *source, uint8_t *output,
                                int64_t count, const RunLook *look) {
  __m512i table[4];
  for (int i = 0; i < 4; ++i) {
    table[i] = _mm512_loadu_si512(look->channel + 64 * i);
  }
  const __m512i opaque = _mm512_set1_epi8((char)0xff);
  for (int64_t i = 0; i < count; i += 16) {
    const __mmask16 lanes = firstLanes(count - i);
    const __m512i p = _mm512_maskz_loadu_epi32(lanes, source + 4 * i);
    const __m512i alpha = look->opaque ? opaque : p;
    const __m512i out =
        _mm512_mask_blend_epi8(kAlphaBytes, lookUp(p, table), alpha);
    _mm512_mask_storeu_epi32(output + 4 * i, lanes, out);
  }
}

// Byte b of every pixel, widened to 32 bits as b * 0x01010101.
AVX512 static __m512i repeatedByte(__m512i pixels, int b) {
  const __m512i pick = _mm512_set1_epi32(0x01010101 * b);
  const __m512i lanes =
      _mm512_set4_epi32(0x0c0c0c0c, 0x08080808, 0x04040404, 0);
  return _mm512_shuffle_epi8(pixels, _mm512_add_epi32(lanes, pick));
}

// A channel byte b's luma term. b / 255 in binary is b's eight bits repeated,
// so b * 0x01010101 holds its first 32 bits; for b in 1..254 the rest
// always rounds that up to the nearest float, and b = 0 and 255 are exact
// that way too. Rounding up to a float and scaling by 2^-32 and the weight
// (the scaling exact) gives the same product as (b / 255.0f) * weight.
AVX512 static __m512 lumaTerm(__m512i pixels, int b, float weight) {
  const __m512 value = _mm512_cvt_roundepu32_ps(
      repeatedByte(pixels, b), _MM_FROUND_TO_POS_INF | _MM_FROUND_NO_EXC);
  return _mm512_mul_ps(value, _mm512_set1_ps(weight * 0x1p-32f));
}

AVX512 static __m512 bytesLuma(__m512i pixels) {
  const __m512 red = lumaTerm(pixels, 0, kLumaRed);
  const __m512 green = lumaTerm(pixels, 1, kLumaGreen);
  const __m512 blue = lumaTerm(pixels, 2, kLumaBlue);
  return _mm512_add_ps(_mm512_add_ps(red, green), blue);
}

// The lanes of each false-colour band, in the order the bands are tested.
typedef struct BandLanes {
  __mmask16 lanes[kFalseColourBands];
} BandLanes;

AVX512 static __mmask16 below(__m512 v, float limit) {
  return _mm512_cmp_ps_mask(v, _mm512_set1_ps(limit), _CMP_LT_OQ);
}

AVX512 static __mmask16 within(__m512 v, float low, float high) {
  const __mmask16 fromLow =
      _mm512_cmp_ps_mask(v, _mm512_set1_ps(low), _CMP_GE_OQ);
  return _mm512_mask_cmp_ps_mask(fromLow, v, _mm512_set1_ps(high), _CMP_LE_OQ);
}

AVX512 static BandLanes bandLanes(__m512 luma) {
  const FalseColourScale &s = kFalseColour;
  BandLanes b;
  b.lanes[kPurpleBand] = below(luma, s.purpleBelow);
  b.lanes[kBlueBand] = below(luma, s.blueBelow);
  b.lanes[kGreenBand] = within(luma, s.greenFrom, s.greenTo);
  b.lanes[kPinkBand] = within(luma, s.pinkFrom, s.pinkTo);
  b.lanes[kRedBand] =
      _mm512_cmp_ps_mask(luma, _mm512_set1_ps(s.redAbove), _CMP_GT_OQ);
  return b;
}

// Earlier bands win, so they are painted last.
AVX512 static __m512i paintBands(__m512i grey, const BandLanes &b,
                                 const __m512i colours[kFalseColourBands]) {
  for (int band = kFalseColourBands - 1; band >= 0; --band) {
    grey = _mm512_mask_mov_epi32(grey, b.lanes[band], colours[band]);
  }
  return grey;
}

// The stored byte of a grey luma, repeated into R, G and B. In bar rows the
// luma is scaled and clamped to 0..1 first; elsewhere a grey luma already
// lies within 0.1..0.95.
AVX512 static __m512i greyBytes(__m512 luma, const RunLook *look) {
  if (look->bar) {
    luma = _mm512_mul_ps(luma, _mm512_set1_ps(look->barFactor));
    luma = _mm512_max_ps(luma, _mm512_setzero_ps());
    luma = _mm512_min_ps(luma, _mm512_set1_ps(1.0f));
  }
  const __m512i v =
      _mm512_cvttps_epi32(_mm512_mul_ps(luma, _mm512_set1_ps(255.0f)));
  const __m512i rgb = _mm512_set4_epi32((int)0x800c0c0c, (int)0x80080808,
                                        (int)0x80040404, (int)0x80000000);
  return _mm512_shuffle_epi8(v, rgb);
}

AVX512 static void bytesFalseColour(const uint8_t *source, uint8_t *output,
                                    int64_t count, const RunLook *look) {
  __m512i colours[kFalseColourBands];
  for (int band = 0; band < kFalseColourBands; ++band) {
    colours[band] = bytesOf(look->bandBytes[band]);
  }
  const __m512i alphaByte = bytesOf(0xff000000u);
  const __m512i opaque = bytesOf(look->opaque ? 0xff000000u : 0);
  for (int64_t i = 0; i < count; i += 16) {
    const __mmask16 lanes = firstLanes(count - i);
    const __m512i p = _mm512_maskz_loadu_epi32(lanes, source + 4 * i);
    const __m512 luma = bytesLuma(p);
    const __m512i rgb =
        paintBands(greyBytes(luma, look), bandLanes(luma), colours);
    // (p & alphaByte) | rgb | opaque
    const __m512i withAlpha =
        _mm512_ternarylogic_epi32(alphaByte, p, rgb, 0xea);
    _mm512_mask_storeu_epi32(output + 4 * i, lanes,
                             _mm512_or_si512(withAlpha, opaque));
  }
}

// ---------------------------------------------------------------- float

static const __mmask16 kColourLanes = 0x7777;
static const __mmask16 kAlphaLanes = 0x8888;

static __mmask16 firstPixels(int64_t n) {
  return n >= 4 ? (__mmask16)0xffff : (__mmask16)((1u << (4 * n)) - 1u);
}

AVX512 static __m512 pixelsOf(WorkPixel p) {
  return _mm512_broadcast_f32x4(_mm_setr_ps(p.r, p.g, p.b, p.a));
}

// Alpha passes, or becomes 1; no arithmetic touches it.
AVX512 static __m512 withAlpha(__m512 rgb, __m512 source, const RunLook *look) {
  const __m512 alpha = look->opaque ? _mm512_set1_ps(1.0f) : source;
  return _mm512_mask_mov_ps(rgb, kAlphaLanes, alpha);
}

AVX512 static void floatsAnalysed(const uint8_t *source, uint8_t *output,
                                  int64_t count, const RunLook *look,
                                  bool legalize) {
  const __m512 span = _mm512_set1_ps(kLegalSpan);
  const __m512 legalFloor = _mm512_set1_ps(kLegalFloor);
  const bool barRow = look->bar;
  const __m512 bar = _mm512_set1_ps(look->barFactor);
  for (int64_t i = 0; i < count; i += 4) {
    const __mmask16 lanes = firstPixels(count - i);
    const __m512 p = _mm512_maskz_loadu_ps(lanes, source + 16 * i);
    __m512 v = p;
    if (legalize) {
      v = _mm512_mask_mul_ps(v, kColourLanes, v, span);
      v = _mm512_mask_add_ps(v, kColourLanes, legalFloor, v);
    }
    if (barRow) {
      v = _mm512_mask_mul_ps(v, kColourLanes, v, bar);
    }
    _mm512_mask_storeu_ps(output + 16 * i, lanes, withAlpha(v, p, look));
  }
}

// Each pixel's luma in all four of its lanes.
AVX512 static __m512 floatsLuma(__m512 pixels) {
  const __m512 weights = _mm512_broadcast_f32x4(
      _mm_setr_ps(kLumaRed, kLumaGreen, kLumaBlue, 0.0f));
  const __m512 terms = _mm512_maskz_mul_ps(kColourLanes, pixels, weights);
  const __m512 green = _mm512_permute_ps(terms, _MM_SHUFFLE(1, 1, 1, 1));
  const __m512 blue = _mm512_permute_ps(terms, _MM_SHUFFLE(2, 2, 2, 2));
  const __m512 sum = _mm512_add_ps(_mm512_add_ps(terms, green), blue);
  return _mm512_permute_ps(sum, _MM_SHUFFLE(0, 0, 0, 0));
}

AVX512 static int64_t floatsFalseColour(const uint8_t *source, uint8_t *output,
                                        int64_t count, const RunLook *look) {
  __m512i colours[kFalseColourBands];
  for (int band = 0; band < kFalseColourBands; ++band) {
    colours[band] = _mm512_castps_si512(pixelsOf(look->bandColours[band]));
  }
  const bool barRow = look->bar;
  const __m512 bar = _mm512_set1_ps(look->barFactor);
  for (int64_t i = 0; i < count; i += 4) {
    const __mmask16 lanes = firstPixels(count - i);
    const __m512 p = _mm512_maskz_loadu_ps(lanes, source + 16 * i);
    const __m512 luma = floatsLuma(p);
    if (_mm512_mask_cmp_ps_mask(lanes, luma, luma, _CMP_UNORD_Q) != 0) {
      const int64_t n = count - i < 4 ? count - i : 4;
      const int64_t done = portableKernels().floatsFalseColour(
          source + 16 * i, output + 16 * i, n, look);
      if (done < n) {
        return i + done;
      }
      continue;
    }
    const __m512 grey = barRow ? _mm512_mul_ps(luma, bar) : luma;
    const __m512i painted =
        paintBands(_mm512_castps_si512(grey), bandLanes(luma), colours);
    _mm512_mask_storeu_ps(output + 16 * i, lanes,
                          withAlpha(_mm512_castsi512_ps(painted), p, look));
  }
  return count;
}

// ---------------------------------------------------------------- choice

static bool processorRunsAvx512(void) {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_OSXSAVE)) {
    return false;
  }
  unsigned low, high;
  __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  const unsigned savedStates = 0xe6; // SSE, AVX, opmask and ZMM registers
  if ((low & savedStates) != savedStates) {
    return false;
  }
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) {
    return false;
  }
  return (b & bit_AVX512F) && (b & bit_AVX512BW) && (c & bit_AVX512VBMI);
}

// The byte luma terms above assume the stages' own division rounds to
// nearest, which is the default; a host that changed the rounding mode
// gets the portable kernels.
static bool roundsToNearest(void) { return (_mm_getcsr() & 0x6000) == 0; }

bool chooseAvx512Kernels(RowKernels *kernels) {
  if (!processorRunsAvx512() || !roundsToNearest()) {
    return false;
  }
  kernels->bytesByTable = bytesByTable;
  kernels->bytesFalseColour = bytesFalseColour;
  kernels->floatsAnalysed = floatsAnalysed;
  kernels->floatsFalseColour = floatsFalseColour;
  return true;
}

#else

bool chooseAvx512Kernels(RowKernels *) { return false; }

#endif
