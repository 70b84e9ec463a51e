// The two description actions: the effect's listing, its two clips and its
// parameters.
#include "describe.h"

#include "host_suites.h"
#include "ofx_names.h"
#include "param_table.h"

typedef struct StringProperty {
  const char *name;
  int index;
  const char *value;
} StringProperty;

static const StringProperty kEffectProperties[] = {
    {kOfxPropLabel, 0, " ~ Qvo Vantorel ~ "},
    {kOfxImageEffectPluginPropGrouping, 0, "Kestrune Plugins!"},
    {kOfxImageEffectPropSupportedPixelDepths, 0, kOfxBitDepthByte},
    {kOfxImageEffectPropSupportedPixelDepths, 1, kOfxBitDepthFloat},
    {kOfxImageEffectPropSupportedContexts, 0, kOfxImageEffectContextFilter},
    {kOfxImageEffectPropSupportedContexts, 1, kOfxImageEffectContextGeneral},
};

// The first three for hosts that read the clip-level names; the last is the
// standard's name, without which a host leaves the clip at its default
// components.
static const StringProperty kClipProperties[] = {
    {kClipPropSupportedComponents, 0, kOfxImageComponentRGBA},
    {kClipPropSupportedPixelDepths, 0, kOfxBitDepthByte},
    {kClipPropSupportedPixelDepths, 1, kOfxBitDepthFloat},
    {kOfxImageEffectPropSupportedComponents, 0, kOfxImageComponentRGBA},
};

static const char *const kClipNames[] = {kOfxImageEffectOutputClipName,
                                         kOfxImageEffectSimpleSourceClipName};

#define COUNT(table) (sizeof(table) / sizeof((table)[0]))

static bool suitesMissing(void) {
  return gHostSuites.property == 0 || gHostSuites.imageEffect == 0;
}

static void setStrings(OfxPropertySetHandle set, const StringProperty *table,
                       unsigned count) {
  for (unsigned i = 0; i < count; ++i) {
    gHostSuites.property->propSetString(set, table[i].name, table[i].index,
                                        table[i].value);
  }
}

// Overlays are placed from the source bounds, so the effect asks for whole
// frames rather than tiles.
static void refuseTiles(OfxPropertySetHandle set) {
  gHostSuites.property->propSetInt(set, kOfxImageEffectPropSupportsTiles, 0, 0);
}

OfxStatus describe(OfxImageEffectHandle descriptor) {
  if (suitesMissing()) {
    return kOfxStatErrMissingHostFeature;
  }
  OfxPropertySetHandle effectProps = 0;
  gHostSuites.imageEffect->getPropertySet(descriptor, &effectProps);
  if (effectProps == 0) {
    return kOfxStatFailed;
  }
  setStrings(effectProps, kEffectProperties, COUNT(kEffectProperties));
  refuseTiles(effectProps);
  return kOfxStatOK;
}

static void defineParam(OfxParamSetHandle paramSet, const ParamSpec *spec) {
  const OfxPropertySuiteV1 *props = gHostSuites.property;
  OfxPropertySetHandle set = 0;
  gHostSuites.parameter->paramDefine(paramSet, paramTypeName(spec->kind),
                                     spec->name, &set);
  if (set == 0) {
    return;
  }
  props->propSetString(set, kParamPropLabel, 0, spec->label);
  props->propSetString(set, kParamPropShortLabel, 0, spec->shortLabel);
  props->propSetString(set, kOfxPropShortLabel, 0, spec->shortLabel);
  props->propSetString(set, kOfxPropLabel, 0, spec->label);
  if (spec->kind == kParamGroup) {
    return;
  }
  props->propSetString(set, kOfxParamPropParent, 0, spec->parent);
  if (spec->kind == kParamDouble) {
    props->propSetDouble(set, kOfxParamPropDefault, 0, spec->defaultValue);
    props->propSetDouble(set, kOfxParamPropMin, 0, spec->minimum);
    props->propSetDouble(set, kOfxParamPropMax, 0, spec->maximum);
    props->propSetDouble(set, kOfxParamPropDisplayMin, 0, spec->minimum);
    props->propSetDouble(set, kOfxParamPropDisplayMax, 0, spec->maximum);
  }
}

static OfxStatus defineParams(OfxImageEffectHandle descriptor) {
  OfxParamSetHandle paramSet = 0;
  gHostSuites.imageEffect->getParamSet(descriptor, &paramSet);
  if (paramSet == 0) {
    return kOfxStatFailed;
  }
  for (unsigned i = 0; i < kParamTableSize; ++i) {
    defineParam(paramSet, &kParamTable[i]);
  }
  return kOfxStatOK;
}

OfxStatus describeInContext(OfxImageEffectHandle descriptor,
                            OfxPropertySetHandle) {
  if (suitesMissing()) {
    return kOfxStatErrMissingHostFeature;
  }
  for (unsigned i = 0; i < COUNT(kClipNames); ++i) {
    OfxPropertySetHandle clipProps = 0;
    gHostSuites.imageEffect->clipDefine(descriptor, kClipNames[i], &clipProps);
    if (clipProps == 0) {
      return kOfxStatFailed;
    }
    setStrings(clipProps, kClipProperties, COUNT(kClipProperties));
    refuseTiles(clipProps);
  }
  if (gHostSuites.parameter == 0) {
    return kOfxStatOK;
  }
  return defineParams(descriptor);
}
