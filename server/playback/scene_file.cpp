#include "scene_file.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "file_text.h"
#include "playback/loaders.h"
#include "rotation.h"
#include "timecode.h"

namespace orbel::server::playback {

namespace {

using json = nlohmann::json;

// Frame numbers beyond this cannot be written exactly as JSON numbers.
constexpr std::uint64_t kMaxFrame = 1ull << 53;
constexpr double kMaxFramesPerSecond = 10000;
constexpr double kUnitTolerance = 1e-4;

std::string quoteText(const std::string& text) {
  constexpr std::size_t kMax = 40;
  if (text.size() <= kMax) return "'" + text + "'";
  return "'" + text.substr(0, kMax) + "...'";
}

// Bad input is quoted, but never a whole array or object: those can be huge
// or nested deep enough to exhaust the stack while printing.
std::string describe(const json& j) {
  switch (j.type()) {
    case json::value_t::null:
      return "null";
    case json::value_t::boolean:
      return j.get<bool>() ? "true" : "false";
    case json::value_t::string:
      return "the string " + quoteText(j.get<std::string>());
    case json::value_t::array:
      return "an array of " + std::to_string(j.size());
    case json::value_t::object:
      return "an object";
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
    case json::value_t::number_float:
      return j.dump();
    case json::value_t::binary:
    case json::value_t::discarded:
      break;
  }
  return "an unknown value";
}

// JSON pointer escaping, so that a path names a key holding '/' exactly.
std::string pointerKey(const std::string& key) {
  std::string out;
  for (char c : key) {
    if (c == '~') {
      out += "~0";
    } else if (c == '/') {
      out += "~1";
    } else {
      out += c;
    }
  }
  return out;
}

std::string at(const std::string& path, const std::string& key) {
  return path + "/" + pointerKey(key);
}
std::string at(const std::string& path, std::size_t index) {
  return path + "/" + std::to_string(index);
}

// A JSON object keeps only the last of two equal keys; in a hand-written
// scene that is nearly always a mistake that would silently drop data, so
// the parser's callback records the first duplicate with its path.
class DuplicateKeys {
 public:
  bool found() const { return found_; }
  const std::string& path() const { return path_; }

  bool operator()(int /*depth*/, json::parse_event_t event, json& parsed) {
    switch (event) {
      case json::parse_event_t::object_start:
        levels_.push_back(Level{true, {}, {}, 0});
        break;
      case json::parse_event_t::array_start:
        levels_.push_back(Level{false, {}, {}, 0});
        break;
      case json::parse_event_t::key:
        if (!levels_.empty()) {
          Level& level = levels_.back();
          level.lastKey = parsed.get<std::string>();
          if (!level.keys.insert(level.lastKey).second && !found_) {
            found_ = true;
            path_ = currentPath();
          }
        }
        break;
      case json::parse_event_t::object_end:
      case json::parse_event_t::array_end:
        if (!levels_.empty()) levels_.pop_back();
        advance();
        break;
      case json::parse_event_t::value:
        advance();
        break;
    }
    return true;
  }

 private:
  struct Level {
    bool object;
    std::set<std::string> keys;
    std::string lastKey;
    std::size_t index;
  };

  void advance() {
    if (!levels_.empty() && !levels_.back().object) ++levels_.back().index;
  }

  std::string currentPath() const {
    std::string path;
    for (const Level& level : levels_) {
      path = level.object ? at(path, level.lastKey) : at(path, level.index);
    }
    return path;
  }

  std::vector<Level> levels_;
  bool found_ = false;
  std::string path_;
};

// Values given at keyframes, for one item: sorted by frame.
template <class T>
struct KeyTrack {
  std::vector<std::uint64_t> frames;
  std::vector<T> values;

  void add(std::uint64_t frame, const T& value) {
    frames.push_back(frame);
    values.push_back(value);
  }

