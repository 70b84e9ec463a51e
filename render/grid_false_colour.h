// The 8-bit false-colour kernel by grid, for x86-64 processors with byte
// shuffles and blends (SSE4.1 and AVX2), written once for both vector
// sizes. Only for inclusion by their kernel files, after
// row_kernels_wide.h (whose per-lane kernel takes the lanes near a grid
// line and the rest of a run).
#ifndef VANTOREL_GRID_FALSE_COLOUR_H
#define VANTOREL_GRID_FALSE_COLOUR_H

#include "row_kernels_wide.h"

#include <immintrin.h>

#if VANTOREL_WIDE_BYTES == 32
typedef __m256i GridInts;
#define GRID(op) _mm256_##op
#define GRID_SI(op) _mm256_##op##_si256
#else
typedef __m128i GridInts;
#define GRID(op) _mm_##op
#define GRID_SI(op) _mm_##op##_si128
#endif

namespace {

enum { kGridVector = VANTOREL_WIDE_BYTES };

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
// line (the every-triple test checks the kernel). Only lines on which the
// grey or the hundredth changes (multiples of 20 or of 51 steps) matter:
// near any other, both sides give the same colour. A vector with a lane
// within kGridMargin units of such a line goes through the per-lane float
// kernel instead.
enum { kGridShift = 16, kGridMargin = 16 };

// For q up to 5103: q / 20 is the high half of q * kTwentieth, and q / 51
// that of q * kFiftyFirst shifted right by 3.
enum { kTwentieth = 3277, kFiftyFirst = 10281 };

struct GridFalseColour {
  GridInts digits[3]; // of the weights, by place, as signed bytes by channel
  GridInts classBase, classStep;        // by eighth of hundredths
  GridInts red, green, blue, greyLanes; // by class
  __m128i greyShift;                    // the bars' (RunLook::gridGreyShift)
};

// 16 bytes in every 128-bit part of a vector.
GridInts everyPart(const void *bytes) {
  const __m128i part = _mm_loadu_si128(static_cast<const __m128i *>(bytes));
#if VANTOREL_WIDE_BYTES == 32
  return _mm256_broadcastsi128_si256(part);
#else
  return part;
#endif
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
    g.digits[place] = GRID(set1_epi32)((int32_t)digits[place]);
  }
  g.classBase = everyPart(look->gridClassBase);
  g.classStep = everyPart(look->gridClassStep);
  g.red = everyPart(look->gridClassBytes[0]);
  g.green = everyPart(look->gridClassBytes[1]);
  g.blue = everyPart(look->gridClassBytes[2]);
  g.greyLanes = everyPart(look->gridClassGrey);
  g.greyShift = _mm_cvtsi32_si128(look->gridGreyShift);
  return g;
}

// Each pixel's I, as a 32-bit lane. Each weight is written as three
// digits in -64..63 (W = 128^2 d2 + 128 d1 + d0; the largest weight's top
// digit is 57); a place's digits times the bytes go through one byte
// multiply-add, whose pair sums stay within 16 bits (255 * 128), and the
// places are summed with one 16-bit multiply-add each. The sum is the same
// integer as the full products'.
inline GridInts gridSums(GridInts pixels, const GridFalseColour &g) {
  return GRID(add_epi32)(
      GRID(add_epi32)(GRID(madd_epi16)(GRID(maddubs_epi16)(pixels, g.digits[2]),
                                       GRID(set1_epi16)(128 * 128)),
                      GRID(madd_epi16)(GRID(maddubs_epi16)(pixels, g.digits[1]),
                                       GRID(set1_epi16)(128))),
      GRID(madd_epi16)(GRID(maddubs_epi16)(pixels, g.digits[0]),
                       GRID(set1_epi16)(1)));
}

// The lanes of two vectors of sums within the margin of a grid line, as
// 16-bit lanes (those of `a` in the low halves): f = I mod 2^16 is near
// when (f + margin) mod 2^16 < 2 * margin, compared as signed.
inline GridInts nearGridLine(GridInts a, GridInts b) {
  const GridInts fractions =
      GRID(blend_epi16)(a, GRID(slli_epi32)(b, 16), 0xaa);
  const GridInts shifted =
      GRID(add_epi16)(fractions, GRID(set1_epi16)(kGridMargin - 0x8000));
  return GRID(cmpgt_epi16)(GRID(set1_epi16)(2 * kGridMargin - 0x8000), shifted);
}

