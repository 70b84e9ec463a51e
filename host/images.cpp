// Images handed to the plug-in through clipGetImage.
#include "ofx_host_testing.h"
#include "platform.h"

#include <cassert>
#include <cstdlib>
#include <cstring>
#include <new>

namespace ofxhost {

namespace {

long long pixelBytesOf(Depth depth) { return depth == Depth::Float ? 16 : 4; }

std::size_t roundUpToPages(std::size_t bytes) {
  const std::size_t page = platform::pageSize();
  return (bytes + page - 1) / page * page;
}

} // namespace

std::size_t Image::spanOf(const ImageSpec &spec, long long rowBytes) {
  const long long w = static_cast<long long>(spec.bounds.x2) - spec.bounds.x1;
  const long long h = static_cast<long long>(spec.bounds.y2) - spec.bounds.y1;
  if (w <= 0 || h <= 0)
    return 0;
  // Unsigned: the largest bounds and stride reach past 2^63 bytes.
  const unsigned long long stride =
      rowBytes < 0 ? 0ull - static_cast<unsigned long long>(rowBytes)
                   : static_cast<unsigned long long>(rowBytes);
  return static_cast<std::size_t>(
      stride * static_cast<unsigned long long>(h - 1) +
      static_cast<unsigned long long>(pixelBytesOf(spec.depth) * w));
}

// Without guard pages the buffer holds |rowBytes| x height bytes, rows laid
// out so that the data address is row y1: at the start of the buffer for a
// positive stride, at its last row for a negative one. A stride shorter
// than a row (0 included) makes rows overlap; such a buffer gets an extra
// pixelBytes x width x height bytes so that writing whole rows through the
// accessors stays inside it.
//
// With guard pages the buffer is exactly the span the rows cover, placed
// against one of the two inaccessible pages around it.
//
// A plain image is a test image with every choice left at its default.
Image::Image(Host *host, const ImageSpec &spec, std::string label)
    : Image(host, TestImageSpec{spec}, std::move(label)) {}

Image::Image(Host *host, const TestImageSpec &spec, std::string label)
    : spec_(spec), props_(host, std::move(label)) {
  const long long w = width() > 0 ? width() : 0;
  const long long h = height() > 0 ? height() : 0;
  const long long row = pixelBytes() * w;
  rowBytes_ = spec.rowBytes;
  if (rowBytes_ == 0 && !spec.rowBytesAsGiven)
    rowBytes_ = spec.topDown ? -row : row;
  const long long stride = rowBytes_ < 0 ? -rowBytes_ : rowBytes_;
  if (spec.guard == Guard::None)
    allocateOnHeap(stride * h + (stride < row ? row * h : 0));
  else
    allocateGuarded(spanOf(spec, rowBytes_), spec.guard == Guard::AtStart);
  std::memset(buffer_, spec.fill, bufferSize_);
  row0_ = buffer_;
  if (rowBytes_ < 0 && h > 0)
    row0_ += stride * (h - 1);
  data_ = spec.nullData ? nullptr : row0_;
  describeInProperties(spec);
}

void Image::allocateOnHeap(long long size) {
  bufferSize_ = static_cast<std::size_t>(size);
  buffer_ =
      static_cast<std::uint8_t *>(std::malloc(size > 0 ? bufferSize_ : 1));
  if (!buffer_)
    throw std::bad_alloc();
}

void Image::allocateGuarded(std::size_t span, bool againstStart) {
  const std::size_t page = platform::pageSize();
  const std::size_t usable = roundUpToPages(span);
  mappingSize_ = usable + 2 * page;
  mapping_ = platform::reserveInaccessible(mappingSize_);
  if (!mapping_)
    throw std::bad_alloc();
  auto *first = static_cast<std::uint8_t *>(mapping_) + page;
  if (usable > 0 && !platform::makeReadWrite(first, usable)) {
    platform::releaseReservation(mapping_, mappingSize_);
    mapping_ = nullptr;
    throw std::bad_alloc();
  }
  bufferSize_ = span;
  buffer_ = againstStart ? first : first + usable - span;
}

void Image::describeInProperties(const TestImageSpec &spec) {
  props_.image = this;
  props_.setPointer("OfxImagePropData", {data_});
  props_.setInt("OfxImagePropRowBytes", {static_cast<int>(rowBytes_)});
  props_.setInt("OfxImagePropBounds", {spec_.bounds.x1, spec_.bounds.y1,
                                       spec_.bounds.x2, spec_.bounds.y2});
  props_.setString("OfxImageEffectPropComponents", {"OfxImageComponentRGBA"});
  props_.setDouble("OfxImagePropPixelAspectRatio", {1.0});
  const char *depth =
      spec_.depth == Depth::Float ? "OfxBitDepthFloat" : "OfxBitDepthByte";
  if (spec.standardDepthName)
    props_.setString("OfxImageEffectPropPixelDepth", {depth});
  if (spec.nonStandardDepthName)
    props_.setString("OfxImagePropPixelDepth", {depth});
}

Image::~Image() {
  if (mapping_)
    platform::releaseReservation(mapping_, mappingSize_);
  else
    std::free(buffer_);
}

std::uint8_t *Image::byteAt(int x, int y) const {
  assert(x >= spec_.bounds.x1 && x < spec_.bounds.x2);
  assert(y >= spec_.bounds.y1 && y < spec_.bounds.y2);
  const long long row = static_cast<long long>(y) - spec_.bounds.y1;
  const long long column = static_cast<long long>(x) - spec_.bounds.x1;
  return row0_ + row * rowBytes_ + column * pixelBytes();
}

float *Image::floatAt(int x, int y) const {
  return reinterpret_cast<float *>(byteAt(x, y));
}

} // namespace ofxhost