  // The last key at or before f; before the first key, the first. Sets next
  // to the key after it when f lies strictly between two keys.
  std::size_t find(std::uint64_t f, std::size_t& next, double& fraction) const {
    const auto it = std::upper_bound(frames.begin(), frames.end(), f);
    next = SIZE_MAX;
    if (it == frames.begin()) return 0;
    const auto i = static_cast<std::size_t>(it - frames.begin() - 1);
    if (frames[i] != f && i + 1 < frames.size()) {
      next = i + 1;
      fraction =
          static_cast<double>(f - frames[i]) / static_cast<double>(frames[i + 1] - frames[i]);
    }
    return i;
  }
};

Vec3 lerp(const Vec3& a, const Vec3& b, double t) {
  return {a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t, a[2] + (b[2] - a[2]) * t};
}

template <class T, class Mix>
T sample(const KeyTrack<T>& track, std::uint64_t f, bool linear, const T& fallback, Mix mix) {
  if (track.frames.empty()) return fallback;
  std::size_t next = SIZE_MAX;
  double fraction = 0;
  const std::size_t i = track.find(f, next, fraction);
  if (!linear || next == SIZE_MAX) return track.values[i];
  return mix(track.values[i], track.values[next], fraction);
}

struct SegmentTracks {
  KeyTrack<Vec3> translation;
  KeyTrack<Quat> rotation;
  KeyTrack<bool> occluded;
};

struct MarkerTracks {
  KeyTrack<Vec3> position;
  KeyTrack<bool> occluded;
};

// One description with the values that fill it.
struct Phase {
  std::shared_ptr<const protocol::Description> description;
  std::uint64_t length = 1;
  bool loop = true;
  bool linear = true;
  std::vector<std::vector<SegmentTracks>> segments;
  std::vector<std::vector<MarkerTracks>> markers;
  KeyTrack<std::vector<Vec3>> unlabeled;

  std::uint64_t localFrame(std::uint64_t m) const {
    return loop ? m % length : std::min(m, length - 1);
  }
};

enum class SwitchKind { None, AfterFrames, OnSignal };

struct SceneData {
  double framesPerSecond = 60;
  bool hasTimecode = false;
  std::uint32_t standard = 0;
  TimecodeCounting counting;
  std::uint64_t timecodeStart = 0;  // timecode frames since midnight
  Phase first;
  SwitchKind switchKind = SwitchKind::None;
  std::uint64_t switchAfter = 0;
  Phase second;
};

class FileScene final : public Scene {
 public:
  explicit FileScene(SceneData data) : data_(std::move(data)) {}

  double framesPerSecond() const override { return data_.framesPerSecond; }
  bool providesTimecode() const override { return data_.hasTimecode; }

  std::shared_ptr<const protocol::Description> descriptionAt(std::uint64_t n) const override {
    std::uint64_t local = 0;
    return phaseAt(n, local).description;
  }

  void requestSwitch() override {
    if (data_.switchKind == SwitchKind::OnSignal) switchRequested_.store(true);
  }

  void frameAt(std::uint64_t n, protocol::Frame& out) const override {
    out.number = n;
    out.timecode = protocol::TimecodeValue();
    if (data_.hasTimecode) {
      framesToLabel(data_.timecodeStart + timecodeFramesAt(n), data_.counting, out.timecode);
      out.timecode.standard = data_.standard;
    }

    std::uint64_t f = 0;
    const Phase& phase = phaseAt(n, f);
    out.segmentCounts.clear();
    out.segments.clear();
    out.markerCounts.clear();
    out.markers.clear();
    const auto mixQuat = [](const Quat& a, const Quat& b, double t) { return slerp(a, b, t); };
    const auto step = [](bool a, bool, double) { return a; };
    for (std::size_t s = 0; s < phase.segments.size(); ++s) {
      const std::vector<SegmentTracks>& segments = phase.segments[s];
      out.segmentCounts.push_back(static_cast<std::uint32_t>(segments.size()));
      for (std::size_t k = 0; k < segments.size(); ++k) {
        protocol::SegmentSample& pose = out.segments.emplace_back();
        const Vec3 t = sample(segments[k].translation, f, phase.linear, Vec3{0, 0, 0}, lerp);
        const Quat q = sample(segments[k].rotation, f, phase.linear, kIdentityQuat, mixQuat);
        std::copy(t.begin(), t.end(), pose.translation);
        std::copy(q.begin(), q.end(), pose.rotation);
        pose.occluded = sample(segments[k].occluded, f, false, false, step);
      }
      const std::vector<MarkerTracks>& markers = phase.markers[s];
      out.markerCounts.push_back(static_cast<std::uint32_t>(markers.size()));
      for (std::size_t k = 0; k < markers.size(); ++k) {
        protocol::MarkerSample& marker = out.markers.emplace_back();
        const Vec3 p = sample(markers[k].position, f, phase.linear, Vec3{0, 0, 0}, lerp);
        std::copy(p.begin(), p.end(), marker.position);
        marker.occluded = sample(markers[k].occluded, f, false, false, step);
      }
    }
    unlabeledAt(phase, f, out.unlabeled);
  }

