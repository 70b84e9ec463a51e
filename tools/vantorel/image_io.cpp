#include "image_io.h"

#include <OpenImageIO/filesystem.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace vantorel {

namespace {

using OIIO::TypeDesc;

// Tells the readers and writers that colours are not multiplied by alpha,
// so they pass them through as stored.
const char kUnassociatedAlpha[] = "oiio:UnassociatedAlpha";
const char kBitsPerSample[] = "oiio:BitsPerSample";

std::string lowerExtension(const std::string &path) {
  std::string extension = fs::path(path).extension().string();
  for (char &c : extension)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension;
}

// The pixel types each output format stores, by extension. Formats not
// listed get what their writer makes of the type asked for.
struct FormatTypes {
  std::vector<const char *> extensions;
  std::vector<TypeDesc::BASETYPE> held;
  bool narrowBits; // stores 10- and 12-bit samples in 16-bit types
};
const std::vector<FormatTypes> kFormatTypes = {
    {{".png", ".j2k", ".jp2", ".sgi", ".rgb", ".iff"},
     {TypeDesc::UINT8, TypeDesc::UINT16},
     false},
    {{".tif", ".tiff", ".tx"},
     {TypeDesc::UINT8, TypeDesc::UINT16, TypeDesc::FLOAT},
     false},
    {{".dpx"}, {TypeDesc::UINT8, TypeDesc::UINT16, TypeDesc::FLOAT}, true},
    // RLA writes half as 16-bit integers; FITS writes half as float and
    // 16-bit as signed integers.
    {{".rla"}, {TypeDesc::UINT8, TypeDesc::UINT16, TypeDesc::FLOAT}, false},
    {{".fits"}, {TypeDesc::UINT8, TypeDesc::FLOAT}, false},
    {{".exr", ".sxr", ".mxr"}, {TypeDesc::HALF, TypeDesc::FLOAT}, false},
    {{".hdr", ".rgbe"}, {TypeDesc::FLOAT}, false},
    {{".jpg", ".jpeg", ".jpe", ".jfif", ".bmp", ".tga", ".gif", ".webp", ".ppm",
      ".pnm", ".pgm", ".ico"},
     {TypeDesc::UINT8},
     false},
};

// For each type asked for, the types to fall back on, nearest first.
const std::vector<std::vector<TypeDesc::BASETYPE>> kNearest = {
    {TypeDesc::UINT8, TypeDesc::UINT16, TypeDesc::HALF, TypeDesc::FLOAT},
    {TypeDesc::UINT16, TypeDesc::FLOAT, TypeDesc::HALF, TypeDesc::UINT8},
    {TypeDesc::HALF, TypeDesc::FLOAT, TypeDesc::UINT16, TypeDesc::UINT8},
    {TypeDesc::FLOAT, TypeDesc::HALF, TypeDesc::UINT16, TypeDesc::UINT8},
};

// The type `path`'s format stores for `wanted`: that type when it holds
// it, else the nearest it holds.
PixelType storedType(const std::string &path, PixelType wanted) {
  const std::string extension = lowerExtension(path);
  for (const FormatTypes &format : kFormatTypes) {
    if (std::find_if(format.extensions.begin(), format.extensions.end(),
                     [&](const char *e) { return extension == e; }) ==
        format.extensions.end())
      continue;
    for (const auto &order : kNearest) {
      if (order.front() != wanted.type.basetype)
        continue;
      for (TypeDesc::BASETYPE type : order)
        if (std::count(format.held.begin(), format.held.end(), type))
          return {type, type == wanted.type.basetype && format.narrowBits
                            ? wanted.bits
                            : 0};
    }
  }
  return {wanted.type, 0};
}

Depth depthOfFile(const TypeDesc &format) {
  return format.basetype == TypeDesc::UINT8 || format.basetype == TypeDesc::INT8
             ? Depth::Byte
             : Depth::Float;
}

TypeDesc typeOf(Depth depth) {
  return depth == Depth::Float ? TypeDesc::FLOAT : TypeDesc::UINT8;
}

// Gives grey and RGB pixels, read into the first channels of the frame's
// RGBA pixels, their missing channels: R = G = B for grey, opaque alpha.
template <typename T> void completeRgba(int channels, T opaque, Frame *frame) {
  T *pixel = reinterpret_cast<T *>(frame->row(0));
  const std::size_t pixels =
      static_cast<std::size_t>(frame->width) * frame->height;
  for (std::size_t i = 0; i < pixels; ++i, pixel += 4) {
    if (channels == 1)
      pixel[1] = pixel[2] = pixel[0];
    pixel[3] = opaque;
  }
}

template <typename T> bool everyAlphaIs(const Frame &frame, T opaque) {
  const T *pixel = reinterpret_cast<const T *>(frame.row(0));
  const std::size_t pixels =
      static_cast<std::size_t>(frame.width) * frame.height;
  for (std::size_t i = 0; i < pixels; ++i, pixel += 4)
    if (pixel[3] != opaque)
      return false;
  return true;
}

bool isOpaque(const Frame &frame) {
  return frame.depth == Depth::Float ? everyAlphaIs<float>(frame, 1.0f)
                                     : everyAlphaIs<std::uint8_t>(frame, 255);
}

// Reads the pixels straight into the frame: rows top-down in the file,
// bottom-up in the frame, `channels` of each pixel's four.
bool readPixels(OIIO::ImageInput &in, int channels, Frame *frame) {
  const auto rowStride = -static_cast<OIIO::stride_t>(frame->rowBytes());
  if (!in.read_image(0, 0, 0, channels, typeOf(frame->depth),
                     frame->row(frame->height - 1), frame->pixelBytes(),
                     rowStride))
    return false;
  if (channels == 4)
    return true;
  if (frame->depth == Depth::Float)
    completeRgba<float>(channels, 1.0f, frame);
  else
    completeRgba<std::uint8_t>(channels, 255, frame);
  return true;
}

// The image library's error text on one line: its distinct lines, less
// any that another line quotes whole, joined by "; ".
std::string oneLine(const std::string &text) {
  std::istringstream stream(text);
  std::vector<std::string> lines;
  for (std::string line; std::getline(stream, line);)
    if (!line.empty() &&
        std::find(lines.begin(), lines.end(), line) == lines.end())
      lines.push_back(line);
  std::string joined;
  for (const std::string &line : lines)
    if (std::none_of(lines.begin(), lines.end(), [&](const std::string &o) {
          return o != line && o.find(line) != std::string::npos;
        }))
      joined += (joined.empty() ? "" : "; ") + line;
  return joined.empty() ? "the image library gave no reason" : joined;
}

// OpenImageIO's DPX reader leaves the last sample of every row unread when
// it is alone in the 32-bit word that 10-bit samples fill three at a time,
// as it is in RGBA rows 3n + 1 pixels wide: their last alpha would be
// whatever the reader's buffer held. Packed samples read back as written.
bool dpxRowsLoseTheirLastSample(const OIIO::ImageInput &in) {
  const OIIO::ImageSpec &spec = in.spec();
  return std::strcmp(in.format_name(), "dpx") == 0 && spec.nchannels == 4 &&
         pixelTypeOf(spec).bits == 10 && spec.width % 3 == 1 &&
         spec.get_string_attribute("dpx:Packing") != "Packed";
}

// Opens `path` and checks what readHeader promises.
std::unique_ptr<OIIO::ImageInput>
openInput(const std::string &path, ImageHeader *header, std::string *error) {
  std::error_code ec;
  if (!fs::exists(path, ec)) {
    *error = "the input '" + path + "' does not exist";
    return nullptr;
  }
  if (fs::is_directory(path, ec)) {
    *error = "the input '" + path + "' is a folder, not an image file";
    return nullptr;
  }
  OIIO::ImageSpec config;
  config.attribute(kUnassociatedAlpha, 1);
  auto in = OIIO::ImageInput::open(path, &config);
  if (!in) {
    *error = "cannot read '" + path + "': " + oneLine(OIIO::geterror());
    return nullptr;
  }
  const int channels = in->spec().nchannels;
  if (channels != 1 && channels != 3 && channels != 4) {
    *error = "'" + path + "' has " + std::to_string(channels) +
             " channels; vantorel reads grey (1), RGB (3) and RGBA (4) "
             "images";
    return nullptr;
  }
  if (dpxRowsLoseTheirLastSample(*in)) {
    *error = "cannot read '" + path +
             "': OpenImageIO misreads the alpha at the end of every row of a "
             "10-bit RGBA DPX with filled 32-bit words that is 3n + 1 pixels "
             "wide (write it with packed samples, or a pixel more or less "
             "wide)";
    return nullptr;
  }
  header->spec = in->spec();
  header->moreImages = in->seek_subimage(1, 0);
  if (!header->moreImages)
    in->geterror(); // clears what the failed seek left: it is no fault
  if (header->moreImages && !in->seek_subimage(0, 0)) {
    *error = "cannot read '" + path + "': " + oneLine(in->geterror());
    return nullptr;
  }
  return in;
}

// Formats whose files always hold alpha: an RGB image written to them
// reads back as RGBA, so they are given RGBA.
bool alwaysHoldsAlpha(const OIIO::ImageOutput &out) {
  for (const char *name : {"gif", "ico"})
    if (std::strcmp(out.format_name(), name) == 0)
      return true;
  return false;
}

// The channels written: the source's channel set (grey as RGB), RGBA for
// a synthesized frame, and no alpha where the format has none (RGBA where
// it always has). A source without alpha gets one only when the render made
// it other than opaque (*alphaAdded).
int channelsToWrite(const Frame &frame, const ImageHeader *source,
                    const OIIO::ImageOutput &out, bool *alphaAdded) {
  *alphaAdded = false;
  if (!out.supports("alpha"))
    return 3;
  if (!source || source->spec.nchannels == 4)
    return 4;
  *alphaAdded = !isOpaque(frame);
  return *alphaAdded || alwaysHoldsAlpha(out) ? 4 : 3;
}

// How the written file is described: the source's windows and attributes with
// the channels and type of what is written.
OIIO::ImageSpec outputSpec(const Frame &frame, int channels, PixelType type,
                           const ImageHeader *source) {
  OIIO::ImageSpec spec(frame.width, frame.height, channels, type.type);
  if (source) {
    spec = source->spec;
    spec.set_format(type.type);
    spec.channelformats.clear();
    spec.nchannels = channels;
    spec.default_channel_names();
    spec.alpha_channel = channels == 4 ? 3 : -1;
    spec.z_channel = -1;
    for (const char *dropped : {kBitsPerSample, "oiio:subimages",
                                "oiio:ioproxy", "oiio:UnassociatedAlpha"})
      spec.erase_attribute(dropped);
  }
  if (type.bits)
    spec.attribute(kBitsPerSample, type.bits);
  spec.attribute(kUnassociatedAlpha, 1);
  return spec;
}

// Writers that can encode into memory through an IOProxy, by format name,
// except those that cannot: OpenImageIO's TIFF writer gives libtiff a read
// procedure that reads nothing from the proxy, so libtiff cannot re-read
// the first directory to link the EXIF directory it writes after it, and
// the file's header ends up pointing at a directory without the image's
// size. Those, and writers without a proxy, write to a MemoryFile by name.
bool encodesThroughProxy(OIIO::ImageOutput &out) {
  return out.supports("ioproxy") && std::strcmp(out.format_name(), "tiff") != 0;
}

// Formats that store pixels without loss (the compressions they may use
// that lose some are listed), so that --verify can compare every pixel.
struct LosslessFormat {
  const char *name;
  std::vector<const char *> lossyCompressions;
};
const LosslessFormat kLosslessFormats[] = {
    {"png", {}}, {"tiff", {"jpeg", "webp"}},
    {"dpx", {}}, {"openexr", {"pxr24", "b44", "b44a", "dwaa", "dwab"}},
    {"bmp", {}}, {"targa", {}},
    {"sgi", {}}, {"pnm", {}},
};

bool storesWithoutLoss(const std::string &format, const OIIO::ImageSpec &spec) {
  std::string compression = spec.get_string_attribute("compression");
  compression = compression.substr(0, compression.find(':')); // "dwaa:45"
  for (const LosslessFormat &lossless : kLosslessFormats)
    if (format == lossless.name)
      return std::none_of(
          lossless.lossyCompressions.begin(), lossless.lossyCompressions.end(),
          [&](const char *lossy) { return compression == lossy; });
  return false;
}

// 16-bit samples as a file of `bits` per sample gives them back: its
// writer keeps each sample's top `bits` bits, its reader widens them again
// by repeating their top bits below them.
void narrowAsStored(int bits, std::vector<unsigned char> *pixels) {
  for (std::size_t i = 0; i + 1 < pixels->size(); i += 2) {
    std::uint16_t value;
    std::memcpy(&value, &(*pixels)[i], 2);
    const unsigned kept = value >> (16 - bits);
    value = static_cast<std::uint16_t>(kept << (16 - bits) |
                                       kept >> (2 * bits - 16));
    std::memcpy(&(*pixels)[i], &value, 2);
  }
}

// The first `channels` channels of the frame's pixels as `stored` keeps
// them, top row first: the conversion the writers make.
std::vector<unsigned char> pixelsAsStored(const Frame &frame, int channels,
                                          PixelType stored) {
  std::vector<unsigned char> pixels(static_cast<std::size_t>(frame.width) *
                                    frame.height * channels *
                                    stored.type.size());
  OIIO::convert_image(channels, frame.width, frame.height, 1,
                      frame.row(frame.height - 1), typeOf(frame.depth),
                      frame.pixelBytes(),
                      -static_cast<OIIO::stride_t>(frame.rowBytes()),
                      OIIO::AutoStride, pixels.data(), stored.type,
                      OIIO::AutoStride, OIIO::AutoStride, OIIO::AutoStride);
  if (stored.bits)
    narrowAsStored(stored.bits, &pixels);
  return pixels;
}

} // namespace

