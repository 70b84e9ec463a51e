// The run kernels for x86-64 processors with AVX2: 8 8-bit pixels or 2
// float pixels a vector. This file alone is compiled for AVX2; it holds no
// code that runs before the dispatch has checked the processor.
#include "row_kernels.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#if !defined(__AVX2__)
#error "row_kernels_avx2.cpp is compiled with -mavx2"
#endif

#define VANTOREL_WIDE_BYTES 32
#include "row_kernels_wide.h"

#include <immintrin.h>

namespace {

// ------------------------------------------------- 8-bit false colour, by grid
//
// Outside bar rows, an 8-bit pixel's false colour depends only on where its
// luma L lies on a grid of 1/5100 steps: the stored grey is trunc(255 L)
// and every band edge is a whole hundredth, so both change only on the
// grid (5100 = 255 * 20 = 100 * 51). The kernel forms the integer
//   I = r * W_R + g * W_G + b * W_B,   W_c = round(weight_c * 20 * 2^16),
// close to 5100 L * 2^16, and takes q = I >> 16 as the luma's grid step:
// the grey is q / 20 and the band comes from q / 51, the luma's
// hundredths. Only near a grid line can the float rounding of L (or of
// the weights) put the luma on the other side: over all 2^24 byte
// triples, every pixel this gets wrong has I within 15 units of a grid
// line (the every-triple test checks the kernel). A vector with any lane
// within kGridMargin units goes through the per-lane float kernel instead.
enum { kGridShift = 16, kGridMargin = 16 };

struct GridFalseColour {
  __m256i digits[3]; // of the weights, by place, as signed bytes by channel
  __m256i classBase, classStep;        // by eighth of hundredths
  __m256i red, green, blue, greyLanes; // by class
};

__m256i bothHalves(const void *bytes) {
  return _mm256_broadcastsi128_si256(
      _mm_loadu_si128(static_cast<const __m128i *>(bytes)));
}

GridFalseColour gridFalseColourFor(const RunLook *look) {
  GridFalseColour g;
  const float weights[3] = {kLumaRed, kLumaGreen, kLumaBlue};
  uint32_t digits[3] = {0, 0, 0};
  for (int c = 0; c < 3; ++c) {
    int32_t w = (int32_t)((double)weights[c] * (20 << kGridShift) + 0.5);
    for (int place = 0; place < 3; ++place) {
      const int32_t digit = ((w + 64) & 127) - 64;
      digits[place] |= (uint32_t)(digit & 0xff) << (8 * c);
      w = (w - digit) / 128;
    }
  }
  for (int place = 0; place < 3; ++place) {
    g.digits[place] = _mm256_set1_epi32((int32_t)digits[place]);
  }
  g.classBase = bothHalves(look->gridClassBase);
  g.classStep = bothHalves(look->gridClassStep);
  g.red = bothHalves(look->gridClassBytes[0]);
  g.green = bothHalves(look->gridClassBytes[1]);
  g.blue = bothHalves(look->gridClassBytes[2]);
  g.greyLanes = bothHalves(look->gridClassGrey);
  return g;
}

// Each pixel's I, as a 32-bit lane. Each weight is written as three
// digits in -64..63 (W = 128^2 d2 + 128 d1 + d0; the largest weight's top
// digit is 57); a place's digits times the bytes go through one byte
// multiply-add, whose pair sums stay within 16 bits (255 * 128), and the
// places are summed with one 16-bit multiply-add each. The sum is the same
// integer as the full products'.
inline __m256i gridSums(__m256i pixels, const GridFalseColour &g) {
  return _mm256_add_epi32(
      _mm256_add_epi32(
          _mm256_madd_epi16(_mm256_maddubs_epi16(pixels, g.digits[2]),
                            _mm256_set1_epi16(128 * 128)),
          _mm256_madd_epi16(_mm256_maddubs_epi16(pixels, g.digits[1]),
                            _mm256_set1_epi16(128))),
      _mm256_madd_epi16(_mm256_maddubs_epi16(pixels, g.digits[0]),
                        _mm256_set1_epi16(1)));
}

// The lanes of two vectors of sums within the margin of a grid line, as
// 16-bit lanes (those of `a` in the low halves): f = I mod 2^16 is near
// when (f + margin) mod 2^16 < 2 * margin, compared as signed.
inline __m256i nearGridLine(__m256i a, __m256i b) {
  const __m256i fractions =
      _mm256_blend_epi16(a, _mm256_slli_epi32(b, 16), 0xaa);
  const __m256i shifted =
      _mm256_add_epi16(fractions, _mm256_set1_epi16(kGridMargin - 0x8000));
  return _mm256_cmpgt_epi16(_mm256_set1_epi16(2 * kGridMargin - 0x8000),
                            shifted);
}

// 32 pixels from four vectors. The steps are packed to bytes (greys and
// hundredths), classed and coloured a byte a lane, and unpacked again: the
// unpacks undo the packs' lane order. Alpha passes. The lanes near a grid
// line are set in `near`, by pair of vectors.
inline void gridGroup(const uint8_t *source, uint8_t *output,
                      const GridFalseColour &g, __m256i near[2]) {
  __m256i p[4], sum[4];
  for (int v = 0; v < 4; ++v) {
    p[v] =
        _mm256_loadu_si256(reinterpret_cast<const __m256i *>(source + 32 * v));
    sum[v] = gridSums(p[v], g);
  }
  near[0] = nearGridLine(sum[0], sum[1]);
  near[1] = nearGridLine(sum[2], sum[3]);
  const __m256i steps01 =
      _mm256_packs_epi32(_mm256_srli_epi32(sum[0], kGridShift),
                         _mm256_srli_epi32(sum[1], kGridShift));
  const __m256i steps23 =
      _mm256_packs_epi32(_mm256_srli_epi32(sum[2], kGridShift),
                         _mm256_srli_epi32(sum[3], kGridShift));
  // q / 20 and q / 51 for q up to 5103, by multiplying.
  const __m256i by20 = _mm256_set1_epi16(3277), by51 = _mm256_set1_epi16(10281);
  const __m256i grey = _mm256_packus_epi16(_mm256_mulhi_epu16(steps01, by20),
                                           _mm256_mulhi_epu16(steps23, by20));
  const __m256i hundredths = _mm256_packus_epi16(
      _mm256_srli_epi16(_mm256_mulhi_epu16(steps01, by51), 3),
      _mm256_srli_epi16(_mm256_mulhi_epu16(steps23, by51), 3));
  const __m256i eighth =
      _mm256_and_si256(_mm256_srli_epi16(hundredths, 3), _mm256_set1_epi8(15));
  const __m256i cls = _mm256_sub_epi8(
      _mm256_shuffle_epi8(g.classBase, eighth),
      _mm256_cmpgt_epi8(hundredths, _mm256_shuffle_epi8(g.classStep, eighth)));
  const __m256i greys =
      _mm256_and_si256(_mm256_shuffle_epi8(g.greyLanes, cls), grey);
  const __m256i r = _mm256_or_si256(_mm256_shuffle_epi8(g.red, cls), greys);
  const __m256i gr = _mm256_or_si256(_mm256_shuffle_epi8(g.green, cls), greys);
  const __m256i b = _mm256_or_si256(_mm256_shuffle_epi8(g.blue, cls), greys);
  const __m256i a = _mm256_set1_epi8(-1);
  const __m256i rgLow = _mm256_unpacklo_epi8(r, gr);
  const __m256i rgHigh = _mm256_unpackhi_epi8(r, gr);
  const __m256i baLow = _mm256_unpacklo_epi8(b, a);
  const __m256i baHigh = _mm256_unpackhi_epi8(b, a);
  const __m256i out[4] = {_mm256_unpacklo_epi16(rgLow, baLow),
                          _mm256_unpackhi_epi16(rgLow, baLow),
                          _mm256_unpacklo_epi16(rgHigh, baHigh),
                          _mm256_unpackhi_epi16(rgHigh, baHigh)};
  const __m256i alpha = _mm256_set1_epi32(-0x1000000);
  for (int v = 0; v < 4; ++v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(output + 32 * v),
                        _mm256_blendv_epi8(out[v], p[v], alpha));
  }
}

