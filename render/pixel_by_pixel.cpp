// The plain pixel loop: load, the eight stages, store, for every pixel.
// It is the reference the row renderer must match bit for bit, and the
// row renderer's own way of drawing the few pixels it has no run for.
#include "frame.h"
#include "overlays.h"
#include "pixels.h"

template <typename Pixels>
static void pixelRun(const ImageView *source, const ImageView *output,
                     int32_t y, int32_t x1, int32_t x2,
                     const FrameContext *frame) {
  const OfxRectI &sb = source->bounds;
  const bool rowInSource = sb.y1 <= y && y < sb.y2;
  const uint8_t *sourceRow = rowInSource ? rowAddress(source, y) : 0;
  uint8_t *outputRow = rowAddress(output, y);
  for (int32_t x = x1; x < x2; ++x) {
    WorkPixel pixel = {0.0f, 0.0f, 0.0f, 0.0f};
    if (sourceRow != 0 && sb.x1 <= x && x < sb.x2) {
      pixel = Pixels::load(sourceRow + spanOf(sb.x1, x) * Pixels::size);
    }
    applyOverlays(&pixel, x, y, &frame->params, &frame->geometry,
                  &frame->colours);
    Pixels::store(outputRow + spanOf(output->bounds.x1, x) * Pixels::size,
                  pixel);
  }
}

void renderPixelByPixel(const ImageView *source, const ImageView *output,
                        int32_t y, int32_t x1, int32_t x2,
                        const FrameContext *frame) {
  if (frame->floatPixels) {
    pixelRun<FloatPixels>(source, output, y, x1, x2, frame);
  } else {
    pixelRun<BytePixels>(source, output, y, x1, x2, frame);
  }
}

void renderWindowPixelByPixel(const ImageView *source, const ImageView *output,
                              OfxRectI window, const FrameContext *frame) {
  for (int32_t y = window.y1; y < window.y2; ++y) {
    renderPixelByPixel(source, output, y, window.x1, window.x2, frame);
  }
}
