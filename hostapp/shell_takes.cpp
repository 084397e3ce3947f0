// The shell's take commands: takes, scene files and exports.
#include "shell.h"

#include <fbhost/fbhost.h>

#include "bvh_export.h"
#include "command_words.h"
#include "csv_export.h"
#include "file_output.h"
#include "gltf_export.h"
#include "shell_parts.h"

namespace orbel::hostapp {

using namespace shell_parts;

bool Shell::CmdTake(const Words& w) {
  if (w[1] == "list" && w.size() == 2) {
    std::string text;
    for (FBTake* take : fbhost::Takes()) {
      text += (take == fbhost::CurrentTake() ? "* " : "  ") + Quote(take->GetLabelName().str()) +
              ": " + Counted(take->GetCurves().size(), "curve") + ", " +
              Counted(static_cast<std::size_t>(KeyedSamples(take)), "sample") + "\n";
    }
    if (!text.empty()) text.pop_back();
    Say(text);
    return true;
  }
  if ((w[1] == "new" || w[1] == "use") && w.size() == 3) {
    if (fbhost::TransportPlaying()) return Fail("stop the transport before changing takes");
    FBTake* take = nullptr;
    if (w[1] == "new") {
      for (FBTake* existing : fbhost::Takes()) {
        if (existing->GetLabelName().str() == w[2]) {
          return Fail("a take is already named " + Quote(w[2]));
        }
      }
      if (w[2].empty()) return Fail("a take needs a name");
      take = fbhost::CreateTake(w[2]);
    } else {
      take = FindTake(w[2]);
      if (take == nullptr) return false;
    }
    fbhost::SetCurrentTake(take);
    Say("current take: " + Quote(take->GetLabelName().str()));
    return true;
  }
  return Fail("usage: take list|new NAME|use NAME");
}

bool Shell::CmdSave(const Words& w) {
  std::string error;
  const std::uint64_t revision = fbhost::TakesRevision();
  if (!fbhost::SaveScene(w[1], &error)) return Fail(error);
  mSavedTakesRevision = revision;
  mQuitWarned = false;
  Say("saved the scene to " + Quote(w[1]) + ": " + Counted(fbhost::SceneModels().size(), "model") +
      ", " + Counted(fbhost::Devices().size(), "device") + ", " +
      Counted(fbhost::Takes().size(), "take"));
  return true;
}

bool Shell::CmdLoad(const Words& w) {
  Words words(w.begin() + 1, w.end());
  const bool discard = TakeFlag(&words, "--discard");
  std::string error;
  if (UnknownOption(words, &error)) return Fail(error);
  if (words.size() != 1) return Fail("usage: load FILE [--discard]");
  const std::string& path = words[0];
  if (fbhost::TransportPlaying()) return Fail("stop the transport before loading a scene");
  const std::string unsaved = TakesWithKeys();
  if (!discard && fbhost::TakesRevision() != mSavedTakesRevision && !unsaved.empty()) {
    return Fail("the takes changed since the last save and loading " + Quote(path) +
                " would drop them: " + unsaved +
                "; save them first ('save FILE'), or load with --discard to drop them");
  }
  if (!fbhost::CheckSceneFile(path, &error)) return Fail(error);
  // The load replaces every device; their panels go first.
  CloseAllPanels();
  const bool loaded = fbhost::LoadScene(path, &error);
  mSavedTakesRevision = fbhost::TakesRevision();
  mQuitWarned = false;
  // Replacing the scene stops the host's input and evaluation threads; without
  // them again, devices put online after the load would never take a sample.
  if (!mOptions.stepMode && !fbhost::EngineRunning()) {
    fbhost::EngineOptions engine;
    engine.evaluationPeriod = mOptions.evaluationPeriod;
    fbhost::StartEngine(engine);
  }
  if (!loaded) return Fail(error);
  Say("loaded " + Quote(path) + ": " + Counted(fbhost::SceneModels().size(), "model") +
      ", devices " + DeviceNames() + " (offline; put them online to stream), " +
      Counted(fbhost::Takes().size(), "take"));
  return true;
}

bool Shell::CmdExportBvh(const Words& w) {
  Words words(w.begin() + 1, w.end());
  std::string subject, error;
  if (!TakeOption(&words, "--subject", &subject, &error) || UnknownOption(words, &error)) {
    return Fail(error);
  }
  if (words.empty() || words.size() > 2)
    return Fail("usage: export-bvh FILE [TAKE] [--subject NAME]");
  FBTake* take = FindTake(words.size() > 1 ? words[1] : std::string());
  if (take == nullptr) return false;
  BvhMotion motion;
  if (!CollectBvhMotion(*take, subject, &motion, &error)) return Fail(error);
  for (const auto& note : motion.notes) Note(note);
  int roots = 0;
  for (const auto& joint : motion.joints) roots += joint.parent < 0 ? 1 : 0;
  if (roots > 1) {
    Note("the file holds " + std::to_string(roots) +
         " skeletons (one ROOT each); some tools read only the first; --subject picks one");
  }
  if (!Emit(words[0], FormatBvh(motion), "BVH")) return false;
  if (words[0] != "-") {
    Say("wrote " + Quote(words[0]) + ": " + Counted(motion.joints.size(), "joint") + ", " +
        Counted(motion.frameTimes.size(), "frame") + " (one per sample), frame time " +
        Format("%.6f", motion.frameTimeSeconds) + " s, from take " +
        Quote(take->GetLabelName().str()));
  }
  return true;
}

bool Shell::CmdExportCsv(const Words& w) {
  Words words(w.begin() + 1, w.end());
  std::string subject, error;
  if (!TakeOption(&words, "--subject", &subject, &error) || UnknownOption(words, &error)) {
    return Fail(error);
  }
  if (words.empty() || words.size() > 2)
    return Fail("usage: export-csv FILE [TAKE] [--subject NAME]");
  FBTake* take = FindTake(words.size() > 1 ? words[1] : std::string());
  if (take == nullptr) return false;
  MarkerTable table;
  if (!CollectMarkerTable(*take, subject, &table, &error)) return Fail(error);
  if (!Emit(words[0], FormatCsv(table), "CSV")) return false;
  if (words[0] != "-") {
    Say("wrote " + Quote(words[0]) + ": " + Counted(table.labels.size(), "marker") + ", " +
        Counted(table.times.size(), "row") + ", from take " + Quote(take->GetLabelName().str()));
  }
  return true;
}

bool Shell::CmdExportGltf(const Words& w) {
  Words words(w.begin() + 1, w.end());
  std::string subject, error;
  if (!TakeOption(&words, "--subject", &subject, &error) || UnknownOption(words, &error)) {
    return Fail(error);
  }
  if (words.empty() || words.size() > 2) {
    return Fail("usage: export-gltf FILE.glb [TAKE] [--subject NAME]");
  }
  const std::string& path = words[0];
  if (path.size() < 5 || path.compare(path.size() - 4, 4, ".glb") != 0) {
    return Fail(Quote(path) + ": export-gltf writes binary glTF; name the file .glb");
  }
  FBTake* take = FindTake(words.size() > 1 ? words[1] : std::string());
  if (take == nullptr) return false;
  std::string glb;
  GltfSummary summary;
  if (!ExportGltf(*take, subject, &glb, &summary, &error)) return Fail(error);
  for (const auto& note : summary.notes) Note(note);
  if (!Emit(path, glb, "glTF")) return false;
  Say("wrote " + Quote(path) + ": " + std::to_string(summary.subjects) + " subjects, " +
      std::to_string(summary.joints) + " joints, " + std::to_string(summary.markers) +
      " markers, " + std::to_string(summary.frames) + " frames, " + std::to_string(glb.size()) +
      " bytes, from take " + Quote(take->GetLabelName().str()));
  return true;
}

bool Shell::Emit(const std::string& path, const std::string& text, const std::string& what) {
  if (path == "-") {
    ClearStatusLine();
    std::fputs(text.c_str(), mOut);
    std::fflush(mOut);
    return true;
  }
  std::string error;
  if (!WriteTextFile(path, text, &error)) return Fail(what + ": " + error);
  return true;
}

}  // namespace orbel::hostapp
