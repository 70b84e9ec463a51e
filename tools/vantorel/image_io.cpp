#include "image_io.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace vantorel {

namespace {

struct FileCloser {
  void operator()(std::FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string extensionOf(const std::string &path) {
  return fs::path(path).extension().string();
}

const void *pixels(const Frame &frame) {
  return frame.depth == Depth::Float
             ? static_cast<const void *>(frame.floats.data())
             : frame.bytes.data();
}

bool writeRaw(const Frame &frame, std::FILE *f) {
  const std::size_t size = frame.rowBytes() * frame.height;
  return std::fwrite(pixels(frame), 1, size, f) == size;
}

// Binary PPM: 8-bit RGB, rows top-down.
bool writePpm(const Frame &frame, std::FILE *f) {
  std::fprintf(f, "P6\n%d %d\n255\n", frame.width, frame.height);
  for (int y = frame.height - 1; y >= 0; --y) {
    const std::uint8_t *pixel = frame.row(y);
    for (int x = 0; x < frame.width; ++x, pixel += 4)
      if (std::fwrite(pixel, 1, 3, f) != 3)
        return false;
  }
  return true;
}

// PFM: float RGB, little-endian (the negative scale), rows bottom-up.
bool writePfm(const Frame &frame, std::FILE *f) {
  std::fprintf(f, "PF\n%d %d\n-1.0\n", frame.width, frame.height);
  for (int y = 0; y < frame.height; ++y) {
    const float *pixel = reinterpret_cast<const float *>(frame.row(y));
    for (int x = 0; x < frame.width; ++x, pixel += 4)
      if (std::fwrite(pixel, sizeof(float), 3, f) != 3)
        return false;
  }
  return true;
}

} // namespace

bool readRaw(const std::string &path, int width, int height, Depth depth,
             Frame *frame, std::string *error) {
  File f(std::fopen(path.c_str(), "rb"));
  if (!f) {
    *error = "cannot read '" + path + "'";
    return false;
  }
  *frame = Frame::make(width, height, depth);
  const std::size_t size = frame->rowBytes() * height;
  void *data = depth == Depth::Float ? static_cast<void *>(frame->floats.data())
                                     : frame->bytes.data();
  const bool whole =
      std::fread(data, 1, size, f.get()) == size && std::fgetc(f.get()) == EOF;
  if (!whole) {
    *error = "'" + path + "' does not hold exactly " + std::to_string(width) +
             "x" + std::to_string(height) + " " + depthName(depth) +
             " RGBA pixels (" + std::to_string(size) + " bytes)";
    return false;
  }
  return true;
}

bool writeImage(const std::string &path, const Frame &frame,
                std::string *error) {
  const std::string extension = extensionOf(path);
  const bool ppm = extension == ".ppm", pfm = extension == ".pfm";
  const Frame converted = ppm   ? convertDepth(frame, Depth::Byte)
                          : pfm ? convertDepth(frame, Depth::Float)
                                : frame;
  return writeAtomically(
      path,
      [&](const std::string &temp, std::string *message) {
        File f(std::fopen(temp.c_str(), "wb"));
        bool ok = f && (ppm   ? writePpm(converted, f.get())
                        : pfm ? writePfm(converted, f.get())
                              : writeRaw(converted, f.get()));
        ok = f && std::fclose(f.release()) == 0 && ok;
        if (!ok)
          *message = "cannot write '" + path + "'";
        return ok;
      },
      error);
}

bool writeAtomically(
    const std::string &path,
    const std::function<bool(const std::string &, std::string *)> &write,
    std::string *error) {
  const fs::path target(path);
  const fs::path folder =
      target.parent_path().empty() ? fs::path(".") : target.parent_path();
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    *error = "the output folder '" + folder.string() + "' does not exist";
    return false;
  }
  const fs::path temp =
      folder / ("." + target.stem().string() + ".vantorel-" +
                std::to_string(getpid()) + target.extension().string());
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
