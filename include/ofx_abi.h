// The OpenFX binary interface as this project uses it: handles, statuses,
// the host and plug-in records and the three version-1 suites. Hosts are
// compiled against the standard's own headers, so every struct here keeps
// the standard's member order and every signature its argument types.
#ifndef VANTOREL_OFX_ABI_H
#define VANTOREL_OFX_ABI_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int OfxStatus;
typedef double OfxTime;

typedef struct OfxPropertySetStruct *OfxPropertySetHandle;
typedef struct OfxImageEffectStruct *OfxImageEffectHandle;
typedef struct OfxImageClipStruct *OfxImageClipHandle;
typedef struct OfxImageMemoryStruct *OfxImageMemoryHandle;
typedef struct OfxParamSetStruct *OfxParamSetHandle;
typedef struct OfxParamStruct *OfxParamHandle;

typedef struct OfxRectI {
  int x1, y1, x2, y2;
} OfxRectI;

typedef struct OfxRectD {
  double x1, y1, x2, y2;
} OfxRectD;

typedef struct OfxRangeD {
  double min, max;
} OfxRangeD;

#define kOfxStatOK 0
#define kOfxStatFailed 1
#define kOfxStatErrFatal 2
#define kOfxStatErrUnknown 3
#define kOfxStatErrMissingHostFeature 4
#define kOfxStatErrUnsupported 5
#define kOfxStatErrExists 6
#define kOfxStatErrFormat 7
#define kOfxStatErrMemory 8
#define kOfxStatErrBadHandle 9
#define kOfxStatErrBadIndex 10
#define kOfxStatErrValue 11
#define kOfxStatReplyYes 12
#define kOfxStatReplyNo 13
#define kOfxStatReplyDefault 14

typedef struct OfxHost {
  OfxPropertySetHandle host;
  const void *(*fetchSuite)(OfxPropertySetHandle host, const char *suiteName,
                            int suiteVersion);
} OfxHost;

typedef OfxStatus(OfxPluginEntryPoint)(const char *action, const void *handle,
                                       OfxPropertySetHandle inArgs,
                                       OfxPropertySetHandle outArgs);

typedef struct OfxPlugin {
  const char *pluginApi;
  int apiVersion;
  const char *pluginIdentifier;
  unsigned int pluginVersionMajor;
  unsigned int pluginVersionMinor;
  void (*setHost)(OfxHost *host);
  OfxPluginEntryPoint *mainEntry;
} OfxPlugin;

typedef struct OfxPropertySuiteV1 {
  OfxStatus (*propSetPointer)(OfxPropertySetHandle properties,
                              const char *property, int index, void *value);
  OfxStatus (*propSetString)(OfxPropertySetHandle properties,
                             const char *property, int index,
                             const char *value);
  OfxStatus (*propSetDouble)(OfxPropertySetHandle properties,
                             const char *property, int index, double value);
  OfxStatus (*propSetInt)(OfxPropertySetHandle properties, const char *property,
                          int index, int value);
  OfxStatus (*propSetPointerN)(OfxPropertySetHandle properties,
                               const char *property, int count,
                               void *const *value);
  OfxStatus (*propSetStringN)(OfxPropertySetHandle properties,
                              const char *property, int count,
                              const char *const *value);
  OfxStatus (*propSetDoubleN)(OfxPropertySetHandle properties,
                              const char *property, int count,
                              const double *value);
  OfxStatus (*propSetIntN)(OfxPropertySetHandle properties,
                           const char *property, int count, const int *value);
  OfxStatus (*propGetPointer)(OfxPropertySetHandle properties,
                              const char *property, int index, void **value);
  OfxStatus (*propGetString)(OfxPropertySetHandle properties,
                             const char *property, int index, char **value);
  OfxStatus (*propGetDouble)(OfxPropertySetHandle properties,
                             const char *property, int index, double *value);
  OfxStatus (*propGetInt)(OfxPropertySetHandle properties, const char *property,
                          int index, int *value);
  OfxStatus (*propGetPointerN)(OfxPropertySetHandle properties,
                               const char *property, int count, void **value);
  OfxStatus (*propGetStringN)(OfxPropertySetHandle properties,
                              const char *property, int count, char **value);
  OfxStatus (*propGetDoubleN)(OfxPropertySetHandle properties,
                              const char *property, int count, double *value);
  OfxStatus (*propGetIntN)(OfxPropertySetHandle properties,
                           const char *property, int count, int *value);
  OfxStatus (*propReset)(OfxPropertySetHandle properties, const char *property);
  OfxStatus (*propGetDimension)(OfxPropertySetHandle properties,
                                const char *property, int *count);
} OfxPropertySuiteV1;

