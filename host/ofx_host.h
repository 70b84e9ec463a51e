// A small OpenFX host: loads a plug-in bundle, hands it the property,
// image-effect and parameter suites and sends it the actions a host sends.
// The command-line tool and the benchmark use it as it is; the tests and the
// fuzz targets use the TestHost of ofx_host_testing.h (target
// ofxhost_testing), which also logs every suite call and can be told to
// misbehave the ways real hosts do.
#pragma once

#include "ofx_abi.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

namespace ofxhost {

class Host;
class TestHost;
struct TestImageSpec;
namespace detail {
class Logged;
}

// ---------------------------------------------------------------- modules

// A loaded plug-in binary and its two exported functions.
class Module {
public:
  // Loads NAME.ofx from a bundle folder (".../NAME.ofx.bundle"), or a binary
  // path ending in ".ofx". Returns null and fills `error` on failure.
  static std::unique_ptr<Module> load(const std::string &bundleOrBinary,
                                      std::string *error = nullptr);
  // Searches the folders of OFX_PLUGIN_PATH (separated by ':', on Windows
  // by ';'), then the platform's standard plug-in folder, each recursively,
  // for the first bundle named `bundleName` (e.g. "QvoVantorel.ofx.bundle")
  // that holds a binary for this platform.
  static std::unique_ptr<Module> find(const std::string &bundleName,
                                      std::string *error = nullptr);
  // The binary inside a bundle for this platform.
  static std::string binaryPathOf(const std::string &bundlePath);
  // The standard's architecture folder name for this build ("Linux-x86-64").
  static const char *architectureFolder();

  ~Module();
  Module(const Module &) = delete;
  Module &operator=(const Module &) = delete;

  int numberOfPlugins() const;
  OfxPlugin *plugin(int nth) const;
  // Another function the module exports, or null.
  void *symbol(const char *name) const;
  const std::string &path() const { return path_; }

private:
  Module() = default;
  void *library_ = nullptr;
  std::string path_;
  int (*getNumber_)() = nullptr;
  OfxPlugin *(*getPlugin_)(int) = nullptr;
};

// ---------------------------------------------------------------- properties

enum class PropType { Pointer, String, Double, Int };

struct Property {
  PropType type = PropType::Int;
  std::vector<std::variant<void *, std::string, double, int>> values;
};

// Every object a handle can point at is an Object, entered in a registry
// of live objects for its lifetime. A suite looks a handle up there before
// it reads anything through it, so the handle of an object already
// destroyed, or of another kind, or pointing anywhere else, is told apart
// without touching memory the host does not own. (A handle whose address
// has since been reused by a new object of the same kind names that new
// object.)
struct Object {
  enum class Kind : std::uint32_t {
    PropertySet = 0x50524f50,
    Effect = 0x45464654,
    Clip = 0x434c4950,
    ParamSet = 0x50534554,
    Param = 0x50415241,
    ImageMemory = 0x4d454d4f,
  };
  Object(Kind k, Host *h, std::string l);
  ~Object();
  Object(const Object &) = delete;
  Object &operator=(const Object &) = delete;
  // The live object of kind `kind` at `handle`, else null.
  static Object *live(const void *handle, Kind kind);
  const Kind kind;
  Host *host;
  std::string label; // names the object, e.g. "clip:Source" in a call log
};

class Image;

class PropertySet : public Object {
public:
  PropertySet(Host *host, std::string label)
      : Object(Kind::PropertySet, host, std::move(label)) {}

  void setInt(const std::string &name, std::vector<int> values);
  void setDouble(const std::string &name, std::vector<double> values);
  void setString(const std::string &name, std::vector<std::string> values);
  void setPointer(const std::string &name, std::vector<void *> values);
  void erase(const std::string &name);
  // Replaces every property with a copy of `other`'s (the label stays).
  void copyFrom(const PropertySet &other);

  bool has(const std::string &name) const;
  const Property *find(const std::string &name) const;
  int dimension(const std::string &name) const; // 0 when absent
  int getInt(const std::string &name, int index = 0) const;
  double getDouble(const std::string &name, int index = 0) const;
  std::string getString(const std::string &name, int index = 0) const;
  void *getPointer(const std::string &name, int index = 0) const;
  // Names in the order they were first set.
  const std::vector<std::string> &names() const { return order_; }

  OfxPropertySetHandle handle() {
    return reinterpret_cast<OfxPropertySetHandle>(this);
  }
  static PropertySet *from(OfxPropertySetHandle h); // null unless valid

