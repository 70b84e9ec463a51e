// The vantorel tool end to end: the built executable on small files the
// tests write themselves, plus its parameter checks, frame patterns and
// render failures through its library.
#include "chart.h"
#include "commands.h"
#include "image_io.h"
#include "params.h"
#include "progress.h"
#include "sequence.h"
#include "sequence_render.h"
#include "session.h"
#include "tool_fixture.h"

#include "ofx_host_testing.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

using namespace toolfixture;

// ------------------------------------------------------------ round trips

TEST_F(ToolTest, ExrFloatRoundTripIsBitExactWithAidsOff) {
  const float samples[] = {0.0f,   -0.0f,    1.0f,  -0.25f, 7.5f,  1.0f / 3.0f,
                           1e-40f, 65504.0f, 0.18f, 1e9f,   -3e-5f};
  const int width = 5, height = 4;
  std::vector<float> in(width * height * 4);
  for (std::size_t i = 0; i < in.size(); ++i)
    in[i] = samples[(i * 7) % std::size(samples)] + static_cast<float>(i / 4);
  writeFile(path("in.exr"), width, height, 4, TypeDesc::FLOAT, in.data());

  const ToolRun run =
      runTool(withAidsOff({"render", path("in.exr"), path("out.exr")}));
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const auto out = readFile<float>(path("out.exr"), TypeDesc::FLOAT);
  EXPECT_EQ(out.format, TypeDesc::FLOAT);
  ASSERT_EQ(out.values.size(), in.size());
  for (std::size_t i = 0; i < in.size(); ++i)
    ASSERT_EQ(bitsOf(out.values[i]), bitsOf(in[i])) << "value " << i;
}

TEST_F(ToolTest, Png8BitRoundTripIsExactWhateverTheAlpha) {
  std::vector<std::uint8_t> in(16 * 16 * 4);
  for (int i = 0; i < 256; ++i) {
    in[i * 4 + 0] = static_cast<std::uint8_t>(i);
    in[i * 4 + 1] = static_cast<std::uint8_t>(255 - i);
    in[i * 4 + 2] = static_cast<std::uint8_t>(i * 37);
    in[i * 4 + 3] = static_cast<std::uint8_t>(i * 101); // 0 included
  }
  writeFile(path("in.png"), 16, 16, 4, TypeDesc::UINT8, in.data());
  const ToolRun run =
      runTool(withAidsOff({"render", path("in.png"), path("out.png")}));
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const auto out = readFile<std::uint8_t>(path("out.png"), TypeDesc::UINT8);
  EXPECT_EQ(out.format, TypeDesc::UINT8);
  EXPECT_EQ(out.values, in);
}

TEST_F(ToolTest, GreyBecomesRgbAndRgbStaysRgb) {
  const std::uint8_t grey[] = {0, 90, 255, 17, 200, 3};
  const std::uint8_t rgb[] = {10,  20,  30,  40,  50,  60,  70,  80,  90,
                              100, 110, 120, 130, 140, 150, 160, 170, 180};
  writeFile(path("grey.png"), 3, 2, 1, TypeDesc::UINT8, grey);
  writeFile(path("rgb.png"), 3, 2, 3, TypeDesc::UINT8, rgb);
  for (int channels : {1, 3}) {
    const std::string name = channels == 1 ? "grey" : "rgb";
    const ToolRun run = runTool(
        withAidsOff({"render", path(name + ".png"), path(name + "-out.png")}));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const auto out =
        readFile<std::uint8_t>(path(name + "-out.png"), TypeDesc::UINT8);
    ASSERT_EQ(out.channels, 3);
    for (int p = 0; p < 6; ++p)
      for (int c = 0; c < 3; ++c)
        EXPECT_EQ(out.values[p * 3 + c],
                  channels == 1 ? grey[p] : rgb[p * 3 + c])
            << name << " pixel " << p << " channel " << c;
  }
}

// ------------------------------------------------------------ depth

