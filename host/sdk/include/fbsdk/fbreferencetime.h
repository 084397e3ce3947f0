// fbreferencetime.h: FBReferenceTime, the host's table of reference times:
// named clocks (a stream's timecode, say) that a device stamps so the host
// can line samples up with them.
//
// Side of the boundary: SDK. Implemented in libfbsdk (runtime/src/fbreferencetime.cpp).
//
// One table serves the whole host; an FBReferenceTime is a view of it (a
// device holds one, made with no host object). Entries are numbered from 0
// in the order they are added; a removed entry's number is never given out
// again, so a stale number cannot stamp someone else's entry. The host
// records every stamp for inspection (fbhost/scene.h).
//
// Threads. Add and Remove on the UI thread (device operations); SetTime on
// the input thread. All are safe together.
#pragma once

#include "fbsdk/fbcomponent.h"
#include "fbsdk/fbsdk_api.h"
#include "fbsdk/fbtime.h"

class FBSDK_API FBReferenceTime : public FBComponent {
  FBClassDeclare(FBReferenceTime, FBComponent);

 public:
  explicit FBReferenceTime(HIObject object = nullptr);
  ~FBReferenceTime() override;

  // Adds an entry named `name` (null: empty) and answers its number (>= 0).
  int Add(const char* name);
  // Stamps the entry: at host time `systemTime` the reference read
  // `referenceTime`. False, with nothing recorded, when the number names no
  // entry or a removed one (-1 included); the host counts such refusals.
  bool SetTime(int index, FBTime referenceTime, FBTime systemTime);
  // Removes the entry; false when the number names no entry or a removed one.
  bool Remove(int index);
};
