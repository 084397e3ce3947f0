#include "fbhost/panel.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <mutex>
#include <utility>

#include "event_state.h"
#include "fbhost/registry.h"
#include "fbsdk/fbcontrols.h"
#include "fbsdk/fbregistry.h"
#include "host_files.h"
#include "host_text.h"
#include "panel_state.h"
#include "png.h"
#include "raster.h"

namespace fbhost {

using fbhost_internal::Rgb;

struct Panel::Impl {
  FBDevice* device = nullptr;
  HIObject deviceHandle = nullptr;
  FBLayout* layout = nullptr;  // null once closed
  int width = 0;
  int height = 0;
};

namespace {

constexpr const char* kPanelGroup = "UI_Associated_ClassName";
// Nested layouts deeper than this are not followed (a layout set into one
// of its own regions' layouts would otherwise never end).
constexpr int kMaxDepth = 16;

struct OpenPanels {
  std::mutex lock;
  std::vector<Panel::Impl*> panels;
};
OpenPanels& OpenPanelTable() {
  static OpenPanels* open = new OpenPanels;
  return *open;
}

void SetError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

bool Alive(HIObject handle, const FBComponent* component) {
  return handle != nullptr && FBGetFBObject(handle) == component;
}

// Ends a layout. With its device alive the layout's own FBDestroy runs (it
// lets go of the device's events); with the device gone, that would touch
// freed memory, so the host takes the layout's idle handlers out itself and
// frees it without FBDestroy.
void EndLayout(Panel::Impl& impl) {
  FBLayout* layout = impl.layout;
  if (layout == nullptr) return;
  impl.layout = nullptr;
  if (!Alive(layout->GetHIObject(), layout)) return;  // someone else ended it
  if (Alive(impl.deviceHandle, impl.device)) {
    layout->FBDelete();
    return;
  }
  FBPropertyEvent idle(fbhost_internal::UIIdleCore());
  idle.RemoveAll(layout);
  idle.RemoveAll(dynamic_cast<void*>(layout));
  layout->SetObjectStatus(kFBStatusDestroying, true);
  if (layout->mAllocated) delete layout;
}

std::string KindOf(const FBVisualComponent* control) {
  if (control == nullptr) return "";
  auto* c = const_cast<FBVisualComponent*>(control);
  if (c->Is(FBEdit::TypeInfo)) return "Edit";
  if (c->Is(FBList::TypeInfo)) return "List";
  if (c->Is(FBButton::TypeInfo)) return "Button";
  if (c->Is(FBTabPanel::TypeInfo)) return "TabPanel";
  if (c->Is(FBLabel::TypeInfo)) return "Label";
  if (c->Is(FBLayout::TypeInfo)) return "Layout";
  return "Control";
}

struct Collected {
  PanelRegion region;
  bool usable = true;  // enabled and visible, with every layout around it
  bool visible = true;
};

void Collect(FBLayout* layout, int originX, int originY, int width, int height,
             const std::string& prefix, int depth, bool usable, bool visible,
             std::vector<Collected>* out) {
  layout->SetLayoutSize(width, height);
  const auto regions = layout->Regions();
  const auto rects = layout->Resolve(width, height);
  for (std::size_t i = 0; i < regions.size(); ++i) {
    Collected c;
    PanelRegion& r = c.region;
    r.name = regions[i].name;
    r.path = prefix + r.name;
    r.title = regions[i].title;
    r.depth = depth;
    r.localX = rects[i].x;
    r.localY = rects[i].y;
    r.x = originX + rects[i].x;
    r.y = originY + rects[i].y;
    r.width = rects[i].width;
    r.height = rects[i].height;
    r.error = rects[i].error;
    r.control = regions[i].control;
    r.kind = KindOf(r.control);
    r.border = regions[i].border;
    const bool controlVisible = r.control == nullptr || r.control->Visible.Get();
    const bool controlEnabled = r.control == nullptr || r.control->Enabled.Get();
    c.visible = visible && controlVisible;
    c.usable = usable && c.visible && controlEnabled;
    out->push_back(c);
    if (r.kind == "Layout" && r.control != layout && depth + 1 < kMaxDepth) {
      Collect(static_cast<FBLayout*>(r.control), r.x, r.y, r.width, r.height, r.path + "/",
              depth + 1, c.usable, c.visible, out);
    }
  }
}

// ---- drawing, once for both pictures ----

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
};

class RasterPainter : public Painter {
 public:
  explicit RasterPainter(fbhost_internal::Canvas* canvas) : mCanvas(canvas) {}
  void Fill(int x, int y, int w, int h, Colour c) override { mCanvas->Fill(x, y, w, h, c); }
  void Outline(int x, int y, int w, int h, Colour c, int thickness) override {
    mCanvas->Outline(x, y, w, h, c, thickness);
  }
  void Line(int x0, int y0, int x1, int y1, Colour c) override { mCanvas->Line(x0, y0, x1, y1, c); }
  void Text(int x, int y, const std::string& text, Colour c, int clipX, int clipY, int clipW,
            int clipH) override {
    mCanvas->SetClip(clipX, clipY, clipW, clipH);
    mCanvas->Text(x, y, text, c);
    mCanvas->ClearClip();
  }

