// The image-effect and parameter suites.
#include "host_internal.h"

#include "ofx_names.h"

#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace ofxhost {

namespace {

using detail::Logged;
using detail::text;

// Finishes a call that hands out a handle, after the prologue: a
// `nullHandles` fault answers OK and null.
template <typename H> OfxStatus handOut(Logged &log, H *out, H value) {
  if (log.nullHandle())
    value = nullptr;
  *out = value;
  log.setValue(text(static_cast<const void *>(value)));
  return log.done(kOfxStatOK);
}

// Finishes a look-up by name that hands out an object's handle and, when
// asked, its property set, after the prologue: unknown names answer
// kOfxStatErrUnknown.
template <typename T, typename H>
OfxStatus handOutFound(Logged &log, T *found, H *out,
                       OfxPropertySetHandle *props) {
  if (!found)
    return log.done(kOfxStatErrUnknown);
  const bool null = log.nullHandle();
  *out = null ? nullptr : found->handle();
  if (props)
    *props = null ? nullptr : found->props.handle();
  log.setValue(null ? "null" : "ptr");
  return log.done(kOfxStatOK);
}

// Memory handed out by imageMemoryAlloc.
struct ImageMemory : Object {
  explicit ImageMemory(Host *host)
      : Object(Kind::ImageMemory, host, "memory") {}
  int locks = 0;
  void *data = nullptr;
  std::size_t size = 0;

  static ImageMemory *from(OfxImageMemoryHandle h) {
    return static_cast<ImageMemory *>(Object::live(h, Kind::ImageMemory));
  }
};

bool isIntParam(const Param &p) {
  return p.type == "OfxParamTypeBoolean" || p.type == "OfxParamTypeInteger" ||
         p.type == "OfxParamTypeChoice";
}

bool isDoubleParam(const Param &p) { return p.type == "OfxParamTypeDouble"; }

const char *nameOf(const Param *p) { return p ? p->name.c_str() : nullptr; }
const char *nameOf(const Clip *c) { return c ? c->name.c_str() : nullptr; }

} // namespace

// ---------------------------------------------------------------- effects

struct ImageEffectSuiteImpl {
  static OfxStatus getPropertySet(OfxImageEffectHandle h,
                                  OfxPropertySetHandle *props) {
    Effect *effect = Effect::from(h);
    Logged log("getPropertySet", effect, h, nullptr);
    if (log.refused(effect, detail::given(props)))
      return log.ended();
    return handOut(log, props, effect->props.handle());
  }

  static OfxStatus getParamSet(OfxImageEffectHandle h,
                               OfxParamSetHandle *paramSet) {
    Effect *effect = Effect::from(h);
    Logged log("getParamSet", effect, h, nullptr);
    if (log.refused(effect, detail::given(paramSet)))
      return log.ended();
    return handOut(log, paramSet, effect->params.handle());
  }

  // Defines a clip on a descriptor; defining a name again answers the
  // clip already there.
  static OfxStatus clipDefine(OfxImageEffectHandle h, const char *name,
                              OfxPropertySetHandle *props) {
    Effect *effect = Effect::from(h);
    Logged log("clipDefine", effect, h, name);
    if (log.refused(effect, detail::given(name && props)))
      return log.ended();
    if (effect->isInstance)
      return log.done(kOfxStatErrUnsupported);
    Clip *clip = effect->clip(name);
    if (!clip) {
      effect->clips.push_back(
          std::make_unique<Clip>(effect->host, effect, std::string(name)));
      clip = effect->clips.back().get();
    }
    return handOut(log, props, clip->props.handle());
  }

  static OfxStatus clipGetHandle(OfxImageEffectHandle h, const char *name,
                                 OfxImageClipHandle *clipOut,
                                 OfxPropertySetHandle *props) {
    Effect *effect = Effect::from(h);
    Logged log("clipGetHandle", effect, h, name);
    if (log.refused(effect, detail::given(name && clipOut)))
      return log.ended();
    return handOutFound(log, effect->clip(name), clipOut, props);
  }

  static OfxStatus clipGetPropertySet(OfxImageClipHandle h,
                                      OfxPropertySetHandle *props) {
    Clip *clip = Clip::from(h);
    Logged log("clipGetPropertySet", clip, h, nameOf(clip));
    if (log.refused(clip, detail::given(props)))
      return log.ended();
    return handOut(log, props, clip->props.handle());
  }

