// fbhost/progress.h: the record of every progress box (FBProgress) shown.
//
// Side of the boundary: host runtime. Link fbsdk::runtime. Thread-safe.
#pragma once

#include <string>
#include <vector>

#include "fbsdk/fbsdk_api.h"

namespace fbhost {

// One step of one box. Boxes are numbered from 1 in opening order.
struct ProgressEvent {
  enum class Kind { Open, Caption, Text, Percent, Close };
  int box = 0;
  Kind kind = Kind::Open;
  std::string caption;  // the box's caption after this step
  std::string text;     // the box's message after this step
  int percent = 0;      // the box's percent after this step
};

// Every step recorded since the start or the last ClearProgressRecord.
FBSDK_API std::vector<ProgressEvent> ProgressRecord();
FBSDK_API void ClearProgressRecord();

// Whether each step is also printed on stderr ("progress #3: <caption> | <text>").
// Default: on.
FBSDK_API void SetProgressEcho(bool on);

}  // namespace fbhost
