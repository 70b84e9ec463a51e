// One render call's view of its images and its per-frame records, and the
// two ways of drawing a render window: pixel by pixel (the reference) and
// row by row (what the plug-in ships).
#ifndef VANTOREL_FRAME_H
#define VANTOREL_FRAME_H

#include "vantorel_types.h"

#include <stddef.h>

// The addressing of one fetched image: the pixel at (x, y) lies at
// data + (y - y1) * rowBytes + (x - x1) * pixel size.
typedef struct ImageView {
  uint8_t *data;
  int32_t rowBytes; // negative when rows are stored top-down
  OfxRectI bounds;
} ImageView;

typedef struct FrameContext {
  RenderParams params;
  OverlayGeometry geometry;
  ReferenceColours colours;
  bool floatPixels; // 16-byte float RGBA, else 4-byte RGBA
} FrameContext;

static inline int64_t spanOf(int32_t low, int32_t high) {
  return (int64_t)high - (int64_t)low;
}

static inline uint8_t *rowAddress(const ImageView *view, int32_t y) {
  return view->data + (ptrdiff_t)(spanOf(view->bounds.y1, y) * view->rowBytes);
}

static inline uint8_t *pixelAddress(const ImageView *view, int32_t x, int32_t y,
                                    int pixelSize) {
  return rowAddress(view, y) +
         (ptrdiff_t)(spanOf(view->bounds.x1, x) * pixelSize);
}

static inline int pixelSizeOf(const FrameContext *frame) {
  return frame->floatPixels ? 16 : 4;
}

// Runs the pixels x1 <= x < x2 of row y through the stages one at a time.
// Pixels outside the source bounds enter as transparent black.
void renderPixelByPixel(const ImageView *source, const ImageView *output,
                        int32_t y, int32_t x1, int32_t x2,
                        const FrameContext *frame);

// Both draw every pixel of the window, which lies inside the output bounds,
// and give the same bits.
void renderWindowPixelByPixel(const ImageView *source, const ImageView *output,
                              OfxRectI window, const FrameContext *frame);
void renderWindowByRows(const ImageView *source, const ImageView *output,
                        OfxRectI window, const FrameContext *frame);

// The way this build of the module draws a window (module_variant.cpp): by
// rows in the plug-in, pixel by pixel in the reference build.
void drawRenderWindow(const ImageView *source, const ImageView *output,
                      OfxRectI window, const FrameContext *frame);

#endif