 private:
  // Which description is in force at frame n, and the frame within it.
  const Phase& phaseAt(std::uint64_t n, std::uint64_t& local) const {
    std::uint64_t start = UINT64_MAX;
    if (data_.switchKind == SwitchKind::AfterFrames) {
      start = data_.switchAfter;
    } else if (data_.switchKind == SwitchKind::OnSignal && switchRequested_.load()) {
      // The first frame asked for after the signal becomes the switch
      // frame, once, whichever connection asks first; descriptionAt and
      // frameAt then agree for every frame.
      std::uint64_t unset = UINT64_MAX;
      switchFrame_.compare_exchange_strong(unset, n);
      start = switchFrame_.load();
    }
    if (n >= start) {
      local = data_.second.localFrame(n - start);
      return data_.second;
    }
    local = data_.first.localFrame(n);
    return data_.first;
  }

  // Timecode frames elapsed by scene frame n, counted at the timecode's own
  // rate; exact integer arithmetic when the scene rate is whole.
  std::uint64_t timecodeFramesAt(std::uint64_t n) const {
    const std::uint64_t day = framesPerDay(data_.counting);
    const std::uint64_t rate = data_.counting.framesPerSecond;
    const double fps = data_.framesPerSecond;
    if (fps == std::floor(fps)) {
      const auto whole = static_cast<std::uint64_t>(fps);
      return ((n / whole) % day * rate + (n % whole) * rate / whole) % day;
    }
    const long double elapsed =
        std::floor(static_cast<long double>(n) * rate / static_cast<long double>(fps));
    return static_cast<std::uint64_t>(std::fmod(elapsed, static_cast<long double>(day)));
  }

  static void unlabeledAt(const Phase& phase, std::uint64_t f,
                          std::vector<protocol::UnlabeledSample>& out) {
    const KeyTrack<std::vector<Vec3>>& track = phase.unlabeled;
    if (track.frames.empty()) {
      out.clear();
      return;
    }
    std::size_t next = SIZE_MAX;
    double fraction = 0;
    const std::size_t i = track.find(f, next, fraction);
    const std::vector<Vec3>& from = track.values[i];
    // Markers are matched by index only when both keyframes hold the same
    // number; otherwise there is no sound pairing and the list steps.
    const bool mix = phase.linear && next != SIZE_MAX && track.values[next].size() == from.size();
    out.resize(from.size());
    for (std::size_t k = 0; k < from.size(); ++k) {
      const Vec3 p = mix ? lerp(from[k], track.values[next][k], fraction) : from[k];
      std::copy(p.begin(), p.end(), out[k].position);
    }
  }

  SceneData data_;
  mutable std::atomic<bool> switchRequested_{false};
  mutable std::atomic<std::uint64_t> switchFrame_{UINT64_MAX};
};

// Walks the parsed document and builds the scene, stopping at the first
// problem with a message that names its JSON path.
class Loader {
 public:
  Loader(const std::string& name, std::string& error) : name_(name), error_(error) {}

  bool load(const json& root, SceneData& data) {
    static const char* const kRootKeys[] = {"frameRate", "timecode", "subjects",      "keyframes",
                                            "length",    "repeat",   "interpolation", "then"};
    if (!checkKeys(root, "", kRootKeys)) return false;
    if (root.contains("frameRate")) {
      if (!toNumber(root["frameRate"], "/frameRate", data.framesPerSecond)) return false;
      if (!(data.framesPerSecond > 0 && data.framesPerSecond <= kMaxFramesPerSecond)) {
        return fail("/frameRate", describe(root["frameRate"]) +
                                      " is not a rate above 0 and up to " +
                                      std::to_string(static_cast<int>(kMaxFramesPerSecond)));
      }
    }
    if (root.contains("timecode") && !timecode(root["timecode"], "/timecode", data)) return false;
    if (!phase(root, "", data.first)) return false;
    if (root.contains("then")) {
      static const char* const kThenKeys[] = {"after",  "subjects", "keyframes",
                                              "length", "repeat",   "interpolation"};
      const json& then = root["then"];
      if (!checkKeys(then, "/then", kThenKeys)) return false;
      if (!then.contains("after")) {
        return fail("/then", "missing 'after': a number of frames or \"SIGHUP\"");
      }
      const json& after = then["after"];
      if (after.is_string()) {
        if (after.get<std::string>() != "SIGHUP") {
          return fail("/then/after",
                      "expected a number of frames or \"SIGHUP\", found " + describe(after));
        }
        data.switchKind = SwitchKind::OnSignal;
      } else {
        if (!toUInt(after, "/then/after", kMaxFrame, data.switchAfter)) return false;
        if (data.switchAfter == 0) {
          return fail("/then/after", "0 frames would never serve the first description");
        }
        data.switchKind = SwitchKind::AfterFrames;
      }
      if (!phase(then, "/then", data.second)) return false;
    }
    return true;
  }

