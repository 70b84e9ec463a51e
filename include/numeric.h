// Numeric helpers shared by the overlay stages. All colour arithmetic is
// 32-bit float, each operation rounded in the order written.
#ifndef VANTOREL_NUMERIC_H
#define VANTOREL_NUMERIC_H

#include <stdint.h>

// b when b > a, otherwise a: a NaN first operand passes through.
static inline float largerOf(float a, float b) { return b > a ? b : a; }

// b when a > b, otherwise a: a NaN first operand passes through.
static inline float smallerOf(float a, float b) { return a > b ? b : a; }

// a + t * (b - a), formed as b - a, then times t, then plus a.
static inline float lerp(float a, float b, float t) {
  const float span = b - a;
  const float step = span * t;
  return step + a;
}

// BT.709 luma weights, as 32-bit floats.
static constexpr float kLumaRed = 0.2126f;
static constexpr float kLumaGreen = 0.7152f;
static constexpr float kLumaBlue = 0.0722f;

// The sum of the three weighted terms of a luma, red and green first.
static constexpr float lumaFromTerms(float red, float green, float blue) {
  const float redGreen = red + green;
  return redGreen + blue;
}

// BT.709 luma: ((r * 0.2126) + (g * 0.7152)) + (b * 0.0722).
static inline float lumaOf(float r, float g, float b) {
  return lumaFromTerms(r * kLumaRed, g * kLumaGreen, b * kLumaBlue);
}

// Drops the fraction of a double, toward zero. Values beyond the 32-bit
// range saturate and NaN gives 0, so hostile parameters cannot trap.
static inline int32_t truncateToInt(double v) {
  if (!(v == v)) {
    return 0;
  }
  if (v >= 2147483647.0) {
    return INT32_MAX;
  }
  if (v <= -2147483648.0) {
    return INT32_MIN;
  }
  return (int32_t)v;
}

// 32-bit integer arithmetic that wraps instead of overflowing.
static inline int32_t wrapAdd(int32_t a, int32_t b) {
  return (int32_t)((uint32_t)a + (uint32_t)b);
}
static inline int32_t wrapSub(int32_t a, int32_t b) {
  return (int32_t)((uint32_t)a - (uint32_t)b);
}
static inline int32_t wrapTwice(int32_t a) {
  return (int32_t)((uint32_t)a * 2u);
}

#endif
