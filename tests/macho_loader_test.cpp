// The host library's Mach-O loader on small bundles of the project's own
// (tests/macho_bundle.c, built for both macOS processors): what a loaded
// bundle can do, the host's variadic suite entries as the bundle's
// convention calls them, and every way a file is refused, each with its
// message. The running processor's slice is loaded (x86_64 natively,
// arm64 under QEMU); code signatures are checked for either.
#include "macho_loader.h"
#include "ofx_host.h"
#include "ofx_host_testing.h"
#include "platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfenv>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace macho = ofxhost::macho;
using Bytes = std::vector<std::uint8_t>;

const bool kRunsArm64 = macho::kRunningCpu == macho::kCpuArm64;
const std::string kArch = kRunsArm64 ? "arm64" : "x86_64";
const std::string kOtherArch = kRunsArm64 ? "x86_64" : "arm64";

std::string bundlePath(const std::string &name) {
  return std::string(VANTOREL_MACHO_TEST_BUNDLES) + "/" + name + ".ofx";
}

Bytes readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << path;
  return Bytes(std::istreambuf_iterator<char>(in),
               std::istreambuf_iterator<char>());
}

std::uint32_t le32(const Bytes &b, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, b.data() + at, sizeof v);
  return v;
}

void putLe32(Bytes &b, std::size_t at, std::uint32_t v) {
  std::memcpy(b.data() + at, &v, sizeof v);
}

// Where load command `cmd` starts in a thin file, or 0.
std::size_t commandAt(const Bytes &b, std::uint32_t cmd) {
  std::size_t at = 32;
  for (std::uint32_t i = 0; i < le32(b, 16); ++i) {
    if (le32(b, at) == cmd)
      return at;
    at += le32(b, at + 4);
  }
  return 0;
}

constexpr std::uint32_t kCodeSignatureCommand = 0x1d;
constexpr std::uint32_t kDyldInfoOnlyCommand = 0x80000022;

std::string loadError(const Bytes &file) {
  std::string error;
  macho::Image *image = macho::load(file, &error);
  if (image) {
    macho::unload(image);
    return "loaded";
  }
  return error;
}

// A library opened through the platform layer, closed at the end.
class Opened {
public:
  explicit Opened(const std::string &path)
      : library_(ofxhost::platform::openLibrary(path, &error_)) {}
  ~Opened() { close(); }
  Opened(const Opened &) = delete;
  Opened &operator=(const Opened &) = delete;
  void close() {
    if (library_)
      ofxhost::platform::closeLibrary(library_);
    library_ = nullptr;
  }
  explicit operator bool() const { return library_ != nullptr; }
  const std::string &error() const { return error_; }
  template <typename F> F function(const char *name) const {
    return reinterpret_cast<F>(
        ofxhost::platform::librarySymbol(library_, name));
  }

private:
  std::string error_;
  void *library_;
};

class MachOBundle : public ::testing::TestWithParam<std::string> {};

// The thin file of this processor and the universal one of both.
INSTANTIATE_TEST_SUITE_P(ThinAndUniversal, MachOBundle,
                         ::testing::Values("plain-" + kArch, "universal"));

