// The vantorel tool's files: failed writes (a full disk, a read-only or
// forbidden folder), signals while writing, sequences checked before the
// first frame and failing part-way, frame ranges of any size, pixel types,
// windows and attributes kept, and the messages around them.
#include "image_io.h"
#include "output_file.h"
#include "sequence.h"
#include "tool_fixture.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>

// Instrumented builds map far more memory than a cap on it allows.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TOOL_TEST_INSTRUMENTED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TOOL_TEST_INSTRUMENTED 1
#endif
#endif

namespace {

using namespace toolfixture;

// Pixels that no format compresses much: a fixed pseudo-random sequence,
// written as `type` from floats in 0..1.
void writeNoise(const std::string &path, int width, int height, int channels,
                TypeDesc type, unsigned seed = 1) {
  std::vector<float> values(static_cast<std::size_t>(width) * height *
                            channels);
  std::uint32_t state = seed * 2654435761u + 1;
  for (float &v : values) {
    state = state * 1664525u + 1013904223u;
    v = static_cast<float>(state >> 16) / 65535.0f;
  }
  std::vector<std::uint8_t> stored(values.size() * type.size());
  OIIO::convert_pixel_values(TypeDesc::FLOAT, values.data(), type,
                             stored.data(), static_cast<int>(values.size()));
  writeFile(path, width, height, channels, type, stored.data());
}

// Frames s.1 to s.4 of 8-bit noise, `size` square, in `folder`; frame 3
// cut to a `part`-th of its bytes, so that its header reads and its pixels
// end early.
void writeSequenceWithFrame3Cut(const fs::path &folder,
                                const std::string &extension, int size,
                                int channels, int part) {
  for (int frame = 1; frame <= 4; ++frame)
    writeNoise(
        (folder / ("s." + std::to_string(frame) + "." + extension)).string(),
        size, size, channels, TypeDesc::UINT8, frame);
  const std::string cut = (folder / ("s.3." + extension)).string();
  const std::string whole = contentsOf(cut);
  std::ofstream(cut, std::ios::binary | std::ios::trunc)
      << whole.substr(0, whole.size() / part);
}

// A small tmpfs mounted at `path` for as long as the object lives.
class Tmpfs {
public:
  Tmpfs(const fs::path &path, const std::string &options) : path_(path) {
    fs::create_directories(path);
    mounted_ = mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) == 0;
    if (!mounted_)
      error_ = std::strerror(errno);
  }
  ~Tmpfs() {
    if (mounted_)
      umount2(path_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  const std::string &error() const { return error_; }

private:
  fs::path path_;
  bool mounted_ = false;
  std::string error_;
};

#define MOUNT_OR_SKIP(tmpfs)                                                   \
  if (!(tmpfs).mounted())                                                      \
  GTEST_SKIP() << "cannot mount a tmpfs here (" << (tmpfs).error()             \
               << "); the test needs root"

// OpenImageIO's PNG reader leaves a string behind when libpng jumps out
// of a damaged file; LeakSanitizer would stop an instrumented tool for it.
const std::string kLibpngLeak =
    "ASAN_OPTIONS=\"${ASAN_OPTIONS:-}:detect_leaks=0\"";

std::set<std::string> namesIn(const fs::path &folder) {
  std::set<std::string> names;
  for (const auto &entry : fs::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  return names;
}

std::string header(const std::string &path, vantorel::ImageHeader *header) {
  std::string error;
  EXPECT_TRUE(vantorel::readHeader(path, header, &error)) << error;
  return error;
}

// ------------------------------------------------------------ full disk

TEST_F(ToolTest, FullDiskFailsEveryFormatAndLeavesTheOldFile) {
  Tmpfs disk(dir / "disk", "size=256k");
  MOUNT_OR_SKIP(disk);
  writeNoise(path("noise.png"), 700, 700, 4, TypeDesc::UINT8);
  for (const char *format :
       {"png", "bmp", "tga", "jpg", "exr", "tif", "dpx", "hdr", "sgi"}) {
    const std::string out = path(std::string("disk/out.") + format);
    std::ofstream(out) << "keep me";
    const ToolRun run = runTool({"render", path("noise.png"), out});
    EXPECT_EQ(run.exitCode, 1) << format << ": " << run.output;
    EXPECT_EQ(run.output, "vantorel: cannot write '" + out +
                              "': the disk is full (no space left on "
                              "device)\n")
        << format;
    EXPECT_TRUE(contentsOf(out) == "keep me") << format;
    EXPECT_EQ(namesIn(dir / "disk"),
              std::set<std::string>{fs::path(out).filename().string()})
        << format;
    fs::remove(out);
  }
}

TEST_F(ToolTest, FullDiskPartWayThroughASequenceNamesTheFramesWritten) {
  Tmpfs disk(dir / "disk", "size=400k");
  MOUNT_OR_SKIP(disk);
  for (int frame = 1; frame <= 4; ++frame)
    writeNoise(path("in." + std::to_string(frame) + ".png"), 200, 200, 4,
               TypeDesc::UINT8, frame);
  for (const char *jobs : {"1", "3"}) {
    const ToolRun run =
        runTool({"render", path("in.#.png"), path("disk/out.#.png"), "--frames",
                 "1-4", "--jobs", jobs});
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("cannot write '" + path("disk/out.3.png") +
                              "': the disk is full"),
              std::string::npos)
        << jobs << ": " << run.output;
    EXPECT_NE(run.output.find("frames 1-2 were written and are complete"),
              std::string::npos)
        << jobs << ": " << run.output;
    EXPECT_EQ(namesIn(dir / "disk"),
              (std::set<std::string>{"out.1.png", "out.2.png"}));
    for (const char *written : {"out.1.png", "out.2.png"}) {
      EXPECT_EQ(readFile<std::uint8_t>(path(std::string("disk/") + written),
                                       TypeDesc::UINT8)
                    .values.size(),
                200u * 200 * 4);
      fs::remove(path(std::string("disk/") + written));
    }
  }
}

TEST_F(ToolTest, ReadOnlyAndForbiddenFoldersSaySo) {
  const std::uint8_t pixel[4] = {1, 2, 3, 4};
  writeFile(path("in.png"), 1, 1, 4, TypeDesc::UINT8, pixel);
  {
    Tmpfs readOnly(dir / "ro", "size=64k");
    MOUNT_OR_SKIP(readOnly);
    ASSERT_EQ(mount("tmpfs", path("ro").c_str(), "tmpfs",
                    MS_REMOUNT | MS_RDONLY, "size=64k"),
              0);
    const ToolRun run = runTool({"render", path("in.png"), path("ro/o.png")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, "vantorel: cannot write '" + path("ro/o.png") +
                              "': the file system is read-only\n");
  }
  // Root writes anywhere: run the tool as nobody for a folder it may not
  // write to.
  fs::create_directories(dir / "locked");
  fs::permissions(dir, fs::perms::all);
  fs::permissions(dir / "locked", fs::perms::owner_all | fs::perms::group_read |
                                      fs::perms::group_exec |
                                      fs::perms::others_read |
                                      fs::perms::others_exec);
  const std::string prefix =
      geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups"
                     : "";
  // Nobody must be able to reach the tool and the plug-in it loads (a build
  // under /root, say, is out of its reach).
  if (runTool({"describe"}, prefix).exitCode != 0)
    GTEST_SKIP() << "the tool or its plug-in is out of nobody's reach here";
  const ToolRun run =
      runTool({"render", path("in.png"), path("locked/o.png")}, prefix);
  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_EQ(run.output, "vantorel: cannot write '" + path("locked/o.png") +
                            "': permission denied\n");
  EXPECT_TRUE(fs::is_empty(dir / "locked"));
}

// ------------------------------------------------------------ signals

// The library's own handlers: a temporary file in flight when each signal
// arrives is removed, an old target stays, and the process ends with that
// signal.
TEST_F(ToolTest, SignalsRemoveTheTemporaryFileInFlight) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    const std::string target = path("out.exr");
    std::ofstream(target) << "keep me";
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      vantorel::removeTemporaryFilesOnSignalsAndOutOfMemory();
      vantorel::OutputFile file(target);
      std::string error;
      const std::vector<char> bytes(1 << 20, 'x');
      if (!file.write(bytes.data(), bytes.size(), &error))
        _exit(3);
      const char line[] = "written\n";
      if (::write(ready[1], line, sizeof line - 1) < 0)
        _exit(4);
      for (;;)
        pause();
    }
    close(ready[1]);
    char got[8];
    ASSERT_EQ(read(ready[0], got, sizeof got), 8);
    close(ready[0]);
    EXPECT_EQ(files().size(), 2u) << "the temporary file is there";
    kill(child, signal);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status)) << strsignal(signal);
    EXPECT_EQ(WTERMSIG(status), signal);
    EXPECT_EQ(files(), std::set<std::string>{"out.exr"}) << strsignal(signal);
    EXPECT_EQ(contentsOf(target), "keep me");
  }
}