 private:
  bool fail(const std::string& path, const std::string& what) {
    error_ = name_ + ": " + (path.empty() ? std::string("/") : path) + ": " + what;
    return false;
  }

  template <std::size_t N>
  bool checkKeys(const json& j, const std::string& path, const char* const (&allowed)[N]) {
    if (!j.is_object()) return fail(path, "expected an object, found " + describe(j));
    for (auto it = j.begin(); it != j.end(); ++it) {
      const bool known = std::any_of(std::begin(allowed), std::end(allowed),
                                     [&](const char* key) { return it.key() == key; });
      if (!known) {
        std::string list;
        for (const char* key : allowed) list += (list.empty() ? "" : ", ") + std::string(key);
        return fail(at(path, it.key()),
                    "unknown key " + quoteText(it.key()) + " (known: " + list + ")");
      }
    }
    return true;
  }

  bool toString(const json& j, const std::string& path, std::string& out) {
    if (!j.is_string()) return fail(path, "expected a string, found " + describe(j));
    out = j.get<std::string>();
    return true;
  }

  bool toBool(const json& j, const std::string& path, bool& out) {
    if (!j.is_boolean()) return fail(path, "expected true or false, found " + describe(j));
    out = j.get<bool>();
    return true;
  }

  bool toNumber(const json& j, const std::string& path, double& out) {
    if (!j.is_number()) return fail(path, "expected a number, found " + describe(j));
    out = j.get<double>();
    return true;
  }

  bool toUInt(const json& j, const std::string& path, std::uint64_t max, std::uint64_t& out) {
    bool whole = false;
    if (j.is_number_unsigned()) {
      out = j.get<std::uint64_t>();
      whole = true;
    } else if (j.is_number_float()) {
      const double v = j.get<double>();
      if (v >= 0 && v == std::floor(v) && v <= static_cast<double>(kMaxFrame)) {
        out = static_cast<std::uint64_t>(v);
        whole = true;
      }
    }
    if (!whole || out > max) {
      return fail(path, "expected a whole number from 0 to " + std::to_string(max) + ", found " +
                            describe(j));
    }
    return true;
  }

  bool toVec3(const json& j, const std::string& path, Vec3& out) {
    if (!j.is_array() || j.size() != 3) {
      return fail(path, "expected an array of 3 numbers, found " + describe(j));
    }
    for (std::size_t i = 0; i < 3; ++i) {
      if (!toNumber(j[i], at(path, i), out[i])) return false;
    }
    return true;
  }

  bool toRotation(const json& j, const std::string& path, Quat& out) {
    static const char* const kKeys[] = {"quaternion", "euler", "order"};
    if (!checkKeys(j, path, kKeys)) return false;
    const bool hasQuat = j.contains("quaternion");
    const bool hasEuler = j.contains("euler");
    if (hasQuat == hasEuler) {
      return fail(path, "give either 'quaternion' [x, y, z, w] or 'euler' [a, b, c] with 'order'");
    }
    if (hasQuat) {
      if (j.contains("order")) return fail(at(path, "order"), "'order' belongs to 'euler' only");
      const json& q = j["quaternion"];
      const std::string qPath = at(path, "quaternion");
      if (!q.is_array() || q.size() != 4) {
        return fail(qPath, "expected an array of 4 numbers x, y, z, w, found " + describe(q));
      }
      for (std::size_t i = 0; i < 4; ++i) {
        if (!toNumber(q[i], at(qPath, i), out[i])) return false;
      }
      const double length = norm(out);
      if (!(std::abs(length - 1) <= kUnitTolerance)) {
        char text[64];
        std::snprintf(text, sizeof text, "%g", length);
        return fail(qPath,
                    std::string("the quaternion has length ") + text + "; write a unit quaternion");
      }
      return true;
    }
    if (!j.contains("order")) {
      return fail(path, "'euler' needs an 'order' such as \"XYZ\" or \"ZXY\"");
    }
    std::string order;
    if (!toString(j["order"], at(path, "order"), order)) return false;
    int axes[3] = {-1, -1, -1};
    bool valid = order.size() == 3;
    for (std::size_t i = 0; valid && i < 3; ++i) {
      const char c = order[i];
      axes[i] = (c == 'X' || c == 'x')   ? 0
                : (c == 'Y' || c == 'y') ? 1
                : (c == 'Z' || c == 'z') ? 2
                                         : -1;
      valid = axes[i] >= 0;
    }
    valid = valid && axes[0] != axes[1] && axes[1] != axes[2] && axes[0] != axes[2];
    if (!valid) {
      return fail(at(path, "order"),
                  quoteText(order) + " is not an order of the three axes X, Y, Z");
    }
    Vec3 angles;
    if (!toVec3(j["euler"], at(path, "euler"), angles)) return false;
    const double degrees[3] = {angles[0], angles[1], angles[2]};
    out = eulerToQuat(axes, degrees);
    return true;
  }

