// fbfbxstore_fwd.h: the scene field store as devices see it in their store
// and retrieve callbacks: a forward declaration and the store phases.
//
// Side of the boundary: SDK. Header-only. The field store itself
// (FBFbxObject, its FieldWrite* and FieldRead* operations) has its own
// header.
#pragma once

class FBFbxObject;

// The phase of a scene store or retrieve in which the host calls an object's
// FbxStore or FbxRetrieve. The host calls each object once per phase, in the
// order of the values; the values are bits, so that a callback may test
// `phase & kFbxStoreFields`. Fields are written and read only in
// kFbxStoreFields; the other phases let an object prepare and clean up.
enum kFbxObjectStore : int {
  kFbxStoreAttributes = 1,  // before any field: the object's attributes
  kFbxStoreFields = 2,      // the object's own fields
  kFbxStoreCleanup = 4,     // after every field of every object
};
