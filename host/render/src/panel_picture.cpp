#include "fbrender/panel_picture.h"

#if ORBEL_RENDER_PNG
#include <cairo.h>
#include <fontconfig/fontconfig.h>
#endif

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "fbhost/config.h"
#include "fbsdk/fbcontrols.h"

namespace fbrender {
namespace {

using fbhost::PanelRegion;
using Rgb = std::array<std::uint8_t, 3>;

// Texts sit in a box 7 panel pixels high with an advance of about 6 a
// character, which the panels' layouts are sized for; at this size the
// font's capitals fill the box.
constexpr int kTextHeight = 7;
constexpr int kCellWidth = 6;
constexpr const char* kFontFamily = "DejaVu Sans Mono";
constexpr double kFontSize = 9.5;

// The text with every byte that is not part of well-formed UTF-8 shown as
// '?': captions come from plug-ins, and cairo refuses to draw (and stops
// drawing altogether) on malformed text.
std::string Valid(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    std::size_t length = b < 0x80           ? 1
                         : (b >> 5) == 0x6  ? 2
                         : (b >> 4) == 0xE  ? 3
                         : (b >> 3) == 0x1E ? 4
                                            : 0;
    bool ok = length > 0 && i + length <= text.size() && !(b == 0xC0 || b == 0xC1 || b > 0xF4);
    for (std::size_t k = 1; ok && k < length; ++k) {
      ok = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    }
    if (ok && length == 3) {
      const auto b1 = static_cast<unsigned char>(text[i + 1]);
      ok = !(b == 0xE0 && b1 < 0xA0) && !(b == 0xED && b1 >= 0xA0);  // overlong, surrogate
    } else if (ok && length == 4) {
      const auto b1 = static_cast<unsigned char>(text[i + 1]);
      ok = !(b == 0xF0 && b1 < 0x90) && !(b == 0xF4 && b1 >= 0x90);
    }
    if (ok) {
      out.append(text, i, length);
      i += length;
    } else {
      out.push_back('?');
      ++i;
    }
  }
  return out;
}

int CodePoints(const std::string& text) {
  return static_cast<int>(std::count_if(text.begin(), text.end(), [](char ch) {
    return (static_cast<unsigned char>(ch) & 0xC0) != 0x80;
  }));
}

enum Colour : std::uint8_t {
  kPanelBackground,
  kHeaderBackground,
  kHeaderText,
  kText,
  kDisabledText,
  kFieldBackground,
  kFieldDisabled,
  kOutline,
  kButtonFace,
  kButtonShade,
  kAccent,
  kError,
  kBorderLine,
  kFlagOn,
  kFlagOff,
  kTabStrip,
  kColourCount
};

const Rgb kPalette[kColourCount] = {
    {{0xE4, 0xE4, 0xE4}}, {{0x33, 0x39, 0x45}}, {{0xFF, 0xFF, 0xFF}}, {{0x1C, 0x1C, 0x1C}},
    {{0x9C, 0x9C, 0x9C}}, {{0xFF, 0xFF, 0xFF}}, {{0xEE, 0xEE, 0xEE}}, {{0x70, 0x70, 0x70}},
    {{0xF4, 0xF4, 0xF4}}, {{0xB4, 0xB4, 0xB4}}, {{0x22, 0x66, 0xB0}}, {{0xC8, 0x2A, 0x2A}},
    {{0x8C, 0x8C, 0x8C}}, {{0x2E, 0x9E, 0x4F}}, {{0x7E, 0x84, 0x8E}}, {{0xD2, 0xD2, 0xD2}},
};

std::string Hex(Colour c) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "#%02X%02X%02X", kPalette[c][0], kPalette[c][1],
                kPalette[c][2]);
  return buffer;
}

class Painter {
 public:
  virtual ~Painter() = default;
  virtual void Fill(int x, int y, int w, int h, Colour c) = 0;
  virtual void Outline(int x, int y, int w, int h, Colour c, int thickness) = 0;
  virtual void Line(int x0, int y0, int x1, int y1, Colour c) = 0;
  // Text with its top-left corner at (x, y), cut at the clip rectangle.
  virtual void Text(int x, int y, const std::string& text, Colour c, int clipX, int clipY,
                    int clipW, int clipH) = 0;
  // The advance of the text, in panel pixels.
  virtual int TextWidth(const std::string& text) = 0;
};

