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

static void paintOpaque(WorkPixel *p, Colour c) {
  setColour(p, c.r, c.g, c.b);
  p->a = 1.0f;
}

static void skinBand(WorkPixel *p, int32_t x, int32_t y,
                     const RenderParams *params, const OverlayGeometry *g,
                     const ReferenceColours *c) {
  if (params->ShowSkinToneLine) {
    paintOpaque(p, skinLineColour(x, g, c));
  }
  if (patchesCoverRow(y, params, g)) {
    paintOpaque(p, skinPatchColour(x, g, c));
  }
}

// Bars at this opacity or above are solid (alpha 1): the 32-bit float 0.99
// widened to double, so the double parameter 0.99 itself stays below it.
static const double kSolidBarsFrom = (double)0.99f;

static void letterbox(WorkPixel *p, double opacity) {
  const float k = 1.0f - (float)opacity;
  setColour(p, p->r * k, p->g * k, p->b * k);
  if (opacity >= kSolidBarsFrom) {
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
    paintOpaque(pixel, kMiddleGray);
  }
  if (isBarRow(y, g)) {
    letterbox(pixel, params->CropOpacity);
  }
}
