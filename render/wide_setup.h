// What the wide kernels (row_kernels_wide.h) work from besides the pixels:
// the tables the false-colour scale and the luma weights fix, as
// compile-time constants checked here to fit the kernels, and each look's
// per-frame setup, built by the kernels' prepare functions
// (wide_setup.cpp). Everything here has internal linkage, as the kernel
// files built for different processors include it.
#ifndef VANTOREL_WIDE_SETUP_H
#define VANTOREL_WIDE_SETUP_H

#include "false_colour_classes.h"
#include "row_kernels.h"

namespace {

// ---------------------------------------------------------------- classes

// Where the kernels pick a class's entry among eight: a lane's sum of -1
// for each limit reached is -c, whose low three bits are (8 - c) % 8.
static constexpr int pickOfClass(int c) { return (kLumaClasses - c) % 8; }
static_assert(kLumaClasses == 8, "a class is picked by three bits");

// ---------------------------------------------------------------- the grid

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
// line (the every-triple test checks the kernels). Only lines on which the
// grey or the hundredth changes (multiples of 20 or of 51 steps) matter:
// near any other, both sides give the same colour. A vector with a lane
// within kGridMargin units of such a line goes through the exact lanes.
static constexpr int32_t kGridShift = 16, kGridMargin = 16,
                         kMostGridStep = 5103;

static constexpr int32_t gridWeightOf(float weight) {
  return (int32_t)((double)weight * (20 << kGridShift) + 0.5);
}

// Each weight as three digits in -64..63, W = 128^2 d2 + 128 d1 + d0, and
// each place's digits packed as signed bytes (R, G, B, then 0 for alpha):
// a place's digits times the bytes go through one byte multiply-add, whose
// pair sums stay within 16 bits (255 * 128).
typedef struct GridDigits {
  uint32_t place[3];
} GridDigits;

static constexpr GridDigits gridDigitsOf(void) {
  const float weights[3] = {kLumaRed, kLumaGreen, kLumaBlue};
  GridDigits g = {};
  for (int c = 0; c < 3; ++c) {
    int32_t w = gridWeightOf(weights[c]);
    for (int place = 0; place < 3; ++place) {
      const int32_t digit = ((w + 64) & 127) - 64;
      g.place[place] |= (uint32_t)(digit & 0xff) << (8 * c);
      w = (w - digit) / 128;
    }
  }
  return g;
}

static constexpr GridDigits kGridDigits = gridDigitsOf();

static constexpr int32_t digitOf(int place, int c) {
  return (int8_t)(uint8_t)(kGridDigits.place[place] >> (8 * c));
}

static constexpr bool gridDigitsFit(void) {
  const float weights[3] = {kLumaRed, kLumaGreen, kLumaBlue};
  for (int c = 0; c < 3; ++c) {
    if (digitOf(2, c) * 128 * 128 + digitOf(1, c) * 128 + digitOf(0, c) !=
        gridWeightOf(weights[c])) {
      return false;
    }
  }
  // The largest I (white) stays below the steps the divisions hold for.
  int32_t white = 0;
  for (int c = 0; c < 3; ++c) {
    white += 255 * gridWeightOf(weights[c]);
  }
  return (white >> kGridShift) <= kMostGridStep;
}
static_assert(gridDigitsFit(), "the weights fit three digits");

// For q up to kMostGridStep: q / 20 is the high half of q * kTwentieth, and
// q / 51 that of q * kFiftyFirst shifted right by 3.
static constexpr int32_t kTwentieth = 3277, kFiftyFirst = 10281;

static constexpr bool gridDivisionsHold(void) {
  for (int32_t q = 0; q <= kMostGridStep; ++q) {
    if ((q * kTwentieth) >> 16 != q / 20 ||
        ((q * kFiftyFirst) >> 16) >> 3 != q / 51) {
      return false;
    }
  }
  return true;
}
static_assert(gridDivisionsHold(), "the multipliers divide every step");

// The band edges as whole hundredths h, in ascending order: the class of
// a luma's hundredths is the count of edges it reaches, the same class as
// its luma's but for lumas on an edge, which lie on a line that counts.
static constexpr int hundredthOf(float edge) {
  const int h = (int)(edge * 100.0f + 0.5f);
  return (float)(h / 100.0) == edge ? h : -1;
}

static constexpr int kHundredthEdges[kLumaClasses - 1] = {
    hundredthOf(kFalseColour.purpleBelow), hundredthOf(kFalseColour.blueBelow),
    hundredthOf(kFalseColour.greenFrom),   hundredthOf(kFalseColour.greenTo),
    hundredthOf(kFalseColour.pinkFrom),    hundredthOf(kFalseColour.pinkTo),
    hundredthOf(kFalseColour.redAbove)};

// A hundredth h (0 to 100) is classed a byte a lane through two 16-entry
// byte picks by its eighth h / 8: the class is kEighthBase[h / 8], plus 1
// where h > kEighthStep[h / 8], so each eighth holds at most one edge.
typedef struct EighthClasses {
  int8_t base[16], step[16];
} EighthClasses;

static constexpr EighthClasses eighthClassesOf(void) {
  EighthClasses t = {};
  for (int eighth = 0, e = 0; eighth < 16; ++eighth) {
    while (e < kLumaClasses - 1 && kHundredthEdges[e] <= 8 * eighth) {
      ++e;
    }
    t.base[eighth] = (int8_t)e;
    t.step[eighth] = 127;
    if (e < kLumaClasses - 1 && kHundredthEdges[e] < 8 * eighth + 8) {
      t.step[eighth] = (int8_t)(kHundredthEdges[e] - 1);
    }
  }
  return t;
}

static constexpr EighthClasses kEighthClasses = eighthClassesOf();

static constexpr bool hundredthsFit(void) {
  for (int e = 0; e < kLumaClasses - 1; ++e) {
    const int h = kHundredthEdges[e];
    if (h <= (e ? kHundredthEdges[e - 1] : 0) || h >= 100) {
      return false;
    }
  }
  // Every hundredth of a luma up to white: its class as the picks give it.
  static_assert(kMostGridStep / 51 / 8 < 16, "an eighth is a 16-entry pick");
  for (int h = 0; h <= kMostGridStep / 51; ++h) {
    int reached = 0;
    for (int e = 0; e < kLumaClasses - 1; ++e) {
      reached += h >= kHundredthEdges[e];
    }
    const int picked =
        kEighthClasses.base[h / 8] + (h > kEighthClasses.step[h / 8] ? 1 : 0);
    if (picked != reached) {
      return false;
    }
  }
  return true;
}
static_assert(hundredthsFit(), "edges are whole hundredths, one an eighth");

// ---------------------------------------------------------------- per frame

// How the 8-bit channel table is formed without a 256-byte lookup. The
// table is the stages' arithmetic on each byte (row_renderer.cpp fills it
// from them), so the kernels can always compute it; where it is a line
// rounded down, a fitted formula is cheaper.
enum ChannelForm {
  // (floor(b * slope / 256) + offset) / 256 rounded down, with one
  // high-half multiply, an add and a shift.
  kChannelFitted,
  // The stages' arithmetic: the byte's value, legalized when the look
  // legalizes, through the bars, stored.
  kChannelComputed
};

typedef struct WideSetup {
  // The 8-bit channel table.
  uint8_t channelForm; // a ChannelForm
  uint16_t channelSlope, channelOffset;
  // 8-bit false colour, by class: the stored band bytes (0 in grey
  // classes) and 0xff in grey classes, to pick a byte a lane ...
  uint8_t classRed[16], classGreen[16], classBlue[16], classGrey[16];
  // ... and the same a pixel a lane, by pickOfClass.
  uint32_t classColour[8], classGreyBytes[8];
  // The stored grey in bar rows is the plain one shifted right by
  // greyShift when the bar factor is 2^-greyShift (up to 15): then
  // luma * factor * 255 rounds as luma * 255 does, scaled. 0 outside bar
  // rows; -1 for any other factor, whose grey is not on the grid.
  int8_t greyShift;
  // Float false colour, by pickOfClass: the band's channels as bits (0 in
  // grey classes), and all ones in grey classes.
  uint32_t classFloats[3][8], classGreyLanes[8];
} WideSetup;

} // namespace

// The prepare functions of the wide kernels, by the kernels they serve.
void prepareWideTable(const RunLook *look, RunSetup *setup);
void prepareWideBytesFalseColour(const RunLook *look, RunSetup *setup);
void prepareWideFloatsFalseColour(const RunLook *look, RunSetup *setup);

#endif