void gridFalseColour(const uint8_t *source, uint8_t *output, int64_t count,
                     const RunLook *look) {
  const GridFalseColour g = gridFalseColourFor(look);
  const ByteBandColours colours = byteBandColoursOf(look);
  int64_t i = 0;
  for (; look->hundredthsFit && i + 32 <= count; i += 32) {
    __m256i near[2];
    gridGroup(source + 4 * i, output + 4 * i, g, near);
    const __m256i any = _mm256_or_si256(near[0], near[1]);
    if (!_mm256_testz_si256(any, any)) {
      for (int v = 0; v < 4; ++v) {
        if (!_mm256_testz_si256(near[v / 2], near[v / 2])) {
          const int64_t at = 4 * (i + 8 * v);
          storeVector(output + at, falseColourVector<kNoBars, false>(
                                       loadWords(source + at), colours));
        }
      }
    }
  }
  falseColourBytes<kNoBars, false>(source + 4 * i, output + 4 * i, count - i,
                                   look);
}

// Rows without bars keep their alpha; bar rows (whose grey is scaled) go
// through the per-lane float kernel.
void bytesFalseColourAvx2(const uint8_t *source, uint8_t *output, int64_t count,
                          const RunLook *look) {
  if (look->bar || look->opaque) {
    bytesFalseColour(source, output, count, look);
  } else {
    gridFalseColour(source, output, count, look);
  }
}

} // namespace

void avx2BytesByTable(const uint8_t *source, uint8_t *output, int64_t count,
                      const RunLook *look) {
  bytesByTable(source, output, count, look);
}

void avx2FloatsAnalysed(const uint8_t *source, uint8_t *output, int64_t count,
                        const RunLook *look, bool legalize) {
  floatsAnalysed(source, output, count, look, legalize);
}

int64_t avx2FloatsFalseColour(const uint8_t *source, uint8_t *output,
                              int64_t count, const RunLook *look) {
  return floatsFalseColour(source, output, count, look);
}

const KernelSet kAvx2Kernels = {
    "AVX2",
    {bytesByTable, bytesFalseColourAvx2, floatsAnalysed, floatsFalseColour}};

#endif
