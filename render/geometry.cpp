// Where the overlays go and what colours they paint, computed once a frame.
// Integer halving and thirds truncate toward zero; fractions of a size are
// double products truncated toward zero.
#include "numeric.h"
#include "overlays.h"

static int32_t fractionOf(int32_t size, double fraction) {
  return truncateToInt((double)size * fraction);
}

static double cropRatioOf(const RenderParams *params) {
  if (params->Crop239) {
    return 2.39;
  }
  if (params->Crop235) {
    return 2.35;
  }
  if (params->Crop185) {
    return 1.85;
  }
  return 0.0;
}

static void placeBands(OverlayGeometry *g, const RenderParams *params) {
  const double thicknessFraction = params->LineThickness / 100.0;
  g->bandThickness = fractionOf(g->height, thicknessFraction);
  if (g->bandThickness < 1) {
    g->bandThickness = 1;
  }
  g->skinBandStart = wrapAdd(g->y1, fractionOf(g->height, params->SkinLinePos));
  g->grayBandStart = wrapAdd(g->y1, fractionOf(g->height, params->GrayLinePos));
  g->patchRowsStart = wrapAdd(g->skinBandStart, g->bandThickness / 3);
  g->patchRowsEnd = wrapAdd(g->skinBandStart, wrapTwice(g->bandThickness) / 3);
}

static void placeBars(OverlayGeometry *g, const RenderParams *params) {
  g->cropRatio = cropRatioOf(params);
  g->pictureHeight = 0;
  g->barHeight = 0;
  g->cropLow = g->y1;
  g->cropHigh = g->y2;
  if (g->cropRatio > 0.0) {
    g->pictureHeight = truncateToInt((double)g->width / g->cropRatio);
    g->barHeight = wrapSub(g->height, g->pictureHeight) / 2;
    g->cropLow = wrapAdd(g->y1, g->barHeight);
    g->cropHigh = wrapSub(g->y2, g->barHeight);
  }
}

static void placeGuides(OverlayGeometry *g) {
  g->thirdColumns[0] = wrapAdd(g->x1, g->width / 3);
  g->thirdColumns[1] = wrapAdd(g->x1, wrapTwice(g->width) / 3);
  g->thirdRows[0] = wrapAdd(g->y1, g->height / 3);
  g->thirdRows[1] = wrapAdd(g->y1, wrapTwice(g->height) / 3);
  g->goldenColumns[0] = wrapAdd(g->x1, fractionOf(g->width, 0.382));
  g->goldenColumns[1] = wrapAdd(g->x1, fractionOf(g->width, 0.618));
  g->goldenRows[0] = wrapAdd(g->y1, fractionOf(g->height, 0.382));
  g->goldenRows[1] = wrapAdd(g->y1, fractionOf(g->height, 0.618));
}

OverlayGeometry computeOverlayGeometry(OfxRectI sourceBounds,
                                       const RenderParams *params) {
  OverlayGeometry g;
  g.x1 = sourceBounds.x1;
  g.y1 = sourceBounds.y1;
  g.x2 = sourceBounds.x2;
  g.y2 = sourceBounds.y2;
  g.width = wrapSub(g.x2, g.x1);
  g.height = wrapSub(g.y2, g.y1);
  g.centreColumn = wrapAdd(g.x1, g.width / 2);
  g.centreRow = wrapAdd(g.y1, g.height / 2);
  placeBands(&g, params);
  placeBars(&g, params);
  placeGuides(&g);
  return g;
}

// Pushes each channel of a colour away from its luma by the boost factor,
// then clamps it to 0..1.
static Colour boosted(Colour c, float luma, float boost) {
  const float channels[3] = {c.r, c.g, c.b};
  float out[3];
  for (int i = 0; i < 3; ++i) {
    const float difference = channels[i] - luma;
    const float pushed = difference * boost;
    const float v = luma + pushed;
    out[i] = smallerOf(largerOf(v, 0.0f), 1.0f);
  }
  const Colour result = {out[0], out[1], out[2]};
  return result;
}

ReferenceColours computeReferenceColours(void) {
  ReferenceColours c;
  c.lightSkin.r = 194.0f / 255.0f;
  c.lightSkin.g = 150.0f / 255.0f;
  c.lightSkin.b = 130.0f / 255.0f;
  c.darkSkin.r = 115.0f / 255.0f;
  c.darkSkin.g = 82.0f / 255.0f;
  c.darkSkin.b = 68.0f / 255.0f;
  c.lightSkinLuma = lumaOf(c.lightSkin.r, c.lightSkin.g, c.lightSkin.b);
  c.darkSkinLuma = lumaOf(c.darkSkin.r, c.darkSkin.g, c.darkSkin.b);
  c.saturationBoost = 3.0f;
  c.boostedLightSkin = boosted(c.lightSkin, c.lightSkinLuma, c.saturationBoost);
  c.boostedDarkSkin = boosted(c.darkSkin, c.darkSkinLuma, c.saturationBoost);
  return c;
}
