// Images handed to the plug-in through clipGetImage.
#include "ofx_host.h"

#include <cassert>
#include <cstdlib>
#include <cstring>
#include <new>

namespace ofxhost {

// The buffer holds |rowBytes| x height bytes, rows laid out so that the
// data address is row y1: at the start of the buffer for a positive
// stride, at its last row for a negative one. A stride shorter than a row
// (0 included) makes rows overlap; such a buffer gets an extra
// pixelBytes x width x height bytes so that writing whole rows through the
// accessors stays inside it.
Image::Image(Host *host, const ImageSpec &spec, std::string label)
    : spec_(spec), props_(host, std::move(label)) {
  const long long w = width() > 0 ? width() : 0;
  const long long h = height() > 0 ? height() : 0;
  const long long row = pixelBytes() * w;
  rowBytes_ = spec.rowBytes;
  if (rowBytes_ == 0)
    rowBytes_ = spec.topDown ? -row : row;
  const long long stride = rowBytes_ < 0 ? -rowBytes_ : rowBytes_;
  long long size = stride * h;
  if (stride < row)
    size += row * h;
  bufferSize_ = static_cast<std::size_t>(size);
  buffer_ =
      static_cast<std::uint8_t *>(std::malloc(size > 0 ? bufferSize_ : 1));
  if (!buffer_)
    throw std::bad_alloc();
  std::memset(buffer_, spec.fill, bufferSize_);
  row0_ = buffer_;
  if (rowBytes_ < 0 && h > 0)
    row0_ += stride * (h - 1);
  data_ = spec.nullData ? nullptr : row0_;

  props_.image = this;
  props_.setPointer("OfxImagePropData", {data_});
  props_.setInt("OfxImagePropRowBytes", {static_cast<int>(rowBytes_)});
  props_.setInt("OfxImagePropBounds", {spec.bounds.x1, spec.bounds.y1,
                                       spec.bounds.x2, spec.bounds.y2});
  props_.setString("OfxImageEffectPropComponents", {"OfxImageComponentRGBA"});
  props_.setDouble("OfxImagePropPixelAspectRatio", {1.0});
  const char *depth =
      spec.depth == Depth::Float ? "OfxBitDepthFloat" : "OfxBitDepthByte";
  if (spec.standardDepthName)
    props_.setString("OfxImageEffectPropPixelDepth", {depth});
  if (spec.nonStandardDepthName)
    props_.setString("OfxImagePropPixelDepth", {depth});
}

Image::~Image() { std::free(buffer_); }

std::uint8_t *Image::byteAt(int x, int y) const {
  assert(x >= spec_.bounds.x1 && x < spec_.bounds.x2);
  assert(y >= spec_.bounds.y1 && y < spec_.bounds.y2);
  return row0_ + static_cast<long long>(y - spec_.bounds.y1) * rowBytes_ +
         static_cast<long long>(x - spec_.bounds.x1) * pixelBytes();
}

float *Image::floatAt(int x, int y) const {
  return reinterpret_cast<float *>(byteAt(x, y));
}

} // namespace ofxhost