std::string PixelType::name() const {
  return bits ? std::to_string(bits) + "-bit" : std::string(type.c_str());
}

PixelType pixelTypeOf(const OIIO::ImageSpec &spec) {
  const int bits = spec.get_int_attribute(kBitsPerSample, 0);
  const bool narrow =
      spec.format.basetype == TypeDesc::UINT16 && bits > 8 && bits < 16;
  return {spec.format, narrow ? bits : 0};
}

std::string shapeOf(const OIIO::ImageSpec &spec) {
  return std::to_string(spec.width) + "x" + std::to_string(spec.height) + ", " +
         std::to_string(spec.nchannels) + " channel" +
         (spec.nchannels == 1 ? "" : "s") + ", " + pixelTypeOf(spec).name();
}

bool parsePixelType(const std::string &text, PixelType *type,
                    std::string *error) {
  for (TypeDesc known :
       {TypeDesc::UINT8, TypeDesc::UINT16, TypeDesc::HALF, TypeDesc::FLOAT})
    if (text == known.c_str()) {
      *type = {known, 0};
      return true;
    }
  *error = "--out-type takes uint8, uint16, half or float (not '" + text + "')";
  return false;
}

bool readHeader(const std::string &path, ImageHeader *header,
                std::string *error) {
  return openInput(path, header, error) != nullptr;
}

