#include "frame.h"

#include <algorithm>
#include <cmath>

namespace vantorel {

Frame Frame::make(int width, int height, Depth depth) {
  Frame frame;
  frame.width = width;
  frame.height = height;
  frame.depth = depth;
  const std::size_t values = static_cast<std::size_t>(width) * height * 4;
  if (depth == Depth::Float)
    frame.floats.assign(values, 0.0f);
  else
    frame.bytes.assign(values, 0);
  return frame;
}

std::uint8_t *Frame::row(int y) {
  return const_cast<std::uint8_t *>(static_cast<const Frame *>(this)->row(y));
}

const std::uint8_t *Frame::row(int y) const {
  const std::size_t offset = static_cast<std::size_t>(y) * width * 4;
  if (depth == Depth::Float)
    return reinterpret_cast<const std::uint8_t *>(floats.data() + offset);
  return bytes.data() + offset;
}

Frame convertDepth(const Frame &frame, Depth depth) {
  if (frame.depth == depth)
    return frame;
  Frame out = Frame::make(frame.width, frame.height, depth);
  if (depth == Depth::Float) {
    for (std::size_t i = 0; i < frame.bytes.size(); ++i)
      out.floats[i] = frame.bytes[i] / 255.0f;
  } else {
    for (std::size_t i = 0; i < frame.floats.size(); ++i) {
      const float f = frame.floats[i];
      const float v = f > 0.0f ? std::min(f, 1.0f) : 0.0f; // NaN gives 0
      out.bytes[i] = static_cast<std::uint8_t>(std::lround(v * 255.0f));
    }
  }
  return out;
}

const char *depthName(Depth depth) {
  return depth == Depth::Float ? "float" : "byte";
}

} // namespace vantorel