TEST_P(MachOBundle, RunsWithItsPointersImportsAndInitialiser) {
  Opened bundle(bundlePath(GetParam()));
  ASSERT_TRUE(bundle) << bundle.error();

  using Word = const char *(*)(int);
  EXPECT_STREQ(bundle.function<Word>("word")(0), "rebased");
  EXPECT_STREQ(bundle.function<Word>("word")(1), "pointers");
  EXPECT_EQ(bundle.function<int (*)()>("startedWith")(), 7);

  using Compare = int (*)(const char *, const char *);
  EXPECT_LT(bundle.function<Compare>("compare")("abc", "abd"), 0);
  EXPECT_EQ(bundle.function<Compare>("compare")("abc", "abc"), 0);
  using Find = const char *(*)(const char *, const char *);
  const char text[] = "find the needle here";
  EXPECT_EQ(bundle.function<Find>("find")(text, "needle"), text + 9);
  EXPECT_EQ(bundle.function<Find>("find")(text, "pin"), nullptr);

  using Copy = void (*)(void *, const void *, std::size_t);
  char buffer[16] = "0123456789";
  bundle.function<Copy>("copy")(buffer + 11, "xyz", 4);
  EXPECT_STREQ(buffer + 11, "xyz");
  bundle.function<Copy>("move")(buffer + 2, buffer, 8);
  EXPECT_EQ(std::string(buffer, 10), "0101234567");

  const std::uint8_t pattern[16] = {1, 2,  3,  4,  5,  6,  7,  8,
                                    9, 10, 11, 12, 13, 14, 15, 16};
  for (std::size_t size : {0, 5, 16, 37}) {
    std::vector<std::uint8_t> filled(size + 1, 0xee);
    bundle.function<Copy>("fillWithPattern")(filled.data(), pattern, size);
    for (std::size_t i = 0; i < size; ++i)
      EXPECT_EQ(filled[i], pattern[i % 16]) << size << " bytes, byte " << i;
    EXPECT_EQ(filled[size], 0xee) << size << " bytes";
  }

  // The rounding modes are the same numbers on macOS as here, and the
  // bundle reads this process's.
  int modes[4] = {};
  bundle.function<void (*)(int *)>("roundingModes")(modes);
  EXPECT_EQ(modes[0], FE_TONEAREST);
  EXPECT_EQ(modes[1], FE_DOWNWARD);
  EXPECT_EQ(modes[2], FE_UPWARD);
  EXPECT_EQ(modes[3], FE_TOWARDZERO);
  const auto rounding = bundle.function<int (*)()>("rounding");
  EXPECT_EQ(rounding(), FE_TONEAREST);
  std::fesetround(FE_UPWARD);
  EXPECT_EQ(rounding(), FE_UPWARD);
  std::fesetround(FE_TONEAREST);

  EXPECT_EQ(bundle.function<void *>("OfxGetPlugi"), nullptr);
  EXPECT_EQ(bundle.function<void *>("OfxGetPluginX"), nullptr);
  EXPECT_EQ(bundle.function<void *>("start"), nullptr); // not exported

  // The host library finds the bundle's range and convention by address.
  const void *code = bundle.function<void *>("word");
  std::uintptr_t from = 0, to = 0;
  ASSERT_TRUE(ofxhost::platform::ownLoaderModuleRange(code, &from, &to));
  EXPECT_LE(from, reinterpret_cast<std::uintptr_t>(code));
  EXPECT_GT(to, reinterpret_cast<std::uintptr_t>(code));
  EXPECT_EQ(ofxhost::platform::passesVariadicsOnStack(code), kRunsArm64);

  int stopped = 0;
  bundle.function<void (*)(int *)>("noteStopIn")(&stopped);
  bundle.close();
  EXPECT_EQ(stopped, 1) << "the terminator did not run";
  EXPECT_FALSE(ofxhost::platform::ownLoaderModuleRange(code, &from, &to));
}

