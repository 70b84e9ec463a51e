// vantorel render's frames: read, rendered through the plug-in, encoded,
// written and read back, several frames in flight at once.
#pragma once

#include "frame.h"
#include "image_io.h"
#include "progress.h"
#include "sequence.h"

#include <optional>
#include <string>

namespace vantorel {

class Session;

// How render reads, writes and spreads its frames.
struct RenderOptions {
  std::optional<Depth> depth;       // --depth
  std::optional<PixelType> outType; // --out-type
  int jobs = 1;                     // --jobs: frames in flight
  bool comparePixels = false;       // --verify
};

// Renders the frames of `plan` with `options.jobs` frames in flight: each
// worker reads, renders (one frame at a time through `session`) and
// encodes its frame in memory, then waits for its turn to write it to the
// disk, read it back and rename it into place, so that frames reach their
// names in order and those there are always a complete run from the
// first. Each frame is counted in `progress`. False with *error when a
// frame failed, naming the frames written before it (for a sequence).
bool renderFrames(Session &session, const FramePlan &plan,
                  const RenderOptions &options, Progress &progress,
                  std::string *error);

} // namespace vantorel
