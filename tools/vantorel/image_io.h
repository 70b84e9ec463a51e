// Reading and writing image files through OpenImageIO (EXR, DPX, TIFF,
// PNG, JPEG and whatever else it knows), converted to and from the frames
// the plug-in takes. Files are always written through a temporary file in
// the same folder that is renamed into place only when complete.
#pragma once

#include "frame.h"

#include <functional>
#include <optional>
#include <string>

namespace vantorel {

// Reads the first image of `path` as RGBA, rows bottom-up: RGB gains an
// opaque alpha, a grey image becomes R = G = B; any other channel count
// is refused. The depth is `depth` when given, else float for half, float
// and 16-bit (or wider) files and 8-bit for 8-bit files. Colours are read
// as stored (alpha is not multiplied in).
bool readImage(const std::string &path, const std::optional<Depth> &depth,
               Frame *frame, std::string *error);

// Whether `path` can be written: its folder exists and its extension names
// a format OpenImageIO writes.
bool checkWritable(const std::string &path, std::string *error);

// Writes `frame` at `path` in the format its extension names, at the
// frame's depth where the format holds it (else the format's nearest), with
// alpha where the format holds it. Nothing is left at `path` unless the
// whole file was written.
bool writeImage(const std::string &path, const Frame &frame,
                std::string *error);

// The default depth for writing a synthesized frame to `path`: float for
// formats made for float pictures (EXR, PFM, HDR), else byte.
Depth naturalDepthFor(const std::string &path);

// Calls `write` on a temporary path in the folder of `path` (ending in the
// same extension) and renames it to `path` when `write` succeeds; removes
// it otherwise.
bool writeAtomically(
    const std::string &path,
    const std::function<bool(const std::string &, std::string *)> &write,
    std::string *error);

} // namespace vantorel
