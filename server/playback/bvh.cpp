#include "bvh.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <unordered_set>

#include "file_text.h"

namespace orbel::server::playback {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Bad input is quoted in messages; a hostile token could be megabytes long,
// and a file that is no BVH at all holds bytes no terminal should be sent:
// everything but printable ASCII is shown as \xHH.
std::string quote(std::string_view token) {
  constexpr std::size_t kMax = 40;
  std::string out = "'";
  for (const char c : token.substr(0, kMax)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      out += c;
    } else {
      static constexpr char kHex[] = "0123456789ABCDEF";
      out += {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xF]};
    }
  }
  return out + (token.size() > kMax ? "...'" : "'");
}

bool parseNumber(std::string_view token, double& out) {
  // Writers differ: a leading '+' and a missing leading zero (".0083333")
  // both occur in the wild.
  if (!token.empty() && token.front() == '+') {
    token.remove_prefix(1);
    if (!token.empty() && (token.front() == '+' || token.front() == '-')) return false;
  }
  if (token.empty()) return false;
  const char* end = token.data() + token.size();
  const auto [ptr, ec] = std::from_chars(token.data(), end, out, std::chars_format::general);
  return ec == std::errc() && ptr == end && std::isfinite(out);
}

bool parseCount(std::string_view token, std::size_t& out) {
  const char* end = token.data() + token.size();
  unsigned long long value = 0;
  const auto [ptr, ec] = std::from_chars(token.data(), end, value);
  if (ec != std::errc() || ptr != end || token.empty()) return false;
  if (value > static_cast<unsigned long long>(SIZE_MAX)) return false;
  out = static_cast<std::size_t>(value);
  return true;
}

bool parseChannel(std::string_view token, BvhChannel& out) {
  static constexpr BvhChannel kAll[] = {BvhChannel::XPosition, BvhChannel::YPosition,
                                        BvhChannel::ZPosition, BvhChannel::XRotation,
                                        BvhChannel::YRotation, BvhChannel::ZRotation};
  for (BvhChannel c : kAll) {
    if (equalsIgnoreCase(token, bvhChannelName(c))) {
      out = c;
      return true;
    }
  }
  return false;
}

// Walks the text line by line and token by token without copying it. Lines
// end in LF, CRLF or a lone CR: real recordings mix them within one file.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) {
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") text_.remove_prefix(3);
  }

  std::size_t lineNumber() const { return lineNumber_; }
  std::string_view line() const { return line_; }

  bool nextLine() {
    if (pos_ >= text_.size()) return false;
    std::size_t end = pos_;
    while (end < text_.size() && text_[end] != '\n' && text_[end] != '\r') ++end;
    line_ = text_.substr(pos_, end - pos_);
    linePos_ = 0;
    ++lineNumber_;
    pos_ = end;
    if (pos_ < text_.size()) {
      if (text_[pos_] == '\r' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '\n') ++pos_;
      ++pos_;
    }
    return true;
  }

  // Next token within the current line only.
  bool tokenInLine(std::string_view& token) {
    while (linePos_ < line_.size() && isBlank(line_[linePos_])) ++linePos_;
    if (linePos_ >= line_.size()) return false;
    const std::size_t start = linePos_;
    while (linePos_ < line_.size() && !isBlank(line_[linePos_])) ++linePos_;
    token = line_.substr(start, linePos_ - start);
    lastToken_ = token;
    return true;
  }

  // Next token, moving on to later lines as needed.
  bool token(std::string_view& token) {
    if (pushedBack_) {
      pushedBack_ = false;
      token = pending_;
      return true;
    }
    for (;;) {
      if (started_ && tokenInLine(token)) return true;
      started_ = true;
      if (!nextLine()) return false;
    }
  }

  // The token most recently taken from the current line.
  void lastToken(std::string_view& token) const { token = lastToken_; }

  void pushBack(std::string_view token) {
    pending_ = token;
    pushedBack_ = true;
  }

  std::size_t remainingBytes() const { return text_.size() - pos_; }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  std::string_view line_;
  std::size_t linePos_ = 0;
  std::size_t lineNumber_ = 0;
  bool started_ = false;
  bool pushedBack_ = false;
  std::string_view pending_;
  std::string_view lastToken_;
};

class Parser {
 public:
  Parser(std::string_view text, const std::string& name, const BvhLimits& limits, BvhClip& clip,
         std::string& error)
      : cursor_(text), name_(name), limits_(limits), clip_(clip), error_(error) {}

  bool run() {
    clip_ = BvhClip();
    return hierarchy() && motionHeader() && motion();
  }

 private:
  bool fail(const std::string& what) {
    error_ =
        name_ + ":" + std::to_string(std::max<std::size_t>(cursor_.lineNumber(), 1)) + ": " + what;
    return false;
  }

