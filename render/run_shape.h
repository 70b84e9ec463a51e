// The shape of a run: what all its pixels share that a kernel decides once
// for the run rather than per pixel (legalized or not, which bars, alpha
// kept or made opaque), as compile-time constants, so each kernel is built
// once for each shape it tells apart.
#ifndef VANTOREL_RUN_SHAPE_H
#define VANTOREL_RUN_SHAPE_H

#include "row_kernels.h"

// The bars of a run: none; a factor (kBars); a factor outside 0..1, NaN
// included, for kernels whose stored bytes then need the store's clamp
// (kBarsClamped). A value loaded from a byte, legalized or not, or the luma
// of three (0 to just above 1), times a factor within 0..1 lies where the
// clamp changes nothing.
enum RunBars { kNoBars, kBars, kBarsClamped };

template <bool Legalize, RunBars Bars, bool Opaque> struct RunShape {
  static constexpr bool legalize = Legalize;
  static constexpr RunBars bars = Bars;
  static constexpr bool opaque = Opaque;
};

// The parts of the shape a kernel tells apart; the others are fixed
// (not legalized, and any factor kBars).
enum ShapeParts { kShapeLegalize = 1, kShapeClamp = 2 };

namespace runshape {

// Only a bar row can be opaque (RunLook), so a kernel is never built for
// opaque rows without bars.
template <bool Legalize, RunBars Bars, typename Draw>
inline int64_t withAlpha(const RunLook *look, Draw &draw) {
  if constexpr (Bars != kNoBars) {
    if (look->opaque) {
      return draw(RunShape<Legalize, Bars, true>());
    }
  }
  return draw(RunShape<Legalize, Bars, false>());
}

template <unsigned Parts, bool Legalize, typename Draw>
inline int64_t withBars(const RunLook *look, Draw &draw) {
  if (!look->bar) {
    return withAlpha<Legalize, kNoBars>(look, draw);
  }
  if constexpr ((Parts & kShapeClamp) != 0) {
    const float k = look->barFactor;
    if (!(k >= 0.0f && k <= 1.0f)) {
      return withAlpha<Legalize, kBarsClamped>(look, draw);
    }
  }
  return withAlpha<Legalize, kBars>(look, draw);
}

} // namespace runshape

// Calls draw(RunShape<...>()) with the shape of the look's runs, telling
// apart the ShapeParts in Parts; answers what draw answers.
template <unsigned Parts, typename Draw>
inline int64_t drawByShape(const RunLook *look, Draw draw) {
  if constexpr ((Parts & kShapeLegalize) != 0) {
    if (look->legalize) {
      return runshape::withBars<Parts, true>(look, draw);
    }
  }
  return runshape::withBars<Parts, false>(look, draw);
}

#endif
