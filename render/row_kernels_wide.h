// The run kernels for every processor class with vectors, written once over
// the primitives of vector_ops.h: each file that includes this defines
// VANTOREL_WIDE_BYTES (the vector size) and is compiled for its processor.
// The bits are the same as the portable kernels': the lanes do the stages'
// own IEEE operations in the stages' order, except where the result is
// shown here to be the same by other means (the quotient by 255 by
// products, the 8-bit false colour by an integer grid, the channel table
// by a fitted formula, the classes of a luma by the bits of its limits).
// The row renderer runs them only when rounding to nearest.
//
// Only for inclusion by one kernel file each: everything here has internal
// linkage, so the copies built for different processors never mix. Those
// files include nothing with inline functions of external linkage (such as
// pixels.h), whose copy the linker might take from a file built for a
// larger processor.
#ifndef VANTOREL_ROW_KERNELS_WIDE_H
#define VANTOREL_ROW_KERNELS_WIDE_H

#include "row_kernels.h"
#include "run_shape.h"
#include "vector_ops.h"
#include "wide_setup.h"

namespace {

// channelToByte on each lane: clamp to 0..1 (NaN becomes 0), times 255,
// truncated.
inline Ints storedBytes(Floats v) {
  const Floats zero = floatsOf(0.0f), one = floatsOf(1.0f);
  // Written as the comparisons the processors' max and min make.
  Floats clamped = v > zero ? v : zero;
  clamped = clamped > one ? one : clamped;
  return __builtin_convertvector(clamped * 255.0f, Ints);
}

// The stored byte of a value the shape's bars leave within 0..1 unless
// they are clamped (RunBars).
template <typename Shape> inline Ints storedOf(Floats v) {
  if (Shape::bars == kBarsClamped) {
    return storedBytes(v);
  }
  return __builtin_convertvector(v * 255.0f, Ints);
}

// An 8-bit pixel's alpha byte in its place: kept, or 255.
template <typename Shape> inline Words alphaOf(Words pixels) {
  return Shape::opaque ? splat<Words>(0xff000000u) : pixels & 0xff000000u;
}

// A byte channel as the stages load it: its value / 255.
inline Floats channelValues(Words pixels, int shift) {
  const Ints byte = (Ints)((pixels >> shift) & 0xffu);
  return quotientBy255(__builtin_convertvector(byte, Floats));
}

// The analysis of a run without false colour: legalized when the shape
// says so (the span's product, then the floor added), then through the
// bars.
template <typename Shape> inline Floats analysed(Floats v, Floats factor) {
  if (Shape::legalize) {
    v = floatsOf(kLegalFloor) + v * floatsOf(kLegalSpan);
  }
  return Shape::bars != kNoBars ? v * factor : v;
}

// Where each lane's luma lies among the classes, as pickOfClass: a luma
// (never NaN here) reaches a limit when its bits, as a signed integer,
// exceed the limit's less one. The counts are summed as a tree, which
// keeps the chain of dependent steps short.
inline Ints classPicksOf(Floats luma) {
  const Ints bits = (Ints)luma;
  Ints reached[kLumaClasses - 1];
  for (int c = 0; c < kLumaClasses - 1; ++c) {
    const int32_t limitBits = __builtin_bit_cast(int32_t, kClassLimits[c]);
    reached[c] = (Ints)(bits > splat<Ints>(limitBits - 1));
  }
  return ((reached[0] + reached[1]) + (reached[2] + reached[3])) +
         ((reached[4] + reached[5]) + reached[6]);
}

// Draws a run a vector of `step` pixels of `size` bytes at a time
// (draw(i) from pixel i), and the pixels left through the portable kernel
// `rest`; answers the pixels drawn. The loop takes two vectors a turn:
// one vector's few instructions a turn ran up to a quarter slower where
// the loop happened to straddle a 64-byte boundary.
template <typename Draw>
inline int64_t byVectors(const uint8_t *source, uint8_t *output, int64_t count,
                         const RunLook *look, int64_t step, int size,
                         const RunKernel &rest, Draw draw) {
  const int64_t whole = count - count % step;
  const int64_t pairs = count - count % (2 * step);
  for (int64_t i = 0; i < pairs; i += 2 * step) {
    draw(i);
    draw(i + step);
  }
  if (pairs < whole) {
    draw(pairs);
  }
  return whole + rest.draw(source + size * whole, output + size * whole,
                           count - whole, look, nullptr);
}

// ---------------------------------------------------------------- table

// R, G and B computed as the stages do; alpha passes or becomes 255.
template <typename Shape>
int64_t computedBytes(const uint8_t *source, uint8_t *output, int64_t count,
                      const RunLook *look) {
  const Floats factor = floatsOf(look->barFactor);
  return byVectors(source, output, count, look, kLanes, 4,
                   kPortableKernels.bytesByTable, [&](int64_t i) {
                     const Words p = loadVector<Words>(source + 4 * i);
                     Words out = alphaOf<Shape>(p);
                     for (int c = 0; c < 3; ++c) {
                       const Floats v =
                           analysed<Shape>(channelValues(p, 8 * c), factor);
                       out |= (Words)storedOf<Shape>(v) << (8 * c);
                     }
                     storeVector(output + 4 * i, out);
                   });
}

// Every byte b of the vector as (floor(b * slope / 256) + offset) / 256,
// rounded down, with the slope and offset of the byte's place in its
// pixel: each byte, widened to a 16-bit lane as b * 256, takes one
// high-half multiply, an add and a shift.
inline Words fittedBytes(Words pixels, Halves slopes, Halves offsets) {
  const Bytes v = (Bytes)pixels, zero = {};
  const Halves low = (mulHigh(zipBytesLow(zero, v), slopes) + offsets) >> 8;
  const Halves high = (mulHigh(zipBytesHigh(zero, v), slopes) + offsets) >> 8;
  return (Words)narrowHalves(low, high);
}

// The channel table by its fitted formula; alpha passes (slope 65535,
// offset 1) or becomes 255 (slope 0, offset 65535) through the same.
int64_t fittedChannelBytes(const uint8_t *source, uint8_t *output,
                           int64_t count, const RunLook *look,
                           const WideSetup &s) {
  const uint16_t alphaSlope = look->opaque ? 0 : 65535;
  const uint16_t alphaOffset = look->opaque ? 65535 : 1;
  Halves slopes, offsets;
  for (int i = 0; i < kVectorBytes / 2; ++i) {
    slopes[i] = i % 4 == 3 ? alphaSlope : s.channelSlope;
    offsets[i] = i % 4 == 3 ? alphaOffset : s.channelOffset;
  }
  return byVectors(source, output, count, look, kLanes, 4,
                   kPortableKernels.bytesByTable, [&](int64_t i) {
                     storeVector(output + 4 * i,
                                 fittedBytes(loadVector<Words>(source + 4 * i),
                                             slopes, offsets));
                   });
}

inline int64_t bytesByTable(const uint8_t *source, uint8_t *output,
                            int64_t count, const RunLook *look,
                            const RunSetup *setup) {
  const WideSetup &s = setupOf<WideSetup>(setup);
  if (s.channelForm == kChannelFitted) {
    return fittedChannelBytes(source, output, count, look, s);
  }
  return drawByShape<kShapeLegalize | kShapeClamp>(look, [&](auto shape) {
    return computedBytes<decltype(shape)>(source, output, count, look);
  });
}

// ---------------------------------------------------------------- 8-bit false
// colour

// The luma of each 8-bit pixel, as the stages form it from its loaded
// channels.
inline Floats lumaOfBytes(Words p) {
  const Floats red = channelValues(p, 0) * kLumaRed;
  const Floats green = channelValues(p, 8) * kLumaGreen;
  const Floats blue = channelValues(p, 16) * kLumaBlue;
  return (red + green) + blue;
}

// What the exact lanes pick from: the stored colour of each class (0 in
// grey classes) and the grey's R, G and B bytes in grey classes.
struct ExactColours {
  WordTable colours, greys;
  Floats factor;
};

inline ExactColours exactColoursOf(const RunLook *look, const WideSetup &s) {
  const ExactColours c = {wordTableOf(s.classColour),
                          wordTableOf(s.classGreyBytes),
                          floatsOf(look->barFactor)};
  return c;
}

// One 8-bit pixel a lane, as the stages paint it: the luma from the three
// loaded channels, its class's colour or its stored grey (after the
// bars), and the alpha.
template <typename Shape>
inline Words exactFalseColour(Words p, const ExactColours &c) {
  const Floats luma = lumaOfBytes(p);
  const Words byte =
      (Words)storedOf<Shape>(Shape::bars != kNoBars ? luma * c.factor : luma);
  const Words grey = byte | byte << 8 | byte << 16;
  const Ints classes = classPicksOf(luma);
  return pickWords(c.colours, classes) | (pickWords(c.greys, classes) & grey) |
         alphaOf<Shape>(p);
}

template <typename Shape>
int64_t exactFalseColourRun(const uint8_t *source, uint8_t *output,
                            int64_t count, const RunLook *look,
                            const ExactColours &c) {
  return byVectors(source, output, count, look, kLanes, 4,
                   kPortableKernels.bytesFalseColour, [&](int64_t i) {
                     storeVector(output + 4 * i,
                                 exactFalseColour<Shape>(
                                     loadVector<Words>(source + 4 * i), c));
                   });
}

// The grid's tables in registers: the weights' digits by place, the
// classes by eighth of hundredths, the class bytes (wide_setup.h).
struct GridTables {
  Words digits[3];
  Bytes eighthBase, eighthStep;
  Bytes red, green, blue, greyLanes;
};

inline GridTables gridTablesOf(const WideSetup &s) {
  GridTables g;
  for (int place = 0; place < 3; ++place) {
    g.digits[place] = splat<Words>(kGridDigits.place[place]);
  }
  g.eighthBase = everyPart((const uint8_t *)kEighthClasses.base);
  g.eighthStep = everyPart((const uint8_t *)kEighthClasses.step);
  g.red = everyPart(s.classRed);
  g.green = everyPart(s.classGreen);
  g.blue = everyPart(s.classBlue);
  g.greyLanes = everyPart(s.classGrey);
  return g;
}

// Each pixel's I, as a 32-bit lane: the three places' digits times the
// bytes, scaled by their place. The sum is the same integer as the full
// products'.
inline Ints gridSums(Words pixels, const GridTables &g) {
  return (weightedBytes(pixels, g.digits[2], 128 * 128) +
          weightedBytes(pixels, g.digits[1], 128)) +
         weightedBytes(pixels, g.digits[0], 1);
}

// The lanes of two vectors of sums within the margin of a grid line, as
// 16-bit lanes (those of `a` in the low halves): f = I mod 2^16 is near
// when (f + margin) mod 2^16 < 2 * margin, compared as signed.
inline Shorts nearGridLine(Ints a, Ints b) {
  const Halves fractions = lowHalves((Words)a, (Words)b);
  const Shorts shifted = (Shorts)(fractions + (uint16_t)(kGridMargin - 0x8000));
  return shifted < splat<Shorts>((int16_t)(2 * kGridMargin - 0x8000));
}

// 4 kLanes pixels from four vectors. The steps are narrowed to bytes (greys
// and hundredths), classed and coloured a byte a lane, and zipped back:
// the zips undo the narrowings' lane order. In bar rows the grey is
// shifted. Sets `near` to the lanes near a grid line, by pair of vectors.
template <typename Shape>
inline void gridGroup(const Words p[4], uint8_t *output, const GridTables &g,
                      int greyShift, Shorts near[2]) {
  Ints sum[4];
  for (int v = 0; v < 4; ++v) {
    sum[v] = gridSums(p[v], g);
  }
  near[0] = nearGridLine(sum[0], sum[1]);
  near[1] = nearGridLine(sum[2], sum[3]);
  const Halves steps01 =
      narrowWords((Words)sum[0] >> kGridShift, (Words)sum[1] >> kGridShift);
  const Halves steps23 =
      narrowWords((Words)sum[2] >> kGridShift, (Words)sum[3] >> kGridShift);
  const Halves by20 = splat<Halves>((uint16_t)kTwentieth);
  const Halves by51 = splat<Halves>((uint16_t)kFiftyFirst);
  Halves greys01 = mulHigh(steps01, by20), greys23 = mulHigh(steps23, by20);
  if (Shape::bars != kNoBars) {
    greys01 >>= greyShift;
    greys23 >>= greyShift;
  }
  const Bytes grey = narrowHalves(greys01, greys23);
  const Bytes hundredths =
      narrowHalves(mulHigh(steps01, by51) >> 3, mulHigh(steps23, by51) >> 3);
  const Bytes eighth = hundredths >> 3;
  const Bytes classes =
      pickBytes(g.eighthBase, eighth) -
      (Bytes)((SBytes)hundredths > (SBytes)pickBytes(g.eighthStep, eighth));
  const Bytes greys = pickBytes(g.greyLanes, classes) & grey;
  const Bytes r = pickBytes(g.red, classes) | greys;
  const Bytes gr = pickBytes(g.green, classes) | greys;
  const Bytes b = pickBytes(g.blue, classes) | greys;
  const Bytes a = splat<Bytes>((uint8_t)0xff);
  const Halves rgLow = zipBytesLow(r, gr), rgHigh = zipBytesHigh(r, gr);
  const Halves baLow = zipBytesLow(b, a), baHigh = zipBytesHigh(b, a);
  const Words out[4] = {zipHalvesLow(rgLow, baLow), zipHalvesHigh(rgLow, baLow),
                        zipHalvesLow(rgHigh, baHigh),
                        zipHalvesHigh(rgHigh, baHigh)};
  const Ints alphaBytes = splat<Ints>(-0x1000000);
  for (int v = 0; v < 4; ++v) {
    storeVector(output + kVectorBytes * v,
                Shape::opaque ? out[v] : pick(alphaBytes, p[v], out[v]));
  }
}

// Whether a lane of the vector lies near a grid line on which the grey or
// the hundredth changes; elsewhere the grid's answer stands.
inline bool nearLineThatCounts(Words pixels, const GridTables &g) {
  const Ints ahead = gridSums(pixels, g) + kGridMargin;
  // Near a line: the fraction ahead of it is below twice the margin.
  const Ints near = (ahead & 0xffff) < 2 * kGridMargin;
  const Words line = (Words)ahead >> kGridShift;
  const Words by20 = (line * (uint32_t)kTwentieth) >> 16;
  const Words by51 = ((line * (uint32_t)kFiftyFirst) >> 16) >> 3;
  const Ints counts = (Ints)(by20 * 20u == line) | (Ints)(by51 * 51u == line);
  return anyLane(near & counts);
}

// Groups holding a lane near a line, with their pixels (which the stores
// overwrite when the output is the source) and the lanes near a line by
// pair of vectors (laneBits), redone once a stretch of the run is drawn:
// recording them costs no branch.
enum { kGridHeldGroups = 16 };

struct HeldGroups {
  Words pixels[kGridHeldGroups][4];
  int64_t at[kGridHeldGroups];
  LaneBits near[kGridHeldGroups][2];
};

template <typename Shape>
void redoHeld(uint8_t *output, const HeldGroups &held, int count,
              const GridTables &g, const ExactColours &colours) {
  for (int k = 0; k < count; ++k) {
    for (int v = 0; v < 4; ++v) {
      const Words p = held.pixels[k][v];
      const LaneBits lanes = v % 2 ? kHighHalfBits : kLowHalfBits;
      if ((held.near[k][v / 2] & lanes) && nearLineThatCounts(p, g)) {
        storeVector(output + 4 * (held.at[k] + kLanes * v),
                    exactFalseColour<Shape>(p, colours));
      }
    }
  }
}

template <typename Shape>
int64_t gridFalseColour(const uint8_t *source, uint8_t *output, int64_t count,
                        const RunLook *look, const WideSetup &s) {
  const GridTables g = gridTablesOf(s);
  const ExactColours colours = exactColoursOf(look, s);
  HeldGroups held;
  int holding = 0;
  int64_t i = 0;
  for (; i + 4 * kLanes <= count; i += 4 * kLanes) {
    Words p[4];
    for (int v = 0; v < 4; ++v) {
      p[v] = loadVector<Words>(source + 4 * i + kVectorBytes * v);
      held.pixels[holding][v] = p[v];
    }
    Shorts near[2];
    gridGroup<Shape>(p, output + 4 * i, g, s.greyShift, near);
    held.at[holding] = i;
    held.near[holding][0] = laneBits(near[0]);
    held.near[holding][1] = laneBits(near[1]);
    holding += (held.near[holding][0] | held.near[holding][1]) != 0;
    if (holding == kGridHeldGroups) {
      redoHeld<Shape>(output, held, holding, g, colours);
      holding = 0;
    }
  }
  redoHeld<Shape>(output, held, holding, g, colours);
  return i + exactFalseColourRun<Shape>(source + 4 * i, output + 4 * i,
                                        count - i, look, colours);
}

// Runs whose grey is on the grid (no bars, or bars that scale it by a power
// of two) take the grid; the others go through the exact lanes.
inline int64_t bytesFalseColour(const uint8_t *source, uint8_t *output,
                                int64_t count, const RunLook *look,
                                const RunSetup *setup) {
  const WideSetup &s = setupOf<WideSetup>(setup);
  return drawByShape<kShapeClamp>(look, [&](auto shape) -> int64_t {
    typedef decltype(shape) Shape;
    if constexpr (Shape::bars != kBarsClamped) {
      if (s.greyShift >= 0) {
        return gridFalseColour<Shape>(source, output, count, look, s);
      }
    }
    return exactFalseColourRun<Shape>(source, output, count, look,
                                      exactColoursOf(look, s));
  });
}

// ---------------------------------------------------------------- float

// The pixels' alpha lanes from `alpha`, the others from `rgb`; moves bits
// only.
inline Floats withAlpha(Floats rgb, Floats alpha) {
  Ints alphaLanes;
  for (int i = 0; i < kLanes; ++i) {
    alphaLanes[i] = i % 4 == 3 ? -1 : 0;
  }
  return alphaLanes ? alpha : rgb;
}

template <typename Shape>
int64_t analysedFloats(const uint8_t *source, uint8_t *output, int64_t count,
                       const RunLook *look) {
  const Floats factor = floatsOf(look->barFactor);
  return byVectors(source, output, count, look, kFloatPixels, 16,
                   kPortableKernels.floatsAnalysed, [&](int64_t i) {
                     const Floats p = loadVector<Floats>(source + 16 * i);
                     const Floats alpha = Shape::opaque ? floatsOf(1.0f) : p;
                     storeVector(output + 16 * i,
                                 withAlpha(analysed<Shape>(p, factor), alpha));
                   });
}

inline int64_t floatsAnalysed(const uint8_t *source, uint8_t *output,
                              int64_t count, const RunLook *look,
                              const RunSetup *) {
  return drawByShape<kShapeLegalize>(look, [&](auto shape) {
    return analysedFloats<decltype(shape)>(source, output, count, look);
  });
}

// The band channels of each class (wide_setup.h) to pick from.
struct FloatClasses {
  WordTable channels[3], greyLanes;
};

inline FloatClasses floatClassesOf(const WideSetup &s) {
  FloatClasses t;
  for (int c = 0; c < 3; ++c) {
    t.channels[c] = wordTableOf(s.classFloats[c]);
  }
  t.greyLanes = wordTableOf(s.classGreyLanes);
  return t;
}

// kLanes float pixels, read as four vectors and transposed: one pixel a
// lane in each of R, G, B and A, and their lumas ((red + green) + blue of
// the weighted channels).
struct FloatGroup {
  Floats channels[4];
  Floats luma;
};

inline FloatGroup floatGroupAt(const uint8_t *source) {
  Floats p[4];
  for (int v = 0; v < 4; ++v) {
    p[v] = loadVector<Floats>(source + kVectorBytes * v);
  }
  FloatGroup g;
  transposeParts(p, g.channels);
  const Floats *c = g.channels;
  g.luma = (c[0] * kLumaRed + c[1] * kLumaGreen) + c[2] * kLumaBlue;
  return g;
}

// The band colours of each lane's luma, or its grey, channel by channel
// (moving bits only: -0, NaN payloads and all, as the stages' own picks
// do), then the pixels put back together.
template <typename Shape>
inline void storeFalseColour(const FloatGroup &g, uint8_t *output,
                             const FloatClasses &t, Floats factor) {
  const Floats grey = Shape::bars != kNoBars ? g.luma * factor : g.luma;
  const Ints classes = classPicksOf(g.luma);
  const Ints greyLanes = (Ints)pickWords(t.greyLanes, classes);
  Floats out[4];
  for (int c = 0; c < 3; ++c) {
    out[c] = pick(greyLanes, grey, (Floats)pickWords(t.channels[c], classes));
  }
  out[3] = Shape::opaque ? floatsOf(1.0f) : g.channels[3];
  Floats pixels[4];
  transposeParts(out, pixels);
  for (int v = 0; v < 4; ++v) {
    storeVector(output + kVectorBytes * v, pixels[v]);
  }
}

// kFloatGroupsAtOnce groups go together, all their lumas first: each group
// is one long chain of dependent steps, and taking several side by side
// lets the processor overlap them. All loads come before any store, so an
// output that is the source stays right. Stops at the first kLanes pixels
// holding a NaN luma; the portable kernel takes the rest of the run from
// there.
template <typename Shape>
int64_t falseColourFloats(const uint8_t *source, uint8_t *output, int64_t count,
                          const RunLook *look, const WideSetup &s) {
  const FloatClasses classes = floatClassesOf(s);
  const Floats factor = floatsOf(look->barFactor);
  enum { kGroup = kFloatGroupsAtOnce * kLanes };
  int64_t i = 0;
  for (; i + kGroup <= count; i += kGroup) {
    FloatGroup g[kFloatGroupsAtOnce];
    Ints nan = splat<Ints>(0);
    for (int k = 0; k < kFloatGroupsAtOnce; ++k) {
      g[k] = floatGroupAt(source + 16 * (i + k * kLanes));
      nan |= g[k].luma != g[k].luma;
    }
    if (anyLane(nan)) {
      break; // the single groups below find it
    }
    for (int k = 0; k < kFloatGroupsAtOnce; ++k) {
      storeFalseColour<Shape>(g[k], output + 16 * (i + k * kLanes), classes,
                              factor);
    }
  }
  for (; i + kLanes <= count; i += kLanes) {
    const FloatGroup g = floatGroupAt(source + 16 * i);
    if (anyLane(g.luma != g.luma)) {
      return i;
    }
    storeFalseColour<Shape>(g, output + 16 * i, classes, factor);
  }
  return i + kPortableKernels.floatsFalseColour.draw(
                 source + 16 * i, output + 16 * i, count - i, look, nullptr);
}

inline int64_t floatsFalseColour(const uint8_t *source, uint8_t *output,
                                 int64_t count, const RunLook *look,
                                 const RunSetup *setup) {
  const WideSetup &s = setupOf<WideSetup>(setup);
  return drawByShape<0>(look, [&](auto shape) {
    return falseColourFloats<decltype(shape)>(source, output, count, look, s);
  });
}

// The kernels as this file's processor runs them, with their setups.
constexpr RunKernel kWideBytesByTable = {prepareWideTable, bytesByTable};
constexpr RunKernel kWideBytesFalseColour = {prepareWideBytesFalseColour,
                                             bytesFalseColour};
constexpr RunKernel kWideFloatsAnalysed = {nullptr, floatsAnalysed};
constexpr RunKernel kWideFloatsFalseColour = {prepareWideFloatsFalseColour,
                                              floatsFalseColour};

} // namespace

#endif
