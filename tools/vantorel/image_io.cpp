#include "image_io.h"

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace vantorel {

namespace {

// Tells the readers and writers that colours are not multiplied by alpha,
// so they pass them through as stored.
const char kUnassociatedAlpha[] = "oiio:UnassociatedAlpha";

std::string lowerExtension(const std::string &path) {
  std::string extension = fs::path(path).extension().string();
  for (char &c : extension)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension;
}

Depth depthOfFile(const OIIO::TypeDesc &format) {
  return format.basetype == OIIO::TypeDesc::UINT8 ||
                 format.basetype == OIIO::TypeDesc::INT8
             ? Depth::Byte
             : Depth::Float;
}

OIIO::TypeDesc typeOf(Depth depth) {
  return depth == Depth::Float ? OIIO::TypeDesc::FLOAT : OIIO::TypeDesc::UINT8;
}

// Copies `channels`-channel pixels, rows top-down, into the RGBA frame.
template <typename T>
void expandToRgba(const std::vector<T> &pixels, int channels, T opaque,
                  Frame *frame) {
  const T *in = pixels.data();
  for (int y = frame->height - 1; y >= 0; --y) {
    T *out = reinterpret_cast<T *>(frame->row(y));
    for (int x = 0; x < frame->width; ++x, in += channels, out += 4) {
      out[0] = in[0];
      out[1] = in[channels >= 3 ? 1 : 0];
      out[2] = in[channels >= 3 ? 2 : 0];
      out[3] = channels == 4 ? in[3] : opaque;
    }
  }
}

template <typename T>
bool readPixels(OIIO::ImageInput &in, int channels, T opaque, Frame *frame) {
  std::vector<T> pixels(static_cast<std::size_t>(frame->width) * frame->height *
                        channels);
  if (!in.read_image(0, 0, 0, channels, typeOf(frame->depth), pixels.data()))
    return false;
  expandToRgba(pixels, channels, opaque, frame);
  return true;
}

std::string oiioError(const std::string &message) {
  return message.empty() ? OIIO::geterror() : message;
}

// Writes `frame` at `path`; errors name `shownPath`.
bool writeFile(const std::string &path, const std::string &shownPath,
               const Frame &frame, std::string *error) {
  auto out = OIIO::ImageOutput::create(path);
  if (!out) {
    *error = "cannot write '" + shownPath + "': " + OIIO::geterror();
    return false;
  }
  const int channels = out->supports("alpha") ? 4 : 3;
  OIIO::ImageSpec spec(frame.width, frame.height, channels,
                       typeOf(frame.depth));
  spec.attribute(kUnassociatedAlpha, 1);
  // Rows bottom-up in the frame, top-down in the file: start at the top
  // row and step down. Alpha is skipped when the format has none.
  const std::uint8_t *top = frame.row(frame.height - 1);
  const auto rowStride = -static_cast<OIIO::stride_t>(frame.rowBytes());
  if (!out->open(path, spec) ||
      !out->write_image(typeOf(frame.depth), top, frame.pixelBytes(),
                        rowStride) ||
      !out->close()) {
    *error = "cannot write '" + shownPath + "': " + oiioError(out->geterror());
    return false;
  }
  return true;
}

} // namespace

bool readImage(const std::string &path, const std::optional<Depth> &depth,
               Frame *frame, std::string *error) {
  std::error_code ec;
  if (!fs::exists(path, ec)) {
    *error = "the input '" + path + "' does not exist";
    return false;
  }
  OIIO::ImageSpec config;
  config.attribute(kUnassociatedAlpha, 1);
  auto in = OIIO::ImageInput::open(path, &config);
  if (!in) {
    *error = "cannot read '" + path + "': " + OIIO::geterror();
    return false;
  }
  const OIIO::ImageSpec &spec = in->spec();
  const int channels = spec.nchannels;
  if (channels != 1 && channels != 3 && channels != 4) {
    *error = "'" + path + "' has " + std::to_string(channels) +
             " channels; vantorel reads grey (1), RGB (3) and RGBA (4) "
             "images";
    return false;
  }
  *frame = Frame::make(spec.width, spec.height,
                       depth ? *depth : depthOfFile(spec.format));
  const bool ok = frame->depth == Depth::Float
                      ? readPixels<float>(*in, channels, 1.0f, frame)
                      : readPixels<std::uint8_t>(*in, channels, 255, frame);
  if (!ok) {
    *error = "cannot read '" + path + "': " + oiioError(in->geterror());
    return false;
  }
  return true;
}

bool checkWritable(const std::string &path, std::string *error) {
  const fs::path folder = fs::path(path).parent_path();
  std::error_code ec;
  if (!folder.empty() && !fs::is_directory(folder, ec)) {
    *error = "the output folder '" + folder.string() + "' does not exist";
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

bool writeImage(const std::string &path, const Frame &frame,
                std::string *error) {
  return checkWritable(path, error) &&
         writeAtomically(
             path,
             [&](const std::string &temp, std::string *message) {
               return writeFile(temp, path, frame, message);
             },
             error);
}

Depth naturalDepthFor(const std::string &path) {
  const std::string extension = lowerExtension(path);
  for (const char *floatFormat : {".exr", ".pfm", ".hdr"})
    if (extension == floatFormat)
      return Depth::Float;
  return Depth::Byte;
}

bool writeAtomically(
    const std::string &path,
    const std::function<bool(const std::string &, std::string *)> &write,
    std::string *error) {
  const fs::path target(path);
  const fs::path temp =
      target.parent_path() /
      ("." + target.stem().string() + ".vantorel-" + std::to_string(getpid()) +
       target.extension().string());
  std::error_code ec;
  if (!write(temp.string(), error)) {
    fs::remove(temp, ec);
    return false;
  }
  fs::rename(temp, target, ec);
  if (ec) {
    *error = "cannot write '" + path + "': " + ec.message();
    fs::remove(temp, ec);
    return false;
  }
  return true;
}

} // namespace vantorel
