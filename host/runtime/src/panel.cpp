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

namespace fbhost {

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
    r.visible = c.visible;
    r.usable = c.usable;
    out->push_back(c);
    if (r.kind == "Layout" && r.control != layout && depth + 1 < kMaxDepth) {
      Collect(static_cast<FBLayout*>(r.control), r.x, r.y, r.width, r.height, r.path + "/",
              depth + 1, c.usable, c.visible, out);
    }
  }
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
std::string Parent(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The region a label names: the nearest one to its right whose rows meet
// the label's, in the same layout.
const PanelRegion& Beside(const std::vector<Collected>& all, const PanelRegion& label) {
  const PanelRegion* nearest = &label;
  for (const auto& c : all) {
    const PanelRegion& r = c.region;
    const bool sameRow = r.y < label.y + label.height && label.y < r.y + r.height;
    if (&r == &label || r.depth != label.depth || Parent(r.path) != Parent(label.path) ||
        !sameRow || r.x <= label.x || (nearest != &label && r.x >= nearest->x))
      continue;
    nearest = &r;
  }
  return *nearest;
}
}  // namespace

bool Panel::FindByCaption(const std::string& caption, PanelRegion* region,
                          std::string* error) const {
  const auto all = CollectAll(*mImpl);
  const PanelRegion* found = nullptr;
  int matches = 0;
  for (const auto& c : all) {
    std::string shown;
    if (auto* label = dynamic_cast<FBLabel*>(c.region.control)) shown = label->Caption.Get().str();
    if (auto* button = dynamic_cast<FBButton*>(c.region.control))
      shown = button->Caption.Get().str();
    if (shown.empty() || shown != caption) continue;
    ++matches;
    found = c.region.kind == "Label" ? &Beside(all, c.region) : &c.region;
  }
  if (matches != 1) {
    SetError(error, matches == 0 ? "the panel has no control captioned '" + caption + "'"
                                 : "more than one control is captioned '" + caption + "'");
    return false;
  }
  if (region != nullptr) *region = *found;
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
  // Usable lets only these two kinds through, so one of the two is set.
  auto* list = kind == "List" ? static_cast<FBList*>(control) : nullptr;
  auto* tabs = list ? nullptr : static_cast<FBTabPanel*>(control);
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
