// Property sets, the property suite, and the names and statuses of the
// standard.
#include "host_internal.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string_view>
#include <unordered_set>

namespace ofxhost {

// ---------------------------------------------------------------- names

bool isStandardPropertyName(const std::string &name) {
  static const std::unordered_set<std::string_view> names = {
      // General.
      "OfxPropAPIVersion",
      "OfxPropChangeReason",
      "OfxPropEffectInstance",
      "OfxPropHostOSHandle",
      "OfxPropIcon",
      "OfxPropInstanceData",
      "OfxPropIsInteractive",
      "OfxPropKeyString",
      "OfxPropKeySym",
      "OfxPropLabel",
      "OfxPropLongLabel",
      "OfxPropName",
      "OfxPropParamSetNeedsSyncing",
      "OfxPropPluginDescription",
      "OfxPropShortLabel",
      "OfxPropTime",
      "OfxPropType",
      "OfxPropVersion",
      "OfxPropVersionLabel",
      "OfxPluginPropFilePath",
      "OfxPluginPropParamPageOrder",
      // Image-effect plug-ins.
      "OfxImageEffectPluginPropFieldRenderTwiceAlways",
      "OfxImageEffectPluginPropGrouping",
      "OfxImageEffectPluginPropHostFrameThreading",
      "OfxImageEffectPluginPropOverlayInteractV1",
      "OfxImageEffectPluginPropOverlayInteractV2",
      "OfxImageEffectPluginPropSingleInstance",
      "OfxImageEffectPluginRenderThreadSafety",
      // Image effects.
      "OfxImageEffectFrameVarying",
      "OfxImageEffectInstancePropEffectDuration",
      "OfxImageEffectInstancePropSequentialRender",
      "OfxImageEffectPropClipPreferencesSlaveParam",
      "OfxImageEffectPropComponents",
      "OfxImageEffectPropContext",
      "OfxImageEffectPropCudaEnabled",
      "OfxImageEffectPropCudaRenderSupported",
      "OfxImageEffectPropCudaStream",
      "OfxImageEffectPropCudaStreamSupported",
      "OfxImageEffectPropFieldToRender",
      "OfxImageEffectPropFrameRange",
      "OfxImageEffectPropFrameRate",
      "OfxImageEffectPropFrameStep",
      "OfxImageEffectPropInAnalysis",
      "OfxImageEffectPropInteractiveRenderStatus",
      "OfxImageEffectPropMetalCommandQueue",
      "OfxImageEffectPropMetalEnabled",
      "OfxImageEffectPropMetalRenderSupported",
      "OfxImageEffectPropNoSpatialAwareness",
      "OfxImageEffectPropOpenCLCommandQueue",
      "OfxImageEffectPropOpenCLEnabled",
      "OfxImageEffectPropOpenCLRenderSupported",
      "OfxImageEffectPropOpenGLEnabled",
      "OfxImageEffectPropOpenGLRenderSupported",
      "OfxImageEffectPropOpenGLTextureIndex",
      "OfxImageEffectPropOpenGLTextureTarget",
      "OfxImageEffectPropPixelDepth",
      "OfxImageEffectPropPluginHandle",
      "OfxImageEffectPropPreMultiplication",
      "OfxImageEffectPropProjectExtent",
      "OfxImageEffectPropProjectOffset",
      "OfxImageEffectPropProjectPixelAspectRatio",
      "OfxImageEffectPropProjectSize",
      "OfxImageEffectPropRegionOfDefinition",
      "OfxImageEffectPropRegionOfInterest",
      "OfxImageEffectPropRenderQualityDraft",
      "OfxImageEffectPropRenderScale",
      "OfxImageEffectPropRenderWindow",
      "OfxImageEffectPropSequentialRenderStatus",
      "OfxImageEffectPropSetableFielding",
      "OfxImageEffectPropSetableFrameRate",
      "OfxImageEffectPropSupportedComponents",
      "OfxImageEffectPropSupportedContexts",
      "OfxImageEffectPropSupportedPixelDepths",
      "OfxImageEffectPropSupportsMultiResolution",
      "OfxImageEffectPropSupportsMultipleClipDepths",
      "OfxImageEffectPropSupportsMultipleClipPARs",
      "OfxImageEffectPropSupportsOverlays",
      "OfxImageEffectPropSupportsTiles",
      "OfxImageEffectPropTemporalClipAccess",
      "OfxImageEffectPropUnmappedComponents",
      "OfxImageEffectPropUnmappedFrameRange",
      "OfxImageEffectPropUnmappedFrameRate",
      "OfxImageEffectPropUnmappedPixelDepth",
      // Hosts.
      "OfxImageEffectHostPropIsBackground",
      "OfxImageEffectHostPropNativeOrigin",
      "OfxParamHostPropMaxPages",
      "OfxParamHostPropMaxParameters",
      "OfxParamHostPropPageRowColumnCount",
      "OfxParamHostPropSupportsBooleanAnimation",
      "OfxParamHostPropSupportsChoiceAnimation",
      "OfxParamHostPropSupportsCustomAnimation",
      "OfxParamHostPropSupportsCustomInteract",
      "OfxParamHostPropSupportsParametricAnimation",
      "OfxParamHostPropSupportsStringAnimation",
      // Clips.
      "OfxImageClipPropConnected",
      "OfxImageClipPropContinuousSamples",
      "OfxImageClipPropFieldExtraction",
      "OfxImageClipPropFieldOrder",
      "OfxImageClipPropIsMask",
      "OfxImageClipPropOptional",
      "OfxImageClipPropUnmappedComponents",
      "OfxImageClipPropUnmappedPixelDepth",
      // Images.
      "OfxImagePropBounds",
      "OfxImagePropData",
      "OfxImagePropField",
      "OfxImagePropPixelAspectRatio",
      "OfxImagePropRegionOfDefinition",
      "OfxImagePropRowBytes",
      "OfxImagePropUniqueIdentifier",
      // Parameters.
      "OfxParamPropAnimates",
      "OfxParamPropCacheInvalidation",
      "OfxParamPropCanUndo",
      "OfxParamPropChoiceOption",
      "OfxParamPropChoiceOrder",
      "OfxParamPropCustomCallbackV1",
      "OfxParamPropCustomValue",
      "OfxParamPropDataPtr",
      "OfxParamPropDefault",
      "OfxParamPropDefaultCoordinateSystem",
      "OfxParamPropDigits",
      "OfxParamPropDimensionLabel",
      "OfxParamPropDisplayMax",
      "OfxParamPropDisplayMin",
      "OfxParamPropDoubleType",
      "OfxParamPropEnabled",
      "OfxParamPropEvaluateOnChange",
      "OfxParamPropGroupOpen",
      "OfxParamPropHasHostOverlayHandle",
      "OfxParamPropHint",
      "OfxParamPropIncrement",
      "OfxParamPropInteractMinimumSize",
      "OfxParamPropInteractPreferedSize",
      "OfxParamPropInteractSize",
      "OfxParamPropInteractSizeAspect",
      "OfxParamPropInteractV1",
      "OfxParamPropInterpolationAmount",
      "OfxParamPropInterpolationTime",
      "OfxParamPropIsAnimating",
      "OfxParamPropIsAutoKeying",
      "OfxParamPropMax",
      "OfxParamPropMin",
      "OfxParamPropPageChild",
      "OfxParamPropParametricDimension",
      "OfxParamPropParametricInteractBackground",
      "OfxParamPropParametricRange",
      "OfxParamPropParametricUIColour",
      "OfxParamPropParent",
      "OfxParamPropPersistant",
      "OfxParamPropPluginMayWrite",
      "OfxParamPropScriptName",
      "OfxParamPropSecret",
      "OfxParamPropShowTimeMarker",
      "OfxParamPropStringFilePathExists",
      "OfxParamPropStringMode",
      "OfxParamPropType",
      "OfxParamPropUseHostOverlayHandle",
      // Interacts.
      "OfxInteractPropBackgroundColour",
      "OfxInteractPropBitDepth",
      "OfxInteractPropDrawContext",
      "OfxInteractPropHasAlpha",
      "OfxInteractPropPenPosition",
      "OfxInteractPropPenPressure",
      "OfxInteractPropPenViewportPosition",
      "OfxInteractPropPixelScale",
      "OfxInteractPropSlaveToParam",
      "OfxInteractPropSuggestedColour",
      "OfxInteractPropViewportSize",
  };
  return names.count(name) != 0;
}

std::string statusName(OfxStatus status) {
  static const char *const names[] = {
      "kOfxStatOK",
      "kOfxStatFailed",
      "kOfxStatErrFatal",
      "kOfxStatErrUnknown",
      "kOfxStatErrMissingHostFeature",
      "kOfxStatErrUnsupported",
      "kOfxStatErrExists",
      "kOfxStatErrFormat",
      "kOfxStatErrMemory",
      "kOfxStatErrBadHandle",
      "kOfxStatErrBadIndex",
      "kOfxStatErrValue",
      "kOfxStatReplyYes",
      "kOfxStatReplyNo",
      "kOfxStatReplyDefault",
  };
  if (status >= 0 && status < static_cast<int>(std::size(names)))
    return names[status];
  return "status " + std::to_string(status);
}

// ---------------------------------------------------------------- sets

namespace {

template <typename T> PropType typeOf();
template <> PropType typeOf<void *>() { return PropType::Pointer; }
template <> PropType typeOf<std::string>() { return PropType::String; }
template <> PropType typeOf<double>() { return PropType::Double; }
template <> PropType typeOf<int>() { return PropType::Int; }

template <typename T>
void store(std::map<std::string, Property> &props,
           std::vector<std::string> &order, const std::string &name,
           std::vector<T> values) {
  auto it = props.find(name);
  if (it == props.end()) {
    it = props.emplace(name, Property{}).first;
    order.push_back(name);
  }
  it->second.type = typeOf<T>();
  it->second.values.assign(std::make_move_iterator(values.begin()),
                           std::make_move_iterator(values.end()));
}

const std::variant<void *, std::string, double, int> *valueAt(const Property *p,
                                                              int index) {
  if (!p || index < 0 || index >= static_cast<int>(p->values.size()))
    return nullptr;
  return &p->values[static_cast<std::size_t>(index)];
}

} // namespace

void PropertySet::setInt(const std::string &name, std::vector<int> values) {
  store(props_, order_, name, std::move(values));
}

void PropertySet::setDouble(const std::string &name,
                            std::vector<double> values) {
  store(props_, order_, name, std::move(values));
}

void PropertySet::setString(const std::string &name,
                            std::vector<std::string> values) {
  store(props_, order_, name, std::move(values));
}

void PropertySet::setPointer(const std::string &name,
                             std::vector<void *> values) {
  store(props_, order_, name, std::move(values));
}

void PropertySet::erase(const std::string &name) {
  if (props_.erase(name))
    order_.erase(std::find(order_.begin(), order_.end(), name));
}

void PropertySet::copyFrom(const PropertySet &other) {
  props_ = other.props_;
  order_ = other.order_;
}

bool PropertySet::has(const std::string &name) const {
  return props_.count(name) != 0;
}

const Property *PropertySet::find(const std::string &name) const {
  auto it = props_.find(name);
  return it == props_.end() ? nullptr : &it->second;
}

int PropertySet::dimension(const std::string &name) const {
  const Property *p = find(name);
  return p ? static_cast<int>(p->values.size()) : 0;
}

// The C++ getters convert between ints and doubles, and answer 0, "" or
// null for anything absent.
int PropertySet::getInt(const std::string &name, int index) const {
  const auto *v = valueAt(find(name), index);
  if (!v)
    return 0;
  if (const int *i = std::get_if<int>(v))
    return *i;
  if (const double *d = std::get_if<double>(v))
    return detail::saturatedInt(*d);
  return 0;
}

double PropertySet::getDouble(const std::string &name, int index) const {
  const auto *v = valueAt(find(name), index);
  if (!v)
    return 0.0;
  if (const double *d = std::get_if<double>(v))
    return *d;
  if (const int *i = std::get_if<int>(v))
    return *i;
  return 0.0;
}

std::string PropertySet::getString(const std::string &name, int index) const {
  const auto *v = valueAt(find(name), index);
  if (const std::string *s = v ? std::get_if<std::string>(v) : nullptr)
    return *s;
  return std::string();
}

void *PropertySet::getPointer(const std::string &name, int index) const {
  const auto *v = valueAt(find(name), index);
  if (void *const *p = v ? std::get_if<void *>(v) : nullptr)
    return *p;
  return nullptr;
}

PropertySet *PropertySet::from(OfxPropertySetHandle h) {
  return static_cast<PropertySet *>(Object::live(h, Kind::PropertySet));
}

// ---------------------------------------------------------------- the suite

namespace {

std::string textOf(const std::variant<void *, std::string, double, int> &v) {
  switch (v.index()) {
  case 0:
    return detail::text(static_cast<const void *>(std::get<0>(v)));
  case 1:
    return std::get<1>(v);
  case 2:
    return detail::text(std::get<2>(v));
  default:
    return detail::text(std::get<3>(v));
  }
}

// What a getter hands the plug-in for a stored value.
void *outOf(void *v) { return v; }
char *outOf(const std::string &v) { return const_cast<char *>(v.c_str()); }
double outOf(double v) { return v; }
int outOf(int v) { return v; }

// What a setter stores for the plug-in's argument.
void *inOf(void *v) { return v; }
std::string inOf(const char *v) { return std::string(v); }
double inOf(double v) { return v; }
int inOf(int v) { return v; }

std::string inText(void *v) {
  return detail::text(static_cast<const void *>(v));
}
std::string inText(const char *v) { return v; }
std::string inText(double v) { return detail::text(v); }
std::string inText(int v) { return detail::text(v); }

bool isNull(const char *v) { return v == nullptr; }
template <typename T> bool isNull(const T &) { return false; }

// Whether `n` values were given, none of them a null string.
template <typename In> bool valuesGiven(const In *values, int n) {
  if (n > 0 && !values)
    return false;
  for (int i = 0; i < n; ++i)
    if (isNull(values[i]))
      return false;
  return true;
}

// The arguments' status of a call naming a property: a null name answers
// kOfxStatErrUnknown, anything else wrong `rest`.
OfxStatus named(const char *name, OfxStatus rest = kOfxStatOK) {
  return name ? rest : kOfxStatErrUnknown;
}

// Faults of this call's property name: one the host refuses outright, or,
// unless it is lenient, one the standard does not define (for setting);
// one it refuses or leaves unanswered (for getting).
bool refusedToSet(const detail::Logged &log) {
  const Faults &faults = log.faults();
  return faults.refusedProperties.count(log.name()) ||
         (!faults.acceptNonStandardNames &&
          !isStandardPropertyName(log.name()));
}
bool leftUnanswered(const detail::Logged &log) {
  const Faults &faults = log.faults();
  return faults.refusedProperties.count(log.name()) ||
         faults.unansweredGets.count(log.name());
}

} // namespace

struct PropertySuiteImpl {
  // Sets `count` values from `values` (many) or one value at `index`.
  // T is the stored type, In the plug-in's argument type.
  template <typename T, typename In>
  static OfxStatus setValues(const char *fn, OfxPropertySetHandle h,
                             const char *name, int indexOrCount, bool many,
                             const In *values) {
    PropertySet *set = PropertySet::from(h);
    detail::Logged log(fn, set, h, name, indexOrCount);
    const int n = many ? indexOrCount : 1;
    const OfxStatus arguments =
        named(name, indexOrCount < 0 ? kOfxStatErrBadIndex
                                     : detail::given(valuesGiven(values, n)));
    if (arguments == kOfxStatOK && log.on()) {
      std::string value;
      for (int i = 0; i < n; ++i) {
        if (i)
          value += ',';
        value += inText(values[i]);
      }
      log.setValue(std::move(value));
    }
    if (log.refused(set, arguments))
      return log.ended();
    if (refusedToSet(log))
      return log.done(kOfxStatErrUnknown);

    auto it = set->props_.find(log.name());
    if (it != set->props_.end() && it->second.type != typeOf<T>())
      return log.done(kOfxStatErrValue);
    if (!many) {
      const int size = it == set->props_.end()
                           ? 0
                           : static_cast<int>(it->second.values.size());
      if (indexOrCount > size)
        return log.done(kOfxStatErrBadIndex);
    }
    if (it == set->props_.end()) {
      it = set->props_.emplace(log.name(), Property{}).first;
      it->second.type = typeOf<T>();
      set->order_.push_back(log.name());
    }
    auto &stored = it->second.values;
    if (many) {
      stored.clear();
      for (int i = 0; i < n; ++i)
        stored.emplace_back(std::in_place_type<T>, inOf(values[i]));
    } else if (indexOrCount == static_cast<int>(stored.size())) {
      stored.emplace_back(std::in_place_type<T>, inOf(values[0]));
    } else {
      stored[static_cast<std::size_t>(indexOrCount)].template emplace<T>(
          inOf(values[0]));
    }
    return log.done(kOfxStatOK);
  }

