// What the Windows build has in place of the parts whose libraries Debian
// ships for Linux only: libedit (the prompt reads plain lines instead),
// cpp-httplib (no live view) and tinygltf (no glTF export). Each says so
// when asked for, rather than fail in a way that looks like a fault.
#include <fbsdk/fbtake.h>

#include "gltf_export.h"
#include "line_editor.h"
#include "view_server.h"

namespace orbel::hostapp {

struct LineEditor::Impl {};

std::unique_ptr<LineEditor> LineEditor::Open(std::FILE* /*in*/, std::FILE* /*out*/,
                                             const std::string& /*historyFile*/,
                                             Completer /*completer*/,
                                             std::function<bool()> /*stopWanted*/) {
  return nullptr;
}
LineEditor::LineEditor(std::unique_ptr<Impl> impl) : mImpl(std::move(impl)) {}
LineEditor::~LineEditor() = default;
LineEditor::Read LineEditor::ReadLine(const std::string& /*prompt*/, std::string* /*line*/) {
  return Read::End;
}
std::string LineEditor::TakeHistoryProblem() { return std::string(); }

struct ViewServer::State {};

std::unique_ptr<ViewServer> ViewServer::Start(const ViewOptions& /*options*/, SceneGate& /*gate*/,
                                              const LiveStats* /*stats*/, std::string* error) {
  *error = "the live view is not part of the Windows build (docs/WINDOWS.md)";
  return nullptr;
}
ViewServer::ViewServer(std::unique_ptr<State> state) : mState(std::move(state)) {}
ViewServer::~ViewServer() = default;
int ViewServer::Port() const { return 0; }
std::string ViewServer::Url() const { return std::string(); }

bool ExportGltf(FBTake& /*take*/, const std::string& /*subject*/, std::string* /*glb*/,
                GltfSummary* /*summary*/, std::string* error) {
  *error = "glTF export is not part of the Windows build (docs/WINDOWS.md)";
  return false;
}

}  // namespace orbel::hostapp
