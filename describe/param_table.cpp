#include "param_table.h"

#include "ofx_names.h"

#define GROUP(name, label, shortLabel)                                         \
  { kParamGroup, name, label, shortLabel, 0, 0, 0, 0.0, 0.0, 0.0 }
#define SWITCH(name, label, shortLabel, parent)                                \
  {                                                                            \
    kParamBoolean, #name, label, shortLabel, parent, &RenderParams::name, 0,   \
        0.0, 0.0, 0.0                                                          \
  }
#define NUMBER(name, label, shortLabel, parent, def, lo, hi)                   \
  {                                                                            \
    kParamDouble, #name, label, shortLabel, parent, 0, &RenderParams::name,    \
        def, lo, hi                                                            \
  }

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

// Each sampled entry is a parameter with exactly one field, and no two
// fill the same field.
static constexpr bool eachFieldSampledOnce() {
  for (unsigned i = 0; i < kSampledParamCount; ++i) {
    const ParamSpec &spec = kParamTable[kParamSampleOrder[i]];
    if ((spec.flag == 0) == (spec.number == 0) ||
        spec.kind != (spec.flag != 0 ? kParamBoolean : kParamDouble)) {
      return false;
    }
    for (unsigned j = 0; j < i; ++j) {
      const ParamSpec &other = kParamTable[kParamSampleOrder[j]];
      if ((spec.flag != 0 && spec.flag == other.flag) ||
          (spec.number != 0 && spec.number == other.number)) {
        return false;
      }
    }
  }
  return true;
}
static_assert(eachFieldSampledOnce(),
              "kParamSampleOrder must name each parameter's field once");

static const ParamSpec &sampledSpec(unsigned i) {
  return kParamTable[kParamSampleOrder[i]];
}

const char *sampledParamName(unsigned i) { return sampledSpec(i).name; }

ParamField sampledParamField(RenderParams *params, unsigned i) {
  const ParamSpec &spec = sampledSpec(i);
  const ParamField field = {spec.flag != 0 ? &(params->*spec.flag) : 0,
                            spec.number != 0 ? &(params->*spec.number) : 0};
  return field;
}

RenderParams defaultRenderParams(void) {
  RenderParams params;
  for (unsigned i = 0; i < kSampledParamCount; ++i) {
    const ParamField field = sampledParamField(&params, i);
    if (field.flag != 0) {
      *field.flag = (int32_t)sampledSpec(i).defaultValue;
    } else {
      *field.number = sampledSpec(i).defaultValue;
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