 private:
  fbhost_internal::Canvas* mCanvas;
};

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
    // The baseline sits at the bottom of the 5x7 glyph box.
    *mOut += "<text x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y + 7) + "\" fill=\"" +
             Hex(c) + "\" clip-path=\"url(#" + id + ")\" xml:space=\"preserve\">" +
             XmlEscape(text) + "</text>\n";
  }

 private:
  static std::string Number(double v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", v);
    return buffer;
  }
  std::string* mOut;
  int mClips = 0;
};

void DrawTextIn(Painter& p, const PanelRegion& r, int x, const std::string& text, Colour c) {
  const int y = r.y + (r.height - fbhost_internal::kGlyphHeight) / 2;
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
    const int tw = fbhost_internal::Canvas::TextWidth(r.title) + 4;
    p.Fill(x + 6, y - 4, tw, 9, kPanelBackground);
    p.Text(x + 8, y - 3, r.title, kText, x + 6, y - 4, tw, 9);
  }
}

void DrawRegion(Painter& p, const Collected& c) {
  const PanelRegion& r = c.region;
  if (!c.visible) return;
  if (!r.error.empty()) {
    p.Outline(r.x, r.y, std::max(r.width, 4), std::max(r.height, 4), kError, 1);
    return;
  }
  const Colour text = c.usable ? kText : kDisabledText;
  if (r.kind == "Layout" || r.kind.empty()) {
    DrawBorder(p, r);
    return;
  }
  DrawBorder(p, r);
  if (r.kind == "Label") {
    DrawTextIn(p, r, r.x, static_cast<FBLabel*>(r.control)->Caption.Get().str(), text);
  } else if (r.kind == "Edit" || r.kind == "List") {
    p.Fill(r.x, r.y, r.width, r.height, c.usable ? kFieldBackground : kFieldDisabled);
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
    p.Text(r.x + 3, r.y + (r.height - fbhost_internal::kGlyphHeight) / 2, shown, text, r.x + 1,
           r.y + 1, std::max(0, r.width - right - 1), std::max(0, r.height - 2));
  } else if (r.kind == "Button") {
    auto* button = static_cast<FBButton*>(r.control);
    const FBButtonStyle style = button->Style.Get();
    const bool on = button->State.Get() != 0;
    const std::string caption = button->Caption.Get().str();
    if (style == kFBCheckbox || style == kFBRadioButton) {
      const int box = std::min(9, std::max(0, r.height));
      const int bx = r.x, by = r.y + (r.height - box) / 2;
      p.Fill(bx, by, box, box, c.usable ? kFieldBackground : kFieldDisabled);
      p.Outline(bx, by, box, box, kOutline, 1);
      if (on && style == kFBCheckbox) {
        const Colour mark = c.usable ? kAccent : kDisabledText;
        p.Line(bx + 2, by + 4, bx + 3, by + 6, mark);
        p.Line(bx + 3, by + 6, bx + 6, by + 2, mark);
        p.Line(bx + 2, by + 5, bx + 3, by + 7, mark);
        p.Line(bx + 3, by + 7, bx + 6, by + 3, mark);
      } else if (on) {
        p.Fill(bx + 2, by + 2, box - 4, box - 4, c.usable ? kAccent : kDisabledText);
      }
      DrawTextIn(p, r, r.x + box + 5, caption, text);
    } else {
      const bool pressed = on && (style == kFB2States || style == kFBBitmap2States);
      p.Fill(r.x, r.y, r.width, r.height, pressed ? kButtonShade : kButtonFace);
      p.Outline(r.x, r.y, r.width, r.height, kOutline, 1);
      if (!pressed && r.height > 2)
        p.Fill(r.x + 1, r.y + r.height - 2, r.width - 2, 1, kButtonShade);
      const int tw = fbhost_internal::Canvas::TextWidth(caption);
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
      const int tw = fbhost_internal::Canvas::TextWidth(caption) + 12;
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
  const int w = fbhost_internal::Canvas::TextWidth(name) + 8;
  if (on) {
    p.Fill(*x, 5, w, 12, kFlagOn);
  } else {
    p.Outline(*x, 5, w, 12, kFlagOff, 1);
  }
  p.Text(*x + 4, 8, name, on ? kHeaderText : kFlagOff, *x, 5, w, 12);
  *x += w + 6;
}

void DrawPanel(Painter& p, FBDevice* device, bool deviceAlive, int width,
               const std::vector<Collected>& regions) {
  const int header = kPanelHeaderHeight;
  p.Fill(0, 0, width, header, kHeaderBackground);
  int x = 6;
  if (deviceAlive) {
    const std::string name = device->LongName.Get().str();
    p.Text(x, 8, name, kHeaderText, 0, 0, width, header);
    x += fbhost_internal::Canvas::TextWidth(name) + 12;
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
  for (const Collected& c : regions) DrawRegion(p, c);
}

std::string Pad(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

std::string Describe(const Collected& c) {
  const PanelRegion& r = c.region;
  using fbhost_internal::QuoteText;
  std::string d = r.kind.empty() ? "(empty)" : r.kind;
  if (r.kind == "Label") {
    d += " caption=" + QuoteText(static_cast<FBLabel*>(r.control)->Caption.Get().str());
  } else if (r.kind == "Edit") {
    d += " text=" + QuoteText(static_cast<FBEdit*>(r.control)->Text.Get().str());
  } else if (r.kind == "List" || r.kind == "TabPanel") {
    FBPropertyStringList& items = r.kind == "List" ? static_cast<FBList*>(r.control)->Items
                                                   : static_cast<FBTabPanel*>(r.control)->Items;
    const int chosen = r.kind == "List" ? static_cast<FBList*>(r.control)->ItemIndex.Get()
                                        : static_cast<FBTabPanel*>(r.control)->ItemIndex.Get();
    d += " items=[";
    for (int i = 0; i < items.GetCount(); ++i) {
      if (i > 0) d += ", ";
      d += QuoteText(items.GetAt(i).str()) + "#" + std::to_string(items.GetReferenceAt(i));
    }
    d += "] selected=" + std::to_string(chosen);
    if (chosen >= 0) d += " " + QuoteText(items.GetAt(chosen).str());
  } else if (r.kind == "Button") {
    auto* b = static_cast<FBButton*>(r.control);
    static const char* const kStyles[] = {"push",     "bitmap",  "radio",
                                          "checkbox", "2states", "bitmap2states"};
    const int style = static_cast<int>(b->Style.Get());
    d += std::string(" style=") + (style >= 0 && style <= 5 ? kStyles[style] : "?") +
         " state=" + std::to_string(b->State.Get()) +
         " caption=" + QuoteText(b->Caption.Get().str());
  } else if (r.kind == "Layout" && r.border.style != kFBNoBorder) {
    d += " border=" + std::to_string(static_cast<int>(r.border.style));
  }
  if (r.control != nullptr) d += r.control->Enabled.Get() ? " enabled" : " disabled";
  if (r.control != nullptr && !r.control->Visible.Get()) d += " hidden";
  if (!r.error.empty()) d += " UNPLACED: " + r.error;
  return d;
}

}  // namespace

// ---- Panel ----

Panel::Panel(std::unique_ptr<Impl> impl) : mImpl(std::move(impl)) {}

Panel::~Panel() {
  {
    auto& open = OpenPanelTable();
    std::lock_guard<std::mutex> lock(open.lock);
    auto& v = open.panels;
    v.erase(std::remove(v.begin(), v.end(), mImpl.get()), v.end());
  }
  EndLayout(*mImpl);
}

std::unique_ptr<Panel> Panel::Open(FBDevice* device, std::string* error, int width, int height) {
  if (device == nullptr || !Alive(device->GetHIObject(), device)) {
    SetError(error, "cannot open a panel: the device is not alive");
    return nullptr;
  }
  const std::string name = device->LongName.Get().str();
  const std::string className = device->mRegisteredClassName.str();
  if (className.empty()) {
    SetError(error, "device '" + name + "' has no registered class name, so it has no panel");
    return nullptr;
  }
  Registration registration;
  if (!FindRegistration(kPanelGroup, className, &registration)) {
    SetError(error,
             "no panel is registered for device class '" + className + "' (device '" + name + "')");
    return nullptr;
  }
  HIObject handle = nullptr;
  try {
    handle = registration.factory(nullptr, nullptr, device->GetHIObject());
  } catch (const std::exception& thrown) {
    SetError(error, "the panel factory of '" + className + "' threw: " + thrown.what());
    return nullptr;
  } catch (...) {
    SetError(error, "the panel factory of '" + className + "' threw");
    return nullptr;
  }
  FBComponent* component = FBGetFBObject(handle);
  if (component == nullptr) {
    SetError(error,
             "the panel factory of '" + className + "' made no panel for device '" + name + "'");
    return nullptr;
  }
  if (!component->Is(FBLayout::TypeInfo)) {
    SetError(error, "the panel factory of '" + className + "' made a '" + component->ClassName() +
                        "', not a layout");
    component->FBDelete();
    return nullptr;
  }
  auto impl = std::make_unique<Impl>();
  impl->device = device;
  impl->deviceHandle = device->GetHIObject();
  impl->layout = static_cast<FBLayout*>(component);
  impl->width = std::max(1, width);
  impl->height = std::max(1, height);
  impl->layout->SetLayoutSize(impl->width, impl->height);
  {
    auto& open = OpenPanelTable();
    std::lock_guard<std::mutex> lock(open.lock);
    open.panels.push_back(impl.get());
  }
  return std::unique_ptr<Panel>(new Panel(std::move(impl)));
}

FBLayout* Panel::Layout() const { return mImpl->layout; }
FBDevice* Panel::Device() const { return mImpl->device; }
int Panel::Width() const { return mImpl->width; }
int Panel::Height() const { return mImpl->height; }
bool Panel::DeviceAlive() const { return Alive(mImpl->deviceHandle, mImpl->device); }

void Panel::Resize(int width, int height) {
  mImpl->width = std::max(1, width);
  mImpl->height = std::max(1, height);
  if (mImpl->layout != nullptr) mImpl->layout->SetLayoutSize(mImpl->width, mImpl->height);
}

namespace {
std::vector<Collected> CollectAll(const Panel::Impl& impl) {
  std::vector<Collected> out;
  if (impl.layout == nullptr || !Alive(impl.deviceHandle, impl.device)) return out;
  Collect(impl.layout, 0, 0, impl.width, impl.height, "", 0, impl.layout->Enabled.Get(),
          impl.layout->Visible.Get(), &out);
  return out;
}

bool Lookup(const std::vector<Collected>& all, const std::string& name, const Collected** found,
            std::string* error) {
  const Collected* byName = nullptr;
  int sameName = 0;
  for (const auto& c : all) {
    if (c.region.path == name) {
      *found = &c;
      return true;
    }
    if (c.region.name == name) {
      byName = &c;
      ++sameName;
    }
  }
  if (sameName == 1) {
    *found = byName;
    return true;
  }
  SetError(error, sameName > 1 ? "more than one region is called '" + name + "'; give its path"
                               : "the panel has no region '" + name + "'");
  return false;
}
}  // namespace

std::vector<PanelRegion> Panel::Regions() const {
  std::vector<PanelRegion> out;
  for (auto& c : CollectAll(*mImpl)) out.push_back(std::move(c.region));
  return out;
}

bool Panel::FindRegion(const std::string& name, PanelRegion* region, std::string* error) const {
  const auto all = CollectAll(*mImpl);
  const Collected* found = nullptr;
  if (!Lookup(all, name, &found, error)) return false;
  if (region != nullptr) *region = found->region;
  return true;
}

namespace {
// The control of a region the user can act on, of one of the kinds.
FBVisualComponent* Usable(const Panel::Impl& impl, const std::string& name,
                          std::initializer_list<const char*> kinds, std::string* kind,
                          std::string* error) {
  if (impl.layout == nullptr) {
    SetError(error, "the panel is closed");
    return nullptr;
  }
  if (!Alive(impl.deviceHandle, impl.device)) {
    SetError(error, "the panel's device is gone");
    return nullptr;
  }
  const auto all = CollectAll(impl);
  const Collected* c = nullptr;
  if (!Lookup(all, name, &c, error)) return nullptr;
  const std::string& k = c->region.kind;
  bool fits = false;
  std::string wanted;
  for (const char* want : kinds) {
    fits = fits || k == want;
    wanted += (wanted.empty() ? "" : " or ") + std::string(want);
  }
  if (!fits) {
    auto article = [](const std::string& word) {
      return std::string(word[0] == 'E' ? "an " : "a ") + word;
    };
    SetError(error, "region '" + name + "' holds " + (k.empty() ? "no control" : article(k)) +
                        ", not " + article(wanted));
    return nullptr;
  }
  if (!c->visible) {
    SetError(error, "region '" + name + "' is hidden");
    return nullptr;
  }
  if (!c->usable) {
    SetError(error, "region '" + name + "' is disabled");
    return nullptr;
  }
  *kind = k;
  return c->region.control;
}
}  // namespace

bool Panel::TypeText(const std::string& region, const std::string& text, std::string* error) {
  std::string kind;
  auto* control = Usable(*mImpl, region, {"Edit"}, &kind, error);
  if (control == nullptr) return false;
  auto* edit = static_cast<FBEdit*>(control);
  edit->Text = FBString(text);
  edit->OnChange.Fire(edit->GetHIObject());
  return true;
}

bool Panel::Click(const std::string& region, std::string* error) {
  std::string kind;
  auto* control = Usable(*mImpl, region, {"Button"}, &kind, error);
  if (control == nullptr) return false;
  auto* button = static_cast<FBButton*>(control);
  switch (button->Style.Get()) {
    case kFBCheckbox:
    case kFB2States:
    case kFBBitmap2States:
      button->State = button->State.Get() != 0 ? 0 : 1;
      break;
    case kFBRadioButton:
      button->State = 1;
      break;
    case kFBPushButton:
    case kFBBitmapButton:
      break;
  }
  button->OnClick.Fire(button->GetHIObject());
  return true;
}

bool Panel::ChooseIndex(const std::string& region, int index, std::string* error) {
  std::string kind;
  auto* control = Usable(*mImpl, region, {"List", "TabPanel"}, &kind, error);
  if (control == nullptr) return false;
  auto* list = kind == "List" ? static_cast<FBList*>(control) : nullptr;
  auto* tabs = kind == "TabPanel" ? static_cast<FBTabPanel*>(control) : nullptr;
  FBPropertyStringList& items = list ? list->Items : tabs->Items;
  if (index < 0 || index >= items.GetCount()) {
    SetError(error, "region '" + region + "' has no item " + std::to_string(index) + " (it has " +
                        std::to_string(items.GetCount()) + ")");
    return false;
  }
  if (list) {
    list->ItemIndex = index;
    list->OnChange.Fire(list->GetHIObject());
  } else {
    tabs->ItemIndex = index;
    tabs->OnChange.Fire(tabs->GetHIObject());
  }
  return true;
}

bool Panel::Choose(const std::string& region, const std::string& item, std::string* error) {
  std::string kind;
  auto* control = Usable(*mImpl, region, {"List", "TabPanel"}, &kind, error);
  if (control == nullptr) return false;
  FBPropertyStringList& items = kind == "List" ? static_cast<FBList*>(control)->Items
                                               : static_cast<FBTabPanel*>(control)->Items;
  const int index = items.Find(item.c_str());
  if (index < 0) {
    std::string known;
    for (int i = 0; i < items.GetCount(); ++i) {
      known += (i ? ", " : "") + fbhost_internal::QuoteText(items.GetAt(i).str());
    }
    SetError(error, "region '" + region + "' has no item " + fbhost_internal::QuoteText(item) +
                        " (its items: " + (known.empty() ? "none" : known) + ")");
    return false;
  }
  return ChooseIndex(region, index, error);
}

std::string Panel::Dump() const {
  std::string out;
  const bool alive = DeviceAlive();
  out += "panel " + std::to_string(mImpl->width) + "x" + std::to_string(mImpl->height);
  if (alive) {
    FBDevice* d = mImpl->device;
    out += " device=" + fbhost_internal::QuoteText(d->LongName.Get().str()) +
           " class=" + fbhost_internal::QuoteText(d->mRegisteredClassName.str()) +
           " Online=" + (d->Online.Get() ? "1" : "0") + " Live=" + (d->Live.Get() ? "1" : "0") +
           " Recording=" + (d->Recording.Get() ? "1" : "0") +
           " Status=" + fbhost_internal::QuoteText(d->Status.Get().str()) +
           " Information=" + fbhost_internal::QuoteText(d->Information.Get().str());
  } else {
    out += " (the device is gone)";
  }
  if (mImpl->layout == nullptr) out += " (closed)";
  out += "\n";
  for (const auto& c : CollectAll(*mImpl)) {
    const PanelRegion& r = c.region;
    const std::string place = std::to_string(r.x) + "," + std::to_string(r.y) + " " +
                              std::to_string(r.width) + "x" + std::to_string(r.height);
    out += Pad(std::string(2 * static_cast<std::size_t>(r.depth), ' ') + r.path, 40) + " " +
           Pad(place, 16) + " " + Describe(c) + "\n";
  }
  return out;
}

std::string Panel::Svg() const {
  const int width = mImpl->width, height = mImpl->height + kPanelHeaderHeight;
  std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                    std::to_string(width * 2) + "\" height=\"" + std::to_string(height * 2) +
                    "\" viewBox=\"0 0 " + std::to_string(width) + " " + std::to_string(height) +
                    "\" font-family=\"DejaVu Sans Mono, monospace\" font-size=\"9.5\">\n";
  std::string body;
  SvgPainter painter(&body);
  painter.Fill(0, 0, width, height, kPanelBackground);
  // The header is drawn at the top; the panel's own pixels start below it.
  std::vector<Collected> regions = CollectAll(*mImpl);
  for (auto& c : regions) c.region.y += kPanelHeaderHeight;
  DrawPanel(painter, mImpl->device, DeviceAlive(), width, regions);
  return out + body + "</svg>\n";
}

std::vector<std::uint8_t> Panel::Png(int scale) const {
  const int width = mImpl->width, height = mImpl->height + kPanelHeaderHeight;
  fbhost_internal::Canvas canvas(width, height, scale, kPanelBackground);
  RasterPainter painter(&canvas);
  std::vector<Collected> regions = CollectAll(*mImpl);
  for (auto& c : regions) c.region.y += kPanelHeaderHeight;
  DrawPanel(painter, mImpl->device, DeviceAlive(), width, regions);
  const std::vector<Rgb> palette(std::begin(kPalette), std::end(kPalette));
  return fbhost_internal::EncodePng(canvas.PictureWidth(), canvas.PictureHeight(), palette,
                                    canvas.Pixels());
}

bool Panel::WritePng(const std::string& path, int scale, std::string* error) const {
  const auto png = Png(scale);
  std::string why;
  if (!fbhost_internal::WriteFileSafely(path, std::string(png.begin(), png.end()), &why)) {
    SetError(error, why);
    return false;
  }
  return true;
}

bool Panel::WriteSvg(const std::string& path, std::string* error) const {
  std::string why;
  if (!fbhost_internal::WriteFileSafely(path, Svg(), &why)) {
    SetError(error, why);
    return false;
  }
  return true;
}

void ClosePanelsFor(FBDevice* device) {
  std::vector<Panel::Impl*> closing;
  {
    auto& open = OpenPanelTable();
    std::lock_guard<std::mutex> lock(open.lock);
    for (auto* impl : open.panels) {
      if (impl->device == device) closing.push_back(impl);
    }
  }
  for (auto* impl : closing) EndLayout(*impl);
}

int OpenPanelCount() {
  auto& open = OpenPanelTable();
  std::lock_guard<std::mutex> lock(open.lock);
  int n = 0;
  for (auto* impl : open.panels) n += impl->layout != nullptr ? 1 : 0;
  return n;
}

}  // namespace fbhost

namespace fbhost_internal {

void DetachOrphanPanels() {
  std::vector<fbhost::Panel::Impl*> orphans;
  {
    auto& open = fbhost::OpenPanelTable();
    std::lock_guard<std::mutex> lock(open.lock);
    for (auto* impl : open.panels) {
      if (impl->layout != nullptr && !fbhost::Alive(impl->deviceHandle, impl->device)) {
        orphans.push_back(impl);
      }
    }
  }
  for (auto* impl : orphans) fbhost::EndLayout(*impl);
}

}  // namespace fbhost_internal
