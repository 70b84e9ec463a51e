#include "param_table.h"

#include "ofx_names.h"

#define FIELD(name) offsetof(RenderParams, name)
#define GROUP(name, label, shortLabel)                                         \
  { kParamGroup, name, label, shortLabel, 0, 0, 0.0, 0.0, 0.0 }
#define SWITCH(name, label, shortLabel, parent)                                \
  {                                                                            \
    kParamBoolean, #name, label, shortLabel, parent, FIELD(name), 0.0, 0.0,    \
        0.0                                                                    \
  }
#define NUMBER(name, label, shortLabel, parent, def, lo, hi)                   \
  { kParamDouble, #name, label, shortLabel, parent, FIELD(name), def, lo, hi }

constexpr ParamSpec kParamTable[] = {
    GROUP("GroupLegal", "Legalize it!", "Legal"),
    SWITCH(LegalizeLevels, "Legalize Levels", "Legalize", "GroupLegal"),
    GROUP("GroupRef", "Reference it!", "Ref"),
    SWITCH(FalseColorMode, "False Color Assist", "False Color", "GroupRef"),
    SWITCH(ShowSkinTonePatches, "Macbeth Skin Tone Patches", "Patches",
           "GroupRef"),
    SWITCH(ShowSkinToneLine, "Macbeth Skin Tone Line", "Line", "GroupRef"),
    NUMBER(SkinLinePos, "Skin Line Position (%)", "Skin Pos", "GroupRef", 0.73,
           0.0, 1.0),
    SWITCH(ShowMiddleGray, "18% Middle Gray", "Gray", "GroupRef"),
    NUMBER(GrayLinePos, "Gray Line Position (%)", "Gray Pos", "GroupRef", 0.12,
           0.0, 1.0),
    NUMBER(LineThickness, "Guide Line Thickness (%)", "Thickness", "GroupRef",
           15.0, 0.1, 30.0),
    GROUP("GroupGuides", "Compose it!", "Guides"),
    SWITCH(GuideThirds, "Rule of Thirds", "Thirds", "GroupGuides"),
    SWITCH(GuideGolden, "Golden Ratio (Phi Grid)", "Golden", "GroupGuides"),
    SWITCH(GuideCrosshair, "Center Crosshair", "Crosshair", "GroupGuides"),
    GROUP("GroupCrops", "Cinematize it!", "Crops"),
    SWITCH(Crop185, "1.85:1 (Widescreen Drama)", "1.85:1", "GroupCrops"),
    SWITCH(Crop235, "2.35:1 (Cinemascope Vintage)", "2.35:1", "GroupCrops"),
    SWITCH(Crop239, "2.39:1 (Anamorphic Blockbuster)", "2.39:1", "GroupCrops"),
    NUMBER(CropOpacity, "Cinematic Bar Opacity", "Opacity", "GroupCrops", 1.0,
           0.0, 1.0),
};

const unsigned kParamTableSize = sizeof kParamTable / sizeof kParamTable[0];

constexpr unsigned char kParamSampleOrder[kSampledParamCount] = {
    4, 5, 7, 1, 3, 11, 12, 13, 15, 16, 17, 18, 9, 6, 8,
};

// The sampling order is the order of the RenderParams fields, and every
// field is sampled exactly once.
static constexpr bool sampleOrderFollowsFields() {
  size_t previousEnd = 0;
  for (unsigned i = 0; i < kSampledParamCount; ++i) {
    const ParamSpec &spec = kParamTable[kParamSampleOrder[i]];
    const size_t size =
        spec.kind == kParamBoolean ? sizeof(int32_t) : sizeof(double);
    const size_t alignedEnd = (previousEnd + size - 1) / size * size;
    if (spec.kind == kParamGroup || spec.field != alignedEnd) {
      return false;
    }
    previousEnd = spec.field + size;
  }
  return previousEnd == sizeof(RenderParams);
}
static_assert(sampleOrderFollowsFields(),
              "kParamSampleOrder must list the RenderParams fields in order");

RenderParams defaultRenderParams(void) {
  RenderParams params;
  for (unsigned i = 0; i < kSampledParamCount; ++i) {
    const ParamSpec *spec = &kParamTable[kParamSampleOrder[i]];
    char *field = (char *)&params + spec->field;
    if (spec->kind == kParamBoolean) {
      *(int32_t *)field = (int32_t)spec->defaultValue;
    } else {
      *(double *)field = spec->defaultValue;
    }
  }
  return params;
}

const char *paramTypeName(ParamKind kind) {
  switch (kind) {
  case kParamGroup:
    return kOfxParamTypeGroup;
  case kParamBoolean:
    return kOfxParamTypeBoolean;
  case kParamDouble:
    return kOfxParamTypeDouble;
  }
  return kOfxParamTypeGroup;
}
