#include "session.h"

#include "ofx_names.h"

#include <cstring>
#include <filesystem>

namespace vantorel {

const char kBundleName[] = "QvoVantorel.ofx.bundle";

std::unique_ptr<ofxhost::Module> loadModule(const std::string &bundle,
                                            std::string *error) {
  if (!bundle.empty())
    return ofxhost::Module::load(bundle, error);
  auto module = ofxhost::Module::find(kBundleName, error);
  if (!module && error)
    *error += " (name one with --bundle PATH)";
  return module;
}

std::string bundleFolderOf(const ofxhost::Module &module) {
  for (std::filesystem::path p(module.path()); p.has_relative_path();
       p = p.parent_path())
    if (p.extension() == ".bundle")
      return p.string();
  return module.path();
}

bool actionSucceeded(OfxStatus status) {
  return status == kOfxStatOK || status == kOfxStatReplyDefault;
}

namespace {

bool check(const char *action, OfxStatus status, std::string *error) {
  if (actionSucceeded(status))
    return true;
  *error = std::string("the plug-in answered ") + action + " with " +
           ofxhost::statusName(status);
  return false;
}

void copyRows(const Frame &frame, const ofxhost::Image &image) {
  for (int y = 0; y < frame.height; ++y)
    std::memcpy(image.byteAt(frame.x, frame.y + y), frame.row(y),
                frame.rowBytes());
}

void copyRows(const ofxhost::Image &image, Frame &frame) {
  for (int y = 0; y < frame.height; ++y)
    std::memcpy(frame.row(y), image.byteAt(frame.x, frame.y + y),
                frame.rowBytes());
}

} // namespace

std::unique_ptr<Session> Session::open(const std::string &bundle,
                                       std::string *error,
                                       std::unique_ptr<ofxhost::Host> into) {
  std::unique_ptr<Session> session(new Session);
  session->host_ = into ? std::move(into) : std::make_unique<ofxhost::Host>();
  session->module_ = loadModule(bundle, error);
  if (!session->module_)
    return nullptr;
  if (session->module_->numberOfPlugins() < 1 ||
      !(session->plugin_ = session->module_->plugin(0))) {
    *error = session->module_->path() + " holds no plug-in";
    return nullptr;
  }
  ofxhost::Host &host = *session->host_;
  OfxPlugin *plugin = session->plugin_;
  host.bind(plugin);
  OfxStatus status = host.action(plugin, kOfxActionLoad, nullptr);
  if (!check(kOfxActionLoad, status, error))
    return nullptr;
  host.describe(plugin, &status);
  if (!check(kOfxActionDescribe, status, error))
    return nullptr;
  ofxhost::Effect *descriptor =
      host.describeInContext(plugin, kOfxImageEffectContextFilter, &status);
  if (!check(kOfxImageEffectActionDescribeInContext, status, error))
    return nullptr;
  session->instance_ = host.createInstance(plugin, descriptor, &status);
  if (!check(kOfxActionCreateInstance, status, error))
    return nullptr;
  session->params_ = declaredParams(*session->instance_);
  return session;
}

Session::~Session() {
  if (instance_)
    host_->action(plugin_, kOfxActionDestroyInstance, instance_->handle());
  if (plugin_)
    host_->action(plugin_, kOfxActionUnload, nullptr);
}

std::string Session::bundle() const { return bundleFolderOf(*module_); }

void Session::set(const Setting &setting) {
  host_->setParam(instance_, setting.name, setting.value);
}

bool Session::setAll(const std::vector<std::string> &texts,
                     std::string *error) {
  for (const std::string &text : texts) {
    Setting setting;
    if (!parseSetting(text, params_, &setting, error))
      return false;
    set(setting);
  }
  return true;
}

void Session::resetParams() {
  for (const ParamInfo &param : params_)
    set({param.name, param.defaultValue});
}

bool Session::render(Frame &frame, double time, std::string *error) {
  ofxhost::ImageSpec spec;
  spec.depth = frame.depth;
  spec.bounds = {frame.x, frame.y, frame.x + frame.width,
                 frame.y + frame.height};
  const OfxRectI &kept = source_ ? source_->spec().bounds : spec.bounds;
  if (!source_ || source_->spec().depth != spec.depth ||
      kept.x1 != spec.bounds.x1 || kept.y1 != spec.bounds.y1 ||
      kept.x2 != spec.bounds.x2 || kept.y2 != spec.bounds.y2) {
    source_ = host_->attachImage(instance_, "Source", spec);
    output_ = host_->attachImage(instance_, "Output", spec);
  }
  copyRows(frame, *source_);
  ofxhost::Host::RenderArgs args;
  args.time = time;
  args.window = spec.bounds;
  const OfxStatus status = host_->render(plugin_, instance_, args);
  if (status != kOfxStatOK) {
    *error = "the plug-in failed to render: " + ofxhost::statusName(status);
    return false;
  }
  copyRows(*output_, frame);
  return true;
}

} // namespace vantorel
