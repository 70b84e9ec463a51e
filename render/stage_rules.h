// What the overlay stages decide by: which rows and columns each overlay
// covers, the false-colour scale and the legal-range squeeze. The per-pixel
// stages and the row renderer both read these, so they cannot drift apart.
#ifndef VANTOREL_STAGE_RULES_H
#define VANTOREL_STAGE_RULES_H

#include "numeric.h"
#include "vantorel_types.h"

static inline int64_t distanceBetween(int32_t a, int32_t b) {
  const int64_t d = (int64_t)a - (int64_t)b;
  return d < 0 ? -d : d;
}

static inline bool inBand(int32_t y, int32_t start, int32_t thickness) {
  return (int64_t)start <= y && (int64_t)y < (int64_t)start + thickness;
}

static inline bool inSkinBand(int32_t y, const OverlayGeometry *g) {
  return inBand(y, g->skinBandStart, g->bandThickness);
}

// Within the skin band the patches cover every row, or only the middle
// third when the line is on too.
static inline bool patchesCoverRow(int32_t y, const RenderParams *params,
                                   const OverlayGeometry *g) {
  if (!params->ShowSkinTonePatches) {
    return false;
  }
  return !params->ShowSkinToneLine ||
         (g->patchRowsStart <= y && y < g->patchRowsEnd);
}

static inline bool grayBandCoversRow(int32_t y, const RenderParams *params,
                                     const OverlayGeometry *g) {
  return params->ShowMiddleGray &&
         inBand(y, g->grayBandStart, g->bandThickness);
}

static inline bool isBarRow(int32_t y, const OverlayGeometry *g) {
  return y < g->cropLow || y > g->cropHigh;
}

static inline bool isGuideLine(int32_t v, const int32_t lines[2]) {
  return v == lines[0] || v == lines[1];
}

// The crosshair's vertical arm is the centre column within reach of the
// centre row; its horizontal arm the centre row within reach of the centre
// column.
static inline bool onCrosshairColumn(int32_t x, int32_t y,
                                     const OverlayGeometry *g) {
  return x == g->centreColumn &&
         distanceBetween(y, g->centreRow) < crosshairReach;
}

static inline bool onCrosshairRow(int32_t x, int32_t y,
                                  const OverlayGeometry *g) {
  return y == g->centreRow &&
         distanceBetween(x, g->centreColumn) < crosshairReach;
}

// The colours the reference bands paint at column x (alpha becomes 1).
static const Colour kMiddleGray = {0.5f, 0.5f, 0.5f};

static inline Colour skinPatchColour(int32_t x, const OverlayGeometry *g,
                                     const ReferenceColours *c) {
  return x < g->centreColumn ? c->lightSkin : c->darkSkin;
}

// The first column after x whose patch colour may differ from x's.
static inline int64_t skinPatchEnd(int32_t x, const OverlayGeometry *g) {
  return x < g->centreColumn ? (int64_t)g->centreColumn : INT64_MAX;
}

// The fraction of the way along a half of the skin line, from `from`
// toward `to`, as a 32-bit float quotient of the two column differences.
static inline float lineFraction(int32_t x, int32_t from, int32_t to) {
  return (float)((int64_t)x - from) / (float)((int64_t)to - from);
}

// From the boosted light skin at x1 to black at the centre column, then up
// toward the boosted dark skin at x2.
static inline Colour skinLineColour(int32_t x, const OverlayGeometry *g,
                                    const ReferenceColours *c) {
  Colour out;
  if (x < g->centreColumn) {
    const float t = lineFraction(x, g->x1, g->centreColumn);
    const Colour &from = c->boostedLightSkin;
    out.r = lerp(from.r, 0.0f, t);
    out.g = lerp(from.g, 0.0f, t);
    out.b = lerp(from.b, 0.0f, t);
  } else {
    const float t = lineFraction(x, g->centreColumn, g->x2);
    const Colour &to = c->boostedDarkSkin;
    out.r = lerp(0.0f, to.r, t);
    out.g = lerp(0.0f, to.g, t);
    out.b = lerp(0.0f, to.b, t);
  }
  return out;
}

// The false-colour scale: luma below purpleBelow is purple, below blueBelow
// blue, within greenFrom..greenTo green, within pinkFrom..pinkTo pink, above
// redAbove red, tested in that order; anything else stays grey.
enum FalseColourBand {
  kGreyBand = -1,
  kPurpleBand,
  kBlueBand,
  kGreenBand,
  kPinkBand,
  kRedBand,
  kFalseColourBands
};

typedef struct FalseColourScale {
  float purpleBelow, blueBelow;
  float greenFrom, greenTo;
  float pinkFrom, pinkTo;
  float redAbove;
  Colour colours[kFalseColourBands]; // by FalseColourBand
} FalseColourScale;

static constexpr FalseColourScale kFalseColour = {
    0.05f, // purpleBelow: crushed blacks
    0.1f,  // blueBelow: near black
    0.4f,  // greenFrom: mid-grey and darker skin ...
    0.45f, // ... greenTo
    0.52f, // pinkFrom: lighter skin ...
    0.58f, // ... pinkTo
    0.95f, // redAbove: clipping highlights
    {
        {0.5f, 0.0f, 0.5f}, // purple
        {0.0f, 0.0f, 1.0f}, // blue
        {0.0f, 1.0f, 0.0f}, // green
        {1.0f, 0.4f, 0.6f}, // pink
        {1.0f, 0.0f, 0.0f}, // red
    }};

// The band of a luma; a NaN luma falls in none and stays grey.
static constexpr int falseColourBand(float luma) {
  const FalseColourScale &s = kFalseColour;
  if (luma < s.purpleBelow) {
    return kPurpleBand;
  }
  if (luma < s.blueBelow) {
    return kBlueBand;
  }
  if (s.greenFrom <= luma && luma <= s.greenTo) {
    return kGreenBand;
  }
  if (s.pinkFrom <= luma && luma <= s.pinkTo) {
    return kPinkBand;
  }
  if (luma > s.redAbove) {
    return kRedBand;
  }
  return kGreyBand;
}

// The squeeze into the legal range, black to 16 and white to 235 of 255:
// 16/255 + c * 219/255, each quotient the nearest 32-bit float, the product
// rounded first.
static constexpr float kLegalFloor = 16.0f / 255.0f;
static constexpr float kLegalSpan = 219.0f / 255.0f;

static inline float legalized(float c) {
  const float scaled = c * kLegalSpan;
  return kLegalFloor + scaled;
}

#endif