TEST_F(ToolTest, DepthFollowsTheFileUnlessAskedFor) {
  const struct {
    const char *file;
    TypeDesc type;
    const char *depth; // --depth, or "" for none
    const char *renderedAs;
  } cases[] = {
      {"a.png", TypeDesc::UINT8, "", "byte"},
      {"b.exr", TypeDesc::HALF, "", "float"},
      {"c.exr", TypeDesc::FLOAT, "", "float"},
      {"d.tif", TypeDesc::UINT16, "", "float"},
      {"e.tif", TypeDesc::UINT16, "byte", "byte"},
      {"f.png", TypeDesc::UINT8, "float", "float"},
      {"g.exr", TypeDesc::FLOAT, "byte", "byte"},
  };
  const std::vector<float> pixels(4 * 3 * 4, 0.5f);
  for (const auto &c : cases) {
    std::vector<std::uint8_t> converted(pixels.size() * c.type.size());
    OIIO::convert_pixel_values(TypeDesc::FLOAT, pixels.data(), c.type,
                               converted.data(), pixels.size());
    writeFile(path(c.file), 4, 3, 4, c.type, converted.data());
    std::vector<std::string> args = {"render", path(c.file),
                                     path(std::string("out-") + c.file)};
    if (*c.depth)
      args.insert(args.end(), {"--depth", c.depth});
    const ToolRun run = runTool(args);
    ASSERT_EQ(run.exitCode, 0) << c.file << ": " << run.output;
    EXPECT_NE(run.output.find(std::string("4x3, ") + c.renderedAs),
              std::string::npos)
        << c.file << ": " << run.output;
  }
}

TEST_F(ToolTest, SixteenBitFilesAreReadAsExactFloats) {
  const std::uint16_t in[] = {0, 1, 32768, 65535};
  writeFile(path("in.tif"), 1, 1, 4, TypeDesc::UINT16, in);
  const ToolRun run =
      runTool(withAidsOff({"render", path("in.tif"), path("out.exr")}));
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const auto out = readFile<float>(path("out.exr"), TypeDesc::FLOAT);
  ASSERT_EQ(out.values.size(), 4u);
  for (int c = 0; c < 4; ++c)
    EXPECT_FLOAT_EQ(out.values[c], in[c] / 65535.0f) << "channel " << c;
}

// ------------------------------------------------------------ sequences

TEST_F(ToolTest, SequenceOfThreeFramesWritesThreeFiles) {
  for (int frame = 1; frame <= 3; ++frame) {
    const std::vector<float> pixels(2 * 2 * 4, 0.25f * frame);
    writeFile(path("in." + std::string("000") + std::to_string(frame) + ".exr"),
              2, 2, 4, TypeDesc::FLOAT, pixels.data());
  }
  const ToolRun run =
      runTool(withAidsOff({"render", path("in.####.exr"), path("out.%04d.exr"),
                           "--frames", "1-3"}));
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("rendered 3 frames, 2x2, float"), std::string::npos)
      << run.output;
  const std::set<std::string> expected = {"in.0001.exr",  "in.0002.exr",
                                          "in.0003.exr",  "out.0001.exr",
                                          "out.0002.exr", "out.0003.exr"};
  EXPECT_EQ(files(), expected);
  for (int frame = 1; frame <= 3; ++frame) {
    const auto out = readFile<float>(
        path("out.000" + std::to_string(frame) + ".exr"), TypeDesc::FLOAT);
    EXPECT_EQ(out.values, std::vector<float>(16, 0.25f * frame))
        << "frame " << frame;
  }
}

TEST(FramePlan, PatternsAndRanges) {
  const struct {
    const char *in, *out, *frames;
    std::vector<std::string> paths; // in, out per frame; empty: refused
  } cases[] = {
      {"a.exr", "b.exr", "", {"a.exr", "b.exr"}},
      {"a.##.exr",
       "b.%03d.png",
       "9-10",
       {"a.09.exr", "b.009.png", "a.10.exr", "b.010.png"}},
      {"s/f%d.tif", "o/g####.tif", "7", {"s/f7.tif", "o/g0007.tif"}},
      {"a.####.exr", "b.exr", "1-2", {}},
      {"a.exr", "b.####.exr", "1-2", {}},
      {"a.####.exr", "b.####.exr", "", {}},
      {"a.####.exr", "b.####.exr", "3-1", {}},
      {"a.####.exr", "b.####.exr", "x-2", {}},
      {"a.####.exr", "b.####.exr", "-2", {}},
  };
  for (const auto &c : cases) {
    vantorel::FramePlan plan;
    std::string error;
    const bool ok = vantorel::planFrames(c.in, c.out, c.frames, &plan, &error);
    EXPECT_EQ(ok, !c.paths.empty()) << c.in << " " << c.frames << ": " << error;
    std::vector<std::string> paths;
    for (long long i = 0; ok && i < plan.count(); ++i) {
      const vantorel::FrameJob job = plan.job(i);
      paths.insert(paths.end(), {job.in, job.out});
    }
    if (ok)
      EXPECT_EQ(paths, c.paths) << c.in << " " << c.frames;
    else
      EXPECT_FALSE(error.empty());
  }
}