  // Logs the time, truncated, as the call's index.
  static OfxStatus clipGetImage(OfxImageClipHandle h, OfxTime time,
                                const OfxRectD *, OfxPropertySetHandle *image) {
    Clip *clip = Clip::from(h);
    Logged log("clipGetImage", clip, h, nameOf(clip),
               detail::saturatedInt(time));
    if (log.refused(clip, detail::given(image)))
      return log.ended();
    if (log.nullHandle()) {
      *image = nullptr;
      log.setValue("null");
      return log.done(kOfxStatOK);
    }
    Image *img = clip->image.get();
    if (!img)
      return log.done(kOfxStatFailed);
    img->fetches_.fetch_add(1);
    *image = img->props().handle();
    log.setValue("ptr");
    return log.done(kOfxStatOK);
  }

  static OfxStatus clipReleaseImage(OfxPropertySetHandle h) {
    PropertySet *props = PropertySet::from(h);
    Image *img = props ? props->image : nullptr;
    Logged log("clipReleaseImage", img ? props : nullptr, h, nullptr);
    if (log.refused(img))
      return log.ended();
    img->releases_.fetch_add(1);
    return log.done(kOfxStatOK);
  }

  static OfxStatus clipGetRegionOfDefinition(OfxImageClipHandle h, OfxTime time,
                                             OfxRectD *bounds) {
    Clip *clip = Clip::from(h);
    Logged log("clipGetRegionOfDefinition", clip, h, nameOf(clip),
               detail::saturatedInt(time));
    if (log.refused(clip, detail::given(bounds)))
      return log.ended();
    OfxRectD rod{0, 0, 0, 0};
    if (const Image *img = clip->image.get()) {
      const OfxRectI &b = img->spec().bounds;
      rod = OfxRectD{static_cast<double>(b.x1), static_cast<double>(b.y1),
                     static_cast<double>(b.x2), static_cast<double>(b.y2)};
    }
    *bounds = rod;
    log.setValue(text(rod.x1) + "," + text(rod.y1) + "," + text(rod.x2) + "," +
                 text(rod.y2));
    return log.done(kOfxStatOK);
  }

  static int abort(OfxImageEffectHandle h) {
    Effect *effect = Effect::from(h);
    Logged log("abort", effect, h, nullptr);
    log.setValue("0");
    log.done(kOfxStatOK);
    return 0;
  }

  static OfxStatus imageMemoryAlloc(OfxImageEffectHandle h, size_t nBytes,
                                    OfxImageMemoryHandle *memory) {
    Effect *effect = Effect::from(h);
    Logged log("imageMemoryAlloc", effect, h, nullptr,
               static_cast<int>(nBytes));
    // The instance handle may be null: memory not tied to an instance.
    if (log.refused(!h || effect, detail::given(memory)))
      return log.ended();
    if (log.nullHandle()) {
      *memory = nullptr;
      log.setValue("null");
      return log.done(kOfxStatOK);
    }
    auto *m = new ImageMemory(effect ? effect->host : log.host());
    m->data = std::malloc(nBytes ? nBytes : 1);
    if (!m->data) {
      delete m;
      return log.done(kOfxStatErrMemory);
    }
    m->size = nBytes;
    *memory = reinterpret_cast<OfxImageMemoryHandle>(m);
    log.setValue("ptr");
    return log.done(kOfxStatOK);
  }

  static OfxStatus imageMemoryFree(OfxImageMemoryHandle h) {
    ImageMemory *m = ImageMemory::from(h);
    Logged log("imageMemoryFree", nullptr, h, nullptr);
    log.setObject(m ? "memory" : h ? "invalid" : "null");
    if (log.refused(m))
      return log.ended();
    std::free(m->data);
    delete m;
    return log.done(kOfxStatOK);
  }

  static OfxStatus imageMemoryLock(OfxImageMemoryHandle h, void **ptr) {
    ImageMemory *m = ImageMemory::from(h);
    Logged log("imageMemoryLock", nullptr, h, nullptr);
    log.setObject(m ? "memory" : h ? "invalid" : "null");
    if (log.refused(m, detail::given(ptr)))
      return log.ended();
    ++m->locks;
    *ptr = m->data;
    log.setValue("ptr");
    return log.done(kOfxStatOK);
  }

