// Drawing the render window a row at a time. The stages depend on a pixel's
// position only through a few per-frame rows and columns, so each row is
// classified once:
// - a row the reference bands cover comes out the same whatever the
//   picture: the first row of each kind (with or without bars) is drawn
//   from the band colours, later ones are copies of it;
// - any other row inside the source is drawn by a run kernel (the picture
//   analysis, then the bars), and its guide pixels are painted over it;
// - pixels outside the source, and float bar rows whose bar factor is NaN,
//   go through the stages one at a time.
// The per-frame values the kernels use (bar factor, alpha rule, byte
// table, band and guide colours) are taken from the stages themselves,
// run on single pixels; the kernel builds its own tables from them.
#include "frame.h"
#include "overlays.h"
#include "pixels.h"
#include "row_kernels.h"
#include "stage_rules.h"

#include <fenv.h>
#include <string.h>

typedef enum Analysis {
  kAnalysisNone,
  kAnalysisLegalize,
  kAnalysisFalseColour
} Analysis;

typedef enum BandKind {
  kNoBand,
  kGrayBand,
  kSkinLine,
  kSkinPatches,
  kBandKinds
} BandKind;

typedef struct RowRenderer {
  const ImageView *source;
  const ImageView *output;
  OfxRectI window;
  const FrameContext *frame;
  int pixelSize;
  Analysis analysis;
  // The kernel of the frame's analysed runs, from the fastest set this
  // machine runs, and its setup for each look.
  RunKernel kernel;
  RunLook looks[2]; // rows without and with bars
  RunSetup setups[2];
  // The first row drawn of each band kind, without and with bars.
  bool bandDrawn[kBandKinds][2];
  int32_t bandRow[kBandKinds][2];
} RowRenderer;

// ---------------------------------------------------------------- tables

typedef struct StagesOnOnePixel {
  bool barRow;
  bool guide;
  bool analyse;
} StagesOnOnePixel;

// Runs the stages on one pixel placed where no band reaches it, a guide
// and the bars only when asked, and the picture analysis only when asked.
static WorkPixel throughStages(WorkPixel pixel, const FrameContext *frame,
                               StagesOnOnePixel where) {
  RenderParams params = frame->params;
  params.ShowSkinTonePatches = params.ShowSkinToneLine = 0;
  params.ShowMiddleGray = 0;
  params.GuideGolden = params.GuideCrosshair = 0;
  params.GuideThirds = where.guide;
  if (!where.analyse) {
    params.FalseColorMode = params.LegalizeLevels = 0;
  }
  OverlayGeometry g = frame->geometry;
  g.thirdColumns[0] = g.thirdColumns[1] = 0;
  g.thirdRows[0] = g.thirdRows[1] = 0;
  g.cropLow = where.barRow ? 1 : 0;
  g.cropHigh = INT32_MAX;
  applyOverlays(&pixel, 0, 0, &params, &g, &frame->colours);
  return pixel;
}

static uint32_t storedColour(WorkPixel p) {
  p.a = 0.0f;
  uint8_t bytes[4];
  BytePixels::store(bytes, p);
  return bytes[0] | (uint32_t)bytes[1] << 8 | (uint32_t)bytes[2] << 16;
}

static void fillChannelTable(RunLook *look, const FrameContext *frame,
                             StagesOnOnePixel where) {
  for (int b = 0; b < 256; ++b) {
    const uint8_t grey[4] = {(uint8_t)b, (uint8_t)b, (uint8_t)b, 0};
    const WorkPixel out = throughStages(BytePixels::load(grey), frame, where);
    look->channel[b] = (uint8_t)storedColour(out);
  }
}

static void fillLook(RunLook *look, const FrameContext *frame, bool barRow,
                     bool channelTable, bool legalize) {
  const StagesOnOnePixel plain = {barRow, false, false};
  const StagesOnOnePixel analysed = {barRow, false, true};
  const StagesOnOnePixel guide = {barRow, true, true};
  const WorkPixel one = {1.0f, 1.0f, 1.0f, 1.0f};
  const WorkPixel clear = {0.0f, 0.0f, 0.0f, 0.0f};
  look->bar = barRow;
  look->barFactor = throughStages(one, frame, plain).r;
  // The alpha rule the kernels follow: only the bars (when solid) make
  // alpha 1; in every other row it passes through.
  look->opaque = barRow && throughStages(clear, frame, plain).a == 1.0f;
  look->blackBytes =
      !frame->floatPixels && barRow && look->opaque && look->barFactor == 0.0f;
  look->legalize = legalize;
  if (channelTable) {
    fillChannelTable(look, frame, analysed);
  }
  for (int band = 0; band < kFalseColourBands; ++band) {
    const Colour &c = kFalseColour.colours[band];
    const WorkPixel p = {c.r, c.g, c.b, 0.0f};
    look->bandColours[band] = throughStages(p, frame, plain);
    look->bandBytes[band] = storedColour(look->bandColours[band]);
  }
  look->white = throughStages(clear, frame, guide);
  look->whiteBytes = storedColour(look->white);
}

