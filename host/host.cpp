// The host: its property set, the suites it hands out and the actions it
// sends, and where a TestHost's faults and call log come into them.
#include "host_internal.h"
#include "platform.h"

#include "ofx_names.h"

#include <climits>
#include <cstdio>
#include <stdexcept>

namespace ofxhost {

// ---------------------------------------------------------------- helpers

namespace detail {

namespace {
thread_local Host *actionHost = nullptr;
std::atomic<Host *> latestHost{nullptr};
} // namespace

Host *currentHost() { return actionHost ? actionHost : latestHost.load(); }

void registerHost(Host *host) { latestHost.store(host); }

void unregisterHost(Host *host) {
  Host *expected = host;
  latestHost.compare_exchange_strong(expected, nullptr);
  if (actionHost == host)
    actionHost = nullptr;
}

HostScope::HostScope(Host *host) : previous_(actionHost) { actionHost = host; }

HostScope::~HostScope() { actionHost = previous_; }

int saturatedInt(double value) {
  if (!(value == value))
    return 0;
  if (value >= 2147483647.0)
    return INT_MAX;
  if (value <= -2147483648.0)
    return INT_MIN;
  return static_cast<int>(value);
}

std::string text(int value) { return std::to_string(value); }

std::string text(double value) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.17g", value);
  return buffer;
}

std::string text(const std::string &value) { return value; }

std::string text(const void *value) { return value ? "ptr" : "null"; }

std::string labelOf(const Object *object, const void *handle) {
  if (object)
    return object->label;
  return handle ? "invalid" : "null";
}

bool failingStatus(const Faults &faults, const char *fn,
                   const std::string &name, OfxStatus *status) {
  if (faults.failing.empty())
    return false;
  auto it = faults.failing.end();
  if (!name.empty())
    it = faults.failing.find(std::string(fn) + ":" + name);
  if (it == faults.failing.end())
    it = faults.failing.find(fn);
  if (it == faults.failing.end())
    return false;
  *status = it->second;
  return true;
}

bool nullHandle(const Faults &faults, const char *fn, const std::string &name) {
  if (faults.nullHandles.empty())
    return false;
  return (!name.empty() &&
          faults.nullHandles.count(std::string(fn) + ":" + name)) ||
         faults.nullHandles.count(fn);
}

Logged::Logged(const char *fn, const Object *object, const void *handle,
               const char *name, int index)
    : fn_(fn), host_(object ? object->host : currentHost()),
      testHost_(host_ ? host_->testHost_ : nullptr),
      on_(testHost_ && testHost_->logging), name_(name ? name : "") {
  if (on_) {
    call_.fn = fn;
    call_.object = labelOf(object, handle);
    call_.name = name_;
    call_.index = index;
  }
}

const Faults &Logged::faults() const {
  static const Faults none;
  return testHost_ ? testHost_->faults : none;
}

bool Logged::refused(bool liveHandle, OfxStatus arguments) {
  OfxStatus status = kOfxStatErrBadHandle;
  if (liveHandle) {
    status = arguments;
    if (status == kOfxStatOK && !failing(&status))
      return false;
  }
  ended_ = done(status);
  return true;
}

OfxStatus Logged::done(OfxStatus status) {
  if (on_) {
    call_.status = status;
    testHost_->log(std::move(call_));
  }
  return status;
}

} // namespace detail

// ---------------------------------------------------------------- the host

namespace {

template <bool variadicsOnStack>
const void *fetchSuiteThunk(OfxPropertySetHandle host, const char *name,
                            int version) {
  PropertySet *props = PropertySet::from(host);
  if (!props || !props->host)
    return nullptr;
  return props->host->fetchSuite(name, version, variadicsOnStack);
}

} // namespace

Host::Host() : props(this, "host") {
  props.setString("OfxPropName", {"org.vantorel.testhost"});
  props.setString("OfxPropLabel", {"Vantorel test host"});
  props.setInt("OfxImageEffectHostPropIsBackground", {0});
  props.setInt("OfxImageEffectPropSupportsTiles", {1});
  props.setInt("OfxImageEffectPropSupportsMultipleClipDepths", {0});
  props.setString("OfxImageEffectPropSupportedComponents",
                  {kOfxImageComponentRGBA});
  props.setString("OfxImageEffectPropSupportedPixelDepths",
                  {kOfxBitDepthByte, kOfxBitDepthFloat});
  props.setString(
      "OfxImageEffectPropSupportedContexts",
      {kOfxImageEffectContextFilter, kOfxImageEffectContextGeneral});
  ofxHost(false);
  ofxHost(true);
  detail::registerHost(this);
}

Host::~Host() { detail::unregisterHost(this); }

OfxHost *Host::ofxHost(bool variadicsOnStack) {
  OfxHost &record = variadicsOnStack ? stackVariadicsHost_ : ofxHost_;
  record.host = props.handle();
  const bool withheld = testHost_ && testHost_->faults.nullFetchSuite;
  record.fetchSuite = withheld           ? nullptr
                      : variadicsOnStack ? &fetchSuiteThunk<true>
                                         : &fetchSuiteThunk<false>;
  return &record;
}

void Host::bind(OfxPlugin *plugin) {
  detail::HostScope scope(this);
  plugin->setHost(ofxHost(platform::passesVariadicsOnStack(
      reinterpret_cast<const void *>(plugin->setHost))));
}

OfxStatus Host::action(OfxPlugin *plugin, const char *name, const void *handle,
                       OfxPropertySetHandle inArgs,
                       OfxPropertySetHandle outArgs) {
  OfxStatus status;
  {
    detail::HostScope scope(this);
    status = plugin->mainEntry(name, handle, inArgs, outArgs);
  }
  if (testHost_ && testHost_->logging) {
    Call call;
    call.fn = "action";
    const Effect *effect = Effect::from(
        static_cast<OfxImageEffectHandle>(const_cast<void *>(handle)));
    call.object = detail::labelOf(effect, handle);
    call.name = name ? name : "";
    call.status = status;
    testHost_->log(std::move(call));
  }
  return status;
}