typedef struct OfxImageEffectSuiteV1 {
  OfxStatus (*getPropertySet)(OfxImageEffectHandle imageEffect,
                              OfxPropertySetHandle *propHandle);
  OfxStatus (*getParamSet)(OfxImageEffectHandle imageEffect,
                           OfxParamSetHandle *paramSet);
  OfxStatus (*clipDefine)(OfxImageEffectHandle imageEffect, const char *name,
                          OfxPropertySetHandle *propertySet);
  OfxStatus (*clipGetHandle)(OfxImageEffectHandle imageEffect, const char *name,
                             OfxImageClipHandle *clip,
                             OfxPropertySetHandle *propertySet);
  OfxStatus (*clipGetPropertySet)(OfxImageClipHandle clip,
                                  OfxPropertySetHandle *propHandle);
  OfxStatus (*clipGetImage)(OfxImageClipHandle clip, OfxTime time,
                            const OfxRectD *region,
                            OfxPropertySetHandle *imageHandle);
  OfxStatus (*clipReleaseImage)(OfxPropertySetHandle imageHandle);
  OfxStatus (*clipGetRegionOfDefinition)(OfxImageClipHandle clip, OfxTime time,
                                         OfxRectD *bounds);
  int (*abort)(OfxImageEffectHandle imageEffect);
  OfxStatus (*imageMemoryAlloc)(OfxImageEffectHandle instanceHandle,
                                size_t nBytes,
                                OfxImageMemoryHandle *memoryHandle);
  OfxStatus (*imageMemoryFree)(OfxImageMemoryHandle memoryHandle);
  OfxStatus (*imageMemoryLock)(OfxImageMemoryHandle memoryHandle,
                               void **returnedPtr);
  OfxStatus (*imageMemoryUnlock)(OfxImageMemoryHandle memoryHandle);
} OfxImageEffectSuiteV1;

typedef struct OfxParameterSuiteV1 {
  OfxStatus (*paramDefine)(OfxParamSetHandle paramSet, const char *paramType,
                           const char *name, OfxPropertySetHandle *propertySet);
  OfxStatus (*paramGetHandle)(OfxParamSetHandle paramSet, const char *name,
                              OfxParamHandle *param,
                              OfxPropertySetHandle *propertySet);
  OfxStatus (*paramSetGetPropertySet)(OfxParamSetHandle paramSet,
                                      OfxPropertySetHandle *propHandle);
  OfxStatus (*paramGetPropertySet)(OfxParamHandle param,
                                   OfxPropertySetHandle *propHandle);
  OfxStatus (*paramGetValue)(OfxParamHandle paramHandle, ...);
  OfxStatus (*paramGetValueAtTime)(OfxParamHandle paramHandle, OfxTime time,
                                   ...);
  OfxStatus (*paramGetDerivative)(OfxParamHandle paramHandle, OfxTime time,
                                  ...);
  OfxStatus (*paramGetIntegral)(OfxParamHandle paramHandle, OfxTime time1,
                                OfxTime time2, ...);
  OfxStatus (*paramSetValue)(OfxParamHandle paramHandle, ...);
  OfxStatus (*paramSetValueAtTime)(OfxParamHandle paramHandle, OfxTime time,
                                   ...);
  OfxStatus (*paramGetNumKeys)(OfxParamHandle paramHandle,
                               unsigned int *numberOfKeys);
  OfxStatus (*paramGetKeyTime)(OfxParamHandle paramHandle, unsigned int nthKey,
                               OfxTime *time);
  OfxStatus (*paramGetKeyIndex)(OfxParamHandle paramHandle, OfxTime time,
                                int direction, int *index);
  OfxStatus (*paramDeleteKey)(OfxParamHandle paramHandle, OfxTime time);
  OfxStatus (*paramDeleteAllKeys)(OfxParamHandle paramHandle);
  OfxStatus (*paramCopy)(OfxParamHandle paramTo, OfxParamHandle paramFrom,
                         OfxTime dstOffset, const OfxRangeD *frameRange);
  OfxStatus (*paramEditBegin)(OfxParamSetHandle paramSet, const char *name);
  OfxStatus (*paramEditEnd)(OfxParamSetHandle paramSet);
} OfxParameterSuiteV1;