#if ORBEL_RENDER_PNG
// Draws on a cairo context scaled to panel pixels. One-pixel lines and
// outlines sit on pixel centres, so that they come out crisp.
class CairoPainter : public Painter {
 public:
  explicit CairoPainter(cairo_t* cr) : mCr(cr) {
    cairo_select_font_face(cr, kFontFamily, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, kFontSize);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_FULL);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
    cairo_set_font_options(cr, options);
    cairo_font_options_destroy(options);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_SQUARE);
  }
  void Fill(int x, int y, int w, int h, Colour c) override {
    if (w <= 0 || h <= 0) return;
    SetColour(c);
    cairo_rectangle(mCr, x, y, w, h);
    cairo_fill(mCr);
  }
  void Outline(int x, int y, int w, int h, Colour c, int thickness) override {
    if (w <= 0 || h <= 0) return;
    SetColour(c);
    const double half = thickness / 2.0;
    cairo_set_line_width(mCr, thickness);
    cairo_rectangle(mCr, x + half, y + half, w - thickness, h - thickness);
    cairo_stroke(mCr);
  }
  void Line(int x0, int y0, int x1, int y1, Colour c) override {
    SetColour(c);
    cairo_set_line_width(mCr, 1);
    cairo_move_to(mCr, x0 + 0.5, y0 + 0.5);
    cairo_line_to(mCr, x1 + 0.5, y1 + 0.5);
    cairo_stroke(mCr);
  }
  void Text(int x, int y, const std::string& text, Colour c, int clipX, int clipY, int clipW,
            int clipH) override {
    if (text.empty() || clipW <= 0 || clipH <= 0) return;
    cairo_save(mCr);
    cairo_rectangle(mCr, clipX, clipY, clipW, clipH);
    cairo_clip(mCr);
    SetColour(c);
    cairo_move_to(mCr, x, y + kTextHeight);
    cairo_show_text(mCr, Valid(text).c_str());
    cairo_restore(mCr);
  }
  int TextWidth(const std::string& text) override {
    cairo_text_extents_t extents;
    cairo_text_extents(mCr, Valid(text).c_str(), &extents);
    return static_cast<int>(std::ceil(extents.x_advance));
  }

 private:
  void SetColour(Colour c) {
    cairo_set_source_rgb(mCr, kPalette[c][0] / 255.0, kPalette[c][1] / 255.0,
                         kPalette[c][2] / 255.0);
  }
  cairo_t* mCr;
};
#endif

std::string XmlEscape(const std::string& text) {
  std::string out;
  for (const char ch : text) {
    const auto u = static_cast<unsigned char>(ch);
    switch (ch) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        // XML 1.0 has no place for most control characters.
        out.push_back(u < 0x20 ? '?' : ch);
    }
  }
  return out;
}

class SvgPainter : public Painter {
 public:
  explicit SvgPainter(std::string* out) : mOut(out) {}
  void Fill(int x, int y, int w, int h, Colour c) override {
    if (w <= 0 || h <= 0) return;
    *mOut += "<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\" width=\"" +
             std::to_string(w) + "\" height=\"" + std::to_string(h) + "\" fill=\"" + Hex(c) +
             "\"/>\n";
  }
  void Outline(int x, int y, int w, int h, Colour c, int thickness) override {
    if (w <= 0 || h <= 0) return;
    const double half = thickness / 2.0;
    *mOut += "<rect x=\"" + Number(x + half) + "\" y=\"" + Number(y + half) + "\" width=\"" +
             Number(w - thickness) + "\" height=\"" + Number(h - thickness) +
             "\" fill=\"none\" stroke=\"" + Hex(c) + "\" stroke-width=\"" +
             std::to_string(thickness) + "\"/>\n";
  }
  void Line(int x0, int y0, int x1, int y1, Colour c) override {
    *mOut += "<line x1=\"" + Number(x0 + 0.5) + "\" y1=\"" + Number(y0 + 0.5) + "\" x2=\"" +
             Number(x1 + 0.5) + "\" y2=\"" + Number(y1 + 0.5) + "\" stroke=\"" + Hex(c) + "\"/>\n";
  }
  void Text(int x, int y, const std::string& text, Colour c, int clipX, int clipY, int clipW,
            int clipH) override {
    if (text.empty() || clipW <= 0 || clipH <= 0) return;
    const std::string id = "c" + std::to_string(mClips++);
    *mOut += "<clipPath id=\"" + id + "\"><rect x=\"" + std::to_string(clipX) + "\" y=\"" +
             std::to_string(clipY) + "\" width=\"" + std::to_string(clipW) + "\" height=\"" +
             std::to_string(clipH) + "\"/></clipPath>\n";
    // The baseline sits at the bottom of the text box.
    *mOut += "<text x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y + 7) + "\" fill=\"" +
             Hex(c) + "\" clip-path=\"url(#" + id + ")\" xml:space=\"preserve\">" +
             XmlEscape(Valid(text)) + "</text>\n";
  }
  // The font's advance is about 6 panel pixels a character.
  int TextWidth(const std::string& text) override { return kCellWidth * CodePoints(text); }