// ------------------------------------------------------------ bad input

TEST_F(ToolTest, BadInputIsRefusedAndNothingIsWritten) {
  const std::uint8_t two[8 * 2] = {};
  const float five[2 * 5] = {};
  const std::uint8_t good[4] = {1, 2, 3, 4};
  writeFile(path("good.png"), 1, 1, 4, TypeDesc::UINT8, good);
  writeFile(path("s.0001.png"), 1, 1, 4, TypeDesc::UINT8, good);
  writeFile(path("s.0003.png"), 1, 1, 4, TypeDesc::UINT8, good);
  writeFile(path("two.tif"), 4, 2, 2, TypeDesc::UINT8, two);
  writeFile(path("five.exr"), 2, 1, 5, TypeDesc::FLOAT, five);
  std::ofstream(path("bad.png")) << "not a picture";
  std::ofstream(path("in.xyz")) << "not a picture";
  const std::string in = path("good.png"), out = path("out.png");
  const struct {
    const char *what;
    std::vector<std::string> args;
    int exitCode;
    const char *message;
    std::string out; // the file that must not appear
  } cases[] = {
      {"missing input", {path("none.png"), out}, 1, "does not exist", out},
      {"unreadable input", {path("bad.png"), out}, 1, "cannot read", out},
      {"unknown input format", {path("in.xyz"), out}, 1, "cannot read", out},
      {"unknown output format",
       {in, path("out.xyz")},
       1,
       "no image format is known for '.xyz'",
       path("out.xyz")},
      {"two channels", {path("two.tif"), out}, 1, "has 2 channels", out},
      {"five channels", {path("five.exr"), out}, 1, "has 5 channels", out},
      {"missing folder",
       {in, path("nowhere/out.png")},
       1,
       "output folder",
       path("nowhere/out.png")},
      {"missing frame",
       {path("s.####.png"), path("out.####.png"), "--frames", "1-3"},
       1,
       "s.0002.png' does not exist",
       path("out.0001.png")},
      {"unknown parameter",
       {in, out, "--set", "Legalise=1"},
       2,
       "valid parameters: LegalizeLevels, FalseColorMode",
       out},
      {"bad switch",
       {in, out, "--set", "Crop185=yes"},
       2,
       "give 0, 1, on, off, true or false",
       out},
      {"not a number",
       {in, out, "--set", "CropOpacity=half"},
       2,
       "takes a number from 0 to 1",
       out},
      {"out of range",
       {in, out, "--set", "LineThickness=31"},
       2,
       "out of range: it takes 0.1 to 30",
       out},
      {"bad depth", {in, out, "--depth", "half"}, 2, "byte or float", out},
      {"no output", {in}, 2, "usage: vantorel render", out},
  };
  const std::set<std::string> before = files();
  for (const auto &c : cases) {
    for (bool existing : {false, true}) {
      if (existing && !fs::is_directory(fs::path(c.out).parent_path()))
        continue;
      if (existing)
        std::ofstream(c.out) << "keep me";
      std::vector<std::string> args = {"render"};
      args.insert(args.end(), c.args.begin(), c.args.end());
      const ToolRun run = runTool(args);
      EXPECT_EQ(run.exitCode, c.exitCode) << c.what << ": " << run.output;
      EXPECT_NE(run.output.find(c.message), std::string::npos)
          << c.what << ": " << run.output;
      if (existing) {
        EXPECT_EQ(contentsOf(c.out), "keep me") << c.what;
        fs::remove(c.out);
      }
      EXPECT_EQ(files(), before) << c.what;
    }
  }
}