// Every variadic member of the parameter suite, called by the bundle: the
// host answers through the arguments it passed, so the values and the
// times in the call log show that each arrived, and the decoys in the
// registers where this system's convention passes variadic arguments stay
// untouched.
TEST(MachOLoader, TheParameterSuiteTakesTheBundlesVariadicArguments) {
  std::string error;
  auto module = ofxhost::Module::load(bundlePath("plain-" + kArch), &error);
  ASSERT_TRUE(module) << error;
  ofxhost::TestHost host;
  host.bind(module->plugin(0));
  ofxhost::Param count(&host, "OfxParamTypeInteger", "Count");
  ofxhost::Param gain(&host, "OfxParamTypeDouble", "Gain");
  count.intValue = 42;
  gain.doubleValue = 2.5;
  const auto fn = [&](const char *name) { return module->symbol(name); };
  const auto last = [&] {
    const auto calls = host.calls();
    const ofxhost::Call &c = calls.back();
    return c.fn + " " + c.name + " " + std::to_string(c.index) + " " + c.value +
           " " + std::to_string(c.status);
  };

  int i = 0, intDecoy = -1;
  double d = 0, decoy = -1;
  using GetInt = OfxStatus (*)(OfxParamHandle, int *, int *);
  EXPECT_EQ(
      reinterpret_cast<GetInt>(fn("getInt"))(count.handle(), &intDecoy, &i),
      kOfxStatOK);
  EXPECT_EQ(i, 42);
  EXPECT_EQ(last(), "paramGetValue Count 0 42 0");

  using GetDouble = OfxStatus (*)(OfxParamHandle, double *, double *);
  EXPECT_EQ(
      reinterpret_cast<GetDouble>(fn("getDouble"))(gain.handle(), &decoy, &d),
      kOfxStatOK);
  EXPECT_EQ(d, 2.5);
  EXPECT_EQ(last(), "paramGetValue Gain 0 2.5 0");

  using GetAt = OfxStatus (*)(OfxParamHandle, OfxTime, double *, double *);
  d = 0;
  EXPECT_EQ(
      reinterpret_cast<GetAt>(fn("getAtTime"))(gain.handle(), 3.75, &decoy, &d),
      kOfxStatOK);
  EXPECT_EQ(d, 2.5);
  EXPECT_EQ(last(), "paramGetValueAtTime Gain 3 2.5 0");

  d = 1;
  EXPECT_EQ(reinterpret_cast<GetAt>(fn("getDerivative"))(gain.handle(), 8.0,
                                                         &decoy, &d),
            kOfxStatOK);
  EXPECT_EQ(d, 0.0);
  EXPECT_EQ(last(), "paramGetDerivative Gain 8 0 0");

  using GetIntegral =
      OfxStatus (*)(OfxParamHandle, OfxTime, OfxTime, double *, double *);
  EXPECT_EQ(reinterpret_cast<GetIntegral>(fn("getIntegral"))(gain.handle(), 1.0,
                                                             5.0, &decoy, &d),
            kOfxStatOK);
  EXPECT_EQ(d, 10.0);
  EXPECT_EQ(last(), "paramGetIntegral Gain 1 10 0");
  EXPECT_EQ(intDecoy, -1);
  EXPECT_EQ(decoy, -1);

  using SetInt = OfxStatus (*)(OfxParamHandle, int, int);
  EXPECT_EQ(reinterpret_cast<SetInt>(fn("setInt"))(count.handle(), 5, -7),
            kOfxStatOK);
  EXPECT_EQ(count.intValue, -7);
  EXPECT_EQ(last(), "paramSetValue Count 0 -7 0");

  using SetDouble = OfxStatus (*)(OfxParamHandle, double, double);
  EXPECT_EQ(
      reinterpret_cast<SetDouble>(fn("setDouble"))(gain.handle(), 0.5, 0.125),
      kOfxStatOK);
  EXPECT_EQ(gain.doubleValue, 0.125);
  EXPECT_EQ(last(), "paramSetValue Gain 0 0.125 0");

  using SetIntAt = OfxStatus (*)(OfxParamHandle, OfxTime, int, int);
  EXPECT_EQ(reinterpret_cast<SetIntAt>(fn("setIntAtTime"))(count.handle(), 9.5,
                                                           5, 1234567),
            kOfxStatOK);
  EXPECT_EQ(count.intValue, 1234567);
  EXPECT_EQ(last(), "paramSetValueAtTime Count 9 1234567 0");

  // A null out-pointer arrives as null.
  EXPECT_EQ(reinterpret_cast<GetInt>(fn("getInt"))(count.handle(), &intDecoy,
                                                   nullptr),
            kOfxStatErrValue);
  EXPECT_EQ(intDecoy, -1);
}

struct Refusal {
  const char *what;
  std::function<Bytes()> file;
  std::string message; // a part of the error
};

// The running processor's thin bundle, changed by `change`.
std::function<Bytes()> changed(std::function<void(Bytes &)> change) {
  return [change] {
    Bytes b = readFile(bundlePath("plain-" + kArch));
    change(b);
    return b;
  };
}

std::function<Bytes()> file(const std::string &name) {
  return [name] { return readFile(bundlePath(name)); };
}

void replaceText(Bytes &b, const std::string &from, const std::string &to) {
  const auto at =
      std::search(b.begin(), b.end(), from.begin(), from.end()) - b.begin();
  ASSERT_LT(static_cast<std::size_t>(at), b.size()) << from;
  std::copy(to.begin(), to.end(), b.begin() + at);
}