  static std::string Number(double v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", v);
    return buffer;
  }

 private:
  std::string* mOut;
  int mClips = 0;
};

void DrawTextIn(Painter& p, const PanelRegion& r, int x, const std::string& text, Colour c) {
  const int y = r.y + (r.height - kTextHeight) / 2;
  p.Text(x, y, text, c, r.x, r.y, r.width, r.height);
}

void DrawBorder(Painter& p, const PanelRegion& r) {
  const FBLayout::Border& b = r.border;
  if (b.style == kFBNoBorder || b.width <= 0) return;
  const int grow = b.inset ? 0 : b.width;
  const int x = r.x - grow, y = r.y - grow, w = r.width + 2 * grow, h = r.height + 2 * grow;
  switch (b.style) {
    case kFBEmbossBorder: {
      // Lit from above (angle 90) or below: the lit sides are the light ones.
      const bool fromTop = b.lightAngle >= 0.0f && b.lightAngle <= 180.0f;
      p.Outline(x, y, w, h, fromTop ? kButtonFace : kBorderLine, b.width);
      p.Fill(x, y + h - b.width, w, b.width, fromTop ? kBorderLine : kButtonFace);
      p.Fill(x + w - b.width, y, b.width, h, fromTop ? kBorderLine : kButtonFace);
      break;
    }
    case kFBHighlightBorder:
      p.Outline(x, y, w, h, kAccent, b.width);
      break;
    default:
      p.Outline(x, y, w, h, kBorderLine, b.width);
      break;
  }
  if (b.showTitle && !r.title.empty()) {
    const int tw = p.TextWidth(r.title) + 4;
    p.Fill(x + 6, y - 4, tw, 9, kPanelBackground);
    p.Text(x + 8, y - 3, r.title, kText, x + 6, y - 4, tw, 9);
  }
}