  bool timecode(const json& j, const std::string& path, SceneData& data) {
    static const char* const kKeys[] = {"start", "standard", "rate"};
    if (!checkKeys(j, path, kKeys)) return false;
    if (!j.contains("standard")) return fail(path, "missing 'standard' (a whole number)");
    std::uint64_t standard = 0;
    if (!toUInt(j["standard"], at(path, "standard"), UINT32_MAX, standard)) return false;
    data.standard = static_cast<std::uint32_t>(standard);
    const bool known = countingOfStandard(data.standard, data.counting);
    if (j.contains("rate")) {
      if (known) {
        return fail(at(path, "rate"), "standard " + std::to_string(standard) + " counts at " +
                                          std::to_string(data.counting.framesPerSecond) +
                                          " frames per second; 'rate' is for other standards");
      }
      std::uint64_t rate = 0;
      if (!toUInt(j["rate"], at(path, "rate"), 1000, rate)) return false;
      if (rate == 0) return fail(at(path, "rate"), "a timecode counts at least 1 frame per second");
      data.counting = {static_cast<std::uint32_t>(rate), false};
    } else if (!known) {
      // A code with no rate of its own counts at the scene's rate.
      data.counting = {
          std::max<std::uint32_t>(1, static_cast<std::uint32_t>(std::lround(data.framesPerSecond))),
          false};
    }
    protocol::TimecodeValue start;
    if (j.contains("start") && !timecodeLabel(j["start"], at(path, "start"), start)) return false;
    std::string what;
    if (!labelToFrames(start, data.counting, data.timecodeStart, what)) {
      return fail(at(path, "start"), what);
    }
    data.hasTimecode = true;
    return true;
  }

  bool timecodeLabel(const json& j, const std::string& path, protocol::TimecodeValue& out) {
    std::uint32_t* fields[4] = {&out.hours, &out.minutes, &out.seconds, &out.frames};
    if (j.is_array()) {
      if (j.size() != 4) {
        return fail(path, "expected [hours, minutes, seconds, frames], found " + describe(j));
      }
      for (std::size_t i = 0; i < 4; ++i) {
        std::uint64_t v = 0;
        if (!toUInt(j[i], at(path, i), 1000000, v)) return false;
        *fields[i] = static_cast<std::uint32_t>(v);
      }
      return true;
    }
    if (!j.is_string()) {
      return fail(path, "expected \"HH:MM:SS:FF\" or [hours, minutes, seconds, frames], found " +
                            describe(j));
    }
    const std::string text = j.get<std::string>();
    std::size_t field = 0;
    std::size_t digits = 0;
    std::uint32_t value = 0;
    bool valid = true;
    for (std::size_t i = 0; valid && i <= text.size(); ++i) {
      const char c = i < text.size() ? text[i] : '\0';
      if (c >= '0' && c <= '9' && digits < 6) {
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
        ++digits;
      } else if (digits > 0 && field < 4 &&
                 (c == '\0' ? field == 3 : (c == ':' || (c == ';' && field == 2)))) {
        *fields[field++] = value;
        value = 0;
        digits = 0;
      } else {
        valid = false;
      }
    }
    if (!valid || field != 4) {
      return fail(path, quoteText(text) + " is not a timecode \"HH:MM:SS:FF\"");
    }
    return true;
  }