  Image *image = nullptr; // set when this is an image's property set

private:
  friend struct PropertySuiteImpl;
  std::map<std::string, Property> props_;
  std::vector<std::string> order_;
};

// ---------------------------------------------------------------- images

enum class Depth { Byte, Float };

// How an image's rows are laid out in memory.
struct ImageSpec {
  Depth depth = Depth::Byte;
  OfxRectI bounds{0, 0, 0, 0};
  // Bytes from one row to the next higher row; 0 means pixel size x width.
  // Negative for rows stored top-down (the data address is still row y1).
  long long rowBytes = 0;
  bool topDown = false; // negate the default stride
};

class Image {
public:
  // An image on the heap, its memory zeroed, described in its property set
  // under the standard's names.
  Image(Host *host, const ImageSpec &spec, std::string label);
  // An image laid out and described as a test asks (ofx_host_testing.h).
  Image(Host *host, const TestImageSpec &spec, std::string label);
  ~Image();
  Image(const Image &) = delete;
  Image &operator=(const Image &) = delete;

  const ImageSpec &spec() const { return spec_; }
  // Negative for inverted bounds; 64-bit, as any two ints may be bounds.
  long long width() const {
    return static_cast<long long>(spec_.bounds.x2) - spec_.bounds.x1;
  }
  long long height() const {
    return static_cast<long long>(spec_.bounds.y2) - spec_.bounds.y1;
  }
  int pixelBytes() const { return spec_.depth == Depth::Float ? 16 : 4; }
  long long rowBytes() const { return rowBytes_; }
  // Address of row y1, as handed to the plug-in (null when a test image
  // withholds it).
  void *data() const { return data_; }
  // Pixel accessors in host coordinates; no bounds check beyond assert.
  std::uint8_t *byteAt(int x, int y) const;
  float *floatAt(int x, int y) const;
  // The whole buffer, including any padding, for "nothing else changed".
  const std::uint8_t *buffer() const { return buffer_; }
  std::size_t bufferSize() const { return bufferSize_; }
  // Bytes from the lowest to the highest byte the rows cover, for a
  // stride of `rowBytes` (0 when the bounds hold no pixel).
  static std::size_t spanOf(const ImageSpec &spec, long long rowBytes);

  PropertySet &props() { return props_; }
  int fetches() const { return fetches_.load(); }
  int releases() const { return releases_.load(); }

private:
  friend struct ImageEffectSuiteImpl;
  void allocateOnHeap(long long size);
  void allocateGuarded(std::size_t span, bool againstStart);
  void describeInProperties(const TestImageSpec &spec);
  ImageSpec spec_;
  long long rowBytes_ = 0;
  std::uint8_t *buffer_ = nullptr;
  std::size_t bufferSize_ = 0;
  void *mapping_ = nullptr; // a guarded mapping, guard pages included
  std::size_t mappingSize_ = 0;
  std::uint8_t *data_ = nullptr;
  std::uint8_t *row0_ = nullptr; // row y1 even when data_ is withheld
  PropertySet props_;
  std::atomic<int> fetches_{0};
  std::atomic<int> releases_{0};
};

// ---------------------------------------------------------------- effects

class Effect;

class Clip : public Object {
public:
  Clip(Host *host, Effect *effect, std::string name);
  const std::string name;
  PropertySet props;
  // The image clipGetImage hands out (instances only); null gives none.
  std::shared_ptr<Image> image;
  OfxImageClipHandle handle() {
    return reinterpret_cast<OfxImageClipHandle>(this);
  }
  static Clip *from(OfxImageClipHandle h);
  Effect *effect;
};

class Param : public Object {
public:
  Param(Host *host, std::string type, std::string name);
  const std::string type; // "OfxParamTypeBoolean", ...
  const std::string name;
  PropertySet props;
  // The current value: an int for booleans and integers, a double for
  // doubles. Instances start from the descriptor's "OfxParamPropDefault".
  int intValue = 0;
  double doubleValue = 0.0;
  OfxParamHandle handle() { return reinterpret_cast<OfxParamHandle>(this); }
  static Param *from(OfxParamHandle h);
};

class ParamSet : public Object {
public:
  ParamSet(Host *host, std::string label);
  PropertySet props;
  std::vector<std::unique_ptr<Param>> params; // in order of definition
  Param *find(const std::string &name) const;
  OfxParamSetHandle handle() {
    return reinterpret_cast<OfxParamSetHandle>(this);
  }
  static ParamSet *from(OfxParamSetHandle h);
};

// An effect descriptor (per context) or an effect instance.
class Effect : public Object {
public:
  Effect(Host *host, std::string label, bool isInstance);
  const bool isInstance;
  PropertySet props;
  ParamSet params;
  std::vector<std::unique_ptr<Clip>> clips; // in order of definition
  Clip *clip(const std::string &name) const;
  Param *param(const std::string &name) const { return params.find(name); }
  OfxImageEffectHandle handle() {
    return reinterpret_cast<OfxImageEffectHandle>(this);
  }
  static Effect *from(OfxImageEffectHandle h);
};

// True for property names the OpenFX standard defines.
bool isStandardPropertyName(const std::string &name);

// Standard name of a status, e.g. "kOfxStatFailed"; "status N" otherwise.
std::string statusName(OfxStatus status);

// ---------------------------------------------------------------- the host

class Host {
public:
  Host();
  virtual ~Host();
  Host(const Host &) = delete;
  Host &operator=(const Host &) = delete;

