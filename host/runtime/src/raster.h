// raster.h: an indexed-colour canvas with the few shapes panel pictures
// need, and a built-in 5x7 pixel font.
//
// Private to libfbsdk. Coordinates are in panel pixels; the canvas draws
// each panel pixel as scale x scale picture pixels. Everything is clipped to
// the canvas (and to an optional clip rectangle), so no call can write
// outside it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fbhost_internal {

// The font cell: 5x7 glyphs in a 6x9 cell (one column and two rows apart).
constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;
constexpr int kCellWidth = 6;
constexpr int kCellHeight = 9;

// The glyph rows (bit 4 is the leftmost pixel) of a printable ASCII
// character; characters outside 32..126 draw as '?'.
const std::uint8_t* Glyph(char c);
// How far below the cell's top a glyph is drawn: 2 rows for the letters
// that reach below the line (g, p, q, y), so that they can, 0 for the rest.
int GlyphDrop(char c);

class Canvas {
 public:
  Canvas(int width, int height, int scale, std::uint8_t background);

  int Width() const { return mWidth; }    // in panel pixels
  int Height() const { return mHeight; }  // in panel pixels
  int Scale() const { return mScale; }

  // Limits later drawing to the rectangle (in panel pixels), intersected
  // with the canvas; ClearClip lifts it.
  void SetClip(int x, int y, int width, int height);
  void ClearClip();

  void Fill(int x, int y, int width, int height, std::uint8_t colour);
  void Outline(int x, int y, int width, int height, std::uint8_t colour, int thickness = 1);
  void Line(int x0, int y0, int x1, int y1, std::uint8_t colour);  // any direction
  // Text with its top-left corner at (x, y); answers the width drawn.
  int Text(int x, int y, const std::string& text, std::uint8_t colour);
  static int TextWidth(const std::string& text) {
    return static_cast<int>(text.size()) * kCellWidth;
  }

  // The picture: (width * scale) x (height * scale) indexes, row by row.
  const std::vector<std::uint8_t>& Pixels() const { return mPixels; }
  int PictureWidth() const { return mWidth * mScale; }
  int PictureHeight() const { return mHeight * mScale; }

 private:
  void Plot(int x, int y, std::uint8_t colour);  // one panel pixel
  int mWidth, mHeight, mScale;
  int mClipX0 = 0, mClipY0 = 0, mClipX1 = 0, mClipY1 = 0;  // half-open
  std::vector<std::uint8_t> mPixels;
};

}  // namespace fbhost_internal