// 4 kLanes pixels from four vectors. The steps are packed to bytes (greys and
// hundredths), classed and coloured a byte a lane, and unpacked again: the
// unpacks undo the packs' lane order. In bar rows the grey is shifted.
// Alpha passes or becomes 255. The lanes near a grid line are set in
// `near`, by pair of vectors.
template <ByteBars Bars, bool Opaque>
inline void gridGroup(const GridInts p[4], uint8_t *output,
                      const GridFalseColour &g, GridInts near[2]) {
  GridInts sum[4];
  for (int v = 0; v < 4; ++v) {
    sum[v] = gridSums(p[v], g);
  }
  near[0] = nearGridLine(sum[0], sum[1]);
  near[1] = nearGridLine(sum[2], sum[3]);
  const GridInts steps01 =
      GRID(packs_epi32)(GRID(srli_epi32)(sum[0], kGridShift),
                        GRID(srli_epi32)(sum[1], kGridShift));
  const GridInts steps23 =
      GRID(packs_epi32)(GRID(srli_epi32)(sum[2], kGridShift),
                        GRID(srli_epi32)(sum[3], kGridShift));
  const GridInts by20 = GRID(set1_epi16)(kTwentieth),
                 by51 = GRID(set1_epi16)(kFiftyFirst);
  GridInts greys01 = GRID(mulhi_epu16)(steps01, by20);
  GridInts greys23 = GRID(mulhi_epu16)(steps23, by20);
  if (Bars == kBarsWithin) {
    greys01 = GRID(srl_epi16)(greys01, g.greyShift);
    greys23 = GRID(srl_epi16)(greys23, g.greyShift);
  }
  const GridInts grey = GRID(packus_epi16)(greys01, greys23);
  const GridInts hundredths =
      GRID(packus_epi16)(GRID(srli_epi16)(GRID(mulhi_epu16)(steps01, by51), 3),
                         GRID(srli_epi16)(GRID(mulhi_epu16)(steps23, by51), 3));
  const GridInts eighth =
      GRID_SI(and)(GRID(srli_epi16)(hundredths, 3), GRID(set1_epi8)(15));
  const GridInts cls = GRID(sub_epi8)(
      GRID(shuffle_epi8)(g.classBase, eighth),
      GRID(cmpgt_epi8)(hundredths, GRID(shuffle_epi8)(g.classStep, eighth)));
  const GridInts greys =
      GRID_SI(and)(GRID(shuffle_epi8)(g.greyLanes, cls), grey);
  const GridInts r = GRID_SI(or)(GRID(shuffle_epi8)(g.red, cls), greys);
  const GridInts gr = GRID_SI(or)(GRID(shuffle_epi8)(g.green, cls), greys);
  const GridInts b = GRID_SI(or)(GRID(shuffle_epi8)(g.blue, cls), greys);
  const GridInts a = GRID(set1_epi8)(-1);
  const GridInts rgLow = GRID(unpacklo_epi8)(r, gr);
  const GridInts rgHigh = GRID(unpackhi_epi8)(r, gr);
  const GridInts baLow = GRID(unpacklo_epi8)(b, a);
  const GridInts baHigh = GRID(unpackhi_epi8)(b, a);
  const GridInts out[4] = {GRID(unpacklo_epi16)(rgLow, baLow),
                           GRID(unpackhi_epi16)(rgLow, baLow),
                           GRID(unpacklo_epi16)(rgHigh, baHigh),
                           GRID(unpackhi_epi16)(rgHigh, baHigh)};
  const GridInts alpha = GRID(set1_epi32)(-0x1000000);
  for (int v = 0; v < 4; ++v) {
    GRID_SI(storeu)
    (reinterpret_cast<GridInts *>(output + kGridVector * v),
     Opaque ? out[v] : GRID(blendv_epi8)(out[v], p[v], alpha));
  }
}

// Which of a group's four vectors hold a lane near a line, from the byte
// masks of its two pairs (a pair's first vector in the low halves).
inline int nearVectors(uint32_t pair01, uint32_t pair23) {
  const uint32_t low = 0x33333333u, high = 0xccccccccu;
  return ((pair01 & low) != 0) | ((pair01 & high) != 0) << 1 |
         ((pair23 & low) != 0) << 2 | ((pair23 & high) != 0) << 3;
}

