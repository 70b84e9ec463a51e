// The eight overlay stages of one pixel, in the order they paint: the
// picture analysis, the guides, the reference bands, then the bars.
#include "overlays.h"
#include "numeric.h"
#include "stage_rules.h"

static void setColour(WorkPixel *p, float r, float g, float b) {
  p->r = r;
  p->g = g;
  p->b = b;
}

static void paintWhite(WorkPixel *p) { setColour(p, 1.0f, 1.0f, 1.0f); }

static void falseColour(WorkPixel *p) {
  const float luma = lumaOf(p->r, p->g, p->b);
  const int band = falseColourBand(luma);
  if (band == kGreyBand) {
    setColour(p, luma, luma, luma);
  } else {
    const Colour &c = kFalseColour.colours[band];
    setColour(p, c.r, c.g, c.b);
  }
}

static void legalize(WorkPixel *p) {
  setColour(p, legalized(p->r), legalized(p->g), legalized(p->b));
}

static bool onGuide(int32_t x, int32_t y, const int32_t columns[2],
                    const int32_t rows[2]) {
  return isGuideLine(x, columns) || isGuideLine(y, rows);
}

static bool onCrosshair(int32_t x, int32_t y, const OverlayGeometry *g) {
  return onCrosshairColumn(x, y, g) || onCrosshairRow(x, y, g);
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
  if (params->ShowSkinToneLine) {
    skinLine(p, x, g, c);
  }
  if (patchesCoverRow(y, params, g)) {
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
  if (inSkinBand(y, g)) {
    skinBand(pixel, x, y, params, g, colours);
  }
  if (grayBandCoversRow(y, params, g)) {
    setColour(pixel, 0.5f, 0.5f, 0.5f);
    pixel->a = 1.0f;
  }
  if (isBarRow(y, g)) {
    letterbox(pixel, params->CropOpacity);
  }
}
