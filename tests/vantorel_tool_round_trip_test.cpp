// Every format vantorel writes, at every pixel type it holds, from grey,
// RGB and RGBA inputs with and without EXIF and colour-space attributes:
// each output is read back by the image library and compared with what
// the render produced. The frames go through the render command's own
// frame loop in this process (the executable's start-up costs a second on
// a busy machine); a few cases run the executable too.
#include "image_io.h"
#include "progress.h"
#include "sequence.h"
#include "sequence_render.h"
#include "session.h"
#include "tool_fixture.h"

#include <algorithm>
#include <cmath>

namespace {

using namespace toolfixture;

// An output format and one pixel type it holds; the input is written in
// the same format and type, so the output keeps them.
struct StoredType {
  const char *extension;
  TypeDesc type;
  int bits; // DPX bits per sample, else 0
  bool lossless;
  bool holdsAlpha;
  bool holdsExif; // writes EXIF attributes into the file
  bool holdsGrey = true;
};

const StoredType kStoredTypes[] = {
    {"png", TypeDesc::UINT8, 0, true, true, false},
    {"png", TypeDesc::UINT16, 0, true, true, false},
    {"tif", TypeDesc::UINT8, 0, true, true, true},
    {"tif", TypeDesc::UINT16, 0, true, true, true},
    {"tif", TypeDesc::FLOAT, 0, true, true, true},
    {"dpx", TypeDesc::UINT8, 0, true, true, false},
    {"dpx", TypeDesc::UINT16, 10, true, true, false},
    {"dpx", TypeDesc::UINT16, 12, true, true, false},
    {"dpx", TypeDesc::UINT16, 0, true, true, false},
    {"exr", TypeDesc::HALF, 0, true, true, false},
    {"exr", TypeDesc::FLOAT, 0, true, true, false},
    {"jpg", TypeDesc::UINT8, 0, false, false, true},
    {"bmp", TypeDesc::UINT8, 0, true, true, false},
    {"tga", TypeDesc::UINT8, 0, true, true, false},
    {"hdr", TypeDesc::FLOAT, 0, false, false, false, false},
};

// Aids that change every pixel's colour (and leave alpha as it is).
const std::vector<std::string> kAidsOn = {"LegalizeLevels=1", "GuideThirds=1",
                                          "GuideCrosshair=1", "Crop239=1",
                                          "CropOpacity=0.5"};

// 3n + 1 wide, so that 10-bit RGBA DPX rows end in a lone sample.
const int kWidth = 31, kHeight = 17;

std::string caseName(const StoredType &t, int channels, bool exif) {
  return std::string(t.extension) + " " +
         (t.bits ? std::to_string(t.bits) + "-bit" : t.type.c_str()) + " " +
         std::to_string(channels) + " channels" + (exif ? " with EXIF" : "");
}

// A smooth picture with a varying alpha that is never 1, at the type's
// levels (10 and 12 bits included), `width` wide. RGBA 10-bit DPX samples
// are packed (the image library misreads filled rows 3n + 1 wide) unless
// `filled`.
void writeInput(const std::string &path, const StoredType &t, int channels,
                bool exif, int width = kWidth, bool filled = false) {
  const int kWidth = width;
  std::vector<float> values(kWidth * kHeight * channels);
  const double levels = t.bits ? (1 << t.bits) - 1 : 65535.0;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      for (int c = 0; c < channels; ++c) {
        double v =
            c == 3 ? 0.2 + 0.6 * x / kWidth
                   : (x + 2.0 * y + 7.0 * c) / (kWidth + 2.0 * kHeight + 21.0);
        if (t.bits)
          v = std::round(v * levels) / levels;
        values[(y * kWidth + x) * channels + c] = static_cast<float>(v);
      }
  auto out = OIIO::ImageOutput::create(path);
  ASSERT_TRUE(out) << path;
  OIIO::ImageSpec spec(kWidth, kHeight, channels, t.type);
  spec.attribute("oiio:UnassociatedAlpha", 1);
  if (t.bits)
    spec.attribute("oiio:BitsPerSample", t.bits);
  if (t.bits == 10 && channels == 4 && !filled)
    spec.attribute("dpx:Packing", "Packed");
  if (exif) {
    spec.attribute("Exif:ColorSpace", 1);
    spec.attribute("oiio:ColorSpace", "sRGB");
    spec.attribute("Exif:DateTimeOriginal", "2024:05:06 07:08:09");
    spec.attribute("Make", "Kestrune");
    spec.attribute("ImageDescription", "round trip");
  }
  ASSERT_TRUE(out->open(path, spec)) << out->geterror();
  ASSERT_TRUE(out->write_image(TypeDesc::FLOAT, values.data()))
      << out->geterror();
  ASSERT_TRUE(out->close()) << out->geterror();
}

class RoundTrip : public ToolTest {
protected:
  void SetUp() override {
    ToolTest::SetUp();
    std::string error;
    session = vantorel::Session::open(VANTOREL_TEST_BUNDLE, &error);
    ASSERT_TRUE(session) << error;
    ASSERT_TRUE(session->setAll(kAidsOn, &error)) << error;
  }