// The tool stopped part-way through a sequence: what is on disk is whole
// frames and nothing else.
TEST_F(ToolTest, TermDuringASequenceLeavesOnlyWholeFrames) {
  const int frames = 40;
  for (int frame = 1; frame <= frames; ++frame)
    writeNoise(path("in." + std::to_string(frame) + ".exr"), 512, 512, 4,
               TypeDesc::FLOAT, frame);
  fs::create_directories(dir / "out");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const std::string in = path("in.#.exr"), out = path("out/o.#.exr");
    execl(VANTOREL_TOOL, VANTOREL_TOOL, "render", in.c_str(), out.c_str(),
          "--frames", "1-40", "--jobs", "2", "--bundle", VANTOREL_TEST_BUNDLE,
          static_cast<char *>(nullptr));
    _exit(127);
  }
  // Stop it once the first frame is written.
  for (int i = 0; i < 3000 && !fs::exists(dir / "out" / "o.1.exr"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  kill(child, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  if (WIFEXITED(status))
    GTEST_SKIP() << "the tool finished before the signal";
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  const std::set<std::string> written = namesIn(dir / "out");
  for (int frame = 1; frame <= static_cast<int>(written.size()); ++frame) {
    const std::string name = "o." + std::to_string(frame) + ".exr";
    ASSERT_TRUE(written.count(name)) << name << " missing; in order";
    EXPECT_EQ(
        readFile<float>(path("out/" + name), TypeDesc::FLOAT).values.size(),
        512u * 512 * 4);
  }
}

// ------------------------------------------------------------ sequences

TEST_F(ToolTest, EveryFrameHeaderIsCheckedBeforeTheFirstIsRendered) {
  const std::uint8_t small[4 * 4 * 4] = {};
  const std::uint16_t deep[4 * 4 * 4] = {};
  const std::uint8_t wide[5 * 4 * 4] = {};
  const std::uint8_t rgb[4 * 4 * 3] = {};
  const struct {
    const char *what;
    std::function<void(const std::string &)> writeThird;
    const char *message;
  } cases[] = {
      {"corrupt",
       [](const std::string &p) { std::ofstream(p) << "not a picture"; },
       "cannot read '"},
      {"missing", [](const std::string &) {}, "does not exist"},
      {"larger",
       [&](const std::string &p) {
         writeFile(p, 5, 4, 4, TypeDesc::UINT8, wide);
       },
       "is 5x4, 4 channels, uint8, unlike frame 1 (4x4, 4 channels, uint8)"},
      {"deeper",
       [&](const std::string &p) {
         writeFile(p, 4, 4, 4, TypeDesc::UINT16, deep);
       },
       "is 4x4, 4 channels, uint16, unlike frame 1"},
      {"fewer channels",
       [&](const std::string &p) {
         writeFile(p, 4, 4, 3, TypeDesc::UINT8, rgb);
       },
       "is 4x4, 3 channels, uint8, unlike frame 1"},
  };
  for (const auto &c : cases) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (int frame : {1, 2, 4})
      writeFile(path("s.000" + std::to_string(frame) + ".tif"), 4, 4, 4,
                TypeDesc::UINT8, small);
    c.writeThird(path("s.0003.tif"));
    const std::set<std::string> before = files();
    const ToolRun run = runTool(
        {"render", path("s.####.tif"), path("o.####.tif"), "--frames", "1-4"});
    EXPECT_EQ(run.exitCode, 1) << c.what;
    EXPECT_NE(run.output.find(c.message), std::string::npos)
        << c.what << ": " << run.output;
    EXPECT_NE(run.output.find("s.0003.tif"), std::string::npos)
        << c.what << ": " << run.output;
    EXPECT_EQ(files(), before) << c.what;
  }
}

TEST_F(ToolTest, AFrameFailingPartWayNamesTheFramesWritten) {
  writeSequenceWithFrame3Cut(dir, "png", 300, 4, 3);
  for (const char *jobs : {"1", "2", "4"}) {
    const ToolRun run = runTool({"render", path("s.#.png"), path("o.#.png"),
                                 "--frames", "1-4", "--jobs", jobs},
                                kLibpngLeak);
    EXPECT_EQ(run.exitCode, 1) << run.output;
    // The last line says what failed, in the reader's words, and what was
    // written; libpng's own line comes before it, as libpng printed it.
    const std::size_t last = run.output.rfind('\n', run.output.size() - 2);
    const std::string failure =
        last == std::string::npos ? run.output : run.output.substr(last + 1);
    EXPECT_EQ(failure.rfind("vantorel: cannot read '" + path("s.3.png") +
                                "': PNG read error: ",
                            0),
              0u)
        << run.output;
    EXPECT_EQ(failure.substr(failure.size() - 43),
              "; frames 1-2 were written and are complete\n")
        << run.output;
    std::istringstream lines(
        run.output.substr(0, run.output.size() - failure.size()));
    for (std::string line; std::getline(lines, line);)
      EXPECT_EQ(line.rfind("libpng error: ", 0), 0u) << line;
    std::set<std::string> expected;
    for (const char *name :
         {"s.1.png", "s.2.png", "s.3.png", "s.4.png", "o.1.png", "o.2.png"})
      expected.insert(name);
    EXPECT_EQ(files(), expected) << "--jobs " << jobs;
    fs::remove(path("o.1.png"));
    fs::remove(path("o.2.png"));
  }
}

TEST_F(ToolTest, FramesInFlightComeOutWholeAndInPlace) {
  const int frames = 7;
  for (int frame = 1; frame <= frames; ++frame) {
    const std::vector<float> pixels(3 * 2 * 4, 0.125f * frame);
    writeFile(path("in." + std::to_string(frame) + ".exr"), 3, 2, 4,
              TypeDesc::FLOAT, pixels.data());
  }
  for (const char *jobs : {"1", "2", "5", "64"}) {
    const ToolRun run =
        runTool(withAidsOff({"render", path("in.#.exr"), path("out.#.exr"),
                             "--frames", "1-7", "--jobs", jobs}));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("rendered 7 frames, 3x2, float"),
              std::string::npos);
    for (int frame = 1; frame <= frames; ++frame)
      EXPECT_EQ(readFile<float>(path("out." + std::to_string(frame) + ".exr"),
                                TypeDesc::FLOAT)
                    .values,
                std::vector<float>(24, 0.125f * frame))
          << "--jobs " << jobs << " frame " << frame;
  }
  for (const char *jobs : {"0", "65", "two", ""}) {
    const ToolRun run = runTool({"render", path("in.#.exr"), path("o.#.exr"),
                                 "--frames", "1-7", "--jobs", jobs});
    EXPECT_EQ(run.exitCode, 2) << jobs;
    EXPECT_NE(run.output.find("--jobs takes a whole number from 1 to 64"),
              std::string::npos)
        << run.output;
  }
}

