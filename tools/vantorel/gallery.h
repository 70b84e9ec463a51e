// The gallery: one contact sheet of the built-in chart under each aid on
// its own and all together, each tile captioned.
#pragma once

#include "frame.h"
#include "session.h"

#include <string>
#include <vector>

namespace vantorel {

struct GalleryTile {
  const char *caption;
  std::vector<std::string> settings; // "NAME=VALUE" over the defaults
  bool everyAid = false;             // switch every aid on first
};

// The tiles in sheet order.
const std::vector<GalleryTile> &galleryTiles();

// Renders the chart at tileWidth x tileHeight (8-bit) under each tile's
// settings and lays the tiles out four to a row, captions below. False
// with *error when a setting is refused or a render fails.
bool makeGallery(Session &session, int tileWidth, int tileHeight, Frame *sheet,
                 std::string *error);

} // namespace vantorel
