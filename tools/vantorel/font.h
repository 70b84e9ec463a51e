// A small built-in bitmap font (5x7 capitals, digits and punctuation) for
// captions, so that no font file is needed.
#pragma once

#include <string>

namespace vantorel {

const int kGlyphWidth = 5;
const int kGlyphHeight = 7;
const int kGlyphAdvance = 6; // glyph plus one column of space

// Whether the pixel at `column`, `row` (from the top) of `c`'s glyph is
// set. Lower case draws as upper case; characters the font lacks as '?'.
bool glyphPixel(char c, int column, int row);

// Width in pixels of `text` drawn at `scale` (no trailing space).
int textWidth(const std::string &text, int scale);

} // namespace vantorel