// False colour replaces the picture; legalize applies only without it.
static Analysis analysisOf(const RenderParams *params) {
  if (params->FalseColorMode) {
    return kAnalysisFalseColour;
  }
  return params->LegalizeLevels ? kAnalysisLegalize : kAnalysisNone;
}

static bool windowHasBarRows(OfxRectI window, const OverlayGeometry *g) {
  return isBarRow(window.y1, g) || isBarRow(window.y2 - 1, g);
}

// The kernel that draws the frame's analysed runs.
static RunKernel kernelOf(const KernelSet *set, const FrameContext *frame,
                          Analysis analysis) {
  const bool falseColour = analysis == kAnalysisFalseColour;
  if (frame->floatPixels) {
    return falseColour ? *set->floatsFalseColour : *set->floatsAnalysed;
  }
  return falseColour ? *set->bytesFalseColour : *set->bytesByTable;
}

static void prepare(RowRenderer *r, const FrameContext *frame) {
  r->frame = frame;
  r->pixelSize = pixelSizeOf(frame);
  r->analysis = analysisOf(&frame->params);
  r->kernel = kernelOf(chosenKernelSet(), frame, r->analysis);
  const bool legalize = r->analysis == kAnalysisLegalize;
  // Runs without bars take the kernel when analysed; runs with bars always.
  const bool drawn[2] = {r->analysis != kAnalysisNone,
                         windowHasBarRows(r->window, &frame->geometry)};
  const bool byTable =
      !frame->floatPixels && r->analysis != kAnalysisFalseColour;
  for (int bar = 0; bar < 2; ++bar) {
    fillLook(&r->looks[bar], frame, bar, byTable && drawn[bar], legalize);
    if (drawn[bar] && r->kernel.prepare) {
      r->kernel.prepare(&r->looks[bar], &r->setups[bar]);
    }
  }
  memset(r->bandDrawn, 0, sizeof r->bandDrawn);
}

// ---------------------------------------------------------------- runs

static const uint8_t *sourceAt(const RowRenderer *r, int64_t x, int32_t y) {
  return pixelAddress(r->source, (int32_t)x, y, r->pixelSize);
}

static uint8_t *outputAt(const RowRenderer *r, int64_t x, int32_t y) {
  return pixelAddress(r->output, (int32_t)x, y, r->pixelSize);
}

static void drawPixels(const RowRenderer *r, int32_t y, int64_t x1,
                       int64_t x2) {
  if (x1 < x2) {
    renderPixelByPixel(r->source, r->output, y, (int32_t)x1, (int32_t)x2,
                       r->frame);
  }
}

// A kernel stops short of a pixel whose luma is NaN; the portable kernel
// finds it exactly and the stages draw it.
static void drawFloatFalseColour(const RowRenderer *r, int32_t y, int64_t x1,
                                 int64_t x2, bool bar) {
  const RunLook *look = &r->looks[bar];
  int64_t x = x1;
  while (x < x2) {
    x += r->kernel.draw(sourceAt(r, x, y), outputAt(r, x, y), x2 - x, look,
                        &r->setups[bar]);
    if (x < x2) {
      const int64_t group =
          x2 - x < (int64_t)kKernelGroup ? x2 - x : (int64_t)kKernelGroup;
      const int64_t drawn = kPortableKernels.floatsFalseColour.draw(
          sourceAt(r, x, y), outputAt(r, x, y), group, look, nullptr);
      x += drawn;
      if (drawn < group) {
        drawPixels(r, y, x, x + 1);
        ++x;
      }
    }
  }
}

// Pixels x1 <= x < x2 of row y, all inside the source and off the guides.
static void drawAnalysedRun(const RowRenderer *r, int32_t y, int64_t x1,
                            int64_t x2, bool bar) {
  if (x1 >= x2) {
    return;
  }
  const uint8_t *source = sourceAt(r, x1, y);
  uint8_t *output = outputAt(r, x1, y);
  const int64_t count = x2 - x1;
  if (r->analysis == kAnalysisNone && !bar) {
    memmove(output, source, (size_t)(count * r->pixelSize));
  } else if (r->frame->floatPixels && r->analysis == kAnalysisFalseColour) {
    drawFloatFalseColour(r, y, x1, x2, bar);
  } else {
    r->kernel.draw(source, output, count, &r->looks[bar], &r->setups[bar]);
  }
}

