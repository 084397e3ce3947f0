#include "view_server.h"

#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <fbhost/config.h>

#include "file_output.h"
#include "live_stats.h"
#include "scene_gate.h"
#include "view_assets.h"
#include "view_scene.h"

namespace orbel::hostapp {

namespace {

using Clock = std::chrono::steady_clock;

// How long a /scene.json request keeps the view thread reading.
constexpr auto kWantedFor = std::chrono::seconds(1);
// A page that hears nothing for this long learns the stream is alive.
constexpr auto kKeepAlive = std::chrono::seconds(1);
// How often the device's coordinate frame is read from its settings file.
constexpr auto kSettingsEvery = std::chrono::milliseconds(500);
// What only commands change is read again after every command, and this
// often regardless (what a panel's idle tick might do during 'wait').
constexpr int kStructureEvery = 30;
// The frame rate is measured over windows this long.
constexpr std::int64_t kRateWindowNs = 500000000;

struct ThreeFile {
  const char* url;
  const char* path;  // below ViewOptions::threeFolder
};
constexpr ThreeFile kThreeFiles[] = {
    {"/three/three.min.js", "/build/three.min.js"},
    {"/three/OrbitControls.js", "/examples/js/controls/OrbitControls.js"},
};

// Why the port could not be had, from a bind of our own (the server
// library answers only yes or no).
std::string PortProblem(int port) {
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  if (probe < 0) return std::strerror(errno);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int failed = bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
  const int why = errno;
  close(probe);
  if (failed == 0) return "it could not be bound";
  if (why == EADDRINUSE) return "it is taken (another program listens there)";
  if (why == EACCES) return "ports below 1024 need administrator rights";
  return std::strerror(why);
}

// "AxisMapping" of the device's settings file: 0 is "Y-Up", anything else
// acts as "Z-Up" does.
bool ZUpInSettings(const std::string& name) {
  std::vector<fbhost::ConfigSetting> settings;
  std::string error;
  if (!fbhost::ReadConfigSettings(name, &settings, &error)) return false;
  for (const auto& setting : settings) {
    if (setting.section != "DataStream" || setting.key != "AxisMapping") continue;
    char* end = nullptr;
    const long value = std::strtol(setting.value.c_str(), &end, 10);
    return end != setting.value.c_str() && value != 0;
  }
  return false;
}

// Only names of this machine's loopback: a page elsewhere that points a
// name of its own at 127.0.0.1 is refused.
bool LoopbackHost(const std::string& host) {
  std::string name = host;
  const std::size_t colon = name.rfind(':');
  if (colon != std::string::npos && name.find(']') == std::string::npos) name.erase(colon);
  return name == "127.0.0.1" || name == "localhost";
}

// Whole answers go out as they are: the server library would otherwise
// compress them with brotli at its highest quality (seconds for three.js),
// for a page read over loopback.
void Answer(httplib::Response& response, std::shared_ptr<const std::string> body,
            const std::string& type) {
  response.set_header("Cache-Control", "no-cache");
  const std::size_t size = body->size();
  response.set_content_provider(
      size, type,
      [body = std::move(body)](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
        return sink.write(body->data() + offset, length);
      });
}

}  // namespace

struct ViewServer::State {
  State(const ViewOptions& viewOptions, SceneGate& sceneGate, const LiveStats* liveStats)
      : options(viewOptions), gate(sceneGate), stats(liveStats) {}

  void Run();
  void Serve();
  bool Stream(httplib::DataSink& sink, std::uint64_t* version, std::uint64_t* sequence);

  const ViewOptions options;
  SceneGate& gate;
  const LiveStats* stats;
  httplib::Server http;
  int port = 0;
  std::map<std::string, std::shared_ptr<const std::string>> threeFiles;  // url -> contents
  std::thread listener;
  std::thread viewer;

  std::mutex lock;
  std::condition_variable changed;
  bool stopping = false;
  int streams = 0;                // open event streams
  Clock::time_point wantedUntil;  // by /scene.json
  std::uint64_t sequence = 0;     // poses published
  std::uint64_t version = 0;      // of the structure published
  std::shared_ptr<const std::string> structure;
  std::shared_ptr<const std::string> pose;
};

void ViewServer::State::Run() {
  ViewComposer composer;
  SceneCopy copy;
  ViewFigures figures;
  const auto period = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(1.0 / options.framesPerSecond));
  auto next = Clock::now();
  auto nextSettings = next;
  std::uint64_t rateFrames = 0;
  std::int64_t rateSinceNs = 0;
  std::uint64_t commandsSeen = 0;
  int sinceStructure = 0;