TEST_F(ToolTest, HugeRangesCostNoMemoryAndLimitsAreStated) {
  // Under a cap on memory that one path per frame would blow many times
  // over; an instrumented build maps far more than this for itself.
#ifdef TOOL_TEST_INSTRUMENTED
  const std::string cap = "";
#else
  const std::string cap = "ulimit -v 4000000;";
#endif
  const ToolRun huge = runTool({"render", path("none.#.exr"), path("o.#.exr"),
                                "--frames", "1-100000000"},
                               cap);
  EXPECT_EQ(huge.exitCode, 1);
  EXPECT_EQ(huge.output, "vantorel: the input '" + path("none.1.exr") +
                             "' does not exist\n");
  const struct {
    const char *frames;
    const char *message;
  } refused[] = {
      {"1-2000000000", "frame numbers go up to 999999999"},
      {"1000000000", "frame numbers go up to 999999999"},
      {"5-4", "FIRST <= LAST"},
      {"1-x", "whole numbers from 0"},
  };
  for (const auto &c : refused) {
    const ToolRun run = runTool(
        {"render", path("in.#.exr"), path("o.#.exr"), "--frames", c.frames});
    EXPECT_EQ(run.exitCode, 2) << c.frames;
    EXPECT_NE(run.output.find(c.message), std::string::npos)
        << c.frames << ": " << run.output;
  }
  // The highest frame number is planned without overflow.
  vantorel::FramePlan plan;
  std::string error;
  ASSERT_TRUE(
      vantorel::planFrames("a.#.exr", "b.#.exr", "0-999999999", &plan, &error))
      << error;
  EXPECT_EQ(plan.count(), 1000000000LL);
  EXPECT_EQ(plan.job(plan.count() - 1).in, "a.999999999.exr");
}

