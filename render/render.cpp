// The render action: fetch the two images, sample the parameters, and draw
// the render window through the overlay stages.
#include "render.h"

#include "frame.h"
#include "host_suites.h"
#include "ofx_names.h"
#include "overlays.h"
#include "sampled_params.h"

#include <string.h>

static OfxRectI getRect(OfxPropertySetHandle set, const char *name,
                        OfxRectI preset) {
  int values[4] = {preset.x1, preset.y1, preset.x2, preset.y2};
  gHostSuites.property->propGetIntN(set, name, 4, values);
  const OfxRectI rect = {values[0], values[1], values[2], values[3]};
  return rect;
}

// The image's depth name under the standard's property, else under the
// older name; null when the host names no depth under either (an empty
// string names none).
static const char *depthName(OfxPropertySetHandle image) {
  char *depth = 0;
  gHostSuites.property->propGetString(image, kOfxImageEffectPropPixelDepth, 0,
                                      &depth);
  if (depth == 0 || depth[0] == 0) {
    depth = 0;
    gHostSuites.property->propGetString(image, kImagePropPixelDepth, 0, &depth);
  }
  return depth != 0 && depth[0] != 0 ? depth : 0;
}

typedef enum NamedPath {
  kPathUnnamed,     // no depth named: the row stride decides
  kPathByte,        // 8-bit RGBA
  kPathFloat,       // 32-bit float RGBA
  kPathUnsupported, // a depth this plug-in does not declare
} NamedPath;

// What the output's depth name says: a name containing "Float" is the float
// path and the standard's 8-bit name the 8-bit path, whatever the strides;
// any other name is a depth the effect never declared (short, half, none).
static NamedPath namedPath(const char *depth) {
  if (depth == 0) {
    return kPathUnnamed;
  }
  if (strstr(depth, "Float") != 0) {
    return kPathFloat;
  }
  return strcmp(depth, kOfxBitDepthByte) == 0 ? kPathByte : kPathUnsupported;
}

// Without a depth name, source rows of at least 16 bytes a pixel are taken
// for float rows.
static bool strideSuggestsFloat(const ImageView *source) {
  const int64_t width = spanOf(source->bounds.x1, source->bounds.x2);
  return width > 0 && (int64_t)source->rowBytes >= 16 * width;
}

static void *getData(OfxPropertySetHandle image) {
  void *data = 0;
  gHostSuites.property->propGetPointer(image, kOfxImagePropData, 0, &data);
  return data;
}

static int32_t getRowBytes(OfxPropertySetHandle image) {
  int rowBytes = 0;
  gHostSuites.property->propGetInt(image, kOfxImagePropRowBytes, 0, &rowBytes);
  return rowBytes;
}

static RenderParams sampleParams(OfxImageEffectHandle instance, OfxTime time) {
  RenderParams params = defaultRenderParams();
  if (gHostSuites.parameter == 0) {
    return params;
  }
  OfxParamSetHandle paramSet = 0;
  gHostSuites.imageEffect->getParamSet(instance, &paramSet);
  if (paramSet == 0) {
    return params;
  }
  for (unsigned i = 0; i < kSampledParamCount; ++i) {
    OfxParamHandle param = 0;
    if (gHostSuites.parameter->paramGetHandle(paramSet, sampledParamName(i),
                                              &param, 0) != kOfxStatOK) {
      continue;
    }
    const ParamField field = sampledParamField(&params, i);
    if (field.flag != 0) {
      gHostSuites.parameter->paramGetValueAtTime(param, time, field.flag);
    } else {
      gHostSuites.parameter->paramGetValueAtTime(param, time, field.number);
    }
  }
  return params;
}

// True when every row of the image has room for its pixels.
static bool rowsHoldPixels(const ImageView *view, int pixelSize) {
  const int64_t stride =
      view->rowBytes < 0 ? -(int64_t)view->rowBytes : (int64_t)view->rowBytes;
  return stride >= pixelSize * spanOf(view->bounds.x1, view->bounds.x2);
}

