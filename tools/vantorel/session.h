// The plug-in loaded into the project's host with one effect instance in
// the filter context, ready to render frames.
#pragma once

#include "frame.h"
#include "params.h"

#include "ofx_host.h"

#include <memory>
#include <string>
#include <vector>

namespace vantorel {

extern const char kBundleName[]; // "QvoVantorel.ofx.bundle"

// Loads the plug-in from `bundle` (--bundle); when that is empty, from the
// first kBundleName in the folders of OFX_PLUGIN_PATH, else in the standard
// plug-in folder. Null with *error on failure.
std::unique_ptr<ofxhost::Module> loadModule(const std::string &bundle,
                                            std::string *error);

// The bundle folder that holds `module`'s binary (the binary itself when it
// lies in none).
std::string bundleFolderOf(const ofxhost::Module &module);

// OK, or the reply-default answer to an action.
bool actionSucceeded(OfxStatus status);

class Session {
public:
  // Loads the plug-in into the host `into` (a new plain host when null),
  // describes it and creates an instance. Null with *error when any of
  // that fails.
  static std::unique_ptr<Session>
  open(const std::string &bundle, std::string *error,
       std::unique_ptr<ofxhost::Host> into = nullptr);
  ~Session(); // destroys the instance and unloads the plug-in
  Session(const Session &) = delete;
  Session &operator=(const Session &) = delete;

  // The bundle folder the plug-in was loaded from.
  std::string bundle() const;

  // The parameters the plug-in declared.
  const std::vector<ParamInfo> &params() const { return params_; }
  // Sets a parameter, checked by parseSetting beforehand.
  void set(const Setting &setting);
  // Parses and sets each "NAME=VALUE"; false with *error at the first bad
  // one (those before it stay set).
  bool setAll(const std::vector<std::string> &texts, std::string *error);
  // Puts every parameter back to its declared default.
  void resetParams();

  // Renders `frame` through the plug-in at `time` with the whole frame as
  // the render window and replaces its pixels by the output. False with
  // *error naming the status when the plug-in reports a failure. The
  // image bounds are the frame's. One render at a time per session.
  bool render(Frame &frame, double time, std::string *error);

private:
  Session() = default;
  std::unique_ptr<ofxhost::Module> module_; // outlives the host's objects
  std::unique_ptr<ofxhost::Host> host_;
  OfxPlugin *plugin_ = nullptr;
  ofxhost::Effect *instance_ = nullptr;
  std::vector<ParamInfo> params_;
  // The clips' images, kept from one render to the next of the same
  // bounds and depth.
  std::shared_ptr<ofxhost::Image> source_, output_;
};

} // namespace vantorel
