#include "progress.h"

namespace vantorel {

namespace {

const int kBarCells = 30;

} // namespace

Progress::Progress(int total, std::FILE *out, bool bar)
    : total_(total), out_(out), bar_(bar),
      start_(std::chrono::steady_clock::now()) {
  if (bar_)
    drawBar();
}

void Progress::frameDone(const Frame &frame) {
  if (done_ > 0 && (frame.width != width_ || frame.height != height_))
    sizesVary_ = true;
  width_ = frame.width;
  height_ = frame.height;
  depth_ = frame.depth;
  ++done_;
  if (bar_)
    drawBar();
}

void Progress::drawBar() {
  const int filled = total_ > 0 ? done_ * kBarCells / total_ : kBarCells;
  std::fprintf(out_, "\r[%s%s] %d/%d frames", std::string(filled, '#').c_str(),
               std::string(kBarCells - filled, ' ').c_str(), done_, total_);
  std::fflush(out_);
}

std::string Progress::summary() const {
  const std::chrono::duration<double, std::milli> took =
      std::chrono::steady_clock::now() - start_;
  const std::string size =
      sizesVary_ ? "sizes vary"
                 : std::to_string(width_) + "x" + std::to_string(height_);
  char line[160];
  std::snprintf(line, sizeof line,
                "rendered %d frame%s, %s, %s, %.1f ms per "
                "frame",
                done_, done_ == 1 ? "" : "s", size.c_str(), depthName(depth_),
                done_ > 0 ? took.count() / done_ : 0.0);
  return line;
}

void Progress::finish() {
  if (bar_)
    std::fprintf(out_, "\r\033[K");
  std::fprintf(out_, "%s\n", summary().c_str());
}

void Progress::abandon() {
  if (bar_)
    std::fprintf(out_, "\n");
}

} // namespace vantorel