bool readImage(const std::string &path, const std::optional<Depth> &depth,
               Frame *frame, ImageHeader *header, std::string *error) {
  auto in = openInput(path, header, error);
  if (!in)
    return false;
  const OIIO::ImageSpec &spec = header->spec;
  *frame = Frame::make(spec.width, spec.height,
                       depth ? *depth : depthOfFile(spec.format));
  // The display window's bottom-left corner is the origin; y points up.
  frame->x = spec.x - spec.full_x;
  frame->y = spec.full_y + spec.full_height - (spec.y + spec.height);
  if (!readPixels(*in, spec.nchannels, frame)) {
    *error = "cannot read '" + path + "': " + oneLine(in->geterror());
    return false;
  }
  if (in->has_error())
    std::fprintf(stderr, "vantorel: warning: '%s': %s\n", path.c_str(),
                 oneLine(in->geterror()).c_str());
  return true;
}

bool checkWritable(const std::string &path, std::string *error) {
  const fs::path folder = fs::path(path).parent_path();
  std::error_code ec;
  if (!folder.empty() && !fs::is_directory(folder, ec)) {
    *error = "the output folder '" + folder.string() + "' does not exist";
    return false;
  }
  if (fs::is_directory(path, ec)) {
    *error = "cannot write '" + path + "': it is a folder";
    return false;
  }
  if (fs::path(path).extension().empty()) {
    *error = "cannot write '" + path +
             "': it has no extension to choose the image format by (give "
             "one, e.g. .exr, .png or .tif)";
    return false;
  }
  if (!OIIO::ImageOutput::create(path)) {
    OIIO::geterror(); // clear it
    *error = "cannot write '" + path + "': no image format is known for '" +
             fs::path(path).extension().string() + "' files";
    return false;
  }
  return true;
}