  std::unique_lock<std::mutex> guard(lock);
  while (!stopping) {
    if (streams == 0 && Clock::now() >= wantedUntil) {
      // Nobody looks: no reading at all.
      changed.wait(guard, [this] { return stopping || streams > 0 || Clock::now() < wantedUntil; });
      next = Clock::now();
      continue;
    }
    guard.unlock();

    gate.Visit([&](std::uint64_t commands) {
      const bool structure = commands != commandsSeen || ++sinceStructure >= kStructureEvery;
      if (structure) sinceStructure = 0;
      commandsSeen = commands;
      CaptureScene(&copy, structure);
    });
    const auto now = Clock::now();
    if (now >= nextSettings) {
      figures.zUp = ZUpInSettings(options.deviceSettings);
      nextSettings = now + kSettingsEvery;
    }
    if (stats != nullptr) {
      const std::uint64_t frames = OrbelDataStreamSDK::Diagnostics::NewestFrameTaken().FramesTaken;
      const std::int64_t nowNs = MonotonicNowNs();
      if (rateSinceNs == 0 || frames < rateFrames) {
        rateSinceNs = nowNs;
        rateFrames = frames;
      } else if (nowNs - rateSinceNs >= kRateWindowNs) {
        figures.framesPerSecond = static_cast<double>(frames - rateFrames) * 1e9 /
                                  static_cast<double>(nowNs - rateSinceNs);
        rateSinceNs = nowNs;
        rateFrames = frames;
      }
      const std::optional<double> latency = stats->LatestLatencyMs();
      figures.haveLatency = latency.has_value();
      figures.latencyMs = latency.value_or(0.0);
    }
    const std::uint64_t before = composer.StructureVersion();
    composer.Compose(copy, figures);
    auto newPose = std::make_shared<const std::string>(composer.PoseJson());
    std::shared_ptr<const std::string> newStructure;
    if (composer.StructureVersion() != before) {
      newStructure = std::make_shared<const std::string>(composer.StructureJson());
    }

    guard.lock();
    if (newStructure) {
      structure = std::move(newStructure);
      version = composer.StructureVersion();
    }
    pose = std::move(newPose);
    ++sequence;
    changed.notify_all();
    next += period;
    if (next < now) next = now + period;  // fell behind: no burst to catch up
    changed.wait_until(guard, next, [this] { return stopping; });
  }
}

// Waits for the next pose and writes it (after the structure, when that is
// new to the page). False ends the stream.
bool ViewServer::State::Stream(httplib::DataSink& sink, std::uint64_t* sentVersion,
                               std::uint64_t* sentSequence) {
  std::shared_ptr<const std::string> newStructure, newPose;
  {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait_for(guard, kKeepAlive, [&] { return stopping || sequence != *sentSequence; });
    if (stopping) return false;
    if (sequence != *sentSequence) {
      *sentSequence = sequence;
      newPose = pose;
      if (version != *sentVersion) {
        *sentVersion = version;
        newStructure = structure;
      }
    }
  }
  if (!newPose) {
    static constexpr char kComment[] = ": alive\n\n";
    return sink.write(kComment, sizeof kComment - 1);
  }
  std::string text;
  text.reserve((newStructure ? newStructure->size() : 0) + newPose->size() + 40);
  if (newStructure) text.append("event: scene\ndata: ").append(*newStructure).append("\n\n");
  text.append("event: pose\ndata: ").append(*newPose).append("\n\n");
  return sink.write(text.data(), text.size());
}

