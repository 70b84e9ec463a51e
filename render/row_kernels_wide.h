// Run kernels written once over the compiler's generic vectors, for every
// processor class with 128- or 256-bit vectors: each file that includes
// this defines VANTOREL_WIDE_BYTES (the vector size) and is compiled for its
// processor (SSE4.1, AVX2, NEON). Every lane does the stages' own IEEE
// operations in the stages' order (division, multiplies and sums, compares,
// truncation), so the bits are the same as the portable kernels' and no
// operation depends on rounding tricks.
//
// Only for inclusion by one kernel file each: everything here has internal
// linkage, so the copies built for different processors never mix. The
// row renderer runs them only when rounding to nearest. Those
// files include nothing with inline functions of external linkage (such as
// pixels.h), whose copy the linker might take from a file built for a
// larger processor.
#ifndef VANTOREL_ROW_KERNELS_WIDE_H
#define VANTOREL_ROW_KERNELS_WIDE_H

#include "row_kernels.h"

#include <string.h>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__aarch64__)
#include <arm_neon.h>
#endif

namespace {

typedef float Floats __attribute__((vector_size(VANTOREL_WIDE_BYTES)));
typedef int32_t Ints __attribute__((vector_size(VANTOREL_WIDE_BYTES)));
typedef uint32_t Words __attribute__((vector_size(VANTOREL_WIDE_BYTES)));

enum { kLanes = VANTOREL_WIDE_BYTES / 4, kFloatPixels = kLanes / 4 };

inline Floats loadFloats(const uint8_t *at) {
  Floats v;
  memcpy(&v, at, sizeof v);
  return v;
}

inline Words loadWords(const uint8_t *at) {
  Words v;
  memcpy(&v, at, sizeof v);
  return v;
}

template <typename V> inline void storeVector(uint8_t *at, V v) {
  memcpy(at, &v, sizeof v);
}

inline Ints intsOf(int32_t v) {
  Ints out;
  for (int i = 0; i < kLanes; ++i) {
    out[i] = v;
  }
  return out;
}

// Every lane v, bit for bit (-0 stays -0, a NaN keeps its payload).
inline Floats floatsOf(float v) {
  int32_t bits;
  memcpy(&bits, &v, sizeof bits);
  return (Floats)intsOf(bits);
}

// Lanes of a where `mask` is set, else of b; moves bits only. Each lane of
// the mask is all ones or all zeros (a comparison's result), so a byte
// blend picks the same.
template <typename V> inline V pick(Ints mask, V a, V b) {
#if defined(__AVX2__)
  return (V)_mm256_blendv_epi8((__m256i)b, (__m256i)a, (__m256i)mask);
#elif defined(__SSE4_1__)
  return (V)_mm_blendv_epi8((__m128i)b, (__m128i)a, (__m128i)mask);
#else
  return (V)((mask & (Ints)a) | (~mask & (Ints)b));
#endif
}

inline bool anyLane(Ints mask) {
#if defined(__AVX2__)
  return !_mm256_testz_si256((__m256i)mask, (__m256i)mask);
#elif defined(__SSE2__)
  return _mm_movemask_epi8((__m128i)mask) != 0;
#else
  return vmaxvq_u32((uint32x4_t)mask) != 0;
#endif
}

// The false-colour scale over a vector of lumas: `grey` where the luma is
// in no band, else the band's value (colours by FalseColourBand), the
// bands tested as falseColourBand tests them.
template <typename V>
inline V throughBands(Floats luma, V grey, const V colours[]) {
  const FalseColourScale &s = kFalseColour;
  V out = grey;
  out = pick(luma > s.redAbove, colours[kRedBand], out);
  out =
      pick((luma >= s.pinkFrom) & (luma <= s.pinkTo), colours[kPinkBand], out);
  out = pick((luma >= s.greenFrom) & (luma <= s.greenTo), colours[kGreenBand],
             out);
  out = pick(luma < s.blueBelow, colours[kBlueBand], out);
  return pick(luma < s.purpleBelow, colours[kPurpleBand], out);
}

// channelToByte on each lane: clamp to 0..1 (NaN becomes 0), times 255,
// truncated.
inline Ints storedBytes(Floats v) {
  const Floats zero = floatsOf(0.0f), one = floatsOf(1.0f);
  // Written as the comparisons the processors' max and min make.
  Floats clamped = v > zero ? v : zero;
  clamped = clamped > one ? one : clamped;
  return __builtin_convertvector(clamped * 255.0f, Ints);
}

// ---------------------------------------------------------------- 8-bit

// A byte channel as the stages load it: its value / 255.
inline Floats channelValues(Words pixels, int shift) {
  const Ints byte = (Ints)((pixels >> shift) & 0xffu);
  return quotientBy255(__builtin_convertvector(byte, Floats));
}

// The luma of each 8-bit pixel, as the stages form it from its loaded
// channels.
inline Floats lumaOfBytes(Words p) {
  const Floats red = channelValues(p, 0) * kLumaRed;
  const Floats green = channelValues(p, 8) * kLumaGreen;
  const Floats blue = channelValues(p, 16) * kLumaBlue;
  return (red + green) + blue;
}

// The analysis of a run without false colour: legalized when asked (the
// span's product, then the floor added), then through the bars.
template <bool Legalize, bool Bar>
inline Floats analysed(Floats v, const RunLook *look) {
  if (Legalize) {
    v = floatsOf(kLegalFloor) + v * floatsOf(kLegalSpan);
  }
  return Bar ? v * floatsOf(look->barFactor) : v;
}

// How a row's bars treat an 8-bit grey: none; a factor within 0..1, which
// keeps a luma (0 to just above 1) where the store's clamp changes nothing;
// any other factor, NaN included.
enum ByteBars { kNoBars, kBarsWithin, kBarsClamped };

// The channel table computed: each colour byte loaded, legalized when the
// run legalizes, through the bars, stored; alpha passes or becomes 255. A
// loaded or legalized value lies within 0..1, where only bars outside 0..1
// need the store's clamp.
template <bool Legalize, ByteBars Bars, bool Opaque>
void computedBytes(const uint8_t *source, uint8_t *output, int64_t count,
                   const RunLook *look) {
  int64_t i = 0;
  for (; i + kLanes <= count; i += kLanes) {
    const Words p = loadWords(source + 4 * i);
    Words out = Opaque ? (Words)intsOf(-0x1000000) : p & 0xff000000u;
    for (int c = 0; c < 3; ++c) {
      const Floats v =
          analysed<Legalize, Bars != kNoBars>(channelValues(p, 8 * c), look);
      const Ints byte = Bars == kBarsClamped
                            ? storedBytes(v)
                            : __builtin_convertvector(v * 255.0f, Ints);
      out |= (Words)byte << (8 * c);
    }
    storeVector(output + 4 * i, out);
  }
  portableBytesByTable(source + 4 * i, output + 4 * i, count - i, look);
}

template <bool Legalize, ByteBars Bars>
void computedBytesBy(const uint8_t *source, uint8_t *output, int64_t count,
                     const RunLook *look) {
  if (look->opaque) {
    computedBytes<Legalize, Bars, true>(source, output, count, look);
  } else {
    computedBytes<Legalize, Bars, false>(source, output, count, look);
  }
}

// The bars a run's 8-bit grey or channel meets.
inline ByteBars byteBarsOf(const RunLook *look) {
  const float k = look->barFactor;
  if (!look->bar) {
    return kNoBars;
  }
  return k >= 0.0f && k <= 1.0f ? kBarsWithin : kBarsClamped;
}

template <bool Legalize>
void computedBytesFor(const uint8_t *source, uint8_t *output, int64_t count,
                      const RunLook *look) {
  switch (byteBarsOf(look)) {
  case kNoBars:
    computedBytesBy<Legalize, kNoBars>(source, output, count, look);
    break;
  case kBarsWithin:
    computedBytesBy<Legalize, kBarsWithin>(source, output, count, look);
    break;
  case kBarsClamped:
    computedBytesBy<Legalize, kBarsClamped>(source, output, count, look);
    break;
  }
}

#if defined(__x86_64__)
// Four 16-bit values as one 64-bit lane, the first lowest.
inline uint64_t fourHalves(const uint16_t v[4]) {
  return v[0] | (uint64_t)v[1] << 16 | (uint64_t)v[2] << 32 |
         (uint64_t)v[3] << 48;
}
#endif

// Every byte b of the vector as (floor(b * slope / 256) + offset) / 256,
// rounded down, with the slope and offset of the byte's place in its
// pixel (RunLook::channelFitted): `slopes` and `offsets` hold 16-bit lanes
// for R, G, B and A. Slope 65535 and offset 1 give the byte itself; slope
// 0 and offset 65535 give 255.
inline Words fittedBytes(Words pixels, const uint16_t slopes[4],
                         const uint16_t offsets[4]) {
#if defined(__AVX2__)
  const __m256i v = (__m256i)pixels, zero = _mm256_setzero_si256();
  const __m256i a = _mm256_set1_epi64x((long long)fourHalves(slopes));
  const __m256i b = _mm256_set1_epi64x((long long)fourHalves(offsets));
  // Each byte in the high half of a 16-bit lane is b * 256.
  const __m256i low = _mm256_srli_epi16(
      _mm256_add_epi16(_mm256_mulhi_epu16(_mm256_unpacklo_epi8(zero, v), a), b),
      8);
  const __m256i high = _mm256_srli_epi16(
      _mm256_add_epi16(_mm256_mulhi_epu16(_mm256_unpackhi_epi8(zero, v), a), b),
      8);
  return (Words)_mm256_packus_epi16(low, high);
#elif defined(__SSE2__)
  const __m128i v = (__m128i)pixels, zero = _mm_setzero_si128();
  const __m128i a = _mm_set1_epi64x((long long)fourHalves(slopes));
  const __m128i b = _mm_set1_epi64x((long long)fourHalves(offsets));
  const __m128i low = _mm_srli_epi16(
      _mm_add_epi16(_mm_mulhi_epu16(_mm_unpacklo_epi8(zero, v), a), b), 8);
  const __m128i high = _mm_srli_epi16(
      _mm_add_epi16(_mm_mulhi_epu16(_mm_unpackhi_epi8(zero, v), a), b), 8);
  return (Words)_mm_packus_epi16(low, high);
#else
  const uint8x16_t v = (uint8x16_t)pixels;
  const uint16x8_t low = vmovl_u8(vget_low_u8(v)), high = vmovl_high_u8(v);
  const uint16x4_t a = vld1_u16(slopes);
  const uint16x8_t a8 = vcombine_u16(a, a);
  const uint16x4_t b4 = vld1_u16(offsets);
  const uint16x8_t b = vcombine_u16(b4, b4);
  const uint16x8_t lowScaled =
      vcombine_u16(vshrn_n_u32(vmull_u16(vget_low_u16(low), a), 8),
                   vshrn_n_u32(vmull_high_u16(low, a8), 8));
  const uint16x8_t highScaled =
      vcombine_u16(vshrn_n_u32(vmull_u16(vget_low_u16(high), a), 8),
                   vshrn_n_u32(vmull_high_u16(high, a8), 8));
  return (Words)vcombine_u8(vshrn_n_u16(vaddq_u16(lowScaled, b), 8),
                            vshrn_n_u16(vaddq_u16(highScaled, b), 8));
#endif
}

// The channel table by its fitted formula; alpha passes (slope 65535,
// offset 1) or becomes 255 (slope 0, offset 65535) through the same.
void fittedChannelBytes(const uint8_t *source, uint8_t *output, int64_t count,
                        const RunLook *look) {
  const uint16_t s = look->channelSlope, o = look->channelOffset;
  const bool opaque = look->opaque;
  const uint16_t slopes[4] = {s, s, s, (uint16_t)(opaque ? 0 : 65535)};
  const uint16_t offsets[4] = {o, o, o, (uint16_t)(opaque ? 65535 : 1)};
  int64_t i = 0;
  for (; i + kLanes <= count; i += kLanes) {
    storeVector(output + 4 * i,
                fittedBytes(loadWords(source + 4 * i), slopes, offsets));
  }
  portableBytesByTable(source + 4 * i, output + 4 * i, count - i, look);
}

void bytesByTable(const uint8_t *source, uint8_t *output, int64_t count,
                  const RunLook *look) {
  if (look->channelFitted) {
    fittedChannelBytes(source, output, count, look);
  } else if (!look->channelComputable) {
    portableBytesByTable(source, output, count, look);
  } else if (look->legalize) {
    computedBytesFor<true>(source, output, count, look);
  } else {
    computedBytesFor<false>(source, output, count, look);
  }
}

// One 8-bit pixel a lane: the luma from the three loaded channels, its
// band colour or stored grey (after the bars), and the alpha. Without a
// clamp a lane's grey may hold any value where a band colour replaces it.
struct ByteBandColours {
  Words colours[kFalseColourBands];
  Floats factor;
};

inline ByteBandColours byteBandColoursOf(const RunLook *look) {
  ByteBandColours c;
  for (int band = 0; band < kFalseColourBands; ++band) {
    c.colours[band] = (Words)intsOf((int32_t)look->bandBytes[band]);
  }
  c.factor = floatsOf(look->barFactor);
  return c;
}

template <ByteBars Bars, bool Opaque>
inline Words falseColourVector(Words p, const ByteBandColours &c) {
  const Floats luma = lumaOfBytes(p);
  Words byte;
  if (Bars == kBarsClamped) {
    byte = (Words)storedBytes(luma * c.factor);
  } else {
    const Floats shown = Bars == kBarsWithin ? luma * c.factor : luma;
    byte = (Words) __builtin_convertvector(shown * 255.0f, Ints);
  }
  const Words grey = byte | byte << 8 | byte << 16;
  const Words alpha = Opaque ? (Words)intsOf(-0x1000000) : p & 0xff000000u;
  return throughBands(luma, grey, c.colours) | alpha;
}

template <ByteBars Bars, bool Opaque>
void falseColourBytes(const uint8_t *source, uint8_t *output, int64_t count,
                      const RunLook *look) {
  const ByteBandColours c = byteBandColoursOf(look);
  int64_t i = 0;
  for (; i + kLanes <= count; i += kLanes) {
    storeVector(output + 4 * i,
                falseColourVector<Bars, Opaque>(loadWords(source + 4 * i), c));
  }
  portableKernels().bytesFalseColour(source + 4 * i, output + 4 * i, count - i,
                                     look);
}

template <ByteBars Bars>
void falseColourBytesBy(const uint8_t *source, uint8_t *output, int64_t count,
                        const RunLook *look) {
  if (look->opaque) {
    falseColourBytes<Bars, true>(source, output, count, look);
  } else {
    falseColourBytes<Bars, false>(source, output, count, look);
  }
}

void bytesFalseColour(const uint8_t *source, uint8_t *output, int64_t count,
                      const RunLook *look) {
  switch (byteBarsOf(look)) {
  case kNoBars:
    falseColourBytesBy<kNoBars>(source, output, count, look);
    break;
  case kBarsWithin:
    falseColourBytesBy<kBarsWithin>(source, output, count, look);
    break;
  case kBarsClamped:
    falseColourBytesBy<kBarsClamped>(source, output, count, look);
    break;
  }
}

// ---------------------------------------------------------------- float

// Alpha passes, or becomes 1; no arithmetic touches it.
template <bool Opaque> inline Floats withAlpha(Floats rgb, Floats source) {
  const Floats alpha = Opaque ? floatsOf(1.0f) : source;
#if VANTOREL_WIDE_BYTES == 32
  return __builtin_shufflevector(rgb, alpha, 0, 1, 2, 11, 4, 5, 6, 15);
#else
  return __builtin_shufflevector(rgb, alpha, 0, 1, 2, 7);
#endif
}

template <bool Legalize, bool Bar, bool Opaque>
void analysedFloats(const uint8_t *source, uint8_t *output, int64_t count,
                    const RunLook *look) {
  int64_t i = 0;
  for (; i + kFloatPixels <= count; i += kFloatPixels) {
    const Floats p = loadFloats(source + 16 * i);
    storeVector(output + 16 * i,
                withAlpha<Opaque>(analysed<Legalize, Bar>(p, look), p));
  }
  portableKernels().floatsAnalysed(source + 16 * i, output + 16 * i, count - i,
                                   look, Legalize);
}

template <bool Legalize>
void analysedFloatsBy(const uint8_t *source, uint8_t *output, int64_t count,
                      const RunLook *look) {
  if (!look->bar) {
    if (look->opaque) {
      analysedFloats<Legalize, false, true>(source, output, count, look);
    } else {
      analysedFloats<Legalize, false, false>(source, output, count, look);
    }
  } else if (look->opaque) {
    analysedFloats<Legalize, true, true>(source, output, count, look);
  } else {
    analysedFloats<Legalize, true, false>(source, output, count, look);
  }
}

void floatsAnalysed(const uint8_t *source, uint8_t *output, int64_t count,
                    const RunLook *look, bool legalize) {
  if (legalize) {
    analysedFloatsBy<true>(source, output, count, look);
  } else {
    analysedFloatsBy<false>(source, output, count, look);
  }
}

// Four vectors of float pixels (kLanes pixels) and their channels, one
// pixel a lane. Within each 128-bit part the four vectors are transposed
// (so the lanes hold the pixels in an order of their own, the same for
// every channel), which takes in-lane shuffles only; pixelsFrom undoes it.
struct Channels {
  Floats r, g, b, a;
};

inline Channels channelsOf(const Floats v[4]) {
#if VANTOREL_WIDE_BYTES == 32
  const Floats t0 =
      __builtin_shufflevector(v[0], v[1], 0, 8, 1, 9, 4, 12, 5, 13);
  const Floats t1 =
      __builtin_shufflevector(v[0], v[1], 2, 10, 3, 11, 6, 14, 7, 15);
  const Floats t2 =
      __builtin_shufflevector(v[2], v[3], 0, 8, 1, 9, 4, 12, 5, 13);
  const Floats t3 =
      __builtin_shufflevector(v[2], v[3], 2, 10, 3, 11, 6, 14, 7, 15);
  const Channels c = {
      __builtin_shufflevector(t0, t2, 0, 1, 8, 9, 4, 5, 12, 13),
      __builtin_shufflevector(t0, t2, 2, 3, 10, 11, 6, 7, 14, 15),
      __builtin_shufflevector(t1, t3, 0, 1, 8, 9, 4, 5, 12, 13),
      __builtin_shufflevector(t1, t3, 2, 3, 10, 11, 6, 7, 14, 15)};
#else
  const Floats t0 = __builtin_shufflevector(v[0], v[1], 0, 4, 1, 5);
  const Floats t1 = __builtin_shufflevector(v[0], v[1], 2, 6, 3, 7);
  const Floats t2 = __builtin_shufflevector(v[2], v[3], 0, 4, 1, 5);
  const Floats t3 = __builtin_shufflevector(v[2], v[3], 2, 6, 3, 7);
  const Channels c = {__builtin_shufflevector(t0, t2, 0, 1, 4, 5),
                      __builtin_shufflevector(t0, t2, 2, 3, 6, 7),
                      __builtin_shufflevector(t1, t3, 0, 1, 4, 5),
                      __builtin_shufflevector(t1, t3, 2, 3, 6, 7)};
#endif
  return c;
}

// Back to four vectors of pixels.
inline void pixelsFrom(Channels c, Floats v[4]) {
#if VANTOREL_WIDE_BYTES == 32
  const Floats t0 = __builtin_shufflevector(c.r, c.g, 0, 1, 8, 9, 4, 5, 12, 13);
  const Floats t2 =
      __builtin_shufflevector(c.r, c.g, 2, 3, 10, 11, 6, 7, 14, 15);
  const Floats t1 = __builtin_shufflevector(c.b, c.a, 0, 1, 8, 9, 4, 5, 12, 13);
  const Floats t3 =
      __builtin_shufflevector(c.b, c.a, 2, 3, 10, 11, 6, 7, 14, 15);
  v[0] = __builtin_shufflevector(t0, t1, 0, 2, 8, 10, 4, 6, 12, 14);
  v[1] = __builtin_shufflevector(t0, t1, 1, 3, 9, 11, 5, 7, 13, 15);
  v[2] = __builtin_shufflevector(t2, t3, 0, 2, 8, 10, 4, 6, 12, 14);
  v[3] = __builtin_shufflevector(t2, t3, 1, 3, 9, 11, 5, 7, 13, 15);
#else
  const Floats t0 = __builtin_shufflevector(c.r, c.g, 0, 1, 4, 5);
  const Floats t2 = __builtin_shufflevector(c.r, c.g, 2, 3, 6, 7);
  const Floats t1 = __builtin_shufflevector(c.b, c.a, 0, 1, 4, 5);
  const Floats t3 = __builtin_shufflevector(c.b, c.a, 2, 3, 6, 7);
  v[0] = __builtin_shufflevector(t0, t1, 0, 2, 4, 6);
  v[1] = __builtin_shufflevector(t0, t1, 1, 3, 5, 7);
  v[2] = __builtin_shufflevector(t2, t3, 0, 2, 4, 6);
  v[3] = __builtin_shufflevector(t2, t3, 1, 3, 5, 7);
#endif
}

// The band colours of each lane's luma, channel by channel, with `grey`
// where the luma is in no band. With AVX2, a lane counts the class limits
// its luma reaches and looks its class up in a vector of 8; otherwise each
// band is picked in the order throughBands picks them.
struct FloatBands {
#if defined(__AVX2__)
  Ints limitBits[kBandClasses - 1]; // of each limit, less one
  // Entry (8 - class) % 8: where a lane's count of limits reached (as a
  // sum of -1s) lands when its low three bits index 8 lanes.
  Floats byClass[3];
  Ints greyByClass;
#else
  Floats red[kFalseColourBands], green[kFalseColourBands],
      blue[kFalseColourBands];
#endif
};

inline FloatBands floatBandsOf(const RunLook *look) {
  FloatBands b;
#if defined(__AVX2__)
  for (int c = 0; c < kBandClasses - 1; ++c) {
    int32_t bits;
    memcpy(&bits, &look->classLimit[c], sizeof bits);
    b.limitBits[c] = intsOf(bits - 1);
  }
  for (int c = 0; c < kBandClasses; ++c) {
    const int lane = (kBandClasses - c) % kBandClasses,
              band = look->classBand[c];
    const WorkPixel colour = look->bandColours[band == kGreyBand ? 0 : band];
    b.byClass[0][lane] = band == kGreyBand ? 0.0f : colour.r;
    b.byClass[1][lane] = band == kGreyBand ? 0.0f : colour.g;
    b.byClass[2][lane] = band == kGreyBand ? 0.0f : colour.b;
    b.greyByClass[lane] = band == kGreyBand ? -1 : 0;
  }
#else
  for (int band = 0; band < kFalseColourBands; ++band) {
    b.red[band] = floatsOf(look->bandColours[band].r);
    b.green[band] = floatsOf(look->bandColours[band].g);
    b.blue[band] = floatsOf(look->bandColours[band].b);
  }
#endif
  return b;
}

inline bool floatBandsFit(const RunLook *look) {
#if defined(__AVX2__)
  return look->classesAscend;
#else
  (void)look;
  return true;
#endif
}

// Where the band colours move bits only (no arithmetic), -0, NaN payloads
// and all, as the stages' own picks do.
inline Channels bandChannels(Floats luma, Floats grey, const FloatBands &b) {
#if defined(__AVX2__)
  // A luma (never NaN here) reaches a limit above zero when its bits, as a
  // signed integer, exceed the limit's less one: negative lumas and -0 are
  // negative integers. The counts are summed as a tree, which keeps the
  // chain of dependent steps short.
  const Ints bits = (Ints)luma;
  Ints r[kBandClasses - 1];
  for (int c = 0; c < kBandClasses - 1; ++c) {
    r[c] = (Ints)(bits > b.limitBits[c]);
  }
  static_assert(kBandClasses == 8, "seven limits");
  const Ints reached = ((r[0] + r[1]) + (r[2] + r[3])) + ((r[4] + r[5]) + r[6]);
  const __m256i index = (__m256i)reached;
  const __m256 greyLanes = _mm256_castsi256_ps(
      _mm256_permutevar8x32_epi32((__m256i)b.greyByClass, index));
  Channels out;
  Floats *channel[3] = {&out.r, &out.g, &out.b};
  for (int c = 0; c < 3; ++c) {
    *channel[c] = (Floats)_mm256_blendv_ps(
        _mm256_permutevar8x32_ps((__m256)b.byClass[c], index), (__m256)grey,
        greyLanes);
  }
  out.a = grey;
#else
  const Channels out = {throughBands(luma, grey, b.red),
                        throughBands(luma, grey, b.green),
                        throughBands(luma, grey, b.blue), grey};
#endif
  return out;
}

// kLanes float pixels: their channels and lumas.
struct FloatGroup {
  Channels c;
  Floats luma;
};

inline FloatGroup floatGroupAt(const uint8_t *source) {
  Floats p[4];
  for (int v = 0; v < 4; ++v) {
    p[v] = loadFloats(source + 16 * kFloatPixels * v);
  }
  FloatGroup g;
  g.c = channelsOf(p);
  g.luma = (g.c.r * kLumaRed + g.c.g * kLumaGreen) + g.c.b * kLumaBlue;
  return g;
}

template <bool Bar, bool Opaque>
inline void storeFalseColour(const FloatGroup &g, uint8_t *output,
                             const FloatBands &bands, Floats factor) {
  const Floats grey = Bar ? g.luma * factor : g.luma;
  Channels out = bandChannels(g.luma, grey, bands);
  out.a = Opaque ? floatsOf(1.0f) : g.c.a;
  Floats o[4];
  pixelsFrom(out, o);
  for (int v = 0; v < 4; ++v) {
    storeVector(output + 16 * kFloatPixels * v, o[v]);
  }
}

// kLanes pixels at a time, read as four vectors and taken apart into
// channels: the lumas ((red + green) + blue of the weighted channels), the
// band colours or greys by channel, and the pixels put back together.
// kFloatGroups groups go together, all their lumas first: each group is one
// long chain of dependent steps, and taking several side by side lets the
// processor overlap them. All loads come before any store, so an output
// that is the source stays right. Stops at the first kLanes pixels holding
// a NaN luma; the portable kernel takes the rest of the run from there.
// (With NEON's picks, more than one group at a time only spills registers.)
#if defined(__x86_64__)
enum { kFloatGroups = 4 };
#else
enum { kFloatGroups = 1 };
#endif

template <bool Bar, bool Opaque>
int64_t falseColourFloats(const uint8_t *source, uint8_t *output, int64_t count,
                          const RunLook *look) {
  const FloatBands bands = floatBandsOf(look);
  const Floats factor = floatsOf(look->barFactor);
  const bool fits = floatBandsFit(look);
  int64_t i = 0;
  for (; fits && i + kFloatGroups * kLanes <= count;
       i += kFloatGroups * kLanes) {
    FloatGroup g[kFloatGroups];
    Ints nan = intsOf(0);
    for (int k = 0; k < kFloatGroups; ++k) {
      g[k] = floatGroupAt(source + 16 * (i + k * kLanes));
      nan |= g[k].luma != g[k].luma;
    }
    if (anyLane(nan)) {
      break; // the single groups below find it
    }
    for (int k = 0; k < kFloatGroups; ++k) {
      storeFalseColour<Bar, Opaque>(g[k], output + 16 * (i + k * kLanes), bands,
                                    factor);
    }
  }
  for (; fits && i + kLanes <= count; i += kLanes) {
    const FloatGroup g = floatGroupAt(source + 16 * i);
    if (anyLane(g.luma != g.luma)) {
      return i;
    }
    storeFalseColour<Bar, Opaque>(g, output + 16 * i, bands, factor);
  }
  return i + portableKernels().floatsFalseColour(
                 source + 16 * i, output + 16 * i, count - i, look);
}

int64_t floatsFalseColour(const uint8_t *source, uint8_t *output, int64_t count,
                          const RunLook *look) {
  if (!look->bar) {
    if (look->opaque) {
      return falseColourFloats<false, true>(source, output, count, look);
    }
    return falseColourFloats<false, false>(source, output, count, look);
  }
  if (look->opaque) {
    return falseColourFloats<true, true>(source, output, count, look);
  }
  return falseColourFloats<true, false>(source, output, count, look);
}

} // namespace

#define VANTOREL_WIDE_KERNELS                                                  \
  { bytesByTable, bytesFalseColour, floatsAnalysed, floatsFalseColour }

#endif