  // The render command's frame loop on one frame; its error, empty when
  // it succeeded. *alphaAdded: the summary counted alpha kept.
  std::string render(const std::string &in, const std::string &out,
                     const vantorel::RenderOptions &options,
                     bool *alphaAdded = nullptr) {
    vantorel::FramePlan plan;
    std::string error;
    EXPECT_TRUE(vantorel::planFrames(in, out, "", &plan, &error)) << error;
    std::FILE *summary = std::tmpfile();
    vantorel::Progress progress(1, summary, false, "bundle");
    const bool ok =
        vantorel::renderFrames(*session, plan, options, progress, &error);
    progress.finish();
    std::rewind(summary);
    char line[512] = {};
    const bool read = std::fgets(line, sizeof line, summary) != nullptr;
    std::fclose(summary);
    if (alphaAdded)
      *alphaAdded = read && std::string(line).find("alpha kept in 1 frame") !=
                                std::string::npos;
    return ok ? "" : error;
  }

  std::unique_ptr<vantorel::Session> session;
};

// Stored values of `pixels` (floats) as `t` stores them: integers keep
// their code, narrow DPX samples their top bits.
std::vector<std::uint32_t> codes(const std::vector<float> &pixels,
                                 const StoredType &t) {
  std::vector<std::uint32_t> result(pixels.size());
  if (t.type == TypeDesc::UINT8 || t.type == TypeDesc::UINT16) {
    std::vector<std::uint16_t> stored(pixels.size());
    OIIO::convert_pixel_values(TypeDesc::FLOAT, pixels.data(), TypeDesc::UINT16,
                               stored.data(), static_cast<int>(pixels.size()));
    const int shift = t.type == TypeDesc::UINT8 ? 8 : t.bits ? 16 - t.bits : 0;
    for (std::size_t i = 0; i < stored.size(); ++i)
      result[i] = stored[i] >> shift;
    return result;
  }
  std::vector<float> stored(pixels.size());
  OIIO::convert_pixel_values(TypeDesc::FLOAT, pixels.data(), t.type,
                             stored.data(), static_cast<int>(pixels.size()));
  std::vector<std::uint16_t> halves(pixels.size());
  if (t.type == TypeDesc::HALF) {
    OIIO::convert_pixel_values(TypeDesc::FLOAT, pixels.data(), TypeDesc::HALF,
                               halves.data(), static_cast<int>(pixels.size()));
    for (std::size_t i = 0; i < halves.size(); ++i)
      result[i] = halves[i];
    return result;
  }
  for (std::size_t i = 0; i < stored.size(); ++i)
    result[i] = bitsOf(stored[i]);
  return result;
}

TEST_F(RoundTrip, EveryFormatTypeAndChannelSetReadsBackAsRendered) {
  for (const StoredType &t : kStoredTypes)
    for (int channels : {1, 3, 4})
      for (bool exif : {false, true}) {
        const std::string name = caseName(t, channels, exif);
        fs::remove_all(dir);
        fs::create_directories(dir);
        // A channel set the format cannot hold comes from PNG or EXR.
        const bool held =
            (channels != 1 || t.holdsGrey) && (channels != 4 || t.holdsAlpha);
        const std::string in =
            path(std::string("in.") + (held                        ? t.extension
                                       : t.type == TypeDesc::UINT8 ? "png"
                                                                   : "exr"));
        const std::string out = path(std::string("out.") + t.extension);
        writeInput(in, t, channels, exif);
        // What the render produced, stored whole as float.
        vantorel::RenderOptions asFloat;
        asFloat.outType = vantorel::PixelType{TypeDesc::FLOAT, 0};
        ASSERT_EQ(render(in, path("rendered.exr"), asFloat), "") << name;
        vantorel::RenderOptions verify;
        verify.comparePixels = true;
        bool alphaAdded = true;
        ASSERT_EQ(render(in, out, verify, &alphaAdded), "") << name;
        EXPECT_FALSE(alphaAdded) << name;

        vantorel::ImageHeader header;
        std::string error;
        ASSERT_TRUE(vantorel::readHeader(out, &header, &error))
            << name << ": " << error;
        // Formats without alpha store RGBA input as RGB.
        const int written = channels == 4 && t.holdsAlpha ? 4 : 3;
        EXPECT_EQ(vantorel::shapeOf(header.spec), vantorel::shapeOf([&] {
                    OIIO::ImageSpec s(kWidth, kHeight, written, t.type);
                    if (t.bits)
                      s.attribute("oiio:BitsPerSample", t.bits);
                    return s;
                  }()))
            << name;
        if (exif && t.holdsExif) {
          EXPECT_EQ(header.spec.get_int_attribute("Exif:ColorSpace"), 1)
              << name;
          EXPECT_EQ(header.spec.get_string_attribute("ImageDescription"),
                    "round trip")
              << name;
        }
        EXPECT_EQ(files(),
                  (std::set<std::string>{fs::path(in).filename().string(),
                                         fs::path(out).filename().string(),
                                         "rendered.exr"}))
            << name;
        const auto rendered =
            readFile<float>(path("rendered.exr"), TypeDesc::FLOAT);
        const auto file = readFile<float>(out, TypeDesc::FLOAT);
        ASSERT_EQ(rendered.channels, channels == 4 ? 4 : 3) << name;
        ASSERT_EQ(file.values.size(),
                  static_cast<std::size_t>(kWidth) * kHeight * written)
            << name;
        std::vector<float> expected;
        for (std::size_t p = 0; p < file.values.size() / written; ++p)
          for (int c = 0; c < written; ++c)
            expected.push_back(rendered.values[p * rendered.channels + c]);
        if (t.lossless) {
          EXPECT_EQ(codes(file.values, t), codes(expected, t)) << name;
          continue;
        }
        // JPEG and the shared exponent of HDR lose a little.
        double worst = 0;
        for (std::size_t i = 0; i < expected.size(); ++i)
          worst =
              std::max(worst, std::abs(double(file.values[i]) - expected[i]));
        EXPECT_LT(worst, t.type == TypeDesc::FLOAT ? 0.01 : 0.2) << name;
      }
}

// The executable on the cases the fault report named, each output read
// back by the image library: a 16-bit RGB TIFF carrying EXIF, 10-bit RGB
// and RGBA DPX.
TEST_F(ToolTest, TheExecutableWritesTiffWithExifAndDpxThatReadBack) {
  const struct {
    StoredType type;
    int channels;
    bool exif;
  } cases[] = {
      {{"tif", TypeDesc::UINT16, 0, true, true, true}, 3, true},
      {{"dpx", TypeDesc::UINT16, 10, true, true, false}, 3, false},
      {{"dpx", TypeDesc::UINT16, 10, true, true, false}, 4, false},
  };
  for (const auto &c : cases) {
    const std::string in =
        path("in." + std::to_string(c.channels) + "." + c.type.extension);
    const std::string out =
        path("out." + std::to_string(c.channels) + "." + c.type.extension);
    writeInput(in, c.type, c.channels, c.exif);
    const ToolRun run = runTool(withAidsOff({"render", in, out, "--verify"}));
    ASSERT_EQ(run.exitCode, 0) << out << ": " << run.output;
    const auto before = readFile<std::uint16_t>(in, TypeDesc::UINT16);
    const auto after = readFile<std::uint16_t>(out, TypeDesc::UINT16);
    EXPECT_EQ(after.channels, c.channels) << out;
    EXPECT_EQ(after.values, before.values) << out;
  }
}

// OpenImageIO leaves the last alpha of each row of these unread: refused,
// rather than rendered with whatever its buffer held. Packed, or a pixel
// wider, they are rendered.
TEST_F(ToolTest, TenBitRgbaDpxTheLibraryMisreadsIsRefused) {
  const StoredType dpx = {"dpx", TypeDesc::UINT16, 10, true, true, false};
  const struct {
    int width;
    bool filled;
    int exitCode;
  } cases[] = {{31, true, 1}, {31, false, 0}, {32, true, 0}, {30, true, 0}};
  for (const auto &c : cases) {
    const std::string in = path("in.dpx"), out = path("out.dpx");
    writeInput(in, dpx, 4, false, c.width, c.filled);
    const ToolRun run = runTool(withAidsOff({"render", in, out, "--verify"}));
    EXPECT_EQ(run.exitCode, c.exitCode) << c.width << ": " << run.output;
    if (c.exitCode) {
      EXPECT_EQ(run.output.rfind("vantorel: cannot read '" + in +
                                     "': OpenImageIO misreads the alpha at "
                                     "the end of every row of a 10-bit RGBA "
                                     "DPX",
                                 0),
                0u)
          << run.output;
      EXPECT_FALSE(fs::exists(out));
      continue;
    }
    EXPECT_EQ(readFile<std::uint16_t>(out, TypeDesc::UINT16).values,
              readFile<std::uint16_t>(in, TypeDesc::UINT16).values)
        << c.width;
    fs::remove(out);
  }
}

// Writers that store other than they are asked. Where the format is known
// to, the tool asks for what it stores: RLA writes half as 16-bit integers
// and FITS 16-bit as signed integers, so both get float instead; GIF and
// ICO files always hold alpha, so RGB goes in as RGBA. Where only the
// pixels differ (the DPX reader loses the last alpha of filled 10-bit RGBA
// rows 3n + 1 wide), --verify sees it, and the write fails leaving nothing
// behind.
TEST_F(ToolTest, WritersThatStoreOtherThanAskedAreAskedForWhatTheyStore) {
  vantorel::Frame frame = vantorel::Frame::make(kWidth, 2, Depth::Float);
  for (std::size_t i = 0; i < frame.floats.size(); ++i)
    frame.floats[i] = static_cast<float>(i % 7) / 8.0f;
  vantorel::ImageHeader filledDpx;
  filledDpx.spec = OIIO::ImageSpec(kWidth, 2, 4, TypeDesc::UINT16);
  filledDpx.spec.attribute("oiio:BitsPerSample", 10);
  filledDpx.spec.attribute("dpx:Packing", "Filled, method A");
  vantorel::ImageHeader half, wide, rgb;
  half.spec = OIIO::ImageSpec(kWidth, 2, 4, TypeDesc::HALF);
  wide.spec = OIIO::ImageSpec(kWidth, 2, 4, TypeDesc::UINT16);
  rgb.spec = OIIO::ImageSpec(kWidth, 2, 3, TypeDesc::UINT8);
  const struct {
    const char *out;
    const vantorel::ImageHeader *source;
    bool comparePixels;
    std::string readsBackAs; // empty: not written
    std::string reason;      // why not
  } cases[] = {
      {"o.rla", &half, true, "31x2, 4 channels, float", ""},
      {"o.fits", &wide, true, "31x2, 4 channels, float", ""},
      {"o.gif", &rgb, false, "31x2, 4 channels, uint8", ""},
      {"o.dpx", &filledDpx, false, "31x2, 4 channels, 10-bit", ""},
      {"o.dpx", &filledDpx, true, "",
       "it reads back with other pixels, the first at x 30, y 0 from the "
       "top, channel 3"},
  };
  for (const auto &c : cases) {
    std::ofstream(path(c.out)) << "keep me";
    std::string error;
    const bool written = vantorel::writeImage(
        path(c.out), frame, {std::nullopt, c.source, c.comparePixels}, &error);
    EXPECT_EQ(written, !c.readsBackAs.empty()) << c.out << ": " << error;
    if (written) {
      auto in = OIIO::ImageInput::open(path(c.out));
      ASSERT_TRUE(in) << c.out;
      EXPECT_EQ(vantorel::shapeOf(in->spec()), c.readsBackAs) << c.out;
    } else {
      EXPECT_EQ(error, "cannot write '" + path(c.out) + "': " + c.reason);
      EXPECT_EQ(contentsOf(path(c.out)), "keep me");
    }
    EXPECT_EQ(files(), std::set<std::string>{c.out});
    fs::remove(path(c.out));
  }
}

// An input without alpha whose render comes out with some: alpha is kept,
// and the summary says so; opaque, it is left out.
TEST_F(ToolTest, AlphaTheRenderMadeIsKeptAndSaid) {
  const std::uint8_t rgb[2 * 1 * 3] = {10, 20, 30, 40, 50, 60};
  writeFile(path("in.png"), 2, 1, 3, TypeDesc::UINT8, rgb);
  vantorel::ImageHeader header;
  std::string error;
  vantorel::Frame frame;
  ASSERT_TRUE(vantorel::readImage(path("in.png"), std::nullopt, &frame, &header,
                                  &error))
      << error;
  for (std::uint8_t alpha : {255, 254}) {
    frame.bytes[7] = alpha;
    auto encoded = vantorel::encodeImage(path("out.png"), frame,
                                         {std::nullopt, &header, true}, &error);
    ASSERT_TRUE(encoded) << error;
    EXPECT_EQ(encoded->alphaAdded(), alpha != 255);
    ASSERT_TRUE(encoded->place(&error)) << error;
    const auto out = readFile<std::uint8_t>(path("out.png"), TypeDesc::UINT8);
    const std::vector<std::uint8_t> expected =
        alpha == 255
            ? std::vector<std::uint8_t>{10, 20, 30, 40, 50, 60}
            : std::vector<std::uint8_t>{10, 20, 30, 255, 40, 50, 60, 254};
    EXPECT_EQ(out.values, expected);
  }
  std::FILE *out = std::tmpfile();
  vantorel::Progress progress(3, out, false, "B");
  for (bool alphaAdded : {true, false, true})
    progress.frameDone(frame, alphaAdded);
  progress.finish();
  std::rewind(out);
  char line[512] = {};
  ASSERT_TRUE(std::fgets(line, sizeof line, out));
  std::fclose(out);
  EXPECT_NE(std::string(line).find(
                ", alpha kept in 2 frames whose input has none (the render "
                "made it not opaque), plug-in from B\n"),
            std::string::npos)
      << line;
}

} // namespace