// The render command's own frame loop, in this process so that the host
// can be told to fail the output image.
TEST_F(ToolTest, FailingRenderIsReportedByStatusNameAndWritesNothing) {
  const std::uint8_t pixel[4] = {1, 2, 3, 4};
  for (int frame = 1; frame <= 2; ++frame)
    writeFile(path("in." + std::to_string(frame) + ".png"), 1, 1, 4,
              TypeDesc::UINT8, pixel);
  std::ofstream(path("out.1.png")) << "keep me";
  std::string error;
  auto host = std::make_unique<ofxhost::TestHost>();
  ofxhost::TestHost &faulty = *host;
  auto session =
      vantorel::Session::open(VANTOREL_TEST_BUNDLE, &error, std::move(host));
  ASSERT_TRUE(session) << error;
  faulty.faults.failing["clipGetImage:Output"] = kOfxStatFailed;
  vantorel::FramePlan plan;
  ASSERT_TRUE(vantorel::planFrames(path("in.#.png"), path("out.#.png"), "1-2",
                                   &plan, &error));
  std::FILE *summary = std::tmpfile();
  vantorel::Progress progress(plan.count(), summary, false, "");
  vantorel::RenderOptions options;
  options.jobs = 2;
  EXPECT_FALSE(
      vantorel::renderFrames(*session, plan, options, progress, &error));
  std::fclose(summary);
  EXPECT_EQ(error, "the plug-in failed to render: kOfxStatFailed; no frame "
                   "was written");
  EXPECT_EQ(contentsOf(path("out.1.png")), "keep me");
  EXPECT_EQ(files(),
            (std::set<std::string>{"in.1.png", "in.2.png", "out.1.png"}));
}

// ------------------------------------------------------------ parameters

TEST(Settings, AreCheckedAgainstWhatThePluginDeclared) {
  std::string error;
  auto session = vantorel::Session::open(VANTOREL_TEST_BUNDLE, &error);
  ASSERT_TRUE(session) << error;
  const double kRefused = std::numeric_limits<double>::quiet_NaN();
  const struct {
    const char *text;
    double value; // kRefused when refused
    const char *message;
  } cases[] = {
      {"Crop185=on", 1, ""},
      {"Crop185=FALSE", 0, ""},
      {"Crop185=1", 1, ""},
      {"LineThickness=0.1", 0.1, ""},
      {"LineThickness=30", 30, ""},
      {"SkinLinePos=0", 0, ""},
      {"CropOpacity=5e-1", 0.5, ""},
      {"Crop185=2", kRefused, "0, 1, on, off, true or false"},
      {"Crop185=", kRefused, "0, 1, on, off, true or false"},
      {"LineThickness=0.09", kRefused, "out of range: it takes 0.1 to 30"},
      {"SkinLinePos=-0.01", kRefused, "out of range: it takes 0 to 1"},
      {"SkinLinePos=nan", kRefused, "takes a number from 0 to 1"},
      {"SkinLinePos=inf", kRefused, "takes a number from 0 to 1"},
      {"SkinLinePos=", kRefused, "takes a number from 0 to 1"},
      {"SkinLinePos= 0.5", kRefused, "takes a number from 0 to 1"},
      {"SkinLinePos=0.5x", kRefused, "takes a number from 0 to 1"},
      {"GroupLegal=1", kRefused, "no parameter 'GroupLegal'"},
      {"crop185=1", kRefused, "valid parameters:"},
      {"Crop185", kRefused, "NAME=VALUE"},
      {"=1", kRefused, "NAME=VALUE"},
  };
  for (const auto &c : cases) {
    vantorel::Setting setting;
    error.clear();
    const bool ok =
        vantorel::parseSetting(c.text, session->params(), &setting, &error);
    EXPECT_EQ(ok, !std::isnan(c.value)) << c.text << ": " << error;
    if (ok)
      EXPECT_EQ(setting.value, c.value) << c.text;
    else
      EXPECT_NE(error.find(c.message), std::string::npos)
          << c.text << ": " << error;
  }
}

// ------------------------------------------------------------ chart, gallery

