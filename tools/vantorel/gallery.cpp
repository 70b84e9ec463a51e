#include "gallery.h"

#include "chart.h"
#include "font.h"

#include <algorithm>
#include <cstring>

namespace vantorel {

namespace {

const int kColumns = 4;
const int kGap = 8;
const std::uint8_t kBackground[4] = {24, 24, 24, 255};
const std::uint8_t kCaptionColour[4] = {225, 225, 225, 255};
const std::uint8_t kTitleColour[4] = {255, 255, 255, 255};

// A byte frame addressed from the top, as a sheet is laid out.
std::uint8_t *pixelAt(Frame &frame, int x, int yFromTop) {
  return frame.row(frame.height - 1 - yFromTop) + 4 * x;
}

void fill(Frame &frame, const std::uint8_t colour[4]) {
  for (std::size_t i = 0; i < frame.bytes.size(); i += 4)
    std::memcpy(&frame.bytes[i], colour, 4);
}

void paste(Frame &sheet, const Frame &tile, int x, int yFromTop) {
  for (int y = 0; y < tile.height; ++y)
    std::memcpy(pixelAt(sheet, x, yFromTop + y), tile.row(tile.height - 1 - y),
                tile.rowBytes());
}

void drawText(Frame &sheet, const std::string &text, int x, int yFromTop,
              int scale, const std::uint8_t colour[4]) {
  for (std::size_t i = 0; i < text.size(); ++i)
    for (int row = 0; row < kGlyphHeight * scale; ++row)
      for (int column = 0; column < kGlyphWidth * scale; ++column) {
        const int px = x + static_cast<int>(i) * kGlyphAdvance * scale + column;
        const int py = yFromTop + row;
        if (px >= 0 && px < sheet.width && py >= 0 && py < sheet.height &&
            glyphPixel(text[i], column / scale, row / scale))
          std::memcpy(pixelAt(sheet, px, py), colour, 4);
      }
}

// The largest scale up to `most` at which `text` fits `width`; at least 1.
int fittingScale(const std::string &text, int width, int most) {
  int scale = most;
  while (scale > 1 && textWidth(text, scale) > width)
    --scale;
  return scale;
}

void drawCentred(Frame &sheet, const std::string &text, int x, int width,
                 int yFromTop, int scale, const std::uint8_t colour[4]) {
  drawText(sheet, text, x + std::max(0, (width - textWidth(text, scale)) / 2),
           yFromTop, scale, colour);
}

// The name of the plug-in and of the sheet, centred in a free cell.
void drawTitle(Frame &sheet, int x, int y, int width, int height) {
  const char *lines[] = {"Qvo Vantorel", "the test chart", "under each aid"};
  const int titleScale = fittingScale(lines[0], width, 4);
  const int scale = std::max(1, titleScale / 2);
  const int lineHeight = (kGlyphHeight + 3) * scale;
  int top = y + (height - (kGlyphHeight + 3) * titleScale - 2 * lineHeight) / 2;
  drawCentred(sheet, lines[0], x, width, top, titleScale, kTitleColour);
  top += (kGlyphHeight + 3) * titleScale;
  for (const char *line : {lines[1], lines[2]}) {
    drawCentred(sheet, line, x, width, top, scale, kCaptionColour);
    top += lineHeight;
  }
}

bool renderTile(Session &session, const GalleryTile &tile, int width,
                int height, Frame *frame, std::string *error) {
  session.resetParams();
  if (tile.everyAid)
    for (const Setting &setting : everyAidOn(session.params()))
      session.set(setting);
  if (!session.setAll(tile.settings, error))
    return false;
  *frame = makeChart(width, height, Depth::Byte);
  return session.render(*frame, 0.0, error);
}

} // namespace

const std::vector<GalleryTile> &galleryTiles() {
  static const std::vector<GalleryTile> tiles = {
      {"Chart, no aids", {}},
      {"Legalize levels", {"LegalizeLevels=1"}},
      {"False color", {"FalseColorMode=1"}},
      {"Skin patches", {"ShowSkinTonePatches=1"}},
      {"Skin line", {"ShowSkinToneLine=1"}},
      {"Patches + line", {"ShowSkinTonePatches=1", "ShowSkinToneLine=1"}},
      {"18% middle gray", {"ShowMiddleGray=1"}},
      {"Rule of thirds", {"GuideThirds=1"}},
      {"Golden ratio", {"GuideGolden=1"}},
      {"Center crosshair", {"GuideCrosshair=1"}},
      {"1.85:1 bars", {"Crop185=1"}},
      {"2.35:1 bars", {"Crop235=1"}},
      {"2.39:1 bars", {"Crop239=1"}},
      {"2.39:1 at 50%", {"Crop239=1", "CropOpacity=0.5"}},
      {"All aids on", {}, true},
  };
  return tiles;
}

bool makeGallery(Session &session, int tileWidth, int tileHeight, Frame *sheet,
                 std::string *error) {
  const std::vector<GalleryTile> &tiles = galleryTiles();
  int scale = 2;
  for (const GalleryTile &tile : tiles)
    scale = std::min(scale, fittingScale(tile.caption, tileWidth, 2));
  const int captionHeight = (kGlyphHeight + 4) * scale;
  const int cellHeight = tileHeight + captionHeight + kGap;
  const int rows = (static_cast<int>(tiles.size()) + kColumns - 1) / kColumns;
  *sheet = Frame::make(kColumns * (tileWidth + kGap) + kGap,
                       rows * cellHeight + kGap, Depth::Byte);
  fill(*sheet, kBackground);
  int index = 0;
  for (const GalleryTile &tile : tiles) {
    Frame frame;
    if (!renderTile(session, tile, tileWidth, tileHeight, &frame, error))
      return false;
    const int x = kGap + index % kColumns * (tileWidth + kGap);
    const int y = kGap + index / kColumns * cellHeight;
    paste(*sheet, frame, x, y);
    drawCentred(*sheet, tile.caption, x, tileWidth, y + tileHeight + 2 * scale,
                scale, kCaptionColour);
    ++index;
  }
  if (index % kColumns != 0)
    drawTitle(*sheet, kGap + index % kColumns * (tileWidth + kGap),
              kGap + index / kColumns * cellHeight, tileWidth, tileHeight);
  session.resetParams();
  return true;
}

} // namespace vantorel
