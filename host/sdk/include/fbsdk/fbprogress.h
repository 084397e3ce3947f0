// fbprogress.h: FBProgress, the host's progress box for a long operation.
//
// Side of the boundary: SDK. Implemented in libfbsdk (runtime/src/fbprogress.cpp).
//
// Use (on the thread running the operation):
//   FBProgress progress;                 // opens the box
//   progress.Caption = "Orbel Optical device";   // the title
//   progress.Text = "Initializing device...";    // the message, changed step by step
//   ...                                  // destruction (or ProgressDone) closes it
// The host shows every change as one line on stderr and appends it to a record
// that host programs and tests read (fbhost/progress.h). Assigning the value a
// property already holds is still recorded (each assignment is one step).
// Percent (0..100) is recorded the same way. Closing twice closes once.
#pragma once

#include "fbsdk/fbcomponent.h"
#include "fbsdk/fbproperty.h"
#include "fbsdk/fbsdk_api.h"

class FBSDK_API FBProgress : public FBComponent {
  FBClassDeclare(FBProgress, FBComponent);

 public:
  FBProgress();
  ~FBProgress() override;

  FBPropertyString Caption;  // title
  FBPropertyString Text;     // message
  FBPropertyInt Percent;     // 0..100; other values are clamped

  // Closes the box; later assignments are ignored (answer false).
  void ProgressDone();
  // Whether the user asked to cancel; this host has no user there: false.
  bool UserRequestCancel() const noexcept { return false; }

 private:
  int mBoxId;
  bool mClosed = false;
};