static void drawWhiteRun(const RowRenderer *r, int32_t y, int64_t x1,
                         int64_t x2, const RunLook *look) {
  if (x1 >= x2) {
    return;
  }
  if (r->frame->floatPixels) {
    floatsWhite(sourceAt(r, x1, y), outputAt(r, x1, y), x2 - x1, look);
  } else {
    bytesWhite(sourceAt(r, x1, y), outputAt(r, x1, y), x2 - x1, look);
  }
}

// ---------------------------------------------------------------- guides

typedef struct Span {
  int64_t from, to;
} Span;

enum { kMostGuideSpans = 6 };

static int addColumn(Span *spans, int n, int32_t x) {
  spans[n].from = x;
  spans[n].to = (int64_t)x + 1;
  return n + 1;
}

// The guide pixels of a row that is not a guide row; they may overlap.
static int guideSpans(int32_t y, const FrameContext *frame, Span *spans) {
  const RenderParams *p = &frame->params;
  const OverlayGeometry *g = &frame->geometry;
  int n = 0;
  if (p->GuideThirds) {
    n = addColumn(spans, n, g->thirdColumns[0]);
    n = addColumn(spans, n, g->thirdColumns[1]);
  }
  if (p->GuideGolden) {
    n = addColumn(spans, n, g->goldenColumns[0]);
    n = addColumn(spans, n, g->goldenColumns[1]);
  }
  if (p->GuideCrosshair && onCrosshairColumn(g->centreColumn, y, g)) {
    n = addColumn(spans, n, g->centreColumn);
  }
  if (p->GuideCrosshair && onCrosshairRow(g->centreColumn, y, g)) {
    spans[n].from = (int64_t)g->centreColumn - (crosshairReach - 1);
    spans[n].to = (int64_t)g->centreColumn + crosshairReach;
    ++n;
  }
  return n;
}

static bool isGuideRow(int32_t y, const FrameContext *frame) {
  const RenderParams *p = &frame->params;
  const OverlayGeometry *g = &frame->geometry;
  return (p->GuideThirds && isGuideLine(y, g->thirdRows)) ||
         (p->GuideGolden && isGuideLine(y, g->goldenRows));
}

// Pixels x1 <= x < x2 of row y, all inside the source: the whole run, then
// the guide pixels over it. A guide pixel's alpha follows the same rule as
// the run's, so painting it from the source stays right even when the
// output is the source.
static void drawInside(const RowRenderer *r, int32_t y, int64_t x1, int64_t x2,
                       bool bar) {
  const RunLook *look = &r->looks[bar];
  if (isGuideRow(y, r->frame)) {
    drawWhiteRun(r, y, x1, x2, look);
    return;
  }
  drawAnalysedRun(r, y, x1, x2, bar);
  Span spans[kMostGuideSpans];
  const int n = guideSpans(y, r->frame, spans);
  for (int i = 0; i < n; ++i) {
    const int64_t from = spans[i].from > x1 ? spans[i].from : x1;
    const int64_t to = spans[i].to < x2 ? spans[i].to : x2;
    drawWhiteRun(r, y, from, to, look);
  }
}

// ---------------------------------------------------------------- rows

static BandKind bandOfRow(int32_t y, const FrameContext *frame) {
  const RenderParams *p = &frame->params;
  const OverlayGeometry *g = &frame->geometry;
  if (grayBandCoversRow(y, p, g)) {
    return kGrayBand;
  }
  if (!inSkinBand(y, g)) {
    return kNoBand;
  }
  if (patchesCoverRow(y, p, g)) {
    return kSkinPatches;
  }
  return p->ShowSkinToneLine ? kSkinLine : kNoBand;
}

// The colour the gray band or the patches paint at column x, and the first
// column after x that may differ: the gray band is one colour, the patches
// two.
typedef struct BandRun {
  Colour colour;
  int64_t end;
} BandRun;

static BandRun bandRun(BandKind band, int32_t x, const FrameContext *frame) {
  const OverlayGeometry *g = &frame->geometry;
  BandRun run;
  if (band == kGrayBand) {
    run.colour = kMiddleGray;
    run.end = INT64_MAX;
  } else {
    run.colour = skinPatchColour(x, g, &frame->colours);
    run.end = skinPatchEnd(x, g);
  }
  return run;
}

// Repeats the pixel at `out` over the next count - 1 pixels.
static void repeatPixel(uint8_t *out, int64_t count, int pixelSize) {
  int64_t done = 1;
  while (done < count) {
    const int64_t n = done < count - done ? done : count - done;
    memcpy(out + done * pixelSize, out, (size_t)(n * pixelSize));
    done += n;
  }
}