TEST(MachOLoader, RefusesWhatItCannotLoadAndSaysWhy) {
  const Refusal refusals[] = {
      {"bad magic", changed([](Bytes &b) { b[0] ^= 0xff; }),
       "not a Mach-O file (magic "},
      {"an executable", changed([](Bytes &b) { putLe32(b, 12, 2); }),
       "not a bundle (Mach-O file type 2)"},
      {"the other processor's file", file("plain-" + kOtherArch),
       "a Mach-O file for " + kOtherArch + ", not for " + kArch},
      {"a universal file without this processor",
       file("universal-" + kOtherArch),
       "a universal file without a " + kArch + " slice (it holds " +
           kOtherArch + ")"},
      {"a universal file cut in its slice table",
       [] {
         Bytes b = readFile(bundlePath("universal"));
         b.resize(30);
         return b;
       },
       "slice table is truncated"},
      {"a header cut short", changed([](Bytes &b) { b.resize(20); }),
       "too short for a Mach-O header"},
      {"load commands cut short", changed([](Bytes &b) { b.resize(200); }),
       "the load commands run past the end of the file"},
      {"the last byte missing",
       changed([](Bytes &b) { b.resize(b.size() - 1); }),
       "runs past the end of the file"},
      {"a load command of impossible size",
       changed([](Bytes &b) { putLe32(b, 36, 3); }), "has a bad size (3)"},
      {"an import no library provides", file("unknown-import-" + kArch),
       "imports _vantorelNoSuchFunction, which this loader does not provide"},
      {"another library", changed([](Bytes &b) {
         replaceText(b, "/usr/lib/libSystem.B.dylib",
                     "/usr/lib/libOthers.B.dylib");
       }),
       "links /usr/lib/libOthers.B.dylib"},
      {"chained fix-ups", changed([](Bytes &b) {
         putLe32(b, commandAt(b, kDyldInfoOnlyCommand), 0x80000034);
       }),
       "chained fix-ups"},
  };
  for (const Refusal &r : refusals) {
    const std::string error = loadError(r.file());
    EXPECT_NE(error.find(r.message), std::string::npos)
        << r.what << ": " << error;
  }
}

// The pages of the arm64 bundle lie in its file one after another from
// its start; a byte changed anywhere before the signature breaks the hash
// of its page and no other.
TEST(MachOLoader, ChecksEveryPageOfTheArm64CodeSignature) {
  const Bytes signed_ = readFile(bundlePath("plain-arm64"));
  std::string error;
  EXPECT_TRUE(macho::checkSlice(signed_.data(), signed_.size(), &error))
      << error;
  const std::size_t command = commandAt(signed_, kCodeSignatureCommand);
  ASSERT_NE(command, 0u);
  const std::uint32_t signature = le32(signed_, command + 8);
  const std::size_t page = 4096;
  const std::size_t end = signature;
  for (std::size_t at : {page + 17, end / 2, end - 1}) {
    Bytes tampered = signed_;
    tampered[at] ^= 0x01;
    EXPECT_FALSE(macho::checkSlice(tampered.data(), tampered.size(), &error));
    EXPECT_NE(
        error.find("does not match page " + std::to_string(at / page) + " "),
        std::string::npos)
        << "byte " << at << ": " << error;
  }
  Bytes unsigned_ = signed_;
  putLe32(unsigned_, command + 12, 0);
  EXPECT_FALSE(macho::checkSlice(unsigned_.data(), unsigned_.size(), &error));
  EXPECT_NE(error.find("not signed"), std::string::npos) << error;
  // x86_64 code needs no signature.
  const Bytes intel = readFile(bundlePath("plain-x86_64"));
  EXPECT_TRUE(macho::checkSlice(intel.data(), intel.size(), &error)) << error;
}

// The loader binds exactly what the modules' libSystem stub lists, so
// anything a module can link it can load.
TEST(MachOLoader, BindsExactlyTheSymbolsTheStubLists) {
  std::ifstream in(VANTOREL_LIBSYSTEM_STUB);
  std::stringstream text;
  text << in.rdbuf();
  const std::string stub = text.str();
  const std::size_t from = stub.find("symbols:");
  ASSERT_NE(from, std::string::npos);
  std::string list = stub.substr(stub.find('[', from) + 1);
  list = list.substr(0, list.find(']'));
  std::vector<std::string> listed;
  std::istringstream words(list);
  for (std::string w; words >> w;) {
    if (w.back() == ',')
      w.pop_back();
    listed.push_back(w);
  }
  std::vector<std::string> bound = macho::bindableImports();
  std::sort(listed.begin(), listed.end());
  std::sort(bound.begin(), bound.end());
  EXPECT_EQ(listed, bound);
}

// The platform layer sends a Mach-O file to this loader and anything else
// to the system's.
TEST(MachOLoader, ThePlatformLayerSendsMachOFilesHere) {
  Opened other(bundlePath("plain-" + kOtherArch));
  EXPECT_FALSE(other);
  EXPECT_EQ(other.error().rfind("Mach-O module: a Mach-O file for", 0), 0u)
      << other.error();
  Opened notMachO(VANTOREL_LIBSYSTEM_STUB);
  EXPECT_FALSE(notMachO);
  EXPECT_EQ(notMachO.error().find("Mach-O"), std::string::npos)
      << notMachO.error();
}

} // namespace