// A picture too large for the memory there is: one line saying so, status
// 1, nothing left behind.
TEST_F(ToolTest, RunningOutOfMemoryIsSaidInOneLine) {
#ifdef TOOL_TEST_INSTRUMENTED
  GTEST_SKIP() << "the sanitizer's operator new reports running out of "
                  "memory itself and stops the tool";
#endif
  const ToolRun run = runTool(
      {"chart", path("c.exr"), "--size", "65535x65535", "--depth", "float"},
      "ulimit -v 4000000;");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output, "vantorel: out of memory (is the picture too "
                        "large?)\n");
  EXPECT_TRUE(files().empty());
}

// ------------------------------------------------------------ types

TEST_F(ToolTest, PixelTypesAreKeptWhereTheFormatHoldsThem) {
  const struct {
    const char *in;
    TypeDesc type;
    int bits; // DPX bits per sample, else 0
    const char *out;
    const char *outType; // --out-type, or ""
    const char *stored;  // the output's type
    bool exact;          // every value the same as the input's
  } cases[] = {
      {"a.png", TypeDesc::UINT16, 0, "a-out.png", "", "uint16", true},
      {"b.tif", TypeDesc::UINT16, 0, "b-out.tif", "", "uint16", true},
      {"c.dpx", TypeDesc::UINT16, 10, "c-out.dpx", "", "10-bit", true},
      {"d.dpx", TypeDesc::UINT16, 12, "d-out.dpx", "", "12-bit", true},
      {"e.exr", TypeDesc::HALF, 0, "e-out.exr", "", "half", true},
      {"f.exr", TypeDesc::FLOAT, 0, "f-out.exr", "", "float", true},
      {"g.png", TypeDesc::UINT8, 0, "g-out.png", "", "uint8", true},
      {"c.dpx", TypeDesc::UINT16, 10, "c-out.tif", "", "uint16", true},
      {"e.exr", TypeDesc::HALF, 0, "e-float.exr", "float", "float", true},
      {"a.png", TypeDesc::UINT16, 0, "a-8.png", "uint8", "uint8", false},
      {"a.png", TypeDesc::UINT16, 0, "a-out.exr", "", "float", true},
      {"f.exr", TypeDesc::FLOAT, 0, "f-out.png", "", "uint16", false},
      {"e.exr", TypeDesc::HALF, 0, "e-out.jpg", "", "uint8", false},
      {"g.png", TypeDesc::UINT8, 0, "g-half.exr", "", "half", false},
  };
  for (const auto &c : cases) {
    if (!fs::exists(path(c.in))) {
      // Every level of the stored type, spread over the picture.
      const int width = 16, height = 8, channels = 3;
      std::vector<float> values(width * height * channels);
      const double levels = c.bits ? (1 << c.bits) - 1 : 65535.0;
      for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = c.type == TypeDesc::UINT8
                        ? static_cast<float>((i * 37 % 256) / 255.0)
                        : static_cast<float>((i * 7919 % 65536) / 65535.0 *
                                             (c.bits ? levels / 65535.0 : 1));
      if (c.bits)
        for (float &v : values)
          v = static_cast<float>(std::round(v * levels) / levels);
      auto out = OIIO::ImageOutput::create(path(c.in));
      OIIO::ImageSpec spec(width, height, channels, c.type);
      if (c.bits)
        spec.attribute("oiio:BitsPerSample", c.bits);
      ASSERT_TRUE(out->open(path(c.in), spec)) << out->geterror();
      ASSERT_TRUE(out->write_image(TypeDesc::FLOAT, values.data()));
      ASSERT_TRUE(out->close());
    }
    std::vector<std::string> args = {"render", path(c.in), path(c.out)};
    if (*c.outType)
      args.insert(args.end(), {"--out-type", c.outType});
    const ToolRun run = runTool(withAidsOff(args));
    ASSERT_EQ(run.exitCode, 0) << c.out << ": " << run.output;
    vantorel::ImageHeader written;
    header(path(c.out), &written);
    EXPECT_EQ(vantorel::pixelTypeOf(written.spec).name(), c.stored) << c.out;
    if (!c.exact)
      continue;
    const auto before = readFile<float>(path(c.in), TypeDesc::FLOAT);
    const auto after = readFile<float>(path(c.out), TypeDesc::FLOAT);
    ASSERT_EQ(after.values.size() / after.channels,
              before.values.size() / before.channels);
    for (std::size_t p = 0; p < before.values.size() / 3; ++p)
      for (int ch = 0; ch < 3; ++ch)
        ASSERT_EQ(bitsOf(after.values[p * after.channels + ch]),
                  bitsOf(before.values[p * 3 + ch]))
            << c.in << " -> " << c.out << " pixel " << p << " channel " << ch;
  }
  const ToolRun bad =
      runTool({"render", path("g.png"), path("x.png"), "--out-type", "uint10"});
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_NE(bad.output.find("--out-type takes uint8, uint16, half or float"),
            std::string::npos);
}

