// Helpers for the tests of the vantorel tool: running the built executable,
// writing and reading small image files, and a fresh folder per test.
#pragma once

#include "frame.h"

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace toolfixture {

namespace fs = std::filesystem;
using OIIO::TypeDesc;
using vantorel::Depth;
using vantorel::Frame;

inline std::uint32_t bitsOf(float f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

struct ToolRun {
  int exitCode = -1;  // -1 when a signal ended it
  int signal = 0;     // the signal that ended it, else 0
  std::string output; // standard output and standard error together
};

// Runs a shell command, standard error with standard output.
inline ToolRun runCommand(const std::string &command) {
  ToolRun run;
  std::FILE *pipe = popen((command + " 2>&1 </dev/null").c_str(), "r");
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
    run.output.append(buffer, n);
  const int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  // The shell reports a child's death by signal N as status 128 + N.
  run.signal = WIFSIGNALED(status)  ? WTERMSIG(status)
               : run.exitCode > 128 ? run.exitCode - 128
                                    : 0;
  return run;
}

// The words of a command line, each quoted for the shell (none may hold a
// single quote).
inline std::string quoted(const std::vector<std::string> &words) {
  std::string line;
  for (const std::string &word : words)
    line += " '" + word + "'";
  return line;
}

// Runs the built tool with `args`, after the shell words in `prefix` (e.g.
// "ulimit -v 4000000;"). The tool finds the build's bundle through
// OFX_PLUGIN_PATH.
inline ToolRun runTool(const std::vector<std::string> &args,
                       const std::string &prefix = "") {
  return runCommand("export OFX_PLUGIN_PATH='" VANTOREL_TEST_BUNDLE "'; " +
                    prefix + " '" VANTOREL_TOOL "'" + quoted(args));
}

// Pixels of a file as stored, top row first, interleaved channels.
template <typename T> struct Pixels {
  int width = 0, height = 0, channels = 0;
  TypeDesc format;
  std::vector<T> values;
};

inline void writeFile(const std::string &path, int width, int height,
                      int channels, TypeDesc type, const void *data) {
  auto out = OIIO::ImageOutput::create(path);
  ASSERT_TRUE(out) << path;
  OIIO::ImageSpec spec(width, height, channels, type);
  spec.attribute("oiio:UnassociatedAlpha", 1);
  ASSERT_TRUE(out->open(path, spec)) << out->geterror();
  ASSERT_TRUE(out->write_image(type, data)) << out->geterror();
  ASSERT_TRUE(out->close());
}

template <typename T> Pixels<T> readFile(const std::string &path, TypeDesc as) {
  Pixels<T> pixels;
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = OIIO::ImageInput::open(path, &config);
  EXPECT_TRUE(in) << path << ": " << OIIO::geterror();
  if (!in)
    return pixels;
  const OIIO::ImageSpec &spec = in->spec();
  pixels.width = spec.width;
  pixels.height = spec.height;
  pixels.channels = spec.nchannels;
  pixels.format = spec.format;
  pixels.values.resize(static_cast<std::size_t>(spec.width) * spec.height *
                       spec.nchannels);
  EXPECT_TRUE(
      in->read_image(0, 0, 0, spec.nchannels, as, pixels.values.data()));
  return pixels;
}

inline std::string contentsOf(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// `args` followed by settings that switch every aid of the plug-in off.
inline std::vector<std::string> withAidsOff(std::vector<std::string> args) {
  for (const char *name :
       {"LegalizeLevels", "FalseColorMode", "ShowSkinTonePatches",
        "ShowSkinToneLine", "ShowMiddleGray", "GuideThirds", "GuideGolden",
        "GuideCrosshair", "Crop185", "Crop235", "Crop239"}) {
    args.push_back("--set");
    args.push_back(std::string(name) + "=off");
  }
  return args;
}

class ToolTest : public ::testing::Test {
protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    dir = fs::temp_directory_path() /
          ("vantorel-tool-test-" + std::to_string(getpid()) + "-" +
           std::to_string(counter++));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string path(const std::string &name) const {
    return (dir / name).string();
  }
  std::set<std::string> files() const {
    std::set<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir))
      names.insert(entry.path().filename().string());
    return names;
  }
  fs::path dir;
};

} // namespace toolfixture