  bool expectToken(std::string_view& token, const char* expected) {
    if (!cursor_.token(token)) {
      return fail(std::string("unexpected end of file, expected ") + expected);
    }
    return true;
  }

  bool expectKeyword(const char* keyword) {
    std::string_view token;
    if (!expectToken(token, (std::string("'") + keyword + "'").c_str())) return false;
    if (!equalsIgnoreCase(token, keyword)) {
      return fail(std::string("expected '") + keyword + "', found " + quote(token));
    }
    return true;
  }

  bool number(double& out, const char* what) {
    std::string_view token;
    if (!expectToken(token, what)) return false;
    if (!parseNumber(token, out)) return fail(quote(token) + " is not a number (" + what + ")");
    return true;
  }

  bool offset(Vec3& out) {
    if (!expectKeyword("OFFSET")) return false;
    return number(out[0], "OFFSET x") && number(out[1], "OFFSET y") && number(out[2], "OFFSET z");
  }

  bool hierarchy() {
    if (!expectKeyword("HIERARCHY")) return false;
    for (;;) {
      std::string_view token;
      if (!expectToken(token, "'ROOT' or 'MOTION'")) return false;
      if (equalsIgnoreCase(token, "MOTION")) break;
      if (!equalsIgnoreCase(token, "ROOT")) {
        return fail("expected 'ROOT' or 'MOTION', found " + quote(token));
      }
      if (!rootJoint()) return false;
    }
    if (clip_.joints.empty()) return fail("no ROOT joint before MOTION");
    return true;
  }

  // Joints nest arbitrarily deep; an explicit stack keeps a hostile nesting
  // from overflowing the call stack.
  bool rootJoint() {
    std::vector<int> open;
    if (!openJoint(-1, open)) return false;
    while (!open.empty()) {
      std::string_view token;
      if (!expectToken(token, "'JOINT', 'End Site' or '}'")) return false;
      if (equalsIgnoreCase(token, "JOINT")) {
        if (!openJoint(open.back(), open)) return false;
      } else if (equalsIgnoreCase(token, "End")) {
        if (!endSite()) return false;
      } else if (token == "}") {
        open.pop_back();
      } else {
        return fail("expected 'JOINT', 'End Site' or '}', found " + quote(token));
      }
    }
    return true;
  }

  bool openJoint(int parent, std::vector<int>& open) {
    std::string_view name;
    if (!expectToken(name, "a joint name")) return false;
    if (name == "{" || name == "}") return fail("joint without a name");
    if (clip_.joints.size() >= limits_.maxJoints) {
      return fail("more than " + std::to_string(limits_.maxJoints) + " joints");
    }
    if (open.size() >= limits_.maxDepth) {
      return fail("joints nested deeper than " + std::to_string(limits_.maxDepth) + " levels");
    }
    if (!names_.insert(std::string(name)).second) {
      // Joints are served and looked up by name; two of one name would be
      // indistinguishable to every client.
      return fail("joint name " + quote(name) + " is used twice");
    }
    BvhJoint joint;
    joint.name = std::string(name);
    joint.parent = parent;
    joint.depth = static_cast<int>(open.size());
    if (!expectKeyword("{") || !offset(joint.offset)) return false;

    std::string_view token;
    if (!expectToken(token, "'CHANNELS'")) return false;
    if (equalsIgnoreCase(token, "CHANNELS")) {
      if (!channels(joint)) return false;
    } else {
      cursor_.pushBack(token);  // a joint without channels is fixed at its offset
    }
    joint.firstValue = clip_.channelsPerFrame;
    clip_.channelsPerFrame += joint.channels.size();
    clip_.joints.push_back(std::move(joint));
    open.push_back(static_cast<int>(clip_.joints.size() - 1));
    return true;
  }

  bool channels(BvhJoint& joint) {
    std::string_view token;
    if (!expectToken(token, "a channel count")) return false;
    std::size_t count = 0;
    if (!parseCount(token, count) || count > 6) {
      return fail("channel count " + quote(token) + " is not a number from 0 to 6");
    }
    bool seen[6] = {};
    for (std::size_t i = 0; i < count; ++i) {
      if (!expectToken(token, "a channel name")) return false;
      BvhChannel channel;
      if (!parseChannel(token, channel)) {
        return fail("expected " + std::to_string(count) + " channel names, found " + quote(token));
      }
      if (seen[static_cast<int>(channel)]) {
        return fail("channel " + quote(token) + " is listed twice for joint " + quote(joint.name));
      }
      seen[static_cast<int>(channel)] = true;
      joint.channels.push_back(channel);
    }
    return true;
  }

