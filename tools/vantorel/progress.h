// Progress of a render: a bar on a terminal, a one-line summary otherwise.
#pragma once

#include "frame.h"

#include <chrono>
#include <cstdio>
#include <string>

namespace vantorel {

class Progress {
public:
  // `bar`: redraw a progress bar on `out` after every frame.
  Progress(int total, std::FILE *out, bool bar);
  // Counts a finished frame.
  void frameDone(const Frame &frame);
  // Ends the bar and prints the summary: frames, size, depth and time per
  // frame.
  void finish();
  // Ends the bar line so that an error message starts on a line of its own.
  void abandon();

private:
  void drawBar();
  std::string summary() const;

  int total_;
  int done_ = 0;
  std::FILE *out_;
  bool bar_;
  int width_ = 0, height_ = 0;
  bool sizesVary_ = false;
  Depth depth_ = Depth::Byte;
  std::chrono::steady_clock::time_point start_;
};

} // namespace vantorel
