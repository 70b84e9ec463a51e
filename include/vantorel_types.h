// The per-frame records of a render: the sampled parameters, the working
// pixel, the overlay positions and the reference colours.
#ifndef VANTOREL_TYPES_H
#define VANTOREL_TYPES_H

#include "ofx_abi.h"

#include <stdint.h>

// The fifteen parameters at the frame time. The render samples them in the
// order of these fields (the parameter table derives that order from their
// offsets and checks at compile time that it names each field once).
// Switches are on when non-zero.
typedef struct RenderParams {
  int32_t ShowSkinTonePatches;
  int32_t ShowSkinToneLine;
  int32_t ShowMiddleGray;
  int32_t LegalizeLevels;
  int32_t FalseColorMode;
  int32_t GuideThirds;
  int32_t GuideGolden;
  int32_t GuideCrosshair;
  int32_t Crop185;
  int32_t Crop235;
  int32_t Crop239;
  double CropOpacity;
  double LineThickness;
  double SkinLinePos;
  double GrayLinePos;
} RenderParams;

// One pixel while the overlays work on it, nominally 0 to 1 per channel.
typedef struct WorkPixel {
  float r, g, b, a;
} WorkPixel;

typedef struct Colour {
  float r, g, b;
} Colour;

// Rows and columns the overlays test against, all from the source bounds.
typedef struct OverlayGeometry {
  int32_t x1, x2; // the source's columns, the ends of the skin line
  int32_t centreColumn, centreRow;
  int32_t bandThickness;
  int32_t skinBandStart, grayBandStart;
  int32_t patchRowsStart, patchRowsEnd;
  int32_t cropLow, cropHigh; // rows below cropLow or above cropHigh are bars
  int32_t thirdColumns[2], thirdRows[2];
  int32_t goldenColumns[2], goldenRows[2];
} OverlayGeometry;

enum { crosshairReach = 20 };

// The skin-tone patch colours and their saturation-boosted versions, the
// ends of the skin line.
typedef struct ReferenceColours {
  Colour lightSkin, darkSkin;
  Colour boostedLightSkin, boostedDarkSkin;
} ReferenceColours;

#endif