  // Answers `count` values into `out` (many) or the one at `index`.
  template <typename T, typename Out>
  static OfxStatus getValues(const char *fn, OfxPropertySetHandle h,
                             const char *name, int indexOrCount, bool many,
                             Out *out) {
    PropertySet *set = PropertySet::from(h);
    detail::Logged log(fn, set, h, name, indexOrCount);
    if (log.refused(set, named(name, detail::given(
                                         out || (many && indexOrCount <= 0)))))
      return log.ended();
    if (leftUnanswered(log))
      return log.done(kOfxStatErrUnknown);
    // A name the standard does not define is answered only when the set
    // carries it; so is any other name.
    auto it = set->props_.find(log.name());
    if (it == set->props_.end())
      return log.done(kOfxStatErrUnknown);
    const auto &values = it->second.values;
    const int size = static_cast<int>(values.size());
    if (indexOrCount < 0 || (many ? indexOrCount > size : indexOrCount >= size))
      return log.done(kOfxStatErrBadIndex);
    if (it->second.type != typeOf<T>())
      return log.done(kOfxStatErrValue);

    const int first = many ? 0 : indexOrCount;
    const int n = many ? indexOrCount : 1;
    std::string value;
    for (int i = 0; i < n; ++i) {
      const auto &v = values[static_cast<std::size_t>(first + i)];
      out[i] = outOf(std::get<T>(v));
      if (log.on()) {
        if (i)
          value += ',';
        value += textOf(v);
      }
    }
    log.setValue(std::move(value));
    return log.done(kOfxStatOK);
  }

