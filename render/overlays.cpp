// The eight overlay stages of one pixel, in the order they paint: the
// picture analysis, the guides, the reference bands, then the bars.
#include "overlays.h"
#include "numeric.h"

static void setColour(WorkPixel *p, float r, float g, float b) {
  p->r = r;
  p->g = g;
  p->b = b;
}

static void paintWhite(WorkPixel *p) { setColour(p, 1.0f, 1.0f, 1.0f); }

static int64_t distance(int32_t a, int32_t b) {
  const int64_t d = (int64_t)a - (int64_t)b;
  return d < 0 ? -d : d;
}

static void falseColour(WorkPixel *p) {
  const float luma = lumaOf(p->r, p->g, p->b);
  if (luma < 0.05f) {
    setColour(p, 0.5f, 0.0f, 0.5f);
  } else if (luma < 0.1f) {
    setColour(p, 0.0f, 0.0f, 1.0f);
  } else if (0.4f <= luma && luma <= 0.45f) {
    setColour(p, 0.0f, 1.0f, 0.0f);
  } else if (0.52f <= luma && luma <= 0.58f) {
    setColour(p, 1.0f, 0.4f, 0.6f);
  } else if (luma > 0.95f) {
    setColour(p, 1.0f, 0.0f, 0.0f);
  } else {
    setColour(p, luma, luma, luma);
  }
}

static float legalized(float c) {
  const float scaled = c * 0.85882354f;
  return 0.0627451f + scaled;
}

static void legalize(WorkPixel *p) {
  setColour(p, legalized(p->r), legalized(p->g), legalized(p->b));
}

static bool onGuide(int32_t x, int32_t y, const int32_t columns[2],
                    const int32_t rows[2]) {
  return x == columns[0] || x == columns[1] || y == rows[0] || y == rows[1];
}

static bool onCrosshair(int32_t x, int32_t y, const OverlayGeometry *g) {
  return (x == g->centreColumn && distance(y, g->centreRow) < crosshairReach) ||
         (y == g->centreRow && distance(x, g->centreColumn) < crosshairReach);
}

static bool inBand(int32_t y, int32_t start, int32_t thickness) {
  return (int64_t)start <= y && (int64_t)y < (int64_t)start + thickness;
}

// The fraction of the way along a half of the line, from `from` toward
// `to`, as a 32-bit float quotient of the two column differences.
static float lineFraction(int32_t x, int32_t from, int32_t to) {
  return (float)((int64_t)x - from) / (float)((int64_t)to - from);
}

static void skinLine(WorkPixel *p, int32_t x, const OverlayGeometry *g,
                     const ReferenceColours *c) {
  if (x < g->centreColumn) {
    const float t = lineFraction(x, g->x1, g->centreColumn);
    const Colour &from = c->boostedLightSkin;
    setColour(p, lerp(from.r, 0.0f, t), lerp(from.g, 0.0f, t),
              lerp(from.b, 0.0f, t));
  } else {
    const float t = lineFraction(x, g->centreColumn, g->x2);
    const Colour &to = c->boostedDarkSkin;
    setColour(p, lerp(0.0f, to.r, t), lerp(0.0f, to.g, t), lerp(0.0f, to.b, t));
  }
  p->a = 1.0f;
}

static void skinPatch(WorkPixel *p, int32_t x, const OverlayGeometry *g,
                      const ReferenceColours *c) {
  const Colour &patch = x < g->centreColumn ? c->lightSkin : c->darkSkin;
  setColour(p, patch.r, patch.g, patch.b);
  p->a = 1.0f;
}

static void skinBand(WorkPixel *p, int32_t x, int32_t y,
                     const RenderParams *params, const OverlayGeometry *g,
                     const ReferenceColours *c) {
  bool patch = params->ShowSkinTonePatches != 0;
  if (params->ShowSkinToneLine && patch) {
    patch = g->patchRowsStart <= y && y < g->patchRowsEnd;
  }
  if (params->ShowSkinToneLine) {
    skinLine(p, x, g, c);
  }
  if (patch) {
    skinPatch(p, x, g, c);
  }
}

static void letterbox(WorkPixel *p, double opacity) {
  const float k = 1.0f - (float)opacity;
  setColour(p, p->r * k, p->g * k, p->b * k);
  if (opacity >= 0.9900000095367432) {
    p->a = 1.0f;
  }
}

void applyOverlays(WorkPixel *pixel, int32_t x, int32_t y,
                   const RenderParams *params, const OverlayGeometry *g,
                   const ReferenceColours *colours) {
  if (params->FalseColorMode) {
    falseColour(pixel);
  } else if (params->LegalizeLevels) {
    legalize(pixel);
  }
  if (params->GuideThirds && onGuide(x, y, g->thirdColumns, g->thirdRows)) {
    paintWhite(pixel);
  }
  if (params->GuideGolden && onGuide(x, y, g->goldenColumns, g->goldenRows)) {
    paintWhite(pixel);
  }
  if (params->GuideCrosshair && onCrosshair(x, y, g)) {
    paintWhite(pixel);
  }
  if (inBand(y, g->skinBandStart, g->bandThickness)) {
    skinBand(pixel, x, y, params, g, colours);
  }
  if (params->ShowMiddleGray && inBand(y, g->grayBandStart, g->bandThickness)) {
    setColour(pixel, 0.5f, 0.5f, 0.5f);
    pixel->a = 1.0f;
  }
  if (y < g->cropLow || y > g->cropHigh) {
    letterbox(pixel, params->CropOpacity);
  }
}