  static OfxStatus imageMemoryUnlock(OfxImageMemoryHandle h) {
    ImageMemory *m = ImageMemory::from(h);
    Logged log("imageMemoryUnlock", nullptr, h, nullptr);
    log.setObject(m ? "memory" : h ? "invalid" : "null");
    if (log.refused(m))
      return log.ended();
    if (m->locks > 0)
      --m->locks;
    return log.done(kOfxStatOK);
  }
};

const OfxImageEffectSuiteV1 *imageEffectSuite() {
  static const OfxImageEffectSuiteV1 suite = {
      &ImageEffectSuiteImpl::getPropertySet,
      &ImageEffectSuiteImpl::getParamSet,
      &ImageEffectSuiteImpl::clipDefine,
      &ImageEffectSuiteImpl::clipGetHandle,
      &ImageEffectSuiteImpl::clipGetPropertySet,
      &ImageEffectSuiteImpl::clipGetImage,
      &ImageEffectSuiteImpl::clipReleaseImage,
      &ImageEffectSuiteImpl::clipGetRegionOfDefinition,
      &ImageEffectSuiteImpl::abort,
      &ImageEffectSuiteImpl::imageMemoryAlloc,
      &ImageEffectSuiteImpl::imageMemoryFree,
      &ImageEffectSuiteImpl::imageMemoryLock,
      &ImageEffectSuiteImpl::imageMemoryUnlock,
  };
  return &suite;
}

// ---------------------------------------------------------------- parameters

namespace {

enum class Read { Value, Derivative, Integral };

// The variadic arguments of a suite call: read through a va_list, or taken
// from 8-byte stack slots, each holding one argument in its low bytes (how
// a module compiled for Apple's arm64 convention passes them, whatever
// their type).
class VariadicArgs {
public:
  explicit VariadicArgs(va_list *list) : list_(list) {}
  explicit VariadicArgs(const std::uint64_t *slots) : slots_(slots) {}
  template <typename T> T next() {
    if (list_)
      return va_arg(*list_, T);
    T value;
    std::memcpy(&value, slots_++, sizeof value);
    return value;
  }

private:
  va_list *list_ = nullptr;
  const std::uint64_t *slots_ = nullptr;
};

// Answers a parameter's value, or its derivative or integral over
// `interval`, through the variadic out-pointer. Values do not animate, so
// the derivative is 0 and the integral value x interval.
OfxStatus readValue(Logged &log, const Param &p, Read what, double interval,
                    VariadicArgs args) {
  if (isIntParam(p) && what == Read::Value) {
    int *out = args.next<int *>();
    if (!out)
      return log.done(kOfxStatErrValue);
    *out = p.intValue;
    log.setValue(text(p.intValue));
    return log.done(kOfxStatOK);
  }
  if (isDoubleParam(p)) {
    double *out = args.next<double *>();
    if (!out)
      return log.done(kOfxStatErrValue);
    const double value = what == Read::Value        ? p.doubleValue
                         : what == Read::Derivative ? 0.0
                                                    : p.doubleValue * interval;
    *out = value;
    log.setValue(text(value));
    return log.done(kOfxStatOK);
  }
  return log.done(kOfxStatErrUnsupported);
}

// One read of a parameter: the handle and the faults are checked, then
// the answer goes through the variadic out-pointer. `logIndex` is the time
// the call names, for the log.
OfxStatus readCall(const char *fn, OfxParamHandle h, int logIndex, Read what,
                   double interval, VariadicArgs args) {
  Param *param = Param::from(h);
  Logged log(fn, param, h, nameOf(param), logIndex);
  if (log.refused(param))
    return log.ended();
  return readValue(log, *param, what, interval, args);
}

// Takes a parameter's new value from the variadic argument, after the
// prologue.
OfxStatus writeValue(Logged &log, Param &p, VariadicArgs args) {
  if (isIntParam(p)) {
    const int value = args.next<int>();
    log.setValue(text(value));
    p.intValue = value;
    return log.done(kOfxStatOK);
  }
  if (isDoubleParam(p)) {
    const double value = args.next<double>();
    log.setValue(text(value));
    p.doubleValue = value;
    return log.done(kOfxStatOK);
  }
  return log.done(kOfxStatErrUnsupported);
}

// One write of a parameter, at `logIndex` (the time the call names).
OfxStatus writeCall(const char *fn, OfxParamHandle h, int logIndex,
                    VariadicArgs args) {
  Param *param = Param::from(h);
  Logged log(fn, param, h, nameOf(param), logIndex);
  if (log.refused(param))
    return log.ended();
  return writeValue(log, *param, args);
}

} // namespace