Effect *Host::describe(OfxPlugin *plugin, OfxStatus *status) {
  Effect *effect;
  {
    std::lock_guard<std::mutex> lock(effectsMutex_);
    effects_.push_back(
        std::make_unique<Effect>(this, "effect-descriptor", false));
    effect = effects_.back().get();
    described_[plugin] = effect;
  }
  const OfxStatus s =
      action(plugin, kOfxActionDescribe, effect->handle(), nullptr, nullptr);
  if (status)
    *status = s;
  return effect;
}

Effect *Host::describeInContext(OfxPlugin *plugin, const std::string &context,
                                OfxStatus *status) {
  Effect *effect;
  {
    std::lock_guard<std::mutex> lock(effectsMutex_);
    effects_.push_back(
        std::make_unique<Effect>(this, "effect-descriptor:" + context, false));
    effect = effects_.back().get();
    auto described = described_.find(plugin);
    if (described != described_.end())
      effect->props.copyFrom(described->second->props);
  }
  effect->props.setString(kOfxImageEffectPropContext, {context});
  PropertySet inArgs(this, "inArgs");
  inArgs.setString(kOfxImageEffectPropContext, {context});
  const OfxStatus s = action(plugin, kOfxImageEffectActionDescribeInContext,
                             effect->handle(), inArgs.handle(), nullptr);
  if (status)
    *status = s;
  return effect;
}

Effect *Host::createInstance(OfxPlugin *plugin, Effect *descriptor,
                             OfxStatus *status) {
  auto owned = std::make_unique<Effect>(this, "instance", true);
  Effect *instance = owned.get();
  instance->props.copyFrom(descriptor->props);
  instance->params.props.copyFrom(descriptor->params.props);
  for (const auto &clip : descriptor->clips) {
    instance->clips.push_back(
        std::make_unique<Clip>(this, instance, clip->name));
    instance->clips.back()->props.copyFrom(clip->props);
  }
  for (const auto &param : descriptor->params.params) {
    auto copy = std::make_unique<Param>(this, param->type, param->name);
    copy->props.copyFrom(param->props);
    const PropertySet &props = param->props;
    if (props.has(kOfxParamPropDefault)) {
      if (param->type == "OfxParamTypeBoolean" ||
          param->type == "OfxParamTypeInteger" ||
          param->type == "OfxParamTypeChoice")
        copy->intValue = props.getInt(kOfxParamPropDefault);
      else if (param->type == "OfxParamTypeDouble")
        copy->doubleValue = props.getDouble(kOfxParamPropDefault);
    }
    instance->params.params.push_back(std::move(copy));
  }
  {
    std::lock_guard<std::mutex> lock(effectsMutex_);
    effects_.push_back(std::move(owned));
  }
  const OfxStatus s = action(plugin, kOfxActionCreateInstance,
                             instance->handle(), nullptr, nullptr);
  if (status)
    *status = s;
  return instance;
}

std::shared_ptr<Image> Host::attachImage(Effect *instance,
                                         const std::string &clip,
                                         const ImageSpec &spec) {
  return attachNew(instance, clip, spec);
}

Clip &Host::clipNamed(Effect *instance, const std::string &name) {
  Clip *clip = instance ? instance->clip(name) : nullptr;
  if (!clip)
    throw std::invalid_argument("no clip named " + name);
  return *clip;
}

OfxStatus Host::render(OfxPlugin *plugin, Effect *instance,
                       const RenderArgs &args) {
  PropertySet inArgs(this, "inArgs");
  if (args.sendTime)
    inArgs.setDouble(kOfxPropTime, {args.time});
  if (args.sendWindow)
    inArgs.setInt(
        kOfxImageEffectPropRenderWindow,
        {args.window.x1, args.window.y1, args.window.x2, args.window.y2});
  inArgs.setDouble(kOfxImageEffectPropRenderScale, {1.0, 1.0});
  inArgs.setString(kOfxImageEffectPropFieldToRender, {"OfxImageFieldNone"});
  PropertySet outArgs(this, "outArgs");
  return action(plugin, kOfxImageEffectActionRender, instance->handle(),
                inArgs.handle(), outArgs.handle());
}

void Host::setParam(Effect *instance, const std::string &name, double value) {
  Param *param = instance ? instance->param(name) : nullptr;
  if (!param)
    throw std::invalid_argument("no parameter named " + name);
  if (param->type == "OfxParamTypeDouble")
    param->doubleValue = value;
  else
    param->intValue = detail::saturatedInt(value);
}

const void *Host::fetchSuite(const char *name, int version,
                             bool variadicsOnStack) {
  const void *suite = nullptr;
  const std::string suiteName = name ? name : "";
  const bool withheld =
      testHost_ && testHost_->faults.withheldSuites.count(suiteName);
  if (version == 1 && !withheld) {
    if (suiteName == kOfxPropertySuite)
      suite = propertySuite();
    else if (suiteName == kOfxImageEffectSuite)
      suite = imageEffectSuite();
    else if (suiteName == kOfxParameterSuite)
      suite = variadicsOnStack ? parameterSuiteVariadicsOnStack()
                               : parameterSuite();
  }
  if (testHost_ && testHost_->logging) {
    Call call;
    call.fn = "fetchSuite";
    call.object = "host";
    call.name = suiteName;
    call.index = version;
    call.value = detail::text(suite);
    testHost_->log(std::move(call));
  }
  return suite;
}

} // namespace ofxhost
