// Frame sequences: a frame pattern in a file name ("####" or "%04d") and
// the --frames range.
#pragma once

#include <string>
#include <vector>

namespace vantorel {

struct FramePattern {
  bool present = false;
  std::string prefix, suffix; // around the pattern
  int digits = 1;             // zero-padded to at least this many digits
};

// Finds the last "%0Nd", "%d" or run of '#' (N of them) in `path`.
FramePattern findFramePattern(const std::string &path);

// The path of frame `frame` (the whole path when there is no pattern).
std::string framePath(const FramePattern &pattern, const std::string &path,
                      int frame);

// The highest frame number --frames takes.
constexpr int kLastFrameNumber = 999999999;

// "A-B" with 0 <= A <= B <= kLastFrameNumber, or a single frame "A".
bool parseFrameRange(const std::string &text, int *first, int *last,
                     std::string *error);

// One frame of a render: read `in`, render at `time`, write `out`.
struct FrameJob {
  std::string in, out;
  int time = 0;
};

// The frames to render, made one at a time so that any range costs the
// same memory: one frame at time 0 when neither path holds a pattern, else
// one per frame of the range, both paths with a pattern.
struct FramePlan {
  std::string in, out;
  FramePattern inPattern, outPattern;
  int first = 0, last = 0;

  long long count() const { return static_cast<long long>(last) - first + 1; }
  // The job of the index-th frame (0 = the first).
  FrameJob job(long long index) const;
};

// Plans the frames from IN, OUT and the --frames text (empty when not
// given). False with *error when the pattern and the range do not go
// together.
bool planFrames(const std::string &in, const std::string &out,
                const std::string &frames, FramePlan *plan, std::string *error);

} // namespace vantorel