void ViewServer::State::Serve() {
  // SO_REUSEADDR only: the library's default also sets SO_REUSEPORT, which
  // would let a second view share a taken port instead of failing.
  http.set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  http.set_pre_routing_handler([](const httplib::Request& request, httplib::Response& response) {
    if (LoopbackHost(request.get_header_value("Host"))) {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    response.status = 403;
    response.set_content("this view answers only to 127.0.0.1 and localhost\n", "text/plain");
    return httplib::Server::HandlerResponse::Handled;
  });
  for (const ViewAsset& asset : ViewAssets()) {
    auto body = std::make_shared<const std::string>(asset.body);
    const std::string type = std::string(asset.type) + "; charset=utf-8";
    http.Get(asset.url, [body, type](const httplib::Request&, httplib::Response& response) {
      Answer(response, body, type);
    });
  }
  for (const auto& file : threeFiles) {
    auto body = file.second;
    http.Get(file.first, [body](const httplib::Request&, httplib::Response& response) {
      Answer(response, body, "text/javascript");
    });
  }
  http.Get("/events", [this](const httplib::Request&, httplib::Response& response) {
    {
      std::lock_guard<std::mutex> guard(lock);
      ++streams;
    }
    changed.notify_all();
    response.set_header("Cache-Control", "no-cache");
    auto cursor = std::make_shared<std::pair<std::uint64_t, std::uint64_t>>(0, 0);
    response.set_chunked_content_provider(
        "text/event-stream",
        [this, cursor](std::size_t, httplib::DataSink& sink) {
          return Stream(sink, &cursor->first, &cursor->second);
        },
        [this](bool) {
          std::lock_guard<std::mutex> guard(lock);
          --streams;
        });
  });
  http.Get("/scene.json", [this](const httplib::Request&, httplib::Response& response) {
    std::unique_lock<std::mutex> guard(lock);
    wantedUntil = Clock::now() + kWantedFor;
    changed.notify_all();
    const std::uint64_t seen = sequence;
    changed.wait_for(guard, kWantedFor, [&] { return stopping || sequence != seen; });
    if (!pose) {
      response.status = 503;
      response.set_content("the view has not read the scene yet\n", "text/plain");
      return;
    }
    Answer(response,
           std::make_shared<const std::string>("{\"scene\":" + *structure + ",\"pose\":" + *pose +
                                               "}\n"),
           "application/json");
  });
}

std::unique_ptr<ViewServer> ViewServer::Start(const ViewOptions& options, SceneGate& gate,
                                              const LiveStats* stats, std::string* error) {
  if (options.port < 0 || options.port > 65535) {
    *error = "view port '" + std::to_string(options.port) + "' is not a port (0 to 65535)";
    return nullptr;
  }
  auto state = std::make_unique<State>(options, gate, stats);
  for (const ThreeFile& file : kThreeFiles) {
    const std::string path = options.threeFolder + file.path;
    std::string text, why;
    if (!ReadTextFile(path, 16u << 20, &text, &why)) {
      *error = "the view needs Debian's three.js (apt-get install libjs-three): " + why;
      return nullptr;
    }
    state->threeFiles[file.url] = std::make_shared<const std::string>(std::move(text));
  }
  state->Serve();
  if (options.port == 0) {
    state->port = state->http.bind_to_any_port("127.0.0.1");
  } else if (state->http.bind_to_port("127.0.0.1", options.port)) {
    state->port = options.port;
  }
  if (state->port <= 0) {
    *error = "the view cannot listen on 127.0.0.1 port " + std::to_string(options.port) + ": " +
             (options.port == 0 ? std::string("no free port") : PortProblem(options.port)) +
             "; choose another port, or 0 for a free one";
    return nullptr;
  }
  State* raw = state.get();
  state->listener = std::thread([raw] { raw->http.listen_after_bind(); });
  // The server's stop does nothing before it runs: wait for it, so that a
  // view closed right after it opened cannot leave the listener waiting.
  for (int i = 0; i < 5000 && !state->http.is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  state->viewer = std::thread([raw] { raw->Run(); });
  return std::unique_ptr<ViewServer>(new ViewServer(std::move(state)));
}

ViewServer::ViewServer(std::unique_ptr<State> state) : mState(std::move(state)) {}

ViewServer::~ViewServer() {
  {
    std::lock_guard<std::mutex> guard(mState->lock);
    mState->stopping = true;
  }
  mState->changed.notify_all();
  mState->viewer.join();
  mState->http.stop();
  mState->listener.join();
}

int ViewServer::Port() const { return mState->port; }

std::string ViewServer::Url() const {
  return "http://127.0.0.1:" + std::to_string(mState->port) + "/";
}

}  // namespace orbel::hostapp
