// The false-colour scale as classes along the luma, at compile time, for
// the kernels that class a luma by comparing it with limits. Everything here
// has internal linkage, as kernel files built for different processors
// include it.
#ifndef VANTOREL_FALSE_COLOUR_CLASSES_H
#define VANTOREL_FALSE_COLOUR_CLASSES_H

#include "stage_rules.h"

namespace {

// The false-colour scale as classes along the luma: a luma is in class c
// when it reaches c of kClassLimits (`luma >= limit`), and class c paints
// band kClassBand[c] (or its grey). Negative lumas, -0 included, reach
// none.
enum { kLumaClasses = 8 };

static constexpr float nextFloatAbove(float v) {
  return __builtin_bit_cast(float, __builtin_bit_cast(uint32_t, v) + 1u);
}

static constexpr float kClassLimits[kLumaClasses - 1] = {
    kFalseColour.purpleBelow,
    kFalseColour.blueBelow,
    kFalseColour.greenFrom,
    nextFloatAbove(kFalseColour.greenTo),
    kFalseColour.pinkFrom,
    nextFloatAbove(kFalseColour.pinkTo),
    nextFloatAbove(kFalseColour.redAbove)};

static constexpr int classBandOf(int c) {
  return falseColourBand(c == 0 ? 0.0f : kClassLimits[c - 1]);
}

static constexpr int8_t kClassBand[kLumaClasses] = {
    classBandOf(0), classBandOf(1), classBandOf(2), classBandOf(3),
    classBandOf(4), classBandOf(5), classBandOf(6), classBandOf(7)};

// A positive float's bits, as a signed integer, order as the float does,
// and every negative float's are negative: a luma reaches a limit when its
// bits exceed the limit's less one.
static constexpr bool classesFit(void) {
  for (int c = 0; c < kLumaClasses - 1; ++c) {
    const float below = c == 0 ? 0.0f : kClassLimits[c - 1];
    // Each class paints one band from its first luma to its last.
    if (kClassLimits[c] <= below ||
        falseColourBand(__builtin_bit_cast(
            float, __builtin_bit_cast(uint32_t, kClassLimits[c]) - 1u)) !=
            classBandOf(c)) {
      return false;
    }
  }
  return falseColourBand(1e30f) == classBandOf(kLumaClasses - 1) &&
         falseColourBand(-1.0f) == classBandOf(0);
}
static_assert(classesFit(), "the limits ascend above 0, a band a class");

} // namespace

#endif
