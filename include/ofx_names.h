// Action, suite, property and value names of the OpenFX standard that this
// project uses, plus the few non-standard names the plug-in also sets for
// hosts that know them.
#ifndef VANTOREL_OFX_NAMES_H
#define VANTOREL_OFX_NAMES_H

// Actions.
#define kOfxActionLoad "OfxActionLoad"
#define kOfxActionUnload "OfxActionUnload"
#define kOfxActionDescribe "OfxActionDescribe"
#define kOfxActionCreateInstance "OfxActionCreateInstance"
#define kOfxActionDestroyInstance "OfxActionDestroyInstance"
#define kOfxActionInstanceChanged "OfxActionInstanceChanged"
#define kOfxImageEffectActionDescribeInContext                                 \
  "OfxImageEffectActionDescribeInContext"
#define kOfxImageEffectActionRender "OfxImageEffectActionRender"

// Suites.
#define kOfxPropertySuite "OfxPropertySuite"
#define kOfxImageEffectSuite "OfxImageEffectSuite"
#define kOfxParameterSuite "OfxParameterSuite"
#define kOfxImageEffectPluginApi "OfxImageEffectPluginAPI"

// General properties.
#define kOfxPropLabel "OfxPropLabel"
#define kOfxPropShortLabel "OfxPropShortLabel"
#define kOfxPropTime "OfxPropTime"

// The effect's two clips, as the description defines them and the render
// fetches their images.
#define kOfxImageEffectSimpleSourceClipName "Source"
#define kOfxImageEffectOutputClipName "Output"

// Effect and clip description.
#define kOfxImageEffectPluginPropGrouping "OfxImageEffectPluginPropGrouping"
#define kOfxImageEffectPropSupportedPixelDepths                                \
  "OfxImageEffectPropSupportedPixelDepths"
#define kOfxImageEffectPropSupportedContexts                                   \
  "OfxImageEffectPropSupportedContexts"
#define kOfxImageEffectPropSupportedComponents                                 \
  "OfxImageEffectPropSupportedComponents"
#define kOfxImageEffectPropSupportsTiles "OfxImageEffectPropSupportsTiles"
#define kOfxImageEffectPropContext "OfxImageEffectPropContext"
#define kOfxImageEffectContextFilter "OfxImageEffectContextFilter"
#define kOfxImageEffectContextGeneral "OfxImageEffectContextGeneral"
#define kOfxImageComponentRGBA "OfxImageComponentRGBA"
#define kOfxBitDepthByte "OfxBitDepthByte"
#define kOfxBitDepthFloat "OfxBitDepthFloat"

// Non-standard names that some hosts still read; set next to the standard
// ones, never instead of them.
#define kClipPropSupportedComponents "OfxImageClipPropSupportedComponents"
#define kClipPropSupportedPixelDepths "OfxImageClipPropSupportedPixelDepths"
#define kParamPropLabel "OfxParamPropLabel"
#define kParamPropShortLabel "OfxParamPropShortLabel"
#define kImagePropPixelDepth "OfxImagePropPixelDepth"

// Parameters.
#define kOfxParamTypeGroup "OfxParamTypeGroup"
#define kOfxParamTypeBoolean "OfxParamTypeBoolean"
#define kOfxParamTypeDouble "OfxParamTypeDouble"
#define kOfxParamPropParent "OfxParamPropParent"
#define kOfxParamPropDefault "OfxParamPropDefault"
#define kOfxParamPropMin "OfxParamPropMin"
#define kOfxParamPropMax "OfxParamPropMax"
#define kOfxParamPropDisplayMin "OfxParamPropDisplayMin"
#define kOfxParamPropDisplayMax "OfxParamPropDisplayMax"
#define kOfxParamPropType "OfxParamPropType"
#define kOfxPropName "OfxPropName"

// Images and rendering.
#define kOfxImagePropData "OfxImagePropData"
#define kOfxImagePropBounds "OfxImagePropBounds"
#define kOfxImagePropRowBytes "OfxImagePropRowBytes"
#define kOfxImagePropPixelAspectRatio "OfxImagePropPixelAspectRatio"
#define kOfxImageEffectPropPixelDepth "OfxImageEffectPropPixelDepth"
#define kOfxImageEffectPropComponents "OfxImageEffectPropComponents"
#define kOfxImageEffectPropRenderWindow "OfxImageEffectPropRenderWindow"
#define kOfxImageEffectPropRenderScale "OfxImageEffectPropRenderScale"
#define kOfxImageEffectPropFieldToRender "OfxImageEffectPropFieldToRender"

#endif
