// The built-in test chart: a synthesized frame that shows what each aid
// does to the whole range of levels and to typical colours.
#pragma once

#include "frame.h"

namespace vantorel {

// From the top: 75% colour bars, a hue sweep, 21 grey steps from 0 to
// 100% in 5% steps, a smooth grey ramp, ten skin tones from light to deep,
// and red, green and blue ramps. Opaque; levels in 0..1; float frames hold
// the exact levels, byte frames the nearest bytes.
Frame makeChart(int width, int height, Depth depth);

} // namespace vantorel