struct ParameterSuiteImpl {
  static OfxStatus paramDefine(OfxParamSetHandle h, const char *type,
                               const char *name, OfxPropertySetHandle *props) {
    ParamSet *set = ParamSet::from(h);
    Logged log("paramDefine", set, h, name);
    if (log.refused(set, detail::given(type && name)))
      return log.ended();
    log.setValue(type);
    if (set->find(name))
      return log.done(kOfxStatErrExists);
    set->params.push_back(std::make_unique<Param>(set->host, type, name));
    Param *param = set->params.back().get();
    if (props)
      *props = log.nullHandle() ? nullptr : param->props.handle();
    return log.done(kOfxStatOK);
  }

  static OfxStatus paramGetHandle(OfxParamSetHandle h, const char *name,
                                  OfxParamHandle *paramOut,
                                  OfxPropertySetHandle *props) {
    ParamSet *set = ParamSet::from(h);
    Logged log("paramGetHandle", set, h, name);
    if (log.refused(set, detail::given(name && paramOut)))
      return log.ended();
    return handOutFound(log, set->find(name), paramOut, props);
  }

  static OfxStatus paramSetGetPropertySet(OfxParamSetHandle h,
                                          OfxPropertySetHandle *props) {
    ParamSet *set = ParamSet::from(h);
    Logged log("paramSetGetPropertySet", set, h, nullptr);
    if (log.refused(set, detail::given(props)))
      return log.ended();
    return handOut(log, props, set->props.handle());
  }

  static OfxStatus paramGetPropertySet(OfxParamHandle h,
                                       OfxPropertySetHandle *props) {
    Param *param = Param::from(h);
    Logged log("paramGetPropertySet", param, h, nameOf(param));
    if (log.refused(param, detail::given(props)))
      return log.ended();
    return handOut(log, props, param->props.handle());
  }

  static OfxStatus paramGetValue(OfxParamHandle h, ...) {
    va_list ap;
    va_start(ap, h);
    const OfxStatus status =
        readCall("paramGetValue", h, 0, Read::Value, 0.0, VariadicArgs(&ap));
    va_end(ap);
    return status;
  }

  static OfxStatus paramGetValueAtTime(OfxParamHandle h, OfxTime time, ...) {
    va_list ap;
    va_start(ap, time);
    const OfxStatus status =
        readCall("paramGetValueAtTime", h, detail::saturatedInt(time),
                 Read::Value, 0.0, VariadicArgs(&ap));
    va_end(ap);
    return status;
  }

  static OfxStatus paramGetDerivative(OfxParamHandle h, OfxTime time, ...) {
    va_list ap;
    va_start(ap, time);
    const OfxStatus status =
        readCall("paramGetDerivative", h, detail::saturatedInt(time),
                 Read::Derivative, 0.0, VariadicArgs(&ap));
    va_end(ap);
    return status;
  }

  static OfxStatus paramGetIntegral(OfxParamHandle h, OfxTime time1,
                                    OfxTime time2, ...) {
    va_list ap;
    va_start(ap, time2);
    const OfxStatus status =
        readCall("paramGetIntegral", h, detail::saturatedInt(time1),
                 Read::Integral, time2 - time1, VariadicArgs(&ap));
    va_end(ap);
    return status;
  }

  static OfxStatus paramSetValue(OfxParamHandle h, ...) {
    va_list ap;
    va_start(ap, h);
    const OfxStatus status =
        writeCall("paramSetValue", h, 0, VariadicArgs(&ap));
    va_end(ap);
    return status;
  }

  static OfxStatus paramSetValueAtTime(OfxParamHandle h, OfxTime time, ...) {
    va_list ap;
    va_start(ap, time);
    const OfxStatus status =
        writeCall("paramSetValueAtTime", h, detail::saturatedInt(time),
                  VariadicArgs(&ap));
    va_end(ap);
    return status;
  }

