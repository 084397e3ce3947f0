#include "fbsdk/fblayout.h"

#include <cmath>
#include <functional>

FBClassImplementation(FBVisualComponent);
FBClassImplementation(FBLayout);
FBClassImplementation(FBDeviceLayout);

namespace {

enum class Axis { X, Y, Width, Height };

bool Allowed(Axis axis, FBAttachType type) {
  switch (axis) {
    case Axis::X:
      return type == kFBAttachLeft || type == kFBAttachRight || type == kFBAttachCenter ||
             type == kFBAttachNone;
    case Axis::Y:
      return type == kFBAttachTop || type == kFBAttachBottom || type == kFBAttachCenter ||
             type == kFBAttachNone;
    case Axis::Width:
      return type == kFBAttachLeft || type == kFBAttachRight || type == kFBAttachWidth ||
             type == kFBAttachNone;
    case Axis::Height:
      return type == kFBAttachTop || type == kFBAttachBottom || type == kFBAttachHeight ||
             type == kFBAttachNone;
  }
  return false;
}

int Round(double value) {
  if (!std::isfinite(value)) return 0;
  constexpr double kLimit = 1 << 24;  // far beyond any panel
  if (value > kLimit) return static_cast<int>(kLimit);
  if (value < -kLimit) return -static_cast<int>(kLimit);
  return static_cast<int>(std::lround(value));
}

// A resolved rectangle with edges as doubles for the arithmetic.
struct Box {
  double x = 0, y = 0, width = 0, height = 0;
};

double Edge(const Box& box, FBAttachType type, Axis axis) {
  switch (type) {
    case kFBAttachLeft:
      return box.x;
    case kFBAttachRight:
      return box.x + box.width;
    case kFBAttachTop:
      return box.y;
    case kFBAttachBottom:
      return box.y + box.height;
    case kFBAttachWidth:
      return box.width;
    case kFBAttachHeight:
      return box.height;
    case kFBAttachCenter:
      return axis == Axis::X ? box.x + box.width / 2 : box.y + box.height / 2;
    case kFBAttachNone:
      return 0.0;
  }
  return 0.0;
}

}  // namespace

FBVisualComponent::FBVisualComponent(HIObject object) : FBComponent(object) {
  Enabled.Store(true);
  Visible.Store(true);
}
FBVisualComponent::~FBVisualComponent() = default;

FBLayout::FBLayout(HIObject object) : FBVisualComponent(object) {}
FBLayout::~FBLayout() = default;

FBLayout::Region* FBLayout::Find(const char* name) {
  if (name == nullptr) return nullptr;
  for (auto& r : mRegions) {
    if (r.name == name) return &r;
  }
  return nullptr;
}

const FBLayout::Region* FBLayout::Find(const char* name) const {
  return const_cast<FBLayout*>(this)->Find(name);
}

bool FBLayout::AddRegion(const char* name, const char* title, int x, FBAttachType xType,
                         const char* xRelative, float xMultiplier, int y, FBAttachType yType,
                         const char* yRelative, float yMultiplier, int width,
                         FBAttachType widthType, const char* widthRelative, float widthMultiplier,
                         int height, FBAttachType heightType, const char* heightRelative,
                         float heightMultiplier) {
  if (name == nullptr || *name == '\0' || Find(name) != nullptr) return false;
  if (!Allowed(Axis::X, xType) || !Allowed(Axis::Y, yType) || !Allowed(Axis::Width, widthType) ||
      !Allowed(Axis::Height, heightType)) {
    return false;
  }
  auto text = [](const char* t) { return std::string(t ? t : ""); };
  Region r;
  r.name = name;
  r.title = text(title);
  r.x = Rule{x, xType, text(xRelative), xMultiplier};
  r.y = Rule{y, yType, text(yRelative), yMultiplier};
  r.width = Rule{width, widthType, text(widthRelative), widthMultiplier};
  r.height = Rule{height, heightType, text(heightRelative), heightMultiplier};
  mRegions.push_back(std::move(r));
  return true;
}

bool FBLayout::MoveRegion(const char* name, int x, int y) {
  Region* r = Find(name);
  if (r == nullptr) return false;
  r->x.offset = x;
  r->y.offset = y;
  return true;
}

bool FBLayout::SizeRegion(const char* name, int width, int height) {
  Region* r = Find(name);
  if (r == nullptr) return false;
  r->width.offset = width;
  r->height.offset = height;
  return true;
}

bool FBLayout::RemoveRegion(const char* name) {
  for (auto it = mRegions.begin(); it != mRegions.end(); ++it) {
    if (name != nullptr && it->name == name) {
      mRegions.erase(it);
      return true;
    }
  }
  return false;
}

bool FBLayout::RenameRegion(const char* name, const char* newName) {
  Region* r = Find(name);
  if (r == nullptr || newName == nullptr || *newName == '\0') return false;
  if (Find(newName) != nullptr) return r->name == newName;
  r->name = newName;
  return true;
}

bool FBLayout::SetRegionTitle(const char* name, const char* title) {
  Region* r = Find(name);
  if (r == nullptr) return false;
  r->title = title ? title : "";
  return true;
}

bool FBLayout::GetRegion(const char* name) const { return Find(name) != nullptr; }

