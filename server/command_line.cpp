#include "command_line.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <optional>

namespace orbel::server {

namespace {

bool parseUnsigned(const std::string& option, const std::string& text, unsigned long max,
                   unsigned long& out, std::string& error) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
    error = option + " '" + text + "' is not a whole number";
    return false;
  }
  errno = 0;
  const unsigned long value = std::strtoul(text.c_str(), nullptr, 10);
  if (errno == ERANGE || value > max) {
    error = option + " '" + text + "' is above " + std::to_string(max);
    return false;
  }
  out = value;
  return true;
}

// A finite decimal number within [least, most].
bool parseNumber(const std::string& text, double least, double most, double& out) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(value) || value < least || value > most) {
    return false;
  }
  out = value;
  return true;
}

}  // namespace

std::string usageText() {
  return "usage: orbel-capture-server [options]\n"
         "\n"
         "Serves motion-capture frames to stream clients over TCP.\n"
         "\n"
         "  --port N            port to listen on (default 801; 0 picks a free one)\n"
         "  --bind ADDRESS      numeric address to listen on (default 127.0.0.1)\n"
         "  --allow CIDR        also serve clients from this range (like 10.0.0.0/8 or\n"
         "                      fd00::/8; repeatable); loopback is always served,\n"
         "                      anyone else is refused\n"
         "  --max-clients N     clients served at once (default 256)\n"
         "  --idle-timeout S    drop a client that sends nothing for S seconds\n"
         "                      (default 10)\n"
         "  --fps RATE          frames per second (default: the scene's own, 120 for\n"
         "                      the synthetic scene)\n"
         "  --timecode STD      none, pal, ntsc, ntscdrop or film (default none); a\n"
         "                      scene file's own timecode is always served as it is\n"
         "  --scene-preset P    synthetic scene size: default, small or stage\n"
         "  --subjects N        synthetic scene: number of subjects\n"
         "  --segments N        synthetic scene: segments per subject\n"
         "  --markers N         synthetic scene: labelled markers per subject\n"
         "  --unlabeled N       synthetic scene: unlabelled markers\n"
         "  --bvh FILE...       play back BVH recordings, one subject per file, looped\n"
         "  --scene FILE        serve a JSON scene file\n"
         "  --help              show this text\n"
         "\n"
         "Prints 'listening on ADDRESS:PORT' once it serves. SIGHUP switches the\n"
         "scene to its second description; SIGINT or SIGTERM stops the server.\n"
         "Every limit it keeps is listed in server/README.md.\n";
}

bool parseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error) {
  CommandLine cl;
  std::string preset;
  std::optional<unsigned long> subjects, segments, markers, unlabeled;
  bool synthesisAsked = false;

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& v) {
      if (i + 1 >= args.size()) {
        error = "option '" + a + "' needs a value";
        return false;
      }
      v = args[++i];
      return true;
    };
    auto count = [&](std::optional<unsigned long>& target, unsigned long max) {
      std::string v;
      unsigned long n = 0;
      if (!value(v) || !parseUnsigned(a, v, max, n, error)) return false;
      target = n;
      synthesisAsked = true;
      return true;
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      cl.help = true;
    } else if (a == "--port") {
      unsigned long port = 0;
      if (!value(v) || !parseUnsigned("port", v, 65535, port, error)) return false;
      cl.server.port = static_cast<std::uint16_t>(port);
    } else if (a == "--bind") {
      if (!value(cl.server.bindAddress)) return false;
    } else if (a == "--allow") {
      AddressRange range;
      if (!value(v)) return false;
      if (!AddressRange::parse(v, range, error)) {
        error.insert(0, "--allow ");
        return false;
      }
      cl.server.allow.push_back(range);
    } else if (a == "--max-clients") {
      unsigned long clients = 0;
      if (!value(v) || !parseUnsigned(a, v, 65536, clients, error)) return false;
      if (clients == 0) {
        error = "--max-clients '0': the server must serve at least one client";
        return false;
      }
      cl.server.maxClients = clients;
    } else if (a == "--idle-timeout") {
      double seconds = 0;
      if (!value(v)) return false;
      if (!parseNumber(v, 0.05, 86400, seconds)) {
        error = "idle timeout '" + v + "' is not a number of seconds from 0.05 to 86400";
        return false;
      }
      cl.server.idleTimeout = std::chrono::milliseconds(std::llround(seconds * 1000));
    } else if (a == "--fps") {
      double fps = 0;
      if (!value(v)) return false;
      if (!parseNumber(v, 0, 1.0e6, fps) || fps <= 0) {
        error = "frame rate '" + v + "' is not a number above 0 and at most 1000000";
        return false;
      }
      cl.server.framesPerSecond = fps;
    } else if (a == "--timecode") {
      if (!value(v)) return false;
      if (!parseTimecodeStandard(v, cl.server.timecode)) {
        error = "timecode standard '" + v + "' is not one of none, pal, ntsc, ntscdrop, film";
        return false;
      }
    } else if (a == "--scene-preset") {
      if (!value(preset)) return false;
      SyntheticSceneConfig probe;
      if (!SyntheticSceneConfig::preset(preset, probe)) {
        error = "scene preset '" + preset + "' is not one of default, small, stage";
        return false;
      }
      synthesisAsked = true;
    } else if (a == "--subjects") {
      if (!count(subjects, 1000)) return false;
    } else if (a == "--segments") {
      if (!count(segments, 1000)) return false;
    } else if (a == "--markers") {
      if (!count(markers, 1000)) return false;
    } else if (a == "--unlabeled") {
      if (!count(unlabeled, 65536)) return false;
    } else if (a == "--bvh") {
      while (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0)
        cl.bvhFiles.push_back(args[++i]);
      if (cl.bvhFiles.empty()) {
        error = "option '--bvh' needs at least one file";
        return false;
      }
    } else if (a == "--scene") {
      if (!value(cl.sceneFile)) return false;
    } else {
      error = "unknown option '" + a + "' (see --help)";
      return false;
    }
  }

  if (!cl.bvhFiles.empty() && !cl.sceneFile.empty()) {
    error = "choose either --bvh or --scene, not both";
    return false;
  }
  if (synthesisAsked && (!cl.bvhFiles.empty() || !cl.sceneFile.empty())) {
    error = "the synthetic scene's options do not apply to --bvh or --scene";
    return false;
  }
  if (!preset.empty()) SyntheticSceneConfig::preset(preset, cl.synthetic);
  if (subjects) cl.synthetic.subjects = static_cast<std::uint32_t>(*subjects);
  if (segments) cl.synthetic.segmentsPerSubject = static_cast<std::uint32_t>(*segments);
  if (markers) cl.synthetic.markersPerSubject = static_cast<std::uint32_t>(*markers);
  if (unlabeled) cl.synthetic.unlabeled = static_cast<std::uint32_t>(*unlabeled);
  if (cl.server.framesPerSecond > 0) cl.synthetic.framesPerSecond = cl.server.framesPerSecond;
  if (const std::string problem = cl.synthetic.validate(); !problem.empty()) {
    error = problem;
    return false;
  }
  out = std::move(cl);
  return true;
}

}  // namespace orbel::server
