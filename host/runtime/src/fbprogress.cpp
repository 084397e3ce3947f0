#include "fbsdk/fbprogress.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#include "fbhost/progress.h"

namespace {

struct ProgressTable {
  std::mutex lock;
  std::vector<fbhost::ProgressEvent> events;
  int nextBox = 1;
  std::atomic<bool> echo{true};
};

ProgressTable& Table() {
  static ProgressTable* table = new ProgressTable;
  return *table;
}

const char* KindName(fbhost::ProgressEvent::Kind kind) {
  switch (kind) {
    case fbhost::ProgressEvent::Kind::Open:
      return "open";
    case fbhost::ProgressEvent::Kind::Caption:
      return "caption";
    case fbhost::ProgressEvent::Kind::Text:
      return "text";
    case fbhost::ProgressEvent::Kind::Percent:
      return "percent";
    case fbhost::ProgressEvent::Kind::Close:
      return "close";
  }
  return "?";
}

void Record(fbhost::ProgressEvent event) {
  auto& table = Table();
  if (table.echo.load()) {
    // One plain line per step; stdio writes a line atomically enough for a log.
    std::fprintf(stderr, "progress #%d %s: %s | %s%s\n", event.box, KindName(event.kind),
                 event.caption.c_str(), event.text.c_str(),
                 event.kind == fbhost::ProgressEvent::Kind::Percent
                     ? (" | " + std::to_string(event.percent) + "%").c_str()
                     : "");
  }
  std::lock_guard<std::mutex> lock(table.lock);
  table.events.push_back(std::move(event));
}

}  // namespace

FBClassImplementation(FBProgress);

FBProgress::FBProgress() {
  {
    auto& table = Table();
    std::lock_guard<std::mutex> lock(table.lock);
    mBoxId = table.nextBox++;
  }
  auto step = [this](fbhost::ProgressEvent::Kind kind) {
    fbhost::ProgressEvent e;
    e.box = mBoxId;
    e.kind = kind;
    e.caption = Caption.Stored().str();
    e.text = Text.Stored().str();
    e.percent = Percent.Stored();
    Record(std::move(e));
  };
  Caption.SetSetter([this, step](const FBString& value) {
    if (mClosed) return false;
    Caption.Store(value);
    step(fbhost::ProgressEvent::Kind::Caption);
    return true;
  });
  Text.SetSetter([this, step](const FBString& value) {
    if (mClosed) return false;
    Text.Store(value);
    step(fbhost::ProgressEvent::Kind::Text);
    return true;
  });
  Percent.SetSetter([this, step](const int& value) {
    if (mClosed) return false;
    Percent.Store(std::clamp(value, 0, 100));
    step(fbhost::ProgressEvent::Kind::Percent);
    return true;
  });
  step(fbhost::ProgressEvent::Kind::Open);
}

FBProgress::~FBProgress() { ProgressDone(); }

void FBProgress::ProgressDone() {
  if (mClosed) return;
  mClosed = true;
  fbhost::ProgressEvent e;
  e.box = mBoxId;
  e.kind = fbhost::ProgressEvent::Kind::Close;
  e.caption = Caption.Stored().str();
  e.text = Text.Stored().str();
  e.percent = Percent.Stored();
  Record(std::move(e));
}

namespace fbhost {
std::vector<ProgressEvent> ProgressRecord() {
  auto& table = Table();
  std::lock_guard<std::mutex> lock(table.lock);
  return table.events;
}
void ClearProgressRecord() {
  auto& table = Table();
  std::lock_guard<std::mutex> lock(table.lock);
  table.events.clear();
}
void SetProgressEcho(bool on) { Table().echo.store(on); }
}  // namespace fbhost