  // Parameters here have no keys.
  static OfxStatus paramGetNumKeys(OfxParamHandle h, unsigned int *count) {
    Param *param = Param::from(h);
    Logged log("paramGetNumKeys", param, h, nameOf(param));
    if (log.refused(param, detail::given(count)))
      return log.ended();
    *count = 0;
    log.setValue("0");
    return log.done(kOfxStatOK);
  }

  static OfxStatus paramGetKeyTime(OfxParamHandle h, unsigned int nth,
                                   OfxTime *) {
    Param *param = Param::from(h);
    Logged log("paramGetKeyTime", param, h, nameOf(param),
               static_cast<int>(nth));
    if (log.refused(param))
      return log.ended();
    return log.done(kOfxStatErrBadIndex);
  }

  static OfxStatus paramGetKeyIndex(OfxParamHandle h, OfxTime time, int,
                                    int *) {
    Param *param = Param::from(h);
    Logged log("paramGetKeyIndex", param, h, nameOf(param),
               detail::saturatedInt(time));
    if (log.refused(param))
      return log.ended();
    return log.done(kOfxStatFailed);
  }

  static OfxStatus paramDeleteKey(OfxParamHandle h, OfxTime time) {
    Param *param = Param::from(h);
    Logged log("paramDeleteKey", param, h, nameOf(param),
               detail::saturatedInt(time));
    if (log.refused(param))
      return log.ended();
    return log.done(kOfxStatErrBadIndex);
  }

  static OfxStatus paramDeleteAllKeys(OfxParamHandle h) {
    Param *param = Param::from(h);
    Logged log("paramDeleteAllKeys", param, h, nameOf(param));
    if (log.refused(param))
      return log.ended();
    return log.done(kOfxStatOK);
  }

  static OfxStatus paramCopy(OfxParamHandle to, OfxParamHandle from, OfxTime,
                             const OfxRangeD *) {
    Param *dst = Param::from(to);
    Param *src = Param::from(from);
    Logged log("paramCopy", dst, to, nameOf(dst));
    if (log.refused(dst && src))
      return log.ended();
    log.setValue(src->name);
    if (dst->type != src->type)
      return log.done(kOfxStatErrValue);
    dst->intValue = src->intValue;
    dst->doubleValue = src->doubleValue;
    return log.done(kOfxStatOK);
  }

  static OfxStatus paramEditBegin(OfxParamSetHandle h, const char *name) {
    ParamSet *set = ParamSet::from(h);
    Logged log("paramEditBegin", set, h, name);
    if (log.refused(set))
      return log.ended();
    return log.done(kOfxStatOK);
  }

  static OfxStatus paramEditEnd(OfxParamSetHandle h) {
    ParamSet *set = ParamSet::from(h);
    Logged log("paramEditEnd", set, h, nullptr);
    if (log.refused(set))
      return log.ended();
    return log.done(kOfxStatOK);
  }
};

const OfxParameterSuiteV1 *parameterSuite() {
  static const OfxParameterSuiteV1 suite = {
      &ParameterSuiteImpl::paramDefine,
      &ParameterSuiteImpl::paramGetHandle,
      &ParameterSuiteImpl::paramSetGetPropertySet,
      &ParameterSuiteImpl::paramGetPropertySet,
      &ParameterSuiteImpl::paramGetValue,
      &ParameterSuiteImpl::paramGetValueAtTime,
      &ParameterSuiteImpl::paramGetDerivative,
      &ParameterSuiteImpl::paramGetIntegral,
      &ParameterSuiteImpl::paramSetValue,
      &ParameterSuiteImpl::paramSetValueAtTime,
      &ParameterSuiteImpl::paramGetNumKeys,
      &ParameterSuiteImpl::paramGetKeyTime,
      &ParameterSuiteImpl::paramGetKeyIndex,
      &ParameterSuiteImpl::paramDeleteKey,
      &ParameterSuiteImpl::paramDeleteAllKeys,
      &ParameterSuiteImpl::paramCopy,
      &ParameterSuiteImpl::paramEditBegin,
      &ParameterSuiteImpl::paramEditEnd,
  };
  return &suite;
}