  bool endSite() {
    if (!expectKeyword("Site") || !expectKeyword("{")) return false;
    Vec3 ignored;
    if (!offset(ignored) || !expectKeyword("}")) return false;
    ++clip_.endSites;
    return true;
  }

  bool motionHeader() {
    std::string_view token;
    if (!expectKeyword("Frames:") || !expectToken(token, "a frame count")) return false;
    if (!parseCount(token, clip_.frameCount)) {
      return fail("frame count " + quote(token) + " is not a whole number");
    }
    if (clip_.frameCount == 0) return fail("the file has no frames ('Frames: 0')");
    if (clip_.channelsPerFrame == 0) return fail("no joint has any channel");
    if (clip_.frameCount > limits_.maxValues / clip_.channelsPerFrame) {
      return fail("'Frames: " + std::string(token) + "' with " +
                  std::to_string(clip_.channelsPerFrame) + " channels is more than the limit of " +
                  std::to_string(limits_.maxValues) + " values");
    }
    if (clip_.frameCount > limits_.maxJointFrames / clip_.joints.size()) {
      return fail("'Frames: " + std::string(token) + "' with " +
                  std::to_string(clip_.joints.size()) + " joints is more than the limit of " +
                  std::to_string(limits_.maxJointFrames) + " joint poses");
    }
    if (!expectKeyword("Frame") || !expectKeyword("Time:")) return false;
    if (!number(clip_.frameTimeSeconds, "Frame Time")) return false;
    if (!(clip_.frameTimeSeconds >= 1e-4 && clip_.frameTimeSeconds <= 60)) {
      std::string_view written;
      cursor_.lastToken(written);
      return fail("Frame Time " + quote(written) + " is not between 0.0001 and 60 seconds");
    }
    if (cursor_.tokenInLine(token)) return fail("unexpected " + quote(token) + " after Frame Time");
    return true;
  }

  bool motion() {
    const std::size_t channels = clip_.channelsPerFrame;
    // Every value takes at least two bytes, so a short file cannot make a
    // large declared frame count reserve memory it will never fill.
    clip_.values.reserve(std::min(clip_.frameCount * channels, cursor_.remainingBytes() / 2 + 1));
    std::size_t frames = 0;
    while (cursor_.nextLine()) {
      std::string_view token;
      if (!cursor_.tokenInLine(token)) continue;  // blank lines carry no frame
      if (frames == clip_.frameCount) {
        return fail("more frame lines than the " + std::to_string(clip_.frameCount) +
                    " that 'Frames:' declares");
      }
      std::size_t found = 0;
      do {
        if (found < channels) {
          double value = 0;
          if (!parseNumber(token, value)) {
            return fail(quote(token) + " is not a number (value " + std::to_string(found + 1) +
                        " of frame " + std::to_string(frames + 1) + ")");
          }
          clip_.values.push_back(value);
        }
        ++found;
      } while (cursor_.tokenInLine(token));
      if (found != channels) {
        return fail("expected " + std::to_string(channels) + " values, found " +
                    std::to_string(found));
      }
      ++frames;
    }
    if (frames != clip_.frameCount) {
      return fail("'Frames:' declares " + std::to_string(clip_.frameCount) + " frames, found " +
                  std::to_string(frames));
    }
    return true;
  }

  Cursor cursor_;
  const std::string& name_;
  const BvhLimits& limits_;
  BvhClip& clip_;
  std::string& error_;
  std::unordered_set<std::string> names_;
};

}  // namespace

const char* bvhChannelName(BvhChannel channel) {
  switch (channel) {
    case BvhChannel::XPosition:
      return "Xposition";
    case BvhChannel::YPosition:
      return "Yposition";
    case BvhChannel::ZPosition:
      return "Zposition";
    case BvhChannel::XRotation:
      return "Xrotation";
    case BvhChannel::YRotation:
      return "Yrotation";
    case BvhChannel::ZRotation:
      return "Zrotation";
  }
  return "?";
}

double BvhClip::framesPerSecond() const {
  const double rate = 1.0 / frameTimeSeconds;
  const double whole = std::round(rate);
  return std::abs(rate - whole) <= 1e-4 * rate ? whole : rate;
}

bool parseBvh(std::string_view text, const std::string& name, const BvhLimits& limits,
              BvhClip& clip, std::string& error) {
  if (text.size() > limits.maxFileBytes) {
    error = name + ": larger than the limit of " + std::to_string(limits.maxFileBytes) + " bytes";
    return false;
  }
  return Parser(text, name, limits, clip, error).run();
}

bool readBvhFile(const std::string& path, const BvhLimits& limits, BvhClip& clip,
                 std::string& error) {
  std::string text;
  if (!readFileText(path, limits.maxFileBytes, text, error)) return false;
  return parseBvh(text, path, limits, clip, error);
}

}  // namespace orbel::server::playback
