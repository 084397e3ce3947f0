// The live view: its composer on a hand-made scene; then, with the real
// plug-in and capture server (a scene file of two moving performers and
// stray markers) and the host's own threads running, what /scene.json tells
// a script (also while 'wait' sleeps), a port that is taken, and the page
// itself in headless Chromium, read from its own state through the DevTools
// protocol (over a pipe: no port, no extra library).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <array>
#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include "plugin_shell_fixture.h"
#include "view_scene.h"

namespace orbel::hostapp {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

// Headless Chromium driven over --remote-debugging-pipe: messages are JSON
// ended by a NUL, Chromium reads fd 3 and writes fd 4.
class Chromium {
 public:
  ~Chromium() {
    if (mPid > 0) {
      kill(-mPid, SIGTERM);
      for (int i = 0; i < 300 && waitpid(mPid, nullptr, WNOHANG) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      kill(-mPid, SIGKILL);
      waitpid(mPid, nullptr, 0);
    }
    if (mToBrowser >= 0) close(mToBrowser);
    if (mFromBrowser >= 0) close(mFromBrowser);
  }

  // Opens the page; false with *why when Chromium is missing or does not
  // answer.
  bool Open(const std::string& url, std::string* why) {
    const char* given = std::getenv("ORBEL_CHROMIUM");
    const std::string program = given != nullptr && *given ? given : "/usr/bin/chromium";
    if (access(program.c_str(), X_OK) != 0) {
      *why = program + " is not installed (scripts/install-deps.sh test installs it)";
      return false;
    }
    std::vector<std::string> args = {program,
                                     "--headless",
                                     "--no-sandbox",
                                     "--disable-gpu",
                                     "--disable-quic",
                                     "--no-first-run",
                                     "--disable-background-networking",
                                     "--disable-component-update",
                                     "--disable-sync",
                                     "--window-size=1280,720",
                                     "--user-data-dir=" + mProfile.path(),
                                     "--remote-debugging-pipe",
                                     "about:blank"};
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const std::string log = mProfile.path() + "/chromium.log";
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return false;
    mPid = fork();
    if (mPid == 0) {
      setpgid(0, 0);
      const int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(logFd, 1);
      dup2(logFd, 2);
      // Above 4 first, so that neither end lands on the other's number.
      const int read3 = fcntl(in[0], F_DUPFD, 10), write4 = fcntl(out[1], F_DUPFD, 10);
      dup2(read3, 3);
      dup2(write4, 4);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    mToBrowser = in[1];
    mFromBrowser = out[0];
    const json target = Call("Target.createTarget", {{"url", url}});
    const json attached = Call("Target.attachToTarget",
                               {{"targetId", target.value("targetId", "")}, {"flatten", true}});
    mSession = attached.value("sessionId", "");
    if (mSession.empty()) *why = "Chromium did not open the page; its log: " + ReadFile(log);
    return !mSession.empty();
  }

  // The value of a JavaScript expression in the page.
  json Evaluate(const std::string& expression) {
    const json reply =
        Call("Runtime.evaluate", {{"expression", expression}, {"returnByValue", true}});
    return reply.contains("result") ? reply["result"].value("value", json()) : json();
  }

 private:
  json Call(const std::string& method, const json& params) {
    const int id = ++mNextId;
    json message = {{"id", id}, {"method", method}, {"params", params}};
    if (!mSession.empty()) message["sessionId"] = mSession;
    const std::string text = message.dump() + '\0';
    if (write(mToBrowser, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return {};
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    for (;;) {
      for (std::size_t end; (end = mPending.find('\0')) != std::string::npos;) {
        const json reply = json::parse(mPending.substr(0, end), nullptr, false);
        mPending.erase(0, end + 1);
        if (reply.is_object() && reply.value("id", 0) == id) return reply.value("result", json());
      }
      pollfd ready{mFromBrowser, POLLIN, 0};
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      char buffer[65536];
      if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) return {};
      const ssize_t n = read(mFromBrowser, buffer, sizeof buffer);
      if (n <= 0) return {};
      mPending.append(buffer, static_cast<std::size_t>(n));
    }
  }

  TestFolder mProfile;
  pid_t mPid = -1;
  int mToBrowser = -1;
  int mFromBrowser = -1;
  int mNextId = 0;
  std::string mPending;
  std::string mSession;
};

// The composer alone, on a copy made by hand: world positions composed up
// the parents in the host's rotation order, what is a subject, a bone, a
// labelled or an unlabelled marker, and a new structure only when it
// changed.
TEST(ViewComposerTest, ComposesWorldPositionsAndTheStructure) {
  using Kind = SceneCopy::Kind;
  SceneCopy copy;
  static const char identities[8] = {};
  auto add = [&copy](int parent, Kind kind, const char* label, std::array<double, 3> t,
                     std::array<double, 3> r = {0, 0, 0}) {
    SceneCopy::Model model;
    model.self = identities + copy.models.size();
    model.parent = parent < 0 ? nullptr : copy.models[static_cast<std::size_t>(parent)].self;
    model.kind = kind;
    model.show = true;
    model.label = label;
    std::copy(t.begin(), t.end(), model.translation);
    std::copy(r.begin(), r.end(), model.rotation);
    copy.models.push_back(model);
  };
  add(-1, Kind::Null, "S:RootNode", {0, 0, 0});
  add(0, Kind::Skeleton, "S:S_Hips", {0, 10, 0}, {90, 0, 90});
  add(1, Kind::Skeleton, "S:S_Spine", {0, 0, 5});
  add(0, Kind::Marker, "S:S_LFHD", {1, 2, 3});
  add(-1, Kind::Null, "Unlabeled:RootNode", {0, 0, 0});
  add(4, Kind::Marker, "Unlabeled:0", {7, 8, 9});
  add(1, Kind::Skeleton, "S:S_Hidden", {1, 1, 1});
  copy.models.back().show = false;

  ViewComposer composer;
  composer.Compose(copy, ViewFigures());
  const json scene = json::parse(composer.StructureJson());
  EXPECT_EQ(scene["subjects"], json({"S"}));
  EXPECT_EQ(scene["names"], json({"S_Hips", "S_Spine", "S_LFHD", "0"}));
  EXPECT_EQ(scene["kinds"], json({0, 0, 1, 2}));
  EXPECT_EQ(scene["bones"], json({1, 0}));
  // Spine's (0, 0, 5) turned by Rz(90) * Ry(0) * Rx(90) is (5, 0, 0).
  const std::vector<double> expected = {0, 10, 0, 5, 10, 0, 1, 2, 3, 7, 8, 9};
  const json pose = json::parse(composer.PoseJson());
  ASSERT_EQ(pose["p"].size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(pose["p"][i], expected[i], 1e-5);

  const std::uint64_t version = composer.StructureVersion();
  copy.structureRead = false;
  composer.Compose(copy, ViewFigures());
  EXPECT_EQ(composer.StructureVersion(), version);
  copy.structureRead = true;
  copy.models[2].show = false;
  composer.Compose(copy, ViewFigures());
  EXPECT_EQ(composer.StructureVersion(), version + 1);
  EXPECT_EQ(json::parse(composer.StructureJson())["bones"], json::array());
}

class ViewTest : public PluginShellFixture {
 protected:
  ViewTest() : PluginShellFixture("two_performers.json", /*stepMode=*/false) {}

  void SetUp() override {
    PluginShellFixture::SetUp();
    if (HasFatalFailure()) return;
    for (const char* line : {"panel cam set-address 127.0.0.1", "panel cam set-port ${PORT}",
                             "panel cam bones on", "panel cam markers on", "panel cam unlabeled on",
                             "panel cam count 4", "online cam on", "bind cam", "view on 0"}) {
      Must(line);
      if (HasFatalFailure()) return;
    }
  }

  // What the scene serves: subjects, segments, bones (segments with a
  // parent), labelled and unlabelled markers.
  struct Counts {
    std::vector<std::string> subjects;
    int joints = 0, bones = 0, markers = 0, unlabeled = 0;
  };
  Counts Served() const {
    Counts counts;
    for (const auto& subject : mScene->descriptionAt(0)->subjects) {
      counts.subjects.push_back(subject.name);
      counts.joints += static_cast<int>(subject.segments.size());
      for (const auto& segment : subject.segments) counts.bones += segment.parent.empty() ? 0 : 1;
      counts.markers += static_cast<int>(subject.markers.size());
    }
    protocol::Frame frame;
    mScene->frameAt(0, frame);
    counts.unlabeled = static_cast<int>(frame.unlabeled.size());
    return counts;
  }
};

TEST_F(ViewTest, ScriptsReadTheSceneAndATakenPortIsRefused) {
  httplib::Client client("127.0.0.1", mShell->View()->Port());
  const auto reply = client.Get("/scene.json");
  ASSERT_TRUE(reply);
  ASSERT_EQ(reply->status, 200) << reply->body;
  const json view = json::parse(reply->body);
  const Counts served = Served();
  EXPECT_EQ(view["scene"]["subjects"], served.subjects);
  EXPECT_EQ(static_cast<int>(view["scene"]["bones"].size()), 2 * served.bones);
  EXPECT_EQ(static_cast<int>(view["pose"]["p"].size()),
            3 * (served.joints + served.markers + served.unlabeled));
  EXPECT_EQ(view["pose"]["meta"]["devices"][0]["name"], "cam");

  // While 'wait' sleeps the view goes on reading: a request made meanwhile
  // gets a newer pose before the wait ends.
  auto during = std::async(std::launch::async, [this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto later = httplib::Client("127.0.0.1", mShell->View()->Port()).Get("/scene.json");
    return std::make_pair(later ? json::parse(later->body, nullptr, false) : json(), Clock::now());
  });
  Must("wait 1.5");
  const auto [later, answeredAt] = during.get();
  EXPECT_LT(answeredAt, Clock::now() - std::chrono::milliseconds(100));
  EXPECT_GT(later["pose"].value("seq", 0), view["pose"]["seq"].get<int>());

  // Another program holds a port: the view says so and quotes it.
  const int holder = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), size), 0);
  ASSERT_EQ(listen(holder, 1), 0);
  getsockname(holder, reinterpret_cast<sockaddr*>(&address), &size);
  const std::string port = std::to_string(ntohs(address.sin_port));
  ASSERT_TRUE(mShell->Run("view off"));
  EXPECT_FALSE(mShell->Run("view on " + port));
  EXPECT_NE(mShell->LastError().find("port " + port + ": it is taken"), std::string::npos)
      << mShell->LastError();
  close(holder);
}

TEST_F(ViewTest, PageInChromiumDrawsTheSceneAndFollowsIt) {
  Chromium chromium;
  std::string why;
  if (!chromium.Open(mShell->View()->Url(), &why)) GTEST_SKIP() << "no browser test: " << why;
  // The shell is idle meanwhile, as at its prompt: the view reads the scene.
  auto waitFor = [&chromium](const std::function<bool(const json&)>& wanted) {
    json state;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    do {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      state = chromium.Evaluate("window.orbelView && orbelView.state()");
      if (state.is_object() && wanted(state)) return state;
    } while (Clock::now() < deadline);
    ADD_FAILURE() << "the page never got there; its state: " << state.dump();
    return state;
  };
  const Counts served = Served();
  const json first = waitFor([](const json& s) { return s["poses"].get<int>() > 0; });
  EXPECT_EQ(first["subjects"], served.subjects);
  EXPECT_EQ(first["joints"], served.joints);
  EXPECT_EQ(first["bones"], served.bones);
  EXPECT_EQ(first["markers"], served.markers);
  EXPECT_EQ(first["unlabeled"], served.unlabeled);
  EXPECT_EQ(first["up"], "y");
  EXPECT_EQ(first["devices"][0]["name"], "cam");
  const int seen = first["poses"];
  waitFor([&](const json& s) { return s["poses"].get<int>() > seen + 5; });
  const json later = waitFor([&](const json& s) { return s["positions"] != first["positions"]; });
  EXPECT_EQ(later["positions"].size(), first["positions"].size());

  // Option switches and a recording reach the open page without a reload.
  ASSERT_TRUE(mShell->Run("panel cam markers off"));
  ASSERT_TRUE(mShell->Run("panel cam axis z-up"));
  const json switched = waitFor([](const json& s) { return s["markers"] == 0 && s["up"] == "z"; });
  EXPECT_EQ(switched["joints"], served.joints);
  ASSERT_TRUE(mShell->Run("arm cam on"));
  ASSERT_TRUE(mShell->Run("record"));
  const json recording = waitFor([](const json& s) { return !s["recording"].is_null(); });
  EXPECT_EQ(recording["recording"]["take"], "Take 001");
  ASSERT_TRUE(mShell->Run("stop"));
}

}  // namespace
}  // namespace orbel::hostapp