// ------------------------------------------------------------ windows

TEST_F(ToolTest, ExrWindowsAndAttributesSurviveARender) {
  OIIO::ImageSpec spec(200, 100, 4, TypeDesc::HALF);
  spec.x = 50;
  spec.y = 40;
  spec.full_x = 0;
  spec.full_y = 0;
  spec.full_width = 451;
  spec.full_height = 300;
  spec.attribute("Copyright", "vantorel tests");
  spec.attribute("studio:shot", "sh010");
  spec.attribute("compression", "piz");
  std::vector<float> pixels(200 * 100 * 4);
  for (std::size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = static_cast<float>(i % 1000) / 999.0f;
  {
    auto out = OIIO::ImageOutput::create(path("w.exr"));
    ASSERT_TRUE(out->open(path("w.exr"), spec));
    ASSERT_TRUE(out->write_image(TypeDesc::FLOAT, pixels.data()));
    ASSERT_TRUE(out->close());
  }
  // The plug-in sees the data window with y up from the display window's
  // bottom: rows 40..139 of 300 counted down are 160..259 counted up.
  Frame frame;
  vantorel::ImageHeader source;
  std::string error;
  ASSERT_TRUE(
      vantorel::readImage(path("w.exr"), std::nullopt, &frame, &source, &error))
      << error;
  EXPECT_EQ(frame.x, 50);
  EXPECT_EQ(frame.y, 160);

  const ToolRun run =
      runTool(withAidsOff({"render", path("w.exr"), path("o.exr")}));
  ASSERT_EQ(run.exitCode, 0) << run.output;
  vantorel::ImageHeader written;
  header(path("o.exr"), &written);
  const OIIO::ImageSpec &o = written.spec;
  EXPECT_EQ(std::vector<int>({o.x, o.y, o.width, o.height}),
            std::vector<int>({50, 40, 200, 100}));
  EXPECT_EQ(std::vector<int>({o.full_x, o.full_y, o.full_width, o.full_height}),
            std::vector<int>({0, 0, 451, 300}));
  EXPECT_EQ(o.format, TypeDesc::HALF);
  EXPECT_EQ(o.get_string_attribute("Copyright"), "vantorel tests");
  EXPECT_EQ(o.get_string_attribute("studio:shot"), "sh010");
  EXPECT_EQ(o.get_string_attribute("compression"), "piz");
  EXPECT_EQ(readFile<float>(path("o.exr"), TypeDesc::FLOAT).values,
            readFile<float>(path("w.exr"), TypeDesc::FLOAT).values);
}

// ------------------------------------------------------------ messages

// The tool says what failed in one line of its own, in the words of the
// image object that failed; what a library prints itself (libpng's own
// line) reaches standard error as printed.
TEST_F(ToolTest, MessagesSayWhatHappenedInOneLine) {
  writeNoise(path("n.png"), 300, 300, 4, TypeDesc::UINT8);
  const std::string whole = contentsOf(path("n.png"));
  std::ofstream(path("cut.png"), std::ios::binary)
      << whole.substr(0, whole.size() / 2);
  fs::create_directories(dir / "folder.png");
  const struct {
    std::vector<std::string> args;
    std::string message;     // the tool's line, up to its end or to "..."
    const char *libraryLine; // a line printed before it, or ""
  } cases[] = {
      {{path("cut.png"), path("o.png")},
       "vantorel: cannot read '" + path("cut.png") +
           "': PNG read error: IDAT: Read error: hit end of file...",
       "libpng error: IDAT: Read error: hit end of file"},
      {{path("folder.png"), path("o.png")},
       "vantorel: the input '" + path("folder.png") +
           "' is a folder, not an image file\n",
       ""},
      {{path("n.png"), path("noext")},
       "vantorel: cannot write '" + path("noext") +
           "': it has no extension to choose the image format by (give one, "
           "e.g. .exr, .png or .tif)\n",
       ""},
      {{path("n.png"), path("folder.png")},
       "vantorel: cannot write '" + path("folder.png") + "': it is a folder\n",
       ""},
  };
  for (const auto &c : cases) {
    std::vector<std::string> args = {"render"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ToolRun run = runTool(args, kLibpngLeak);
    EXPECT_EQ(run.exitCode, 1) << run.output;
    const std::string library =
        *c.libraryLine ? std::string(c.libraryLine) + "\n" : "";
    const std::size_t cut = c.message.find("...");
    EXPECT_EQ(run.output.substr(0, library.size() + cut),
              library + c.message.substr(0, cut));
    EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'),
              *c.libraryLine ? 2 : 1)
        << run.output;
  }
}

// A reader that carries on past a fault: the warning names the file its
// image object read, whichever frame another worker is reading.
TEST_F(ToolTest, AReaderCarryingOnPastAFaultIsNamedInAWarning) {
  writeSequenceWithFrame3Cut(dir, "jpg", 64, 3, 2);
  const ToolRun run = runTool({"render", path("s.#.jpg"), path("o.#.png"),
                               "--frames", "1-4", "--jobs", "4"});
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.output.rfind("vantorel: warning: '" + path("s.3.jpg") +
                                 "': JPEG error: Premature end of JPEG file",
                             0),
            0u)
      << run.output;
  EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 2)
      << run.output;
  EXPECT_NE(run.output.find("rendered 4 frames"), std::string::npos);
}

