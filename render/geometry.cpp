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

// The picture's size and first row, which every placement starts from.
typedef struct Extent {
  int32_t y1, y2;
  int32_t width, height;
} Extent;

static void placeBands(OverlayGeometry *g, const Extent *e,
                       const RenderParams *params) {
  const double thicknessFraction = params->LineThickness / 100.0;
  g->bandThickness = fractionOf(e->height, thicknessFraction);
  if (g->bandThickness < 1) {
    g->bandThickness = 1;
  }
  g->skinBandStart = wrapAdd(e->y1, fractionOf(e->height, params->SkinLinePos));
  g->grayBandStart = wrapAdd(e->y1, fractionOf(e->height, params->GrayLinePos));
  g->patchRowsStart = wrapAdd(g->skinBandStart, g->bandThickness / 3);
  g->patchRowsEnd = wrapAdd(g->skinBandStart, wrapTwice(g->bandThickness) / 3);
}

// The bars leave a picture of the crop ratio's height, centred; without a
// crop no row is a bar row.
static void placeBars(OverlayGeometry *g, const Extent *e,
                      const RenderParams *params) {
  const double cropRatio = cropRatioOf(params);
  g->cropLow = e->y1;
  g->cropHigh = e->y2;
  if (cropRatio > 0.0) {
    const int32_t pictureHeight = truncateToInt((double)e->width / cropRatio);
    const int32_t barHeight = wrapSub(e->height, pictureHeight) / 2;
    g->cropLow = wrapAdd(e->y1, barHeight);
    g->cropHigh = wrapSub(e->y2, barHeight);
  }
}

static void placeGuides(OverlayGeometry *g, const Extent *e) {
  g->thirdColumns[0] = wrapAdd(g->x1, e->width / 3);
  g->thirdColumns[1] = wrapAdd(g->x1, wrapTwice(e->width) / 3);
  g->thirdRows[0] = wrapAdd(e->y1, e->height / 3);
  g->thirdRows[1] = wrapAdd(e->y1, wrapTwice(e->height) / 3);
  g->goldenColumns[0] = wrapAdd(g->x1, fractionOf(e->width, 0.382));
  g->goldenColumns[1] = wrapAdd(g->x1, fractionOf(e->width, 0.618));
  g->goldenRows[0] = wrapAdd(e->y1, fractionOf(e->height, 0.382));
  g->goldenRows[1] = wrapAdd(e->y1, fractionOf(e->height, 0.618));
}

OverlayGeometry computeOverlayGeometry(OfxRectI sourceBounds,
                                       const RenderParams *params) {
  const Extent e = {sourceBounds.y1, sourceBounds.y2,
                    wrapSub(sourceBounds.x2, sourceBounds.x1),
                    wrapSub(sourceBounds.y2, sourceBounds.y1)};
  OverlayGeometry g;
  g.x1 = sourceBounds.x1;
  g.x2 = sourceBounds.x2;
  g.centreColumn = wrapAdd(g.x1, e.width / 2);
  g.centreRow = wrapAdd(e.y1, e.height / 2);
  placeBands(&g, &e, params);
  placeBars(&g, &e, params);
  placeGuides(&g, &e);
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

// The two skin patches of the colour checker, as bytes over 255.
ReferenceColours computeReferenceColours(void) {
  const float saturationBoost = 3.0f;
  ReferenceColours c;
  c.lightSkin.r = 194.0f / 255.0f;
  c.lightSkin.g = 150.0f / 255.0f;
  c.lightSkin.b = 130.0f / 255.0f;
  c.darkSkin.r = 115.0f / 255.0f;
  c.darkSkin.g = 82.0f / 255.0f;
  c.darkSkin.b = 68.0f / 255.0f;
  const float lightSkinLuma =
      lumaOf(c.lightSkin.r, c.lightSkin.g, c.lightSkin.b);
  const float darkSkinLuma = lumaOf(c.darkSkin.r, c.darkSkin.g, c.darkSkin.b);
  c.boostedLightSkin = boosted(c.lightSkin, lightSkinLuma, saturationBoost);
  c.boostedDarkSkin = boosted(c.darkSkin, darkSkinLuma, saturationBoost);
  return c;
}