  PropertySet props; // the host's own property set

  // The OfxHost record handed to setHost. A module that passes variadic
  // arguments on the stack (a macOS module for arm64) gets one whose suites
  // take them so.
  OfxHost *ofxHost(bool variadicsOnStack = false);
  // What the record's fetchSuite answers: the suite of that name, version 1
  // only, else null.
  const void *fetchSuite(const char *name, int version,
                         bool variadicsOnStack = false);

  // Calls plugin->setHost with the ofxHost() for the plug-in's module.
  void bind(OfxPlugin *plugin);
  // Sends an action through plugin->mainEntry.
  OfxStatus action(OfxPlugin *plugin, const char *name, const void *handle,
                   OfxPropertySetHandle inArgs = nullptr,
                   OfxPropertySetHandle outArgs = nullptr);

  // OfxActionDescribe on a fresh descriptor; the result's status in *status.
  Effect *describe(OfxPlugin *plugin, OfxStatus *status = nullptr);
  // OfxImageEffectActionDescribeInContext on a fresh per-context descriptor
  // carrying the effect-level properties of `describe`.
  Effect *describeInContext(OfxPlugin *plugin, const std::string &context,
                            OfxStatus *status = nullptr);
  // An instance built from a context descriptor: its clips and parameters,
  // each parameter holding the descriptor's default. Sends
  // OfxActionCreateInstance.
  Effect *createInstance(OfxPlugin *plugin, Effect *descriptor,
                         OfxStatus *status = nullptr);

  // Attaches a new image to an instance's clip and returns it. Throws
  // std::invalid_argument when the instance has no clip of that name.
  std::shared_ptr<Image> attachImage(Effect *instance, const std::string &clip,
                                     const ImageSpec &spec);

  struct RenderArgs {
    OfxTime time = 0.0;
    OfxRectI window{0, 0, 0, 0};
    bool sendTime = true;   // put "OfxPropTime" in inArgs
    bool sendWindow = true; // put "OfxImageEffectPropRenderWindow" in inArgs
  };
  // Sends OfxImageEffectActionRender with inArgs built from `args`.
  OfxStatus render(OfxPlugin *plugin, Effect *instance, const RenderArgs &args);

  // Sets a parameter value on an instance (int for booleans, double).
  void setParam(Effect *instance, const std::string &name, double value);

protected:
  // Makes a new image built from `spec` the image of the instance's clip
  // named `clip`; throws as attachImage does.
  template <typename Spec>
  std::shared_ptr<Image> attachNew(Effect *instance, const std::string &clip,
                                   const Spec &spec) {
    Clip &named = clipNamed(instance, clip);
    named.image = std::make_shared<Image>(this, spec, "image:" + clip);
    return named.image;
  }
  // The instance's clip of that name; throws std::invalid_argument when it
  // has none.
  static Clip &clipNamed(Effect *instance, const std::string &clip);

private:
  friend class TestHost;
  friend class detail::Logged;
  // This host as a TestHost, when it is one: its faults and call log are
  // what the suites consult. Null for a plain host, whose suites log
  // nothing and misbehave in no way.
  TestHost *testHost_ = nullptr;
  OfxHost ofxHost_{}, stackVariadicsHost_{};
  std::mutex effectsMutex_; // guards effects_ and described_
  std::vector<std::unique_ptr<Effect>> effects_;
  // The latest describe() result per plug-in, copied by describeInContext.
  std::map<const OfxPlugin *, Effect *> described_;
};

// The suites this host hands out (also reachable through fetchSuite).
const OfxPropertySuiteV1 *propertySuite();
const OfxImageEffectSuiteV1 *imageEffectSuite();
const OfxParameterSuiteV1 *parameterSuite();

} // namespace ofxhost
