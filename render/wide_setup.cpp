// The wide kernels' per-frame setup: each look's tables in the layout the
// kernels read (wide_setup.h), from the colours the stages gave it.
#include "wide_setup.h"

#include <string.h>

// ---------------------------------------------------------------- the table

// The offset that makes `slope` give every byte of the table, or -1. Each
// byte b asks for 256 * channel[b] <= floor(b * slope / 256) + offset <
// 256 * (channel[b] + 1).
static int32_t offsetFitting(const uint8_t channel[256], int32_t slope) {
  int32_t low = 0, high = 65535;
  for (int b = 0; b < 256 && low <= high; ++b) {
    const int32_t scaled = b * slope / 256;
    const int32_t least = 256 * channel[b] - scaled;
    const int32_t most = 256 * channel[b] + 255 - scaled;
    low = least > low ? least : low;
    high = most < high ? most : high;
  }
  return low <= high ? low : -1;
}

// Whether the table climbs by steps of one size or the next: a line
// rounded down does, and a table that clamps does not.
static bool climbsEvenly(const uint8_t channel[256]) {
  int least = 255, most = 0;
  for (int b = 1; b < 256; ++b) {
    const int rise = channel[b] - channel[b - 1];
    least = rise < least ? rise : least;
    most = rise > most ? rise : most;
  }
  return least >= 0 && most - least <= 1;
}

// Tries slopes outward from the table's own, most failing within a few
// bytes; a table with no fit within kSlopeSearch is not fitted.
static bool fitChannelFormula(const uint8_t c[256], WideSetup *s) {
  enum { kSlopeSearch = 512 };
  const int32_t middle = (int32_t)((c[255] - c[0]) * 65536.0 / 255.0 + 0.5);
  if (!climbsEvenly(c)) {
    return false;
  }
  for (int32_t step = 0; step <= 2 * kSlopeSearch; ++step) {
    const int32_t slope = middle + (step % 2 ? -(step + 1) / 2 : step / 2);
    if (slope < 0 || slope > 65535) {
      continue;
    }
    const int32_t offset = offsetFitting(c, slope);
    if (offset >= 0) {
      s->channelSlope = (uint16_t)slope;
      s->channelOffset = (uint16_t)offset;
      return true;
    }
  }
  return false;
}

void prepareWideTable(const RunLook *look, RunSetup *setup) {
  WideSetup *s = setupAs<WideSetup>(setup);
  s->channelForm =
      fitChannelFormula(look->channel, s) ? kChannelFitted : kChannelComputed;
}

// ---------------------------------------------------------------- false colour

static int8_t greyShiftOf(const RunLook *look) {
  for (int k = 0; look->bar && k < 16; ++k) {
    if (look->barFactor == 1.0f / (float)(1 << k)) {
      return (int8_t)k;
    }
  }
  return look->bar ? -1 : 0;
}

void prepareWideBytesFalseColour(const RunLook *look, RunSetup *setup) {
  WideSetup *s = setupAs<WideSetup>(setup);
  uint8_t *classBytes[3] = {s->classRed, s->classGreen, s->classBlue};
  memset(s->classRed, 0, sizeof s->classRed);
  memset(s->classGreen, 0, sizeof s->classGreen);
  memset(s->classBlue, 0, sizeof s->classBlue);
  memset(s->classGrey, 0, sizeof s->classGrey);
  for (int c = 0; c < kLumaClasses; ++c) {
    const int band = kClassBand[c];
    const bool grey = band == kGreyBand;
    const uint32_t colour = grey ? 0 : look->bandBytes[band];
    for (int channel = 0; channel < 3; ++channel) {
      classBytes[channel][c] = (uint8_t)(colour >> (8 * channel));
    }
    s->classGrey[c] = grey ? 0xff : 0;
    s->classColour[pickOfClass(c)] = colour;
    s->classGreyBytes[pickOfClass(c)] = grey ? 0xffffffu : 0;
  }
  s->greyShift = greyShiftOf(look);
}

void prepareWideFloatsFalseColour(const RunLook *look, RunSetup *setup) {
  WideSetup *s = setupAs<WideSetup>(setup);
  for (int c = 0; c < kLumaClasses; ++c) {
    const int band = kClassBand[c];
    const bool grey = band == kGreyBand;
    const WorkPixel colour = look->bandColours[grey ? 0 : band];
    const float channels[3] = {colour.r, colour.g, colour.b};
    for (int channel = 0; channel < 3; ++channel) {
      uint32_t bits = 0;
      memcpy(&bits, &channels[channel], sizeof bits);
      s->classFloats[channel][pickOfClass(c)] = grey ? 0 : bits;
    }
    s->classGreyLanes[pickOfClass(c)] = grey ? 0xffffffffu : 0;
  }
}