TEST_F(ToolTest, OnlyTheFirstOfSeveralImagesIsUsedAndSaid) {
  OIIO::ImageSpec specs[2] = {OIIO::ImageSpec(2, 2, 4, TypeDesc::UINT8),
                              OIIO::ImageSpec(3, 3, 4, TypeDesc::UINT8)};
  const std::uint8_t pixels[3 * 3 * 4] = {7};
  auto out = OIIO::ImageOutput::create(path("pages.tif"));
  ASSERT_TRUE(out->open(path("pages.tif"), 2, specs));
  ASSERT_TRUE(out->write_image(TypeDesc::UINT8, pixels));
  ASSERT_TRUE(out->open(path("pages.tif"), specs[1],
                        OIIO::ImageOutput::AppendSubimage));
  ASSERT_TRUE(out->write_image(TypeDesc::UINT8, pixels));
  ASSERT_TRUE(out->close());
  const ToolRun run = runTool({"render", path("pages.tif"), path("o.png")});
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.output.rfind("vantorel: warning: '" + path("pages.tif") +
                                 "' holds more than one image",
                             0),
            0u)
      << run.output;
  EXPECT_EQ(readFile<std::uint8_t>(path("o.png"), TypeDesc::UINT8).width, 2);
}

TEST_F(ToolTest, VersionHelpAndTheBundleInTheSummary) {
  const ToolRun version = runTool({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.output.rfind("vantorel 1.", 0), 0u) << version.output;
  EXPECT_NE(version.output.find("(OpenImageIO "), std::string::npos);
  for (const std::vector<std::string> &args :
       std::vector<std::vector<std::string>>{{"-h"}, {"render", "-h"}}) {
    const ToolRun help = runTool(args);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.output.rfind("usage: vantorel", 0), 0u) << help.output;
  }
  const std::uint8_t pixel[4] = {1, 2, 3, 4};
  writeFile(path("in.png"), 1, 1, 4, TypeDesc::UINT8, pixel);
  const ToolRun summary = runTool({"render", path("in.png"), path("o.png")});
  EXPECT_NE(summary.output.find(std::string(", plug-in from ") +
                                VANTOREL_TEST_BUNDLE + "\n"),
            std::string::npos)
      << summary.output;
  const ToolRun chosen = runTool({"render", path("in.png"), path("o.png"),
                                  "--bundle", VANTOREL_TEST_BUNDLE});
  EXPECT_NE(chosen.output.find(std::string(", plug-in from ") +
                               VANTOREL_TEST_BUNDLE + "\n"),
            std::string::npos)
      << chosen.output;
}

} // namespace