bool FBLayout::GetRegionPositions(const char* name, bool computed, int* x, int* y, int* width,
                                  int* height) const {
  const Region* r = Find(name);
  if (r == nullptr) return false;
  int values[4] = {r->x.offset, r->y.offset, r->width.offset, r->height.offset};
  if (computed) {
    const auto rects = Resolve(mWidth, mHeight);
    const auto& rect = rects[static_cast<std::size_t>(r - mRegions.data())];
    values[0] = rect.x;
    values[1] = rect.y;
    values[2] = rect.width;
    values[3] = rect.height;
  }
  if (x) *x = values[0];
  if (y) *y = values[1];
  if (width) *width = values[2];
  if (height) *height = values[3];
  return true;
}

bool FBLayout::SetControl(const char* region, FBVisualComponent& control) {
  return SetControl(region, &control);
}

bool FBLayout::SetControl(const char* region, FBVisualComponent* control) {
  Region* r = Find(region);
  if (r == nullptr || control == nullptr || control == this) return false;
  for (auto& other : mRegions) {
    if (other.control == control) other.control = nullptr;
  }
  r->control = control;
  return true;
}

bool FBLayout::ClearControl(const char* region) {
  Region* r = Find(region);
  if (r == nullptr) return false;
  r->control = nullptr;
  return true;
}

FBVisualComponent* FBLayout::GetControl(const char* region) const {
  const Region* r = Find(region);
  return r == nullptr ? nullptr : r->control;
}

bool FBLayout::SetBorder(const char* region, FBBorderStyle style, bool showTitle, bool inset,
                         int width, int spacing, float lightAngle, int cornerRadius) {
  Region* r = Find(region);
  if (r == nullptr) return false;
  r->border = Border{style, showTitle, inset, width, spacing, lightAngle, cornerRadius};
  return true;
}

std::vector<FBLayout::Region> FBLayout::Regions() const { return mRegions; }

std::vector<FBLayout::Rect> FBLayout::Resolve(int width, int height) const {
  const std::size_t n = mRegions.size();
  enum class State { Todo, Busy, Done };
  std::vector<State> state(n, State::Todo);
  std::vector<Box> boxes(n);
  std::vector<Rect> rects(n);
  const Box layout{0, 0, static_cast<double>(width), static_cast<double>(height)};

  std::function<bool(std::size_t)> resolve;
  // The reference box of a rule, resolving the region it names first.
  auto reference = [&](std::size_t self, const Rule& rule, Box* out) -> bool {
    if (rule.type == kFBAttachNone || rule.relative.empty()) {
      *out = layout;
      return true;
    }
    for (std::size_t i = 0; i < n; ++i) {
      if (mRegions[i].name != rule.relative) continue;
      if (!resolve(i)) {
        if (rects[self].error.empty()) {
          rects[self].error = state[i] == State::Busy
                                  ? "its rules refer back to it through '" + rule.relative + "'"
                                  : "it refers to '" + rule.relative +
                                        "', which cannot be placed (" + rects[i].error + ")";
        }
        return false;
      }
      *out = boxes[i];
      return true;
    }
    rects[self].error = "it refers to a region '" + rule.relative + "' that does not exist";
    return false;
  };

  resolve = [&](std::size_t i) -> bool {
    if (state[i] == State::Done) return rects[i].error.empty();
    if (state[i] == State::Busy) return false;  // a circle
    state[i] = State::Busy;
    const Region& r = mRegions[i];
    Box refX, refY, refW, refH;
    const bool ok = reference(i, r.x, &refX) && reference(i, r.y, &refY) &&
                    reference(i, r.width, &refW) && reference(i, r.height, &refH);
    Box box;
    if (ok) {
      auto position = [](const Rule& rule, const Box& ref, Axis axis) {
        if (rule.type == kFBAttachNone) return rule.offset * static_cast<double>(rule.multiplier);
        return Edge(ref, rule.type, axis) * rule.multiplier + rule.offset;
      };
      auto size = [](const Rule& rule, const Box& ref, Axis axis, double start) {
        switch (rule.type) {
          case kFBAttachNone:
            return rule.offset * static_cast<double>(rule.multiplier);
          case kFBAttachWidth:
          case kFBAttachHeight:
            return Edge(ref, rule.type, axis) * rule.multiplier + rule.offset;
          default:  // an edge: the far edge sits there
            return Edge(ref, rule.type, axis) * rule.multiplier + rule.offset - start;
        }
      };
      box.x = Round(position(r.x, refX, Axis::X));
      box.y = Round(position(r.y, refY, Axis::Y));
      box.width = std::max(0, Round(size(r.width, refW, Axis::Width, box.x)));
      box.height = std::max(0, Round(size(r.height, refH, Axis::Height, box.y)));
    }
    boxes[i] = box;
    rects[i].x = static_cast<int>(box.x);
    rects[i].y = static_cast<int>(box.y);
    rects[i].width = static_cast<int>(box.width);
    rects[i].height = static_cast<int>(box.height);
    state[i] = State::Done;
    return ok;
  };

  for (std::size_t i = 0; i < n; ++i) resolve(i);
  return rects;
}

void FBLayout::SetLayoutSize(int width, int height) {
  mWidth = std::max(0, width);
  mHeight = std::max(0, height);
}
int FBLayout::LayoutWidth() const { return mWidth; }
int FBLayout::LayoutHeight() const { return mHeight; }

FBDeviceLayout::FBDeviceLayout(FBDevice* device, HIObject object) : FBLayout(object) {
  Device.Store(device);
  Device.SetReadOnly(true);
  AddRegion("StandardParams", "StandardParams",  //
            0, kFBAttachLeft, "", 1.0f,          //
            0, kFBAttachTop, "", 1.0f,           //
            0, kFBAttachRight, "", 1.0f,         //
            0, kFBAttachNone, "", 1.0f);
}
FBDeviceLayout::~FBDeviceLayout() = default;
