// One RGBA frame as the plug-in takes it: 8-bit or 32-bit float, rows
// bottom-up (row 0 is the bottom of the picture), tightly packed.
#pragma once

#include "ofx_host.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vantorel {

using ofxhost::Depth;

struct Frame {
  int x = 0, y = 0; // bottom-left corner in the plug-in's coordinates
  int width = 0;
  int height = 0;
  Depth depth = Depth::Byte;
  std::vector<std::uint8_t> bytes; // byte frames: 4 per pixel
  std::vector<float> floats;       // float frames: 4 per pixel

  static Frame make(int width, int height, Depth depth);
  int pixelBytes() const { return depth == Depth::Float ? 16 : 4; }
  std::size_t rowBytes() const {
    return static_cast<std::size_t>(pixelBytes()) * width;
  }
  // First byte of row y (0 = bottom).
  std::uint8_t *row(int y);
  const std::uint8_t *row(int y) const;
};

// `frame` at `depth`: bytes become byte / 255; floats are clamped to 0..1
// (NaN to 0), scaled by 255 and rounded to the nearest byte.
Frame convertDepth(const Frame &frame, Depth depth);

const char *depthName(Depth depth); // "byte" or "float"

} // namespace vantorel