  bool readDescription(const json& subjects, const std::string& path, protocol::Description& out,
                       std::unordered_map<std::string, std::size_t>& subjectIndex) {
    if (!subjects.is_array())
      return fail(path, "expected an array of subjects, found " + describe(subjects));
    for (std::size_t s = 0; s < subjects.size(); ++s) {
      static const char* const kKeys[] = {"name", "segments", "markers"};
      const std::string sPath = at(path, s);
      const json& subject = subjects[s];
      if (!checkKeys(subject, sPath, kKeys)) return false;
      protocol::SubjectInfo desc;
      if (!subject.contains("name")) return fail(sPath, "missing 'name' (it may be empty)");
      if (!toString(subject["name"], at(sPath, "name"), desc.name)) return false;
      if (!subjectIndex.emplace(desc.name, s).second) {
        return fail(at(sPath, "name"), "subject name " + quoteText(desc.name) +
                                           " is used twice; clients find subjects by name");
      }
      if (subject.contains("segments")) {
        const json& segments = subject["segments"];
        const std::string segPath = at(sPath, "segments");
        if (!segments.is_array())
          return fail(segPath, "expected an array, found " + describe(segments));
        std::unordered_set<std::string> names;
        for (std::size_t k = 0; k < segments.size(); ++k) {
          static const char* const kSegmentKeys[] = {"name", "parent"};
          const std::string kPath = at(segPath, k);
          if (!checkKeys(segments[k], kPath, kSegmentKeys)) return false;
          protocol::SegmentInfo segment;
          if (!segments[k].contains("name")) return fail(kPath, "missing 'name'");
          if (!toString(segments[k]["name"], at(kPath, "name"), segment.name)) return false;
          if (segment.name.empty())
            return fail(at(kPath, "name"), "a segment name cannot be empty");
          if (!names.insert(segment.name).second) {
            return fail(at(kPath, "name"), "segment name " + quoteText(segment.name) +
                                               " is used twice in subject " + quoteText(desc.name));
          }
          // Any parent is served as written, also one that names no segment:
          // clients must cope with it.
          if (segments[k].contains("parent") &&
              !toString(segments[k]["parent"], at(kPath, "parent"), segment.parent)) {
            return false;
          }
          desc.segments.push_back(std::move(segment));
        }
      }
      if (subject.contains("markers")) {
        const json& markers = subject["markers"];
        const std::string mPath = at(sPath, "markers");
        if (!markers.is_array())
          return fail(mPath, "expected an array of names, found " + describe(markers));
        std::unordered_set<std::string> names;
        for (std::size_t k = 0; k < markers.size(); ++k) {
          std::string marker;
          if (!toString(markers[k], at(mPath, k), marker)) return false;
          if (marker.empty()) return fail(at(mPath, k), "a marker name cannot be empty");
          if (!names.insert(marker).second) {
            return fail(at(mPath, k), "marker name " + quoteText(marker) +
                                          " is used twice in subject " + quoteText(desc.name));
          }
          desc.markers.push_back(std::move(marker));
        }
      }
      out.subjects.push_back(std::move(desc));
    }
    return true;
  }

  bool phase(const json& j, const std::string& path, Phase& out) {
    if (!j.contains("subjects")) return fail(path, "missing 'subjects' (an array, possibly empty)");
    auto description = std::make_shared<protocol::Description>();
    std::unordered_map<std::string, std::size_t> subjectIndex;
    if (!readDescription(j["subjects"], at(path, "subjects"), *description, subjectIndex))
      return false;
    out.segments.resize(description->subjects.size());
    out.markers.resize(description->subjects.size());
    for (std::size_t s = 0; s < description->subjects.size(); ++s) {
      out.segments[s].resize(description->subjects[s].segments.size());
      out.markers[s].resize(description->subjects[s].markers.size());
    }
    out.description = description;

    std::uint64_t lastFrame = 0;
    if (j.contains("keyframes") && !keyframes(j["keyframes"], at(path, "keyframes"), *description,
                                              subjectIndex, out, lastFrame)) {
      return false;
    }
    out.length = lastFrame + 1;
    if (j.contains("length")) {
      std::uint64_t length = 0;
      if (!toUInt(j["length"], at(path, "length"), kMaxFrame, length)) return false;
      if (length < out.length) {
        return fail(at(path, "length"), std::to_string(length) +
                                            " frames end before the last keyframe (frame " +
                                            std::to_string(lastFrame) + ")");
      }
      out.length = length;
    }
    if (j.contains("repeat")) {
      std::string repeat;
      if (!toString(j["repeat"], at(path, "repeat"), repeat)) return false;
      if (repeat != "loop" && repeat != "hold") {
        return fail(at(path, "repeat"), quoteText(repeat) + " is neither \"loop\" nor \"hold\"");
      }
      out.loop = repeat == "loop";
    }
    if (j.contains("interpolation")) {
      std::string mode;
      if (!toString(j["interpolation"], at(path, "interpolation"), mode)) return false;
      if (mode != "linear" && mode != "step") {
        return fail(at(path, "interpolation"),
                    quoteText(mode) + " is neither \"linear\" nor \"step\"");
      }
      out.linear = mode == "linear";
    }
    return true;
  }

