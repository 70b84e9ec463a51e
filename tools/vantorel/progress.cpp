#include "progress.h"

namespace vantorel {

namespace {

const int kBarCells = 30;

} // namespace

Progress::Progress(long long total, std::FILE *out, bool bar,
                   std::string bundle)
    : total_(total), out_(out), bar_(bar), bundle_(std::move(bundle)),
      start_(std::chrono::steady_clock::now()) {
  if (bar_)
    drawBar();
}

void Progress::frameDone(const Frame &frame, bool alphaAdded) {
  alphaAdded_ += alphaAdded ? 1 : 0;
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
  const int filled =
      total_ > 0 ? static_cast<int>(done_ * kBarCells / total_) : kBarCells;
  std::fprintf(out_, "\r[%s%s] %lld/%lld frames",
               std::string(filled, '#').c_str(),
               std::string(kBarCells - filled, ' ').c_str(), done_, total_);
  std::fflush(out_);
}

std::string Progress::summary() const {
  const std::chrono::duration<double, std::milli> took =
      std::chrono::steady_clock::now() - start_;
  const std::string size =
      sizesVary_ ? "sizes vary"
                 : std::to_string(width_) + "x" + std::to_string(height_);
  char time[64];
  std::snprintf(time, sizeof time, "%.1f ms per frame",
                done_ > 0 ? took.count() / static_cast<double>(done_) : 0.0);
  const std::string alpha =
      alphaAdded_ == 0
          ? ""
          : ", alpha kept in " + std::to_string(alphaAdded_) + " frame" +
                (alphaAdded_ == 1 ? "" : "s") +
                " whose input has none (the render made it not opaque)";
  return "rendered " + std::to_string(done_) + " frame" +
         (done_ == 1 ? "" : "s") + ", " + size + ", " + depthName(depth_) +
         ", " + time + alpha + ", plug-in from " + bundle_;
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