  static OfxStatus propSetPointer(OfxPropertySetHandle h, const char *name,
                                  int index, void *value) {
    return setValues<void *>("propSetPointer", h, name, index, false, &value);
  }
  static OfxStatus propSetString(OfxPropertySetHandle h, const char *name,
                                 int index, const char *value) {
    return setValues<std::string>("propSetString", h, name, index, false,
                                  &value);
  }
  static OfxStatus propSetDouble(OfxPropertySetHandle h, const char *name,
                                 int index, double value) {
    return setValues<double>("propSetDouble", h, name, index, false, &value);
  }
  static OfxStatus propSetInt(OfxPropertySetHandle h, const char *name,
                              int index, int value) {
    return setValues<int>("propSetInt", h, name, index, false, &value);
  }
  static OfxStatus propSetPointerN(OfxPropertySetHandle h, const char *name,
                                   int count, void *const *value) {
    return setValues<void *>("propSetPointerN", h, name, count, true, value);
  }
  static OfxStatus propSetStringN(OfxPropertySetHandle h, const char *name,
                                  int count, const char *const *value) {
    return setValues<std::string>("propSetStringN", h, name, count, true,
                                  value);
  }
  static OfxStatus propSetDoubleN(OfxPropertySetHandle h, const char *name,
                                  int count, const double *value) {
    return setValues<double>("propSetDoubleN", h, name, count, true, value);
  }
  static OfxStatus propSetIntN(OfxPropertySetHandle h, const char *name,
                               int count, const int *value) {
    return setValues<int>("propSetIntN", h, name, count, true, value);
  }
  static OfxStatus propGetPointer(OfxPropertySetHandle h, const char *name,
                                  int index, void **value) {
    return getValues<void *>("propGetPointer", h, name, index, false, value);
  }
  static OfxStatus propGetString(OfxPropertySetHandle h, const char *name,
                                 int index, char **value) {
    return getValues<std::string>("propGetString", h, name, index, false,
                                  value);
  }
  static OfxStatus propGetDouble(OfxPropertySetHandle h, const char *name,
                                 int index, double *value) {
    return getValues<double>("propGetDouble", h, name, index, false, value);
  }
  static OfxStatus propGetInt(OfxPropertySetHandle h, const char *name,
                              int index, int *value) {
    return getValues<int>("propGetInt", h, name, index, false, value);
  }
  static OfxStatus propGetPointerN(OfxPropertySetHandle h, const char *name,
                                   int count, void **value) {
    return getValues<void *>("propGetPointerN", h, name, count, true, value);
  }
  static OfxStatus propGetStringN(OfxPropertySetHandle h, const char *name,
                                  int count, char **value) {
    return getValues<std::string>("propGetStringN", h, name, count, true,
                                  value);
  }
  static OfxStatus propGetDoubleN(OfxPropertySetHandle h, const char *name,
                                  int count, double *value) {
    return getValues<double>("propGetDoubleN", h, name, count, true, value);
  }
  static OfxStatus propGetIntN(OfxPropertySetHandle h, const char *name,
                               int count, int *value) {
    return getValues<int>("propGetIntN", h, name, count, true, value);
  }