#ifdef __cplusplus
}
#endif

// Layout checks for 64-bit platforms: a host compiled against the standard's
// headers indexes these tables by offset, so a shifted member crashes it.
#if defined(__cplusplus) && (defined(__LP64__) || defined(_WIN64))
#define VANTOREL_ABI_OFFSET(type, member, slot)                                \
  static_assert(offsetof(type, member) == (slot) * sizeof(void *),             \
                #type "::" #member " is out of place")
static_assert(sizeof(OfxRectI) == 16, "OfxRectI size");
static_assert(sizeof(OfxRectD) == 32, "OfxRectD size");
static_assert(sizeof(OfxRangeD) == 16, "OfxRangeD size");
static_assert(sizeof(OfxHost) == 16, "OfxHost size");
VANTOREL_ABI_OFFSET(OfxHost, fetchSuite, 1);
static_assert(sizeof(OfxPlugin) == 48, "OfxPlugin size");
static_assert(offsetof(OfxPlugin, apiVersion) == 8, "OfxPlugin::apiVersion");
static_assert(offsetof(OfxPlugin, pluginIdentifier) == 16,
              "OfxPlugin::pluginIdentifier");
static_assert(offsetof(OfxPlugin, pluginVersionMajor) == 24,
              "OfxPlugin::pluginVersionMajor");
static_assert(offsetof(OfxPlugin, pluginVersionMinor) == 28,
              "OfxPlugin::pluginVersionMinor");
VANTOREL_ABI_OFFSET(OfxPlugin, setHost, 4);
VANTOREL_ABI_OFFSET(OfxPlugin, mainEntry, 5);
static_assert(sizeof(OfxPropertySuiteV1) == 18 * sizeof(void *),
              "OfxPropertySuiteV1 has 18 members");
VANTOREL_ABI_OFFSET(OfxPropertySuiteV1, propSetString, 1);
VANTOREL_ABI_OFFSET(OfxPropertySuiteV1, propSetDouble, 2);
VANTOREL_ABI_OFFSET(OfxPropertySuiteV1, propSetInt, 3);
VANTOREL_ABI_OFFSET(OfxPropertySuiteV1, propGetPointer, 8);
VANTOREL_ABI_OFFSET(OfxPropertySuiteV1, propGetString, 9);
VANTOREL_ABI_OFFSET(OfxPropertySuiteV1, propGetDouble, 10);
VANTOREL_ABI_OFFSET(OfxPropertySuiteV1, propGetInt, 11);
VANTOREL_ABI_OFFSET(OfxPropertySuiteV1, propGetIntN, 15);
VANTOREL_ABI_OFFSET(OfxPropertySuiteV1, propGetDimension, 17);
static_assert(sizeof(OfxImageEffectSuiteV1) == 13 * sizeof(void *),
              "OfxImageEffectSuiteV1 has 13 members");
VANTOREL_ABI_OFFSET(OfxImageEffectSuiteV1, getParamSet, 1);
VANTOREL_ABI_OFFSET(OfxImageEffectSuiteV1, clipDefine, 2);
VANTOREL_ABI_OFFSET(OfxImageEffectSuiteV1, clipGetHandle, 3);
VANTOREL_ABI_OFFSET(OfxImageEffectSuiteV1, clipGetImage, 5);
VANTOREL_ABI_OFFSET(OfxImageEffectSuiteV1, clipReleaseImage, 6);
VANTOREL_ABI_OFFSET(OfxImageEffectSuiteV1, abort, 8);
VANTOREL_ABI_OFFSET(OfxImageEffectSuiteV1, imageMemoryUnlock, 12);
static_assert(sizeof(OfxParameterSuiteV1) == 18 * sizeof(void *),
              "OfxParameterSuiteV1 has 18 members");
VANTOREL_ABI_OFFSET(OfxParameterSuiteV1, paramGetHandle, 1);
VANTOREL_ABI_OFFSET(OfxParameterSuiteV1, paramGetValueAtTime, 5);
VANTOREL_ABI_OFFSET(OfxParameterSuiteV1, paramSetValue, 8);
VANTOREL_ABI_OFFSET(OfxParameterSuiteV1, paramCopy, 15);
VANTOREL_ABI_OFFSET(OfxParameterSuiteV1, paramEditEnd, 17);
#undef VANTOREL_ABI_OFFSET
#endif

#endif
