// Effect descriptors and instances, their clips and parameters.
#include "ofx_host.h"

namespace ofxhost {

namespace {

// Reads the kind header of a handle; null unless it is of kind `kind`.
template <typename T, typename Handle> T *checked(Handle h, Object::Kind kind) {
  auto *object = reinterpret_cast<T *>(h);
  if (!object || object->kind != kind)
    return nullptr;
  return object;
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
