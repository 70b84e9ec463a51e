// Effect descriptors and instances, their clips and parameters.
#include "ofx_host.h"

#include <mutex>
#include <unordered_set>

namespace ofxhost {

namespace {

// The addresses of the live objects. Looked up on every suite call, from
// any thread.
std::mutex liveMutex;
// Never destroyed, so objects that outlive static destruction (a host
// held in a static) can still leave it.
std::unordered_set<const void *> &liveObjects() {
  static auto *objects = new std::unordered_set<const void *>;
  return *objects;
}

} // namespace

Object::Object(Kind k, Host *h, std::string l)
    : kind(k), host(h), label(std::move(l)) {
  std::lock_guard<std::mutex> lock(liveMutex);
  liveObjects().insert(this);
}

Object::~Object() {
  std::lock_guard<std::mutex> lock(liveMutex);
  liveObjects().erase(this);
}

Object *Object::live(const void *handle, Kind kind) {
  if (!handle)
    return nullptr;
  {
    std::lock_guard<std::mutex> lock(liveMutex);
    if (!liveObjects().count(handle))
      return nullptr;
  }
  // Live, so its header may be read. Handles are made from the object's own
  // address, the Object header first (single inheritance, no virtuals).
  auto *object = static_cast<Object *>(const_cast<void *>(handle));
  return object->kind == kind ? object : nullptr;
}

namespace {

template <typename T, typename Handle> T *checked(Handle h, Object::Kind kind) {
  return static_cast<T *>(Object::live(h, kind));
}

} // namespace

Clip::Clip(Host *host, Effect *owner, std::string clipName)
    : Object(Kind::Clip, host, "clip:" + clipName), name(std::move(clipName)),
      props(host, "clip:" + name), effect(owner) {}

Clip *Clip::from(OfxImageClipHandle h) { return checked<Clip>(h, Kind::Clip); }

Param::Param(Host *host, std::string paramType, std::string paramName)
    : Object(Kind::Param, host, "param:" + paramName),
      type(std::move(paramType)), name(std::move(paramName)),
      props(host, "param:" + name) {
  props.setString("OfxParamPropType", {type});
  props.setString("OfxPropName", {name});
}

Param *Param::from(OfxParamHandle h) { return checked<Param>(h, Kind::Param); }

ParamSet::ParamSet(Host *host, std::string setLabel)
    : Object(Kind::ParamSet, host, setLabel), props(host, setLabel) {}

Param *ParamSet::find(const std::string &name) const {
  for (const auto &param : params)
    if (param->name == name)
      return param.get();
  return nullptr;
}

ParamSet *ParamSet::from(OfxParamSetHandle h) {
  return checked<ParamSet>(h, Kind::ParamSet);
}

Effect::Effect(Host *host, std::string effectLabel, bool instance)
    : Object(Kind::Effect, host, effectLabel), isInstance(instance),
      props(host, effectLabel), params(host, "params:" + effectLabel) {}

Clip *Effect::clip(const std::string &name) const {
  for (const auto &c : clips)
    if (c->name == name)
      return c.get();
  return nullptr;
}

Effect *Effect::from(OfxImageEffectHandle h) {
  return checked<Effect>(h, Kind::Effect);
}

} // namespace ofxhost
