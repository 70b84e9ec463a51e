// Reading and writing frames: raw RGBA files and the portable pixmap
// formats, always through a temporary file that is renamed into place only
// when complete.
#pragma once

#include "frame.h"

#include <functional>
#include <string>

namespace vantorel {

// Raw frames are RGBA, rows bottom-up, 8-bit or native 32-bit float, with
// nothing before or after the pixels.
bool readRaw(const std::string &path, int width, int height, Depth depth,
             Frame *frame, std::string *error);

// Writes `frame` at `path` in the format its extension names: ".ppm"
// (8-bit RGB), ".pfm" (float RGB), anything else raw at the frame's depth.
// The frame is converted to the format's depth first. Nothing is left at
// `path` unless the whole file was written.
bool writeImage(const std::string &path, const Frame &frame,
                std::string *error);

// Calls `write` on a temporary path in the folder of `path` (ending in the
// same extension) and renames it to `path` when `write` succeeds; removes
// it otherwise.
bool writeAtomically(
    const std::string &path,
    const std::function<bool(const std::string &, std::string *)> &write,
    std::string *error);

} // namespace vantorel