  bool keyframes(const json& keys, const std::string& path,
                 const protocol::Description& description,
                 const std::unordered_map<std::string, std::size_t>& subjectIndex, Phase& out,
                 std::uint64_t& lastFrame) {
    if (!keys.is_array())
      return fail(path, "expected an array of keyframes, found " + describe(keys));
    // Names are looked up per keyframe; index them once.
    std::vector<std::unordered_map<std::string, std::size_t>> segmentIndex(
        description.subjects.size());
    std::vector<std::unordered_map<std::string, std::size_t>> markerIndex(
        description.subjects.size());
    for (std::size_t s = 0; s < description.subjects.size(); ++s) {
      const protocol::SubjectInfo& subject = description.subjects[s];
      for (std::size_t k = 0; k < subject.segments.size(); ++k)
        segmentIndex[s][subject.segments[k].name] = k;
      for (std::size_t k = 0; k < subject.markers.size(); ++k)
        markerIndex[s][subject.markers[k]] = k;
    }

    for (std::size_t i = 0; i < keys.size(); ++i) {
      static const char* const kKeys[] = {"frame", "subjects", "unlabeled"};
      const std::string kPath = at(path, i);
      const json& key = keys[i];
      if (!checkKeys(key, kPath, kKeys)) return false;
      std::uint64_t frame = i == 0 ? 0 : lastFrame + 1;
      if (key.contains("frame")) {
        if (!toUInt(key["frame"], at(kPath, "frame"), kMaxFrame - 1, frame)) return false;
        if (i > 0 && frame <= lastFrame) {
          return fail(at(kPath, "frame"), std::to_string(frame) +
                                              " is not after the previous keyframe's frame " +
                                              std::to_string(lastFrame));
        }
      }
      if (frame >= kMaxFrame)
        return fail(kPath, "frame " + std::to_string(frame) + " is too large");
      lastFrame = frame;

      if (key.contains("subjects")) {
        const json& subjects = key["subjects"];
        const std::string sPath = at(kPath, "subjects");
        if (!subjects.is_object()) {
          return fail(sPath,
                      "expected an object keyed by subject name, found " + describe(subjects));
        }
        for (auto it = subjects.begin(); it != subjects.end(); ++it) {
          const auto found = subjectIndex.find(it.key());
          if (found == subjectIndex.end()) {
            return fail(at(sPath, it.key()),
                        "no subject " + quoteText(it.key()) + " in the description");
          }
          if (!subjectValues(it.value(), at(sPath, it.key()), description.subjects[found->second],
                             segmentIndex[found->second], markerIndex[found->second], frame,
                             out.segments[found->second], out.markers[found->second])) {
            return false;
          }
        }
      }
      if (key.contains("unlabeled")) {
        const json& list = key["unlabeled"];
        const std::string uPath = at(kPath, "unlabeled");
        if (!list.is_array()) {
          return fail(uPath, "expected an array of [x, y, z] positions, found " + describe(list));
        }
        std::vector<Vec3> positions(list.size());
        for (std::size_t k = 0; k < list.size(); ++k) {
          if (!toVec3(list[k], at(uPath, k), positions[k])) return false;
        }
        out.unlabeled.add(frame, positions);
      }
    }
    return true;
  }

