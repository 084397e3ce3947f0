// Scene storage: the device writes its connection, its unlabelled-marker
// count, the bound model's name and the reader's whole description into the
// saved scene, and reads them back so that a loaded scene rebuilds its
// templates without the server.
//
// Fields, in the order written (C text, D double, I integer):
//   "NetworkAddress"        1 C
//   "NetworkPort"           1 C
//   "UnlabeledMarkerCount"  1 C, decimal
//   "ModelName"             1 C, "" when nothing is bound
//   "SubjectNames"          n C, the server's order
//   "Bones"                 11 per segment, key order: key, subject, name,
//                           parent key (C); translation x y z, rotation x y
//                           z (D, as the reader holds them); root (I, 1/0)
//   "Markers"               6 per labelled marker, key order: key, subject,
//                           name (C); position x y z (D)
#include <cmath>

#include <fbsdk/fbfbxobject.h>

#include "OrbelSimpleDeviceOptical.h"
#include "orbel_settings_text.h"

namespace {

constexpr const char* kSavingStatus = "Saving the device information";
// A loaded device that stored no model name binds to this one.
constexpr const char* kDefaultModelName = "OrbelOptical";
constexpr int kBoneValues = 11;
constexpr int kMarkerValues = 6;

bool FieldPhase(kFbxObjectStore phase) { return (static_cast<int>(phase) & kFbxStoreFields) != 0; }

// A stored pose that is not a number (a file edited by hand, or saved by a
// build that let such values through) is read as a description never
// streamed, so that it cannot travel on into the next save.
double FiniteOrZero(double value) { return std::isfinite(value) ? value : 0.0; }

}  // namespace

bool OrbelSimpleDeviceOptical::FbxStore(FBFbxObject* fbxObject, kFbxObjectStore phase) noexcept {
  try {
    Status = kSavingStatus;
    if (fbxObject != nullptr && FieldPhase(phase)) {
      fbxObject->FieldWriteC("NetworkAddress", HostAddress());
      fbxObject->FieldWriteC("NetworkPort", HostPort());
      fbxObject->FieldWriteC("UnlabeledMarkerCount", UnlabeledMarkerCountText());

      // Before any initialise there is no root template: the name is "".
      mModelName = FBString();
      FBModel* bound = mRootTemplate != nullptr ? mRootTemplate->Model.Get() : nullptr;
      if (bound != nullptr) mModelName = bound->GetLabelName();
      fbxObject->FieldWriteBegin("ModelName");
      fbxObject->FieldWriteC(mModelName);
      fbxObject->FieldWriteEnd();

      fbxObject->FieldWriteBegin("SubjectNames");
      if (mReader) {
        for (const FBString& subject : mReader->subjectNames) fbxObject->FieldWriteC(subject);
      }
      fbxObject->FieldWriteEnd();

      StoreBones(fbxObject);
      StoreMarkers(fbxObject);
    }
  } catch (const std::exception&) {
    // Out of memory while copying a text: the base still answers.
  }
  return FBDevice::FbxStore(fbxObject, phase);
}

void OrbelSimpleDeviceOptical::StoreBones(FBFbxObject* fbxObject) {
  if (fbxObject == nullptr || !mReader) return;
  // The input thread refreshes the poses while they are written out.
  OrbelDataReader::ScopedDataLock lock(*mReader);
  fbxObject->FieldWriteBegin("Bones");
  if (lock.owns()) {
    for (const auto& entry : mReader->segments) {
      const SegmentRecord& record = entry.second;
      fbxObject->FieldWriteC(entry.first);
      fbxObject->FieldWriteC(record.subject);
      fbxObject->FieldWriteC(record.name);
      fbxObject->FieldWriteC(record.parentKey);
      for (double value : record.translation) fbxObject->FieldWriteD(value);
      for (double value : record.rotation) fbxObject->FieldWriteD(value);
      fbxObject->FieldWriteI(record.root ? 1 : 0);
    }
  }
  fbxObject->FieldWriteEnd();
}