bool EncodedImage::place(std::string *error) {
  return file_.write(bytes_.data(), bytes_.size(), error) && readsBack(error) &&
         file_.commit(error);
}

bool EncodedImage::readsBack(std::string *error) {
  OIIO::ImageSpec config;
  config.attribute(kUnassociatedAlpha, 1);
  auto in = OIIO::ImageInput::open(file_.temporaryPath(), &config);
  if (!in)
    return file_.fail("what was written does not read back (" +
                          oneLine(OIIO::geterror()) + ")",
                      error);
  const OIIO::ImageSpec &read = in->spec();
  if (shapeOf(read) != shapeOf(meant_))
    return file_.fail("it reads back as " + shapeOf(read) + ", not " +
                          shapeOf(meant_),
                      error);
  if (pixels_.empty())
    return true;
  std::vector<unsigned char> pixels(pixels_.size());
  if (!in->read_image(0, 0, 0, read.nchannels, read.format, pixels.data()))
    return file_.fail(
        "its pixels do not read back (" + oneLine(in->geterror()) + ")", error);
  const auto differs =
      std::mismatch(pixels.begin(), pixels.end(), pixels_.begin());
  if (differs.first == pixels.end())
    return true;
  const std::size_t sample =
      static_cast<std::size_t>(differs.first - pixels.begin()) /
      read.format.size();
  const std::size_t pixel = sample / read.nchannels;
  return file_.fail("it reads back with other pixels, the first at x " +
                        std::to_string(pixel % read.width) + ", y " +
                        std::to_string(pixel / read.width) +
                        " from the top, channel " +
                        std::to_string(sample % read.nchannels),
                    error);
}

