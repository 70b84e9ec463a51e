// Reading and writing image files through OpenImageIO (EXR, DPX, TIFF,
// PNG, JPEG and whatever else it knows), converted to and from the frames
// the plug-in takes. Files are encoded in memory, written whole through an
// OutputFile and read back before they take their name, so every failure
// is seen and nothing partial or unreadable is left.
#pragma once

#include "frame.h"
#include "output_file.h"

#include <OpenImageIO/imageio.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantorel {

// What a file says about its first image without its pixels: size, data
// and display windows, channels, pixel type and attributes; and how many
// images the file holds.
struct ImageHeader {
  OIIO::ImageSpec spec;
  bool moreImages = false; // a multi-page TIFF, an animated GIF, ...
};

// A pixel type as files store it: 8/16-bit integers, half or float, with
// the bits per sample of a DPX (10 or 12) when narrower than the type.
struct PixelType {
  OIIO::TypeDesc type = OIIO::TypeDesc::UINT8;
  int bits = 0; // 0: all of the type's bits

  bool operator==(const PixelType &o) const {
    return type == o.type && bits == o.bits;
  }
  std::string name() const; // "uint8", "uint16", "10-bit", "half", "float"
};

// The pixel type a header describes.
PixelType pixelTypeOf(const OIIO::ImageSpec &spec);

// "WxH, N channels, TYPE" of a header.
std::string shapeOf(const OIIO::ImageSpec &spec);

// "uint8", "uint16", "half" or "float" (--out-type).
bool parsePixelType(const std::string &text, PixelType *type,
                    std::string *error);

// Reads the header of `path`. Checks that the file exists, that a reader
// opens it and that it holds grey (1), RGB (3) or RGBA (4) channels.
bool readHeader(const std::string &path, ImageHeader *header,
                std::string *error);

// Reads the first image of `path` as RGBA, rows bottom-up: RGB gains an
// opaque alpha, a grey image becomes R = G = B. The depth is `depth` when
// given, else float for half, float and 16-bit (or wider) files and 8-bit
// for 8-bit files. Colours are read as stored (alpha is not multiplied
// in). The frame's bounds follow the data window, y flipped to point up
// from the bottom of the display window. *header gets the file's header.
// A reader that carries on past a fault in the file (libjpeg past the end
// of a cut JPEG) gets a warning on standard error naming `path`.
bool readImage(const std::string &path, const std::optional<Depth> &depth,
               Frame *frame, ImageHeader *header, std::string *error);

// Whether `path` can be written: it names a file (not a folder), its
// folder exists and its extension names a format OpenImageIO writes.
bool checkWritable(const std::string &path, std::string *error);

// How a frame is written.
struct WriteOptions {
  // The pixel type to store; else the source's, else the frame's depth.
  std::optional<PixelType> type;
  // The header of the file the frame came from: its channel set, windows
  // and attributes are kept where the output format holds them. Without
  // one the frame is written as RGBA (RGB where the format has no alpha).
  const ImageHeader *source = nullptr;
  // Also compare every pixel read back, for formats that store them
  // without loss (--verify).
  bool comparePixels = false;
};

// A file encoded in memory but not yet on the disk.
class EncodedImage {
public:
  explicit EncodedImage(const std::string &path) : file_(path) {}
  // Writes the bytes to a temporary file beside the path and flushes it to
  // the disk; opens what was written with the image library and checks
  // its size, channel count and pixel type (and with comparePixels every
  // pixel); then renames it to the path. False with *error naming the path
  // and what failed or differs, the temporary file gone and any old file
  // at the path untouched.
  bool place(std::string *error);
  // Whether alpha is written for a source without alpha, because the
  // render made it other than opaque.
  bool alphaAdded() const { return alphaAdded_; }

private:
  friend std::unique_ptr<EncodedImage> encodeImage(const std::string &,
                                                   const Frame &,
                                                   const WriteOptions &,
                                                   std::string *);
  bool readsBack(std::string *error);

  OutputFile file_;
  std::vector<unsigned char> bytes_;
  // What the file must read back as: size, channels and pixel type.
  OIIO::ImageSpec meant_;
  // With comparePixels on a lossless format: the pixels as stored, top
  // row first; else empty.
  std::vector<unsigned char> pixels_;
  bool alphaAdded_ = false;
};

// Encodes `frame` in the format `path`'s extension names. Null with
// *error naming `path` on failure.
std::unique_ptr<EncodedImage> encodeImage(const std::string &path,
                                          const Frame &frame,
                                          const WriteOptions &options,
                                          std::string *error);

// encodeImage then place: the whole file at `path`, or *error and nothing
// changed there.
bool writeImage(const std::string &path, const Frame &frame,
                const WriteOptions &options, std::string *error);

// The default depth for writing a synthesized frame to `path`: float for
// formats made for float pictures (EXR, PFM, HDR), else byte.
Depth naturalDepthFor(const std::string &path);

} // namespace vantorel