  bool subjectValues(const json& j, const std::string& path, const protocol::SubjectInfo& subject,
                     const std::unordered_map<std::string, std::size_t>& segmentIndex,
                     const std::unordered_map<std::string, std::size_t>& markerIndex,
                     std::uint64_t frame, std::vector<SegmentTracks>& segments,
                     std::vector<MarkerTracks>& markers) {
    static const char* const kKeys[] = {"segments", "markers"};
    if (!checkKeys(j, path, kKeys)) return false;
    if (j.contains("segments")) {
      const json& values = j["segments"];
      const std::string sPath = at(path, "segments");
      if (!values.is_object()) {
        return fail(sPath, "expected an object keyed by segment name, found " + describe(values));
      }
      for (auto it = values.begin(); it != values.end(); ++it) {
        const std::string vPath = at(sPath, it.key());
        const auto found = segmentIndex.find(it.key());
        if (found == segmentIndex.end()) {
          return fail(vPath, "subject " + quoteText(subject.name) + " has no segment " +
                                 quoteText(it.key()));
        }
        static const char* const kValueKeys[] = {"translation", "rotation", "occluded"};
        const json& v = it.value();
        if (!checkKeys(v, vPath, kValueKeys)) return false;
        SegmentTracks& tracks = segments[found->second];
        if (v.contains("translation")) {
          Vec3 t;
          if (!toVec3(v["translation"], at(vPath, "translation"), t)) return false;
          tracks.translation.add(frame, t);
        }
        if (v.contains("rotation")) {
          Quat q;
          if (!toRotation(v["rotation"], at(vPath, "rotation"), q)) return false;
          tracks.rotation.add(frame, q);
        }
        if (v.contains("occluded")) {
          bool occluded = false;
          if (!toBool(v["occluded"], at(vPath, "occluded"), occluded)) return false;
          tracks.occluded.add(frame, occluded);
        }
      }
    }
    if (j.contains("markers")) {
      const json& values = j["markers"];
      const std::string mPath = at(path, "markers");
      if (!values.is_object()) {
        return fail(mPath, "expected an object keyed by marker name, found " + describe(values));
      }
      for (auto it = values.begin(); it != values.end(); ++it) {
        const std::string vPath = at(mPath, it.key());
        const auto found = markerIndex.find(it.key());
        if (found == markerIndex.end()) {
          return fail(vPath, "subject " + quoteText(subject.name) + " has no marker " +
                                 quoteText(it.key()));
        }
        MarkerTracks& tracks = markers[found->second];
        const json& v = it.value();
        Vec3 p;
        if (v.is_array()) {  // the short form: just the position
          if (!toVec3(v, vPath, p)) return false;
          tracks.position.add(frame, p);
          continue;
        }
        static const char* const kValueKeys[] = {"position", "occluded"};
        if (!checkKeys(v, vPath, kValueKeys)) return false;
        if (v.contains("position")) {
          if (!toVec3(v["position"], at(vPath, "position"), p)) return false;
          tracks.position.add(frame, p);
        }
        if (v.contains("occluded")) {
          bool occluded = false;
          if (!toBool(v["occluded"], at(vPath, "occluded"), occluded)) return false;
          tracks.occluded.add(frame, occluded);
        }
      }
    }
    return true;
  }

  const std::string& name_;
  std::string& error_;
};

// nlohmann reports "parse error at line L, column C: <what>"; keep <what>
// and put the position in the usual file:line:column form.
std::string parseErrorMessage(const std::string& name, std::string_view text,
                              const json::parse_error& e) {
  const std::size_t offset = std::min<std::size_t>(e.byte > 0 ? e.byte - 1 : 0, text.size());
  std::size_t line = 1;
  std::size_t lineStart = 0;
  for (std::size_t i = 0; i < offset; ++i) {
    if (text[i] == '\n') {
      ++line;
      lineStart = i + 1;
    }
  }
  std::string what = e.what();
  const std::size_t column = what.find("column ");
  const std::size_t colon =
      column == std::string::npos ? std::string::npos : what.find(": ", column);
  if (colon != std::string::npos) what = what.substr(colon + 2);
  return name + ":" + std::to_string(line) + ":" + std::to_string(offset - lineStart + 1) + ": " +
         what;
}

}  // namespace

std::unique_ptr<Scene> parseSceneText(std::string_view text, const std::string& name,
                                      std::string& error) {
  json root;
  DuplicateKeys duplicates;
  try {
    root = json::parse(
        text.begin(), text.end(),
        [&duplicates](int depth, json::parse_event_t event, json& parsed) {
          return duplicates(depth, event, parsed);
        },
        /*allow_exceptions=*/true, /*ignore_comments=*/true);
  } catch (const json::parse_error& e) {
    error = parseErrorMessage(name, text, e);
    return nullptr;
  } catch (const json::exception& e) {
    // Other parse failures (a number too large for a double) carry no
    // position; the quoted token still points the user at it.
    std::string what = e.what();
    const std::size_t tag = what.find("] ");
    if (tag != std::string::npos) what = what.substr(tag + 2);
    error = name + ": " + what;
    return nullptr;
  }
  if (duplicates.found()) {
    error = name + ": " + duplicates.path() + ": this key appears twice in one object";
    return nullptr;
  }
  SceneData data;
  if (!Loader(name, error).load(root, data)) return nullptr;
  return std::make_unique<FileScene>(std::move(data));
}

}  // namespace orbel::server::playback

namespace orbel::server {

std::unique_ptr<Scene> loadSceneFile(const std::string& path, std::string& error) noexcept {
  try {
    std::string text;
    if (!playback::readFileText(path, playback::SceneFileLimits().maxFileBytes, text, error)) {
      return nullptr;
    }
    return playback::parseSceneText(text, path, error);
  } catch (const std::exception& e) {
    error = path + ": cannot load the scene: " + e.what();
    return nullptr;
  }
}

}  // namespace orbel::server