void OrbelSimpleDeviceOptical::StoreMarkers(FBFbxObject* fbxObject) {
  if (fbxObject == nullptr || !mReader) return;
  OrbelDataReader::ScopedDataLock lock(*mReader);
  fbxObject->FieldWriteBegin("Markers");
  if (lock.owns()) {
    for (const auto& entry : mReader->markers) {
      const MarkerRecord& record = entry.second;
      fbxObject->FieldWriteC(entry.first);
      fbxObject->FieldWriteC(record.subject);
      fbxObject->FieldWriteC(record.name);
      for (double value : record.position) fbxObject->FieldWriteD(value);
    }
  }
  fbxObject->FieldWriteEnd();
}

bool OrbelSimpleDeviceOptical::FbxRetrieve(FBFbxObject* fbxObject, kFbxObjectStore phase) noexcept {
  if (!mReader) return false;
  try {
    if (fbxObject != nullptr && FieldPhase(phase)) {
      mRestoredFromScene = true;
      // A field the scene lacks leaves the value the device already holds
      // (for a device the scene load just made, the built-in default)
      // rather than an empty address or a count of 0.
      if (fbxObject->FieldReadBegin("NetworkAddress")) {
        fbxObject->FieldReadEnd();
        mReader->SetServerHost(fbxObject->FieldReadC("NetworkAddress"));
      }
      if (fbxObject->FieldReadBegin("NetworkPort")) {
        fbxObject->FieldReadEnd();
        mReader->SetServerPort(fbxObject->FieldReadC("NetworkPort"));
      }
      if (fbxObject->FieldReadBegin("UnlabeledMarkerCount")) {
        fbxObject->FieldReadEnd();
        SetUnlabeledMarkerCount(
            orbel::settings::ParseInteger(fbxObject->FieldReadC("UnlabeledMarkerCount")));
      }

      mModelName = FBString();
      if (fbxObject->FieldReadBegin("ModelName")) {
        mModelName = fbxObject->FieldReadC();
        fbxObject->FieldReadEnd();
      } else {
        mModelName = kDefaultModelName;
      }

      OrbelDataReader::ScopedDataLock lock(*mReader);
      if (lock.owns()) {
        if (fbxObject->FieldReadBegin("SubjectNames")) {
          mReader->subjectNames.clear();
          const int count = fbxObject->FieldReadGetCount();
          for (int i = 0; i < count; ++i)
            mReader->subjectNames.emplace_back(fbxObject->FieldReadC());
          fbxObject->FieldReadEnd();
        }
        RetrieveBones(fbxObject);
        RetrieveMarkers(fbxObject);
      }
    }
  } catch (const std::exception&) {
    // Out of memory part way: what was read stays.
  }
  return FBDevice::FbxRetrieve(fbxObject, phase);
}

void OrbelSimpleDeviceOptical::RetrieveBones(FBFbxObject* fbxObject) {
  if (fbxObject == nullptr || !mReader || !fbxObject->FieldReadBegin("Bones")) return;
  mReader->segments.clear();
  // The count is the number of values the field really holds, so it cannot
  // ask for more records than the scene file carried.
  const int groups = fbxObject->FieldReadGetCount() / kBoneValues;
  for (int i = 0; i < groups; ++i) {
    SegmentRecord record;
    const FBString key = fbxObject->FieldReadC();
    record.subject = fbxObject->FieldReadC();
    record.name = fbxObject->FieldReadC();
    record.parentKey = fbxObject->FieldReadC();
    for (double& value : record.translation) value = FiniteOrZero(fbxObject->FieldReadD());
    for (double& value : record.rotation) value = FiniteOrZero(fbxObject->FieldReadD());
    record.root = fbxObject->FieldReadI() > 0;
    mReader->segments.insert_or_assign(key, std::move(record));
  }
  fbxObject->FieldReadEnd();
}

void OrbelSimpleDeviceOptical::RetrieveMarkers(FBFbxObject* fbxObject) {
  if (fbxObject == nullptr || !mReader || !fbxObject->FieldReadBegin("Markers")) return;
  mReader->markers.clear();
  const int groups = fbxObject->FieldReadGetCount() / kMarkerValues;
  for (int i = 0; i < groups; ++i) {
    MarkerRecord record;
    const FBString key = fbxObject->FieldReadC();
    record.subject = fbxObject->FieldReadC();
    record.name = fbxObject->FieldReadC();
    for (double& value : record.position) value = FiniteOrZero(fbxObject->FieldReadD());
    mReader->markers.insert_or_assign(key, std::move(record));
  }
  fbxObject->FieldReadEnd();
}
