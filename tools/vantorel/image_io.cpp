#include "image_io.h"

#include "library_messages.h"

#include <OpenImageIO/filesystem.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
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

// The reason OpenImageIO gives for a failure: the object's error text,
// else the global one, with what the libraries printed folded in.
std::string oiioError(const std::string &message) {
  const std::string global = OIIO::geterror();
  return libraryReason(message.empty() ? global : message);
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
    *error = "cannot read '" + path + "': " + oiioError("");
    return nullptr;
  }
  const int channels = in->spec().nchannels;
  if (channels != 1 && channels != 3 && channels != 4) {
    *error = "'" + path + "' has " + std::to_string(channels) +
             " channels; vantorel reads grey (1), RGB (3) and RGBA (4) "
             "images";
    return nullptr;
  }
  header->spec = in->spec();
  header->moreImages = in->seek_subimage(1, 0);
  if (header->moreImages && !in->seek_subimage(0, 0)) {
    *error = "cannot read '" + path + "': " + oiioError(in->geterror());
    return nullptr;
  }
  return in;
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
    *error = "cannot read '" + path + "': " + oiioError(in->geterror());
    return false;
  }
  // A reader that went on past a fault (libjpeg past the end of a cut
  // JPEG, for one) only prints it. With frames read in parallel the line
  // may be another file's, so it names none.
  for (const std::string &line : takeLibraryMessages())
    std::fprintf(toolMessages(),
                 "vantorel: warning: the image library says: %s\n",
                 line.c_str());
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
  const bool written = inMemory_
                           ? file_.write(bytes_.data(), bytes_.size(), error)
                           : file_.flushWritten(error);
  return written && file_.commit(error);
}

std::unique_ptr<EncodedImage> encodeImage(const std::string &path,
                                          const Frame &frame,
                                          const WriteOptions &options,
                                          std::string *error) {
  auto out = OIIO::ImageOutput::create(path);
  if (!out) {
    *error = "cannot write '" + path + "': " + oiioError("");
    return nullptr;
  }
  const int channels = out->supports("alpha") ? 4 : 3;
  const PixelType wanted = options.type     ? *options.type
                           : options.source ? pixelTypeOf(options.source->spec)
                                            : PixelType{typeOf(frame.depth), 0};
  OIIO::ImageSpec spec =
      outputSpec(frame, channels, storedType(path, wanted), options.source);
  auto encoded = std::make_unique<EncodedImage>(path);
  // Encoded in memory where the writer allows, so that the bytes reach the
  // disk through writes whose every failure is seen.
  OIIO::Filesystem::IOVecOutput memory(encoded->bytes_);
  encoded->inMemory_ = out->supports("ioproxy");
  if (encoded->inMemory_) {
    void *proxy = &memory;
    spec.attribute("oiio:ioproxy", TypeDesc::PTR, &proxy);
  }
  // Rows bottom-up in the frame, top-down in the file: start at the top
  // row and step down. Alpha is skipped when the format has none.
  const std::uint8_t *top = frame.row(frame.height - 1);
  const auto rowStride = -static_cast<OIIO::stride_t>(frame.rowBytes());
  if (!out->open(encoded->file_.temporaryPath(), spec) ||
      !out->write_image(typeOf(frame.depth), top, frame.pixelBytes(),
                        rowStride) ||
      !out->close()) {
    *error = "cannot write '" + path + "': " + oiioError(out->geterror());
    return nullptr;
  }
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