void DrawRegion(Painter& p, const PanelRegion& r) {
  if (!r.visible) return;
  if (!r.error.empty()) {
    p.Outline(r.x, r.y, std::max(r.width, 4), std::max(r.height, 4), kError, 1);
    return;
  }
  const Colour text = r.usable ? kText : kDisabledText;
  if (r.kind == "Layout" || r.kind.empty()) {
    DrawBorder(p, r);
    return;
  }
  DrawBorder(p, r);
  if (r.kind == "Label") {
    DrawTextIn(p, r, r.x, static_cast<FBLabel*>(r.control)->Caption.Get().str(), text);
  } else if (r.kind == "Edit" || r.kind == "List") {
    p.Fill(r.x, r.y, r.width, r.height, r.usable ? kFieldBackground : kFieldDisabled);
    p.Outline(r.x, r.y, r.width, r.height, kOutline, 1);
    std::string shown;
    if (r.kind == "Edit") {
      shown = static_cast<FBEdit*>(r.control)->Text.Get().str();
    } else {
      auto* list = static_cast<FBList*>(r.control);
      shown = list->Items.GetAt(list->ItemIndex.Get()).str();
      // The drop-down arrow.
      const int ax = r.x + r.width - 10, ay = r.y + r.height / 2 - 2;
      for (int row = 0; row < 4; ++row) p.Line(ax + row, ay + row, ax + 6 - row, ay + row, text);
    }
    const int right = r.kind == "List" ? 14 : 3;
    p.Text(r.x + 3, r.y + (r.height - kTextHeight) / 2, shown, text, r.x + 1, r.y + 1,
           std::max(0, r.width - right - 1), std::max(0, r.height - 2));
  } else if (r.kind == "Button") {
    auto* button = static_cast<FBButton*>(r.control);
    const FBButtonStyle style = button->Style.Get();
    const bool on = button->State.Get() != 0;
    const std::string caption = button->Caption.Get().str();
    if (style == kFBCheckbox || style == kFBRadioButton) {
      const int box = std::min(9, std::max(0, r.height));
      const int bx = r.x, by = r.y + (r.height - box) / 2;
      p.Fill(bx, by, box, box, r.usable ? kFieldBackground : kFieldDisabled);
      p.Outline(bx, by, box, box, kOutline, 1);
      if (on && style == kFBCheckbox) {
        const Colour mark = r.usable ? kAccent : kDisabledText;
        p.Line(bx + 2, by + 4, bx + 3, by + 6, mark);
        p.Line(bx + 3, by + 6, bx + 6, by + 2, mark);
        p.Line(bx + 2, by + 5, bx + 3, by + 7, mark);
        p.Line(bx + 3, by + 7, bx + 6, by + 3, mark);
      } else if (on) {
        p.Fill(bx + 2, by + 2, box - 4, box - 4, r.usable ? kAccent : kDisabledText);
      }
      DrawTextIn(p, r, r.x + box + 5, caption, text);
    } else {
      const bool pressed = on && (style == kFB2States || style == kFBBitmap2States);
      p.Fill(r.x, r.y, r.width, r.height, pressed ? kButtonShade : kButtonFace);
      p.Outline(r.x, r.y, r.width, r.height, kOutline, 1);
      if (!pressed && r.height > 2)
        p.Fill(r.x + 1, r.y + r.height - 2, r.width - 2, 1, kButtonShade);
      const int tw = p.TextWidth(caption);
      DrawTextIn(p, r, r.x + std::max(3, (r.width - tw) / 2), caption, text);
    }
  } else if (r.kind == "TabPanel") {
    auto* tabs = static_cast<FBTabPanel*>(r.control);
    p.Fill(r.x, r.y, r.width, r.height, kTabStrip);
    p.Fill(r.x, r.y + r.height - 1, r.width, 1, kBorderLine);
    int tx = r.x + 2;
    const int chosen = tabs->ItemIndex.Get();
    for (int i = 0; i < tabs->Items.GetCount(); ++i) {
      const std::string caption = tabs->Items.GetAt(i).str();
      const int tw = p.TextWidth(caption) + 12;
      p.Fill(tx, r.y + 3, tw, r.height - 3, i == chosen ? kPanelBackground : kButtonShade);
      p.Outline(tx, r.y + 3, tw, r.height - 3, kBorderLine, 1);
      p.Text(tx + 6, r.y + 3 + (r.height - 3 - 7) / 2, caption, text, tx, r.y, tw, r.height);
      tx += tw + 2;
    }
  } else {
    p.Outline(r.x, r.y, r.width, r.height, kBorderLine, 1);
  }
}

void DrawFlag(Painter& p, int* x, const char* name, bool on) {
  const int w = p.TextWidth(name) + 8;
  if (on) {
    p.Fill(*x, 5, w, 12, kFlagOn);
  } else {
    p.Outline(*x, 5, w, 12, kFlagOff, 1);
  }
  p.Text(*x + 4, 8, name, on ? kHeaderText : kFlagOff, *x, 5, w, 12);
  *x += w + 6;
}

void DrawPanel(Painter& p, FBDevice* device, bool deviceAlive, int width,
               const std::vector<fbhost::PanelRegion>& regions) {
  const int header = fbhost::kPanelHeaderHeight;
  p.Fill(0, 0, width, header, kHeaderBackground);
  int x = 6;
  if (deviceAlive) {
    const std::string name = device->LongName.Get().str();
    p.Text(x, 8, name, kHeaderText, 0, 0, width, header);
    x += p.TextWidth(name) + 12;
    DrawFlag(p, &x, "Online", device->Online.Get());
    DrawFlag(p, &x, "Live", device->Live.Get());
    DrawFlag(p, &x, "Recording", device->Recording.Get());
    p.Text(x + 4, 8, device->Status.Get().str(), kHeaderText, 0, 0, width - 4, header);
    // The information text says what happened last, or why an operation
    // failed: the line a user reads when something does not work.
    p.Text(6, 24, device->Information.Get().str(), kHeaderText, 0, 20, width - 4, header - 20);
  } else {
    p.Text(x, 8, "(the device is gone)", kHeaderText, 0, 0, width, header);
  }
  for (const PanelRegion& r : regions) DrawRegion(p, r);
}

