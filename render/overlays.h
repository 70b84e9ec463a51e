// Per-frame overlay positions and colours, and the per-pixel stages.
#ifndef VANTOREL_OVERLAYS_H
#define VANTOREL_OVERLAYS_H

#include "vantorel_types.h"

OverlayGeometry computeOverlayGeometry(OfxRectI sourceBounds,
                                       const RenderParams *params);
ReferenceColours computeReferenceColours(void);

// The eight stages, in order, on one pixel at column x, row y.
void applyOverlays(WorkPixel *pixel, int32_t x, int32_t y,
                   const RenderParams *params, const OverlayGeometry *geometry,
                   const ReferenceColours *colours);

#endif
