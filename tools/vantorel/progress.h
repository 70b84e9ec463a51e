// Progress of a render: a bar on a terminal, a one-line summary otherwise.
#pragma once

#include "frame.h"

#include <chrono>
#include <cstdio>
#include <string>

namespace vantorel {

class Progress {
public:
  // `bar`: redraw a progress bar on `out` after every frame. `bundle`: the
  // plug-in bundle the summary names.
  Progress(long long total, std::FILE *out, bool bar, std::string bundle);
  // Counts a finished frame; `alphaAdded`: it was written with alpha,
  // which its input has not, because the render made it other than opaque.
  void frameDone(const Frame &frame, bool alphaAdded);
  // Ends the bar and prints the summary: frames, size, depth, time per
  // frame, the frames that gained alpha and the bundle.
  void finish();
  // Ends the bar line so that an error message starts on a line of its own.
  void abandon();

private:
  void drawBar();
  std::string summary() const;

  long long total_;
  long long done_ = 0;
  long long alphaAdded_ = 0;
  std::FILE *out_;
  bool bar_;
  std::string bundle_;
  int width_ = 0, height_ = 0;
  bool sizesVary_ = false;
  Depth depth_ = Depth::Byte;
  std::chrono::steady_clock::time_point start_;
};

} // namespace vantorel