void Draw(Painter& p, const fbhost::Panel& panel, int width) {
  p.Fill(0, 0, width, panel.Height() + fbhost::kPanelHeaderHeight, kPanelBackground);
  // The header is drawn at the top; the panel's own pixels start below it.
  std::vector<PanelRegion> regions = panel.Regions();
  for (auto& r : regions) r.y += fbhost::kPanelHeaderHeight;
  DrawPanel(p, panel.Device(), panel.DeviceAlive(), width, regions);
}

#if ORBEL_RENDER_PNG
cairo_status_t AppendBytes(void* closure, const unsigned char* data, unsigned int length) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(closure);
  out->insert(out->end(), data, data + length);
  return CAIRO_STATUS_SUCCESS;
}

// cairo and fontconfig keep their font caches for the life of the process.
// Handing them back at exit, once nothing draws any more, keeps leak checkers
// of the host program and the tests about our own memory.
void ReleaseFontCachesAtExit() {
  static const bool registered = [] {
    std::atexit([] {
      cairo_debug_reset_static_data();
      FcFini();
    });
    return true;
  }();
  (void)registered;
}

#endif

void SetError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

}  // namespace

std::string PanelSvg(const fbhost::Panel& panel) {
  const int width = panel.Width(), height = panel.Height() + fbhost::kPanelHeaderHeight;
  std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                    std::to_string(width * 2) + "\" height=\"" + std::to_string(height * 2) +
                    "\" viewBox=\"0 0 " + std::to_string(width) + " " + std::to_string(height) +
                    "\" font-family=\"" + kFontFamily + ", monospace\" font-size=\"" +
                    SvgPainter::Number(kFontSize) + "\">\n";
  std::string body;
  SvgPainter painter(&body);
  Draw(painter, panel, width);
  return out + body + "</svg>\n";
}

#if ORBEL_RENDER_PNG
std::vector<std::uint8_t> PanelPng(const fbhost::Panel& panel, int scale) {
  scale = std::clamp(scale, 1, 8);
  const int width = std::max(1, panel.Width());
  const int height = std::max(1, panel.Height() + fbhost::kPanelHeaderHeight);
  ReleaseFontCachesAtExit();
  cairo_surface_t* surface =
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, width * scale, height * scale);
  cairo_t* cr = cairo_create(surface);
  cairo_scale(cr, scale, scale);
  {
    CairoPainter painter(cr);
    Draw(painter, panel, width);
  }
  cairo_destroy(cr);
  std::vector<std::uint8_t> png;
  if (cairo_surface_write_to_png_stream(surface, AppendBytes, &png) != CAIRO_STATUS_SUCCESS) {
    png.clear();
  }
  cairo_surface_destroy(surface);
  return png;
}
#else
// The Windows cross-build has no cairo: no PNG there (SVG works).
std::vector<std::uint8_t> PanelPng(const fbhost::Panel&, int) { return {}; }
#endif

bool WritePanelPng(const fbhost::Panel& panel, const std::string& path, int scale,
                   std::string* error) {
  const auto png = PanelPng(panel, scale);
  if (png.empty()) {
    SetError(error, ORBEL_RENDER_PNG ? "cannot draw the panel's picture for '" + path + "'"
                                     : "cannot write '" + path +
                                           "': PNG pictures are not part of this build (no "
                                           "cairo); write an SVG instead");
    return false;
  }
  std::string why;
  if (!fbhost::WriteFileSafely(path, std::string(png.begin(), png.end()), &why)) {
    SetError(error, why);
    return false;
  }
  return true;
}

bool WritePanelSvg(const fbhost::Panel& panel, const std::string& path, std::string* error) {
  std::string why;
  if (!fbhost::WriteFileSafely(path, PanelSvg(panel), &why)) {
    SetError(error, why);
    return false;
  }
  return true;
}

}  // namespace fbrender