// Whether a lane of the vector lies near a grid line on which the grey or
// the hundredth changes; elsewhere the grid's answer stands.
inline bool nearLineThatCounts(GridInts pixels, const GridFalseColour &g) {
  const GridInts sum = gridSums(pixels, g);
  const GridInts margin = GRID(set1_epi32)(kGridMargin);
  const GridInts ahead = GRID(add_epi32)(sum, margin);
  // Near a line: the fraction ahead of it is below twice the margin.
  const GridInts fraction =
      GRID_SI(and)(ahead, GRID(set1_epi32)((1 << kGridShift) - 1));
  const GridInts near =
      GRID(cmpgt_epi32)(GRID(add_epi32)(margin, margin), fraction);
  const GridInts line = GRID(srli_epi32)(ahead, kGridShift);
  const GridInts by20 = GRID(mulhi_epu16)(line, GRID(set1_epi32)(kTwentieth));
  const GridInts by51 = GRID(srli_epi16)(
      GRID(mulhi_epu16)(line, GRID(set1_epi32)(kFiftyFirst)), 3);
  const GridInts counts = GRID_SI(or)(
      GRID(cmpeq_epi32)(GRID(mullo_epi16)(by20, GRID(set1_epi32)(20)), line),
      GRID(cmpeq_epi32)(GRID(mullo_epi16)(by51, GRID(set1_epi32)(51)), line));
  const GridInts both = GRID_SI(and)(near, counts);
  return !GRID_SI(testz)(both, both);
}

// Groups holding a lane near a line, with their pixels (which the stores
// overwrite when the output is the source), redone once a stretch of the
// run is drawn: recording them costs no branch.
enum { kGridHeldGroups = 16 };

struct HeldGroups {
  GridInts pixels[kGridHeldGroups][4];
  int64_t at[kGridHeldGroups];
  uint32_t pairs[kGridHeldGroups][2];
  int count;
};

template <ByteBars Bars, bool Opaque>
void redoHeld(uint8_t *output, HeldGroups &held, const GridFalseColour &g,
              const ByteBandColours &colours) {
  for (int k = 0; k < held.count; ++k) {
    const int vectors = nearVectors(held.pairs[k][0], held.pairs[k][1]);
    for (int v = 0; v < 4; ++v) {
      const GridInts p = held.pixels[k][v];
      if ((vectors >> v & 1) && nearLineThatCounts(p, g)) {
        storeVector(output + 4 * (held.at[k] + kLanes * v),
                    falseColourVector<Bars, Opaque>((Words)p, colours));
      }
    }
  }
  held.count = 0;
}

template <ByteBars Bars, bool Opaque>
void gridFalseColour(const uint8_t *source, uint8_t *output, int64_t count,
                     const RunLook *look) {
  const GridFalseColour g = gridFalseColourFor(look);
  const ByteBandColours colours = byteBandColoursOf(look);
  HeldGroups held;
  held.count = 0;
  int64_t i = 0;
  for (; i + 4 * kLanes <= count; i += 4 * kLanes) {
    GridInts p[4], near[2];
    for (int v = 0; v < 4; ++v) {
      p[v] = GRID_SI(loadu)(
          reinterpret_cast<const GridInts *>(source + 4 * i + kGridVector * v));
      held.pixels[held.count][v] = p[v];
    }
    gridGroup<Bars, Opaque>(p, output + 4 * i, g, near);
    const uint32_t pair01 = (uint32_t)GRID(movemask_epi8)(near[0]);
    const uint32_t pair23 = (uint32_t)GRID(movemask_epi8)(near[1]);
    held.at[held.count] = i;
    held.pairs[held.count][0] = pair01;
    held.pairs[held.count][1] = pair23;
    held.count += (pair01 | pair23) != 0;
    if (held.count == kGridHeldGroups) {
      redoHeld<Bars, Opaque>(output, held, g, colours);
    }
  }
  redoHeld<Bars, Opaque>(output, held, g, colours);
  falseColourBytes<Bars, Opaque>(source + 4 * i, output + 4 * i, count - i,
                                 look);
}

template <ByteBars Bars>
void gridFalseColourBy(const uint8_t *source, uint8_t *output, int64_t count,
                       const RunLook *look) {
  if (look->opaque) {
    gridFalseColour<Bars, true>(source, output, count, look);
  } else {
    gridFalseColour<Bars, false>(source, output, count, look);
  }
}

// Runs whose bars scale the grey by a power of two take the grid; others
// go through the per-lane float kernel.
void gridBytesFalseColour(const uint8_t *source, uint8_t *output, int64_t count,
                          const RunLook *look) {
  if (!look->hundredthsFit || look->gridGreyShift < 0) {
    bytesFalseColour(source, output, count, look);
  } else if (look->bar) {
    gridFalseColourBy<kBarsWithin>(source, output, count, look);
  } else {
    gridFalseColourBy<kNoBars>(source, output, count, look);
  }
}

} // namespace

#undef GRID
#undef GRID_SI

#endif
