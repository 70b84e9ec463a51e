// Loading pixels into working form and storing them back, for the two
// pixel layouts: 8-bit RGBA (4 bytes) and 32-bit float RGBA (16 bytes).
#ifndef VANTOREL_PIXELS_H
#define VANTOREL_PIXELS_H

#include "numeric.h"
#include "vantorel_types.h"

#include <string.h>

// Converts a working channel to a byte: clamp to 0..1 (a NaN passes the
// clamp and is stored as 0), scale by 255 and truncate.
static inline uint8_t channelToByte(float v) {
  const float clamped = smallerOf(largerOf(v, 0.0f), 1.0f);
  if (!(clamped == clamped)) {
    return 0;
  }
  return (uint8_t)(int32_t)(clamped * 255.0f);
}

struct BytePixels {
  static constexpr int size = 4;
  static WorkPixel load(const uint8_t *at) {
    const WorkPixel p = {(float)at[0] / 255.0f, (float)at[1] / 255.0f,
                         (float)at[2] / 255.0f, (float)at[3] / 255.0f};
    return p;
  }
  static void store(uint8_t *at, const WorkPixel &p) {
    at[0] = channelToByte(p.r);
    at[1] = channelToByte(p.g);
    at[2] = channelToByte(p.b);
    at[3] = channelToByte(p.a);
  }
};

struct FloatPixels {
  static constexpr int size = 16;
  static WorkPixel load(const uint8_t *at) {
    WorkPixel p;
    memcpy(&p, at, sizeof p);
    return p;
  }
  static void store(uint8_t *at, const WorkPixel &p) {
    memcpy(at, &p, sizeof p);
  }
};

#endif
