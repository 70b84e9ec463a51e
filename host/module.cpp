// Loading plug-in binaries.
#include "ofx_host.h"
#include "platform.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace ofxhost {

namespace {

const char kBundleSuffix[] = ".ofx.bundle";

bool endsWith(const std::string &s, const std::string &suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void fail(std::string *error, const std::string &message) {
  if (error)
    *error = message;
}

} // namespace

const char *Module::architectureFolder() { return VANTOREL_OFX_ARCH; }

std::string Module::binaryPathOf(const std::string &bundlePath) {
  std::string bundle = bundlePath;
  while (bundle.size() > 1 && (bundle.back() == '/' ||
                               bundle.back() == fs::path::preferred_separator))
    bundle.pop_back();
  std::string name = fs::path(bundle).filename().string();
  if (endsWith(name, kBundleSuffix))
    name.resize(name.size() - (sizeof kBundleSuffix - 1));
  return (fs::path(bundle) / "Contents" / architectureFolder() /
          (name + ".ofx"))
      .string();
}

std::unique_ptr<Module> Module::load(const std::string &bundleOrBinary,
                                     std::string *error) {
  std::error_code ec;
  const std::string binary = endsWith(bundleOrBinary, ".ofx") &&
                                     fs::is_regular_file(bundleOrBinary, ec)
                                 ? bundleOrBinary
                                 : binaryPathOf(bundleOrBinary);
  if (!fs::exists(binary, ec)) {
    fail(error, "no plug-in binary at " + binary);
    return nullptr;
  }
  std::string why;
  void *library = platform::openLibrary(binary, &why);
  if (!library) {
    fail(error, "cannot load " + binary + ": " + why);
    return nullptr;
  }
  std::unique_ptr<Module> module(new Module);
  module->library_ = library;
  module->path_ = binary;
  module->getNumber_ = reinterpret_cast<int (*)()>(
      platform::librarySymbol(library, "OfxGetNumberOfPlugins"));
  module->getPlugin_ = reinterpret_cast<OfxPlugin *(*)(int)>(
      platform::librarySymbol(library, "OfxGetPlugin"));
  if (!module->getNumber_ || !module->getPlugin_) {
    fail(error, binary + " does not export OfxGetNumberOfPlugins and "
                         "OfxGetPlugin");
    return nullptr;
  }
  return module;
}

// Whether `path` is a bundle named `bundleName` with a binary for this
// platform (a bundle built for other platforms only is passed over).
static bool isUsableBundle(const fs::path &path,
                           const std::string &bundleName) {
  std::error_code ec;
  return path.filename() == bundleName &&
         fs::is_regular_file(Module::binaryPathOf(path.string()), ec);
}

// The first usable bundle named `bundleName` in `root` or below it, else
// empty.
static fs::path findBundleIn(const fs::path &root,
                             const std::string &bundleName) {
  std::error_code ec;
  if (isUsableBundle(root, bundleName))
    return root;
  fs::recursive_directory_iterator it(
      root, fs::directory_options::skip_permission_denied, ec);
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_directory(ec))
      continue;
    if (isUsableBundle(it->path(), bundleName))
      return it->path();
    if (endsWith(it->path().filename().string(), kBundleSuffix))
      it.disable_recursion_pending();
  }
  return {};
}

std::unique_ptr<Module> Module::find(const std::string &bundleName,
                                     std::string *error) {
  const char *env = std::getenv("OFX_PLUGIN_PATH");
  const std::string path = env ? env : "";
  std::vector<fs::path> folders;
  std::string::size_type start = 0;
  while (start <= path.size()) {
    std::string::size_type end = path.find(platform::kPathListSeparator, start);
    if (end == std::string::npos)
      end = path.size();
    if (end > start)
      folders.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  folders.emplace_back(platform::standardPluginFolder());
  for (const fs::path &folder : folders) {
    const fs::path bundle = findBundleIn(folder, bundleName);
    if (!bundle.empty())
      return load(bundle.string(), error);
  }
  fail(error, "no " + bundleName + " with a " + architectureFolder() +
                  " binary in the folders of OFX_PLUGIN_PATH (" +
                  (env ? "'" + path + "'" : std::string("not set")) +
                  ") or in " + platform::standardPluginFolder());
  return nullptr;
}

Module::~Module() {
  if (library_)
    platform::closeLibrary(library_);
}

int Module::numberOfPlugins() const { return getNumber_(); }

void *Module::symbol(const char *name) const {
  return platform::librarySymbol(library_, name);
}

OfxPlugin *Module::plugin(int nth) const { return getPlugin_(nth); }

} // namespace ofxhost