  // Empties the value list; the property and its type stay.
  static OfxStatus propReset(OfxPropertySetHandle h, const char *name) {
    PropertySet *set = PropertySet::from(h);
    detail::Logged log("propReset", set, h, name);
    if (log.refused(set, named(name)))
      return log.ended();
    if (refusedToSet(log))
      return log.done(kOfxStatErrUnknown);
    auto it = set->props_.find(log.name());
    if (it == set->props_.end())
      return log.done(kOfxStatErrUnknown);
    it->second.values.clear();
    return log.done(kOfxStatOK);
  }

  static OfxStatus propGetDimension(OfxPropertySetHandle h, const char *name,
                                    int *count) {
    PropertySet *set = PropertySet::from(h);
    detail::Logged log("propGetDimension", set, h, name);
    if (log.refused(set, named(name, detail::given(count))))
      return log.ended();
    if (leftUnanswered(log))
      return log.done(kOfxStatErrUnknown);
    auto it = set->props_.find(log.name());
    const int n = it == set->props_.end()
                      ? 0
                      : static_cast<int>(it->second.values.size());
    *count = n;
    log.setValue(detail::text(n));
    return log.done(it == set->props_.end() ? kOfxStatErrUnknown : kOfxStatOK);
  }
};

const OfxPropertySuiteV1 *propertySuite() {
  static const OfxPropertySuiteV1 suite = {
      &PropertySuiteImpl::propSetPointer,  &PropertySuiteImpl::propSetString,
      &PropertySuiteImpl::propSetDouble,   &PropertySuiteImpl::propSetInt,
      &PropertySuiteImpl::propSetPointerN, &PropertySuiteImpl::propSetStringN,
      &PropertySuiteImpl::propSetDoubleN,  &PropertySuiteImpl::propSetIntN,
      &PropertySuiteImpl::propGetPointer,  &PropertySuiteImpl::propGetString,
      &PropertySuiteImpl::propGetDouble,   &PropertySuiteImpl::propGetInt,
      &PropertySuiteImpl::propGetPointerN, &PropertySuiteImpl::propGetStringN,
      &PropertySuiteImpl::propGetDoubleN,  &PropertySuiteImpl::propGetIntN,
      &PropertySuiteImpl::propReset,       &PropertySuiteImpl::propGetDimension,
  };
  return &suite;
}

} // namespace ofxhost