// ---------------------------------------------------------------- Apple arm64

#if defined(__aarch64__)

namespace {

// A module compiled for Apple's arm64 convention passes each variadic
// argument on the stack in an 8-byte slot, where this system's convention
// passes them in registers. These entries are plain functions: the seven
// register-sized arguments after the handle fill the argument registers x1
// to x7, so the argument after them, `slot`, is the first stack slot, the
// first variadic argument. (Named times travel in the floating-point
// registers in both conventions.) Parameters here hold one value, so one
// slot is all a call passes.
#define REGISTERS_X1_TO_X7                                                     \
  std::uint64_t, std::uint64_t, std::uint64_t, std::uint64_t, std::uint64_t,   \
      std::uint64_t, std::uint64_t

struct StackVariadicEntries {
  static OfxStatus paramGetValue(OfxParamHandle h, REGISTERS_X1_TO_X7,
                                 std::uint64_t slot) {
    return readCall("paramGetValue", h, 0, Read::Value, 0.0,
                    VariadicArgs(&slot));
  }
  static OfxStatus paramGetValueAtTime(OfxParamHandle h, OfxTime time,
                                       REGISTERS_X1_TO_X7, std::uint64_t slot) {
    return readCall("paramGetValueAtTime", h, detail::saturatedInt(time),
                    Read::Value, 0.0, VariadicArgs(&slot));
  }
  static OfxStatus paramGetDerivative(OfxParamHandle h, OfxTime time,
                                      REGISTERS_X1_TO_X7, std::uint64_t slot) {
    return readCall("paramGetDerivative", h, detail::saturatedInt(time),
                    Read::Derivative, 0.0, VariadicArgs(&slot));
  }
  static OfxStatus paramGetIntegral(OfxParamHandle h, OfxTime time1,
                                    OfxTime time2, REGISTERS_X1_TO_X7,
                                    std::uint64_t slot) {
    return readCall("paramGetIntegral", h, detail::saturatedInt(time1),
                    Read::Integral, time2 - time1, VariadicArgs(&slot));
  }
  static OfxStatus paramSetValue(OfxParamHandle h, REGISTERS_X1_TO_X7,
                                 std::uint64_t slot) {
    return writeCall("paramSetValue", h, 0, VariadicArgs(&slot));
  }
  static OfxStatus paramSetValueAtTime(OfxParamHandle h, OfxTime time,
                                       REGISTERS_X1_TO_X7, std::uint64_t slot) {
    return writeCall("paramSetValueAtTime", h, detail::saturatedInt(time),
                     VariadicArgs(&slot));
  }
};

#undef REGISTERS_X1_TO_X7

// A suite member's type for an entry of another (through void (*)(), which
// every function pointer converts to and from).
template <typename Member, typename Entry> Member asMember(Entry entry) {
  return reinterpret_cast<Member>(reinterpret_cast<void (*)()>(entry));
}

} // namespace

const OfxParameterSuiteV1 *parameterSuiteVariadicsOnStack() {
  static const OfxParameterSuiteV1 suite = [] {
    OfxParameterSuiteV1 s = *parameterSuite();
    using S = OfxParameterSuiteV1;
    s.paramGetValue = asMember<decltype(S::paramGetValue)>(
        &StackVariadicEntries::paramGetValue);
    s.paramGetValueAtTime = asMember<decltype(S::paramGetValueAtTime)>(
        &StackVariadicEntries::paramGetValueAtTime);
    s.paramGetDerivative = asMember<decltype(S::paramGetDerivative)>(
        &StackVariadicEntries::paramGetDerivative);
    s.paramGetIntegral = asMember<decltype(S::paramGetIntegral)>(
        &StackVariadicEntries::paramGetIntegral);
    s.paramSetValue = asMember<decltype(S::paramSetValue)>(
        &StackVariadicEntries::paramSetValue);
    s.paramSetValueAtTime = asMember<decltype(S::paramSetValueAtTime)>(
        &StackVariadicEntries::paramSetValueAtTime);
    return s;
  }();
  return &suite;
}

#else

// On x86-64 the conventions of macOS and Linux pass variadic arguments
// alike.
const OfxParameterSuiteV1 *parameterSuiteVariadicsOnStack() {
  return parameterSuite();
}

#endif

} // namespace ofxhost
