// fblayout.h: the panel toolkit's frame: FBVisualComponent (anything shown
// in a panel), FBLayout (a panel area cut into named regions, each holding
// one control) and FBDeviceLayout (the settings page of one device).
//
// Side of the boundary: SDK. Implemented in libfbsdk (sdk/src/fblayout.cpp). The
// controls are in fbcontrols.h; host programs open, use and draw panels
// through fbhost/panel.h.
//
// Regions. A region is a named rectangle of its layout. AddRegion gives it
// four rules, one each for x, y, width and height. A rule is (offset, attach
// type, the region it refers to, multiplier); a rule's reference is a region
// of the same layout by name, or the layout itself for "" (its left and top
// edges are 0, its right and bottom edges its width and height). The rules
// are resolved into pixels whenever the panel is laid out; a rule may refer
// to a region added later, but not (through others) to itself.
//
//   type              for x and y                 for width and height
//   0 kFBAttachLeft   ref's left edge * m + off   right edge at ref's left * m + off
//   1 kFBAttachRight  ref's right edge * m + off  right edge at ref's right * m + off
//   2 kFBAttachTop    ref's top edge * m + off    bottom edge at ref's top * m + off
//   3 kFBAttachBottom ref's bottom edge * m + off bottom edge at ref's bottom * m + off
//   4 kFBAttachWidth  -                           ref's width * m + off
//   5 kFBAttachHeight -                           ref's height * m + off
//   6 kFBAttachCenter ref's centre * m + off      -
//   7 kFBAttachNone   off * m from the layout's   off * m pixels (the reference
//                     origin (reference ignored)  is ignored)
//
// (m is the multiplier, off the offset; results are rounded to whole
// pixels.) So with a multiplier of 1.0 an offset is a distance from the named
// edge, and for type 7 a multiplier scales the offset: a width of 250 with
// multiplier 2.0 is 500 pixels. x uses types 0, 1, 6 and 7; y uses 2, 3, 6
// and 7; width 0, 1, 4 and 7; height 2, 3, 5 and 7. A size that comes out
// negative is taken as 0. A region whose reference does not exist, or whose
// rules run in a circle, resolves to an empty rectangle at 0, 0 and is shown
// with the reason (fbhost/panel.h).
//
// Controls. SetControl puts a control (by reference or pointer) into a
// region; the layout does not own it (panels hold their controls as
// members). A control that is itself an FBLayout is laid out inside the
// rectangle of its region: its "" is that rectangle. Each control sits in at
// most one region at a time: setting it into another region takes it out of
// the first.
//
// Threads. Panels are built and used on the UI thread. The Enabled flags and
// texts are properties, safe to read from any thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "fbsdk/fbcomponent.h"
#include "fbsdk/fbproperty.h"
#include "fbsdk/fbsdk_api.h"

class FBDevice;

enum FBAttachType {
  kFBAttachLeft = 0,
  kFBAttachRight = 1,
  kFBAttachTop = 2,
  kFBAttachBottom = 3,
  kFBAttachWidth = 4,
  kFBAttachHeight = 5,
  kFBAttachCenter = 6,
  kFBAttachNone = 7,
};

// How a region's border is drawn.
enum FBBorderStyle {
  kFBNoBorder = 0,
  kFBStandardBorder = 1,   // a plain line
  kFBEmbossBorder = 2,     // a raised frame, lit from the light angle
  kFBHighlightBorder = 3,  // a line in the highlight colour
};

class FBSDK_API FBVisualComponent : public FBComponent {
  FBClassDeclare(FBVisualComponent, FBComponent);

 public:
  explicit FBVisualComponent(HIObject object = nullptr);
  ~FBVisualComponent() override;

  // Whether the control takes the user's input. A disabled control is drawn
  // greyed and the host refuses the user's actions on it. True until set.
  FBPropertyBool Enabled;
  // Whether the control is drawn at all. True until set.
  FBPropertyBool Visible;
};

class FBSDK_API FBLayout : public FBVisualComponent {
  FBClassDeclare(FBLayout, FBVisualComponent);

 public:
  explicit FBLayout(HIObject object = nullptr);
  ~FBLayout() override;