template <typename Pixels>
static void storeBandPixel(uint8_t *out, Colour c, const RunLook *look) {
  const WorkPixel p = {barred(c.r, look), barred(c.g, look), barred(c.b, look),
                       1.0f};
  Pixels::store(out, p);
}

// A band row: the band's colour at each column, opaque, through the bars.
template <typename Pixels>
static void drawBandPixels(const RowRenderer *r, int32_t y, BandKind band,
                           const RunLook *look) {
  const OfxRectI &w = r->window;
  if (band == kSkinLine) {
    const FrameContext *f = r->frame;
    uint8_t *out = outputAt(r, w.x1, y);
    for (int32_t x = w.x1; x < w.x2; ++x, out += Pixels::size) {
      storeBandPixel<Pixels>(out, skinLineColour(x, &f->geometry, &f->colours),
                             look);
    }
    return;
  }
  int64_t x = w.x1;
  while (x < w.x2) {
    const BandRun run = bandRun(band, (int32_t)x, r->frame);
    uint8_t *out = outputAt(r, x, y);
    storeBandPixel<Pixels>(out, run.colour, look);
    const int64_t end = run.end < w.x2 ? run.end : w.x2;
    repeatPixel(out, end - x, Pixels::size);
    x = end;
  }
}

// A float bar row whose factor is NaN goes pixel by pixel: the NaN each
// pixel stores depends on which NaN the product meets first.
static bool barStoresNaN(const RowRenderer *r, bool bar) {
  const float factor = r->looks[bar].barFactor;
  return r->frame->floatPixels && bar && factor != factor;
}

// Band rows of one kind come out the same, so all but the first are
// copies.
static void drawBandRow(RowRenderer *r, int32_t y, BandKind band, bool bar) {
  const OfxRectI &w = r->window;
  const RunLook *look = &r->looks[bar];
  if (r->bandDrawn[band][bar]) {
    const int32_t earlier = r->bandRow[band][bar];
    memcpy(outputAt(r, w.x1, y), outputAt(r, w.x1, earlier),
           (size_t)(spanOf(w.x1, w.x2) * r->pixelSize));
    return;
  }
  if (!r->frame->floatPixels) {
    drawBandPixels<BytePixels>(r, y, band, look);
  } else if (barStoresNaN(r, bar)) {
    drawPixels(r, y, w.x1, w.x2);
  } else {
    drawBandPixels<FloatPixels>(r, y, band, look);
  }
  r->bandDrawn[band][bar] = true;
  r->bandRow[band][bar] = y;
}

static void fillBytes(uint8_t *out, int64_t count, uint32_t pixel) {
  for (int64_t i = 0; i < count; ++i) {
    memcpy(out + 4 * i, &pixel, 4);
  }
}

static void drawPictureRow(const RowRenderer *r, int32_t y, bool bar) {
  const OfxRectI &w = r->window;
  const OfxRectI &sb = r->source->bounds;
  const RunLook *look = &r->looks[bar];
  const int64_t x1 = w.x1 > sb.x1 ? w.x1 : sb.x1;
  const int64_t x2 = w.x2 < sb.x2 ? w.x2 : sb.x2;
  const bool rowInSource = sb.y1 <= y && y < sb.y2;
  if (look->blackBytes) {
    fillBytes(outputAt(r, w.x1, y), spanOf(w.x1, w.x2), 0xff000000u);
    return;
  }
  if (!rowInSource || barStoresNaN(r, bar) || x1 >= x2) {
    drawPixels(r, y, w.x1, w.x2);
    return;
  }
  drawPixels(r, y, w.x1, x1);
  drawInside(r, y, x1, x2, bar);
  drawPixels(r, y, x2, w.x2);
}

void renderWindowByRows(const ImageView *source, const ImageView *output,
                        OfxRectI window, const FrameContext *frame) {
  // What the rows take as given (8-bit alpha and copies passing through
  // unchanged, the kernels' quotients and rounded conversions) holds when
  // rounding to nearest, the default. Under another rounding mode a host
  // set, the stages draw every pixel.
  if (fegetround() != FE_TONEAREST) {
    renderWindowPixelByPixel(source, output, window, frame);
    return;
  }
  RowRenderer r;
  r.source = source;
  r.output = output;
  r.window = window;
  prepare(&r, frame);
  for (int32_t y = window.y1; y < window.y2; ++y) {
    const bool bar = isBarRow(y, &frame->geometry);
    const BandKind band = bandOfRow(y, frame);
    if (band != kNoBand) {
      drawBandRow(&r, y, band, bar);
    } else {
      drawPictureRow(&r, y, bar);
    }
  }
}