static OfxRectI intersect(OfxRectI a, OfxRectI b) {
  const OfxRectI r = {a.x1 > b.x1 ? a.x1 : b.x1, a.y1 > b.y1 ? a.y1 : b.y1,
                      a.x2 < b.x2 ? a.x2 : b.x2, a.y2 < b.y2 ? a.y2 : b.y2};
  return r;
}

static bool isEmpty(OfxRectI r) { return r.x2 <= r.x1 || r.y2 <= r.y1; }

static OfxStatus renderImages(OfxImageEffectHandle instance,
                              OfxPropertySetHandle inArgs, OfxTime time,
                              OfxPropertySetHandle sourceImage,
                              OfxPropertySetHandle outputImage) {
  const OfxRectI noBounds = {0, 0, 0, 0};
  const NamedPath named = namedPath(depthName(outputImage));
  if (named == kPathUnsupported) {
    return kOfxStatErrUnsupported;
  }
  ImageView source, output;
  source.rowBytes = getRowBytes(sourceImage);
  source.bounds = getRect(sourceImage, kOfxImagePropBounds, noBounds);
  const bool floatPath = named == kPathFloat || (named == kPathUnnamed &&
                                                 strideSuggestsFloat(&source));
  source.data = (uint8_t *)getData(sourceImage);
  output.data = (uint8_t *)getData(outputImage);
  output.rowBytes = getRowBytes(outputImage);
  output.bounds = getRect(outputImage, kOfxImagePropBounds, noBounds);
  const OfxRectI window =
      getRect(inArgs, kOfxImageEffectPropRenderWindow, source.bounds);

  FrameContext frame;
  frame.params = sampleParams(instance, time);
  frame.geometry = computeOverlayGeometry(source.bounds, &frame.params);
  frame.colours = computeReferenceColours();
  frame.floatPixels = floatPath;

  const int pixelSize = pixelSizeOf(&frame);
  if (source.data == 0 || output.data == 0 ||
      !rowsHoldPixels(&source, pixelSize) ||
      !rowsHoldPixels(&output, pixelSize)) {
    return kOfxStatFailed;
  }
  const OfxRectI drawn = intersect(window, output.bounds);
  if (isEmpty(drawn)) {
    return kOfxStatOK;
  }
  drawRenderWindow(&source, &output, drawn, &frame);
  return kOfxStatOK;
}

OfxStatus render(OfxImageEffectHandle instance, OfxPropertySetHandle inArgs,
                 OfxPropertySetHandle) {
  const OfxPropertySuiteV1 *props = gHostSuites.property;
  const OfxImageEffectSuiteV1 *effects = gHostSuites.imageEffect;
  if (props == 0 || effects == 0) {
    return kOfxStatErrMissingHostFeature;
  }
  OfxTime time = 0.0;
  props->propGetDouble(inArgs, kOfxPropTime, 0, &time);
  OfxImageClipHandle sourceClip = 0;
  OfxImageClipHandle outputClip = 0;
  effects->clipGetHandle(instance, kOfxImageEffectSimpleSourceClipName,
                         &sourceClip, 0);
  effects->clipGetHandle(instance, kOfxImageEffectOutputClipName, &outputClip,
                         0);
  OfxPropertySetHandle sourceImage = 0;
  OfxPropertySetHandle outputImage = 0;
  effects->clipGetImage(sourceClip, time, 0, &sourceImage);
  effects->clipGetImage(outputClip, time, 0, &outputImage);

  OfxStatus status = kOfxStatFailed;
  if (sourceImage != 0 && outputImage != 0) {
    status = renderImages(instance, inArgs, time, sourceImage, outputImage);
  }
  if (sourceImage != 0) {
    effects->clipReleaseImage(sourceImage);
  }
  if (outputImage != 0) {
    effects->clipReleaseImage(outputImage);
  }
  return status;
}
