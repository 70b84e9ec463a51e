#include "param_table.h"

#include "ofx_names.h"

// A switch or a number names its RenderParams field once; the member
// pointer and the offset both come from that name.
#define GROUP(name, label, shortLabel)                                         \
  { kParamGroup, name, label, shortLabel, 0, 0, 0, 0, 0.0, 0.0, 0.0 }
#define SWITCH(name, label, shortLabel, parent)                                \
  {                                                                            \
    kParamBoolean, #name, label, shortLabel, parent, &RenderParams::name, 0,   \
        offsetof(RenderParams, name), 0.0, 0.0, 0.0                            \
  }
#define NUMBER(name, label, shortLabel, parent, def, lo, hi)                   \
  {                                                                            \
    kParamDouble, #name, label, shortLabel, parent, 0, &RenderParams::name,    \
        offsetof(RenderParams, name), def, lo, hi                              \
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

// The render samples the parameters in the order of their RenderParams
// fields, which hosts see as the order of its paramGetHandle calls. That
// order is worked out here from the table, at compile time: the entries
// that fill a field, by increasing field offset.

static constexpr bool fillsAField(const ParamSpec &spec) {
  return spec.flag != 0 || spec.number != 0;
}

static constexpr size_t fieldSize(const ParamSpec &spec) {
  return spec.flag != 0 ? sizeof(int32_t) : sizeof(double);
}

static constexpr size_t fieldAlignment(const ParamSpec &spec) {
  return spec.flag != 0 ? alignof(int32_t) : alignof(double);
}

// The entry filling the first field after byte `after` (-1: the first
// field), or kParamTableSize when none does.
static constexpr unsigned firstFieldAfter(long long after) {
  unsigned first = kParamTableSize;
  for (unsigned i = 0; i < kParamTableSize; ++i) {
    const ParamSpec &spec = kParamTable[i];
    if (fillsAField(spec) && (long long)spec.fieldOffset > after &&
        (first == kParamTableSize ||
         spec.fieldOffset < kParamTable[first].fieldOffset)) {
      first = i;
    }
  }
  return first;
}

typedef struct SampleOrder {
  unsigned entry[kSampledParamCount]; // indices into kParamTable
  unsigned sampled;                   // how many entries were found
  unsigned fillers;                   // table entries that fill a field
} SampleOrder;

static constexpr SampleOrder sampleOrder() {
  SampleOrder order = {};
  for (unsigned i = 0; i < kParamTableSize; ++i) {
    order.fillers += fillsAField(kParamTable[i]) ? 1 : 0;
  }
  long long after = -1;
  for (unsigned entry = firstFieldAfter(after);
       entry != kParamTableSize && order.sampled < kSampledParamCount;
       entry = firstFieldAfter(after)) {
    order.entry[order.sampled++] = entry;
    after = (long long)kParamTable[entry].fieldOffset;
  }
  return order;
}

static constexpr SampleOrder kSampleOrder = sampleOrder();

static constexpr size_t roundUp(size_t offset, size_t alignment) {
  return (offset + alignment - 1) / alignment * alignment;
}

// The sampled fields are the fields of RenderParams, each once: fifteen
// table entries fill a field, each a field of its own type, and taken by
// offset each field starts where the one before it ends (past alignment
// padding only), the first at 0 and the last ending RenderParams. An entry
// naming a field another already names, or a field without an entry,
// leaves a gap.
static constexpr bool samplesEachFieldOnce() {
  if (kSampleOrder.fillers != kSampledParamCount ||
      kSampleOrder.sampled != kSampledParamCount) {
    return false;
  }
  size_t end = 0;
  for (unsigned n = 0; n < kSampledParamCount; ++n) {
    const ParamSpec &spec = kParamTable[kSampleOrder.entry[n]];
    const bool typed = spec.flag != 0
                           ? spec.number == 0 && spec.kind == kParamBoolean
                           : spec.kind == kParamDouble;
    if (!typed || spec.fieldOffset != roundUp(end, fieldAlignment(spec))) {
      return false;
    }
    end = spec.fieldOffset + fieldSize(spec);
  }
  return roundUp(end, alignof(RenderParams)) == sizeof(RenderParams);
}
static_assert(samplesEachFieldOnce(),
              "each RenderParams field needs one parameter table entry, and "
              "each switch and number a field of its own");

// Alignment padding could hide a field without an entry (a 4-byte field
// where a double's padding would be), so the fields are counted too: a
// structured binding must name every field of RenderParams.
static constexpr bool renderParamsHasFifteenFields() {
  [[maybe_unused]] const auto [f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11,
                               f12, f13, f14, f15] = RenderParams();
  return true;
}
static_assert(kSampledParamCount == 15 && renderParamsHasFifteenFields(),
              "RenderParams holds one field per sampled parameter");

static const ParamSpec &sampledSpec(unsigned i) {
  return kParamTable[kSampleOrder.entry[i]];
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