  // Adds a region with its four rules (see the file comment) and its title.
  // Answers false, adding nothing, when the name is null or empty or already
  // used in this layout, or when an attach type is not allowed for its rule.
  bool AddRegion(const char* name, const char* title,                                  //
                 int x, FBAttachType xType, const char* xRelative, float xMultiplier,  //
                 int y, FBAttachType yType, const char* yRelative, float yMultiplier,  //
                 int width, FBAttachType widthType, const char* widthRelative,
                 float widthMultiplier,  //
                 int height, FBAttachType heightType, const char* heightRelative,
                 float heightMultiplier);
  // Change the offsets of a region's x and y rules, or of its width and
  // height rules. False for an unknown region.
  bool MoveRegion(const char* name, int x, int y);
  bool SizeRegion(const char* name, int width, int height);
  // Removes a region (its control stays alive, in no region). False when
  // there is none of that name.
  bool RemoveRegion(const char* name);
  bool RenameRegion(const char* name, const char* newName);
  bool SetRegionTitle(const char* name, const char* title);
  // Whether the layout has a region of that name.
  bool GetRegion(const char* name) const;
  // The region's rectangle in this layout's pixels, resolved for the
  // layout's current size (set by the host when it lays the panel out).
  // With computed false, the raw offsets of its four rules instead. False
  // for an unknown region.
  bool GetRegionPositions(const char* name, bool computed, int* x, int* y, int* width,
                          int* height) const;

  // Puts the control into the region. False (nothing changes) for an
  // unknown region or a null control, or a layout put into itself.
  bool SetControl(const char* region, FBVisualComponent& control);
  bool SetControl(const char* region, FBVisualComponent* control);
  // Empties the region. False for an unknown region.
  bool ClearControl(const char* region);
  // The region's control, or null.
  FBVisualComponent* GetControl(const char* region) const;

  // The region's border: style, whether the region's title is shown on it,
  // whether it is drawn inside the region's edge (true) or around it, its
  // line width, the spacing between the line and the region's contents, the
  // light angle of an embossed border in degrees (90: lit from the top), and
  // the corner radius. The border does not move the region or its contents.
  // False for an unknown region.
  bool SetBorder(const char* region, FBBorderStyle style, bool showTitle, bool inset, int width,
                 int spacing, float lightAngle, int cornerRadius);

  // ---- host side ----
  struct Rule {
    int offset = 0;
    FBAttachType type = kFBAttachNone;
    std::string relative;
    float multiplier = 1.0f;
  };
  struct Border {
    FBBorderStyle style = kFBNoBorder;
    bool showTitle = false;
    bool inset = false;
    int width = 0;
    int spacing = 0;
    float lightAngle = 0.0f;
    int cornerRadius = 0;
  };
  struct Region {
    std::string name;
    std::string title;
    Rule x, y, width, height;
    FBVisualComponent* control = nullptr;
    Border border;
  };
  // A region's resolved rectangle in this layout's pixels.
  struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
    std::string error;  // why it could not be resolved; "" when fine
  };
  // The regions in the order they were added.
  std::vector<Region> Regions() const;
  // Resolves every region for a layout of the given size, in the order of
  // Regions().
  std::vector<Rect> Resolve(int width, int height) const;
  // The size the host last laid this layout out at (0 x 0 before).
  void SetLayoutSize(int width, int height);
  int LayoutWidth() const;
  int LayoutHeight() const;

 private:
  Region* Find(const char* name);
  const Region* Find(const char* name) const;
  std::vector<Region> mRegions;
  int mWidth = 0;
  int mHeight = 0;
};

// The settings page of a device. It is made for one device (which it does not
// own and must not outlive) and has one region of its own, "StandardParams",
// where the host shows the device's standard parameters: a strip along the
// page's top edge, as wide as the page and 0 pixels high (this host draws the
// device's name, status and flags in a header above the page), so that a
// page's own regions can attach to it.
class FBSDK_API FBDeviceLayout : public FBLayout {
  FBClassDeclare(FBDeviceLayout, FBLayout);

 public:
  explicit FBDeviceLayout(FBDevice* device, HIObject object = nullptr);
  ~FBDeviceLayout() override;

  // The device the page is for (read-only).
  FBPropertyBase<FBDevice*> Device;
};