std::unique_ptr<EncodedImage> encodeImage(const std::string &path,
                                          const Frame &frame,
                                          const WriteOptions &options,
                                          std::string *error) {
  auto out = OIIO::ImageOutput::create(path);
  if (!out) {
    *error = "cannot write '" + path + "': " + oneLine(OIIO::geterror());
    return nullptr;
  }
  auto encoded = std::make_unique<EncodedImage>(path);
  const int channels =
      channelsToWrite(frame, options.source, *out, &encoded->alphaAdded_);
  const PixelType wanted = options.type     ? *options.type
                           : options.source ? pixelTypeOf(options.source->spec)
                                            : PixelType{typeOf(frame.depth), 0};
  OIIO::ImageSpec spec =
      outputSpec(frame, channels, storedType(path, wanted), options.source);
  // Encoded in memory, so that the bytes reach the disk through writes
  // whose every failure is seen.
  OIIO::Filesystem::IOVecOutput memory(encoded->bytes_);
  std::optional<MemoryFile> byName;
  if (encodesThroughProxy(*out)) {
    void *proxy = &memory;
    spec.attribute("oiio:ioproxy", TypeDesc::PTR, &proxy);
  } else if (!byName.emplace().made(error)) {
    *error = "cannot write '" + path + "': " + *error;
    return nullptr;
  }
  const std::string target =
      byName ? byName->path() : encoded->file_.temporaryPath();
  // Rows bottom-up in the frame, top-down in the file: start at the top
  // row and step down. Alpha is skipped when it is not written.
  const std::uint8_t *top = frame.row(frame.height - 1);
  const auto rowStride = -static_cast<OIIO::stride_t>(frame.rowBytes());
  if (!out->open(target, spec)) {
    *error = "cannot write '" + path + "': " + oneLine(out->geterror());
    return nullptr;
  }
  // What the file must read back as: the size and channels asked for, the
  // type the writer took on (its spec is gone once it is closed).
  encoded->meant_ =
      OIIO::ImageSpec(frame.width, frame.height, channels, out->spec().format);
  const PixelType stored = pixelTypeOf(out->spec());
  if (stored.bits)
    encoded->meant_.attribute(kBitsPerSample, stored.bits);
  const bool lossless = storesWithoutLoss(out->format_name(), out->spec());
  if (!out->write_image(typeOf(frame.depth), top, frame.pixelBytes(),
                        rowStride) ||
      !out->close()) {
    *error = "cannot write '" + path + "': " + oneLine(out->geterror());
    return nullptr;
  }
  if (byName && !byName->contents(&encoded->bytes_, error)) {
    *error = "cannot write '" + path + "': " + *error;
    return nullptr;
  }
  if (options.comparePixels && lossless)
    encoded->pixels_ = pixelsAsStored(frame, channels, stored);
  return encoded;
}

bool writeImage(const std::string &path, const Frame &frame,
                const WriteOptions &options, std::string *error) {
  if (!checkWritable(path, error))
    return false;
  auto encoded = encodeImage(path, frame, options, error);
  return encoded && encoded->place(error);
}

Depth naturalDepthFor(const std::string &path) {
  const std::string extension = lowerExtension(path);
  for (const char *floatFormat : {".exr", ".pfm", ".hdr"})
    if (extension == floatFormat)
      return Depth::Float;
  return Depth::Byte;
}

} // namespace vantorel