// `frame` (rows bottom-up) against file pixels (rows top-down).
template <typename T>
void expectRowsFlipped(const Frame &frame, const Pixels<T> &file, int left,
                       int top) {
  for (int y = 0; y < frame.height; ++y) {
    const T *expected =
        reinterpret_cast<const T *>(frame.row(frame.height - 1 - y));
    const T *actual =
        &file.values[(static_cast<std::size_t>(top + y) * file.width + left) *
                     4];
    ASSERT_EQ(0, std::memcmp(expected, actual, frame.rowBytes()))
        << "row " << y << " from the top";
  }
}

TEST_F(ToolTest, ChartWithEveryAidOffIsTheBuiltInChart) {
  const ToolRun run =
      runTool(withAidsOff({"chart", path("c.exr"), "--size", "48x27"}));
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.output, path("c.exr") + "\n");
  const auto file = readFile<float>(path("c.exr"), TypeDesc::FLOAT);
  EXPECT_EQ(file.format, TypeDesc::FLOAT);
  ASSERT_EQ(file.width, 48);
  ASSERT_EQ(file.height, 27);
  expectRowsFlipped(vantorel::makeChart(48, 27, Depth::Float), file, 0, 0);
}

TEST_F(ToolTest, ChartDepthFollowsTheOutputFormat) {
  const struct {
    const char *file;
    const char *depth;
    TypeDesc stored;
  } cases[] = {
      {"c.png", "", TypeDesc::UINT8},
      {"c.exr", "", TypeDesc::FLOAT},
      {"c.tif", "", TypeDesc::UINT8},
      {"d.tif", "float", TypeDesc::FLOAT},
  };
  for (const auto &c : cases) {
    std::vector<std::string> args = {"chart", path(c.file), "--size", "8x8"};
    if (*c.depth)
      args.insert(args.end(), {"--depth", c.depth});
    const ToolRun run = runTool(args);
    ASSERT_EQ(run.exitCode, 0) << c.file << ": " << run.output;
    EXPECT_EQ(readFile<float>(path(c.file), TypeDesc::FLOAT).format, c.stored)
        << c.file;
  }
}

TEST_F(ToolTest, GalleryIsOneSheetWithTheUntouchedChartFirst) {
  const ToolRun run = runTool({"gallery", path("g.png"), "--size", "40x20"});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.output, path("g.png") + "\n");
  const auto sheet = readFile<std::uint8_t>(path("g.png"), TypeDesc::UINT8);
  // Four tiles of 40 to a row with 8-pixel gaps; 15 tiles in four rows,
  // each tile 20 high with an 11-pixel caption and a gap.
  EXPECT_EQ(sheet.width, 4 * (40 + 8) + 8);
  EXPECT_EQ(sheet.height, 4 * (20 + 11 + 8) + 8);
  ASSERT_EQ(sheet.channels, 4);
  expectRowsFlipped(vantorel::makeChart(40, 20, Depth::Byte), sheet, 8, 8);
}

// Each help (the man page is made from them) says where the plug-in is
// looked for, in order, and what the exit statuses mean.
TEST_F(ToolTest, EverySubcommandHasHelp) {
  std::vector<std::vector<std::string>> helps = {{"--help"}};
  for (const vantorel::Command &command : vantorel::commands())
    helps.push_back({command.name, "--help"});
  for (const auto &args : helps) {
    const ToolRun run = runTool(args);
    EXPECT_EQ(run.exitCode, 0) << args[0];
    EXPECT_EQ(run.output.rfind(std::string("usage: vantorel ") +
                                   (args.size() == 2 ? args[0] : "COMMAND"),
                               0),
              0u)
        << run.output;
    const std::size_t option = run.output.find("    1. --bundle PATH");
    const std::size_t path = run.output.find("    2. ", option);
    const std::size_t standard = run.output.find("    3. ", path);
    EXPECT_NE(run.output.find("OFX_PLUGIN_PATH", path), std::string::npos);
    EXPECT_NE(run.output.find("/usr/OFX/Plugins", standard), std::string::npos)
        << run.output;
    const std::size_t exit = run.output.find("\nexit status:\n  0  ");
    EXPECT_NE(run.output.find("\n  2  a mistake in the command line",
                              run.output.find("\n  1  failed", exit)),
              std::string::npos)
        << run.output;
  }
  EXPECT_EQ(runTool({"paint"}).exitCode, 2);
  EXPECT_EQ(runTool({"chart", path("c.png"), "--colour", "red"}).exitCode, 2);
}

} // namespace
