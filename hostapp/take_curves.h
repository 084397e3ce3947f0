// What a take recorded for the scene's models, as the exporters read it.
//
// When the host records a device, each bound model's translation and
// rotation are keyed on nodes of the take named after the model's label
// and the data type ("walk:walk_Hips Lcl Rotation"), and the take notes the
// models themselves (FBTakeModel). These helpers find those curves without
// making any: the take makes such a node at its first request, so a curve
// is only asked for once the take lists it. The exporters read models and
// curves from the take alone, so a take exports the same after its models
// or its device are gone.
#pragma once

#include <set>
#include <string>
#include <vector>

#include <fbsdk/fbtake.h>

namespace orbel::hostapp {

// The models a take recorded, with each one's children in the order of its
// child list when it was recorded.
struct TakeModelTree {
  std::vector<FBTakeModel> models;
  std::vector<std::vector<int>> children;
};
TakeModelTree ModelTree(const FBTake& take);

// The index of the model with this label in the tree, or -1.
int FindModel(const TakeModelTree& tree, const std::string& label);

// The names of the curves the take holds in the layer.
std::set<std::string> CurveNames(const FBTake& take, int layer);

// The keys of the model's property (kFBDataTypeTranslation or
// kFBDataTypeRotation) in the layer, in time order; empty when the take
// holds no such curve (curveNames from CurveNames).
std::vector<FBTakeKey> RecordedKeys(FBTake& take, const std::set<std::string>& curveNames,
                                    const std::string& modelLabel, const char* dataType, int layer);

// The value of a curve at a time: the key at that time, else the last key
// before it, else the first key. *exact says whether a key sat at the time.
// The keys must not be empty.
const FBTakeKey& KeyAt(const std::vector<FBTakeKey>& keys, FBTime time, bool* exact);

// The text before / after the first ':' of a label name; a label without
// ':' has no namespace and is all name.
std::string NamespaceOf(const std::string& label);
std::string NameOf(const std::string& label);

// The subject null under which the device hangs its unlabelled markers
// ("Unlabeled:RootNode", markers "Unlabeled:0", ...): not a performer.
constexpr const char* kUnlabeledSubject = "Unlabeled";

// The subject a model of the tree belongs to: the namespace of the subject
// null it hangs below ("walk" for walk:RootNode), else its own namespace.
std::string SubjectOf(const TakeModelTree& tree, int model);

// The device names a subject's models after it ("walk_Hips" in namespace
// walk, or in "walk 2" when that subject null's name was taken): the prefix
// an export strips to give the bare segment name ("walk_"; "" for "").
std::string CharacterPrefix(const std::string& subject);

// Shortest decimal text that reads back as the same double ("0.1", "-0",
// "1e-300"); "nan", "inf" and "-inf" for the others.
std::string FormatDouble(double value);

}  // namespace orbel::hostapp
