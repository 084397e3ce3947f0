// The BVH reader on the real recordings (with their quirks) and on small
// hand-written files: what it accepts, what it refuses and with which words.
#include "bvh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

namespace orbel::server::playback {
namespace {

std::string mocapPath(const std::string& file) { return std::string(ORBEL_MOCAP_DIR) + "/" + file; }

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// The text's own numbers on motion line `frame` (0-based), read without the
// parser: the reference for what it must have stored.
std::vector<double> motionLine(const std::string& text, std::size_t frame) {
  std::size_t pos = text.find("Frame Time:");
  pos = text.find('\n', pos) + 1;
  for (std::size_t i = 0; i < frame; ++i) pos = text.find('\n', pos) + 1;
  std::istringstream line(text.substr(pos, text.find('\n', pos) - pos));
  std::vector<double> values;
  for (std::string token; line >> token;) values.push_back(std::strtod(token.c_str(), nullptr));
  return values;
}

std::string channelOrder(const BvhJoint& joint) {
  std::string out;
  for (BvhChannel c : joint.channels)
    out += std::string(out.empty() ? "" : " ") + bvhChannelName(c);
  return out;
}

struct Recording {
  const char* file;
  std::size_t bytes;
  std::size_t frames;
  std::set<std::string> zxyJoints;  // joints rotating Z, X, Y; the rest Z, Y, X
  std::set<std::string> zeroOffsetJoints;
  std::size_t crlfLines;
};

std::ostream& operator<<(std::ostream& os, const Recording& r) { return os << r.file; }

const std::set<std::string> kArmJoints = {
    "LeftShoulder",  "LeftElbow",  "LeftWrist",  "lhand", "LFingers", "LThumb",
    "RightShoulder", "RightElbow", "RightWrist", "rhand", "RFingers", "RThumb"};
const std::set<std::string> kWalkZeroOffsets = {
    "LHipJoint",   "RHipJoint", "lowerback", "lowerneck", "LeftCollar",
    "RightCollar", "lhand",     "rhand",     "LThumb",    "RThumb"};
const std::set<std::string> kRunZeroOffsets = {
    "LHipJoint",     "RHipJoint",      "LowerBack",       "Neck",   "LeftShoulder",
    "RightShoulder", "LeftFingerBase", "RightFingerBase", "LThumb", "RThumb"};

class RecordingTest : public ::testing::TestWithParam<Recording> {};

TEST_P(RecordingTest, HierarchyChannelsAndFramesMatchTheRecording) {
  const Recording& r = GetParam();
  const std::string text = readAll(mocapPath(r.file));
  ASSERT_EQ(text.size(), r.bytes) << "the copy in data/mocap differs from the recorded source";
  EXPECT_EQ(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\r')), r.crlfLines);

  BvhClip clip;
  std::string error;
  ASSERT_TRUE(parseBvh(text, r.file, BvhLimits(), clip, error)) << error;
  ASSERT_EQ(clip.joints.size(), 31u);
  EXPECT_EQ(clip.endSites, 7u);
  EXPECT_EQ(clip.channelsPerFrame, 96u);
  EXPECT_EQ(clip.frameCount, r.frames);
  EXPECT_EQ(clip.frameTimeSeconds, 0.0083333);
  EXPECT_EQ(clip.framesPerSecond(), 120.0);
  ASSERT_EQ(clip.values.size(), r.frames * 96);

  EXPECT_EQ(clip.joints[0].name, "Hips");
  EXPECT_EQ(clip.joints[0].parent, -1);
  EXPECT_EQ(channelOrder(clip.joints[0]),
            "Xposition Yposition Zposition Zrotation Yrotation Xrotation");
  std::set<std::string> zeroOffsets;
  for (std::size_t j = 1; j < clip.joints.size(); ++j) {
    const BvhJoint& joint = clip.joints[j];
    SCOPED_TRACE(joint.name);
    EXPECT_GE(joint.parent, 0);
    EXPECT_LT(joint.parent, static_cast<int>(j)) << "parents come before children";
    EXPECT_EQ(channelOrder(joint), r.zxyJoints.count(joint.name) ? "Zrotation Xrotation Yrotation"
                                                                 : "Zrotation Yrotation Xrotation");
    EXPECT_EQ(joint.firstValue, 6 + 3 * (j - 1));
    if (joint.offset == Vec3{0, 0, 0}) zeroOffsets.insert(joint.name);
  }
  EXPECT_EQ(zeroOffsets, r.zeroOffsetJoints);

  for (std::size_t frame : {std::size_t{0}, r.frames / 2, r.frames - 1}) {
    const std::vector<double> expected = motionLine(text, frame);
    ASSERT_EQ(expected.size(), 96u);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), clip.frame(frame)))
        << "frame " << frame;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Mocap, RecordingTest,
    ::testing::Values(Recording{"walk.bvh", 716137, 994, kArmJoints, kWalkZeroOffsets, 160},
                      Recording{"hop.bvh", 794242, 1102, kArmJoints, kWalkZeroOffsets, 160},
                      Recording{"run_short.bvh", 60724, 75, {}, kRunZeroOffsets, 0}),
    [](const ::testing::TestParamInfo<Recording>& info) {
      std::string name = info.param.file;
      return name.substr(0, name.find('.'));
    });

TEST(BvhRecordingTest, WalkParentsAndOffsetsAreTheFilesOwn) {
  BvhClip clip;
  std::string error;
  ASSERT_TRUE(readBvhFile(mocapPath("walk.bvh"), BvhLimits(), clip, error)) << error;
  const auto find = [&](const std::string& name) {
    return std::find_if(clip.joints.begin(), clip.joints.end(),
                        [&](const BvhJoint& j) { return j.name == name; });
  };
  const auto hip = find("LeftHip");
  ASSERT_NE(hip, clip.joints.end());
  EXPECT_EQ(clip.joints[static_cast<std::size_t>(hip->parent)].name, "LHipJoint");
  EXPECT_EQ(hip->offset, (Vec3{1.24777, -1.64261, 0.71711}));
  const auto shoulder = find("LeftShoulder");  // one of the lines the converter added, LF-ended
  ASSERT_NE(shoulder, clip.joints.end());
  EXPECT_EQ(clip.joints[static_cast<std::size_t>(shoulder->parent)].name, "LeftCollar");
  EXPECT_EQ(shoulder->offset, (Vec3{3.05381, 1.47088, -0.01697}));
}

// A small file with two joints and two frames; each quirk row rewrites it.
const char* const kSmall =
    "HIERARCHY\n"
    "ROOT Hips\n"
    "{\n"
    "  OFFSET 0 0 0\n"
    "  CHANNELS 6 Xposition Yposition Zposition Zrotation Xrotation Yrotation\n"
    "  JOINT Spine\n"
    "  {\n"
    "    OFFSET 0 5 0\n"
    "    CHANNELS 3 Xrotation Yrotation Zrotation\n"
    "    End Site\n"
    "    {\n"
    "      OFFSET 0 2 0\n"
    "    }\n"
    "  }\n"
    "}\n"
    "MOTION\n"
    "Frames: 2\n"
    "Frame Time: 0.04\n"
    "1 2 3 10 20 30 40 50 60\n"
    "4 5 6 370 -0 .5 -190 0 1e2\n";

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t pos = 0; (pos = text.find(from, pos)) != std::string::npos; pos += to.size()) {
    text.replace(pos, from.size(), to);
  }
  return text;
}

TEST(BvhParserTest, SmallFileKeepsEveryValueAndOrder) {
  BvhClip clip;
  std::string error;
  ASSERT_TRUE(parseBvh(kSmall, "small.bvh", BvhLimits(), clip, error)) << error;
  ASSERT_EQ(clip.joints.size(), 2u);
  EXPECT_EQ(clip.joints[1].parent, 0);
  EXPECT_EQ(clip.joints[1].depth, 1);
  EXPECT_EQ(channelOrder(clip.joints[0]),
            "Xposition Yposition Zposition Zrotation Xrotation Yrotation");
  EXPECT_EQ(channelOrder(clip.joints[1]), "Xrotation Yrotation Zrotation");
  EXPECT_EQ(clip.endSites, 1u);
  EXPECT_EQ(clip.framesPerSecond(), 25.0);
  const std::vector<double> expected = {1, 2, 3, 10,  20,   30,  40,   50, 60,
                                        4, 5, 6, 370, -0.0, 0.5, -190, 0,  100};
  EXPECT_EQ(clip.values, expected);
  EXPECT_TRUE(std::signbit(clip.values[13])) << "negative zero keeps its sign";
}

struct QuirkRow {
  const char* name;
  std::string text;
};

std::ostream& operator<<(std::ostream& os, const QuirkRow& row) { return os << row.name; }

class BvhQuirks : public ::testing::TestWithParam<QuirkRow> {};

TEST_P(BvhQuirks, ParseToTheSameClip) {
  BvhClip reference;
  BvhClip clip;
  std::string error;
  ASSERT_TRUE(parseBvh(kSmall, "small.bvh", BvhLimits(), reference, error)) << error;
  ASSERT_TRUE(parseBvh(GetParam().text, "quirk.bvh", BvhLimits(), clip, error)) << error;
  ASSERT_EQ(clip.joints.size(), reference.joints.size());
  for (std::size_t j = 0; j < clip.joints.size(); ++j) {
    EXPECT_EQ(clip.joints[j].name, reference.joints[j].name);
    EXPECT_EQ(clip.joints[j].offset, reference.joints[j].offset);
    EXPECT_EQ(clip.joints[j].channels, reference.joints[j].channels);
  }
  EXPECT_EQ(clip.values, reference.values);
  EXPECT_EQ(clip.frameTimeSeconds, reference.frameTimeSeconds);
}

INSTANTIATE_TEST_SUITE_P(
    Text, BvhQuirks,
    ::testing::Values(
        QuirkRow{"crlf", replaceAll(kSmall, "\n", "\r\n")},
        QuirkRow{"lone_cr", replaceAll(kSmall, "\n", "\r")},
        QuirkRow{"mixed_endings",
                 replaceAll(replaceAll(kSmall, "{\n", "{\r\n"), "0 0\n", "0 0\r\n")},
        QuirkRow{"tabs", replaceAll(replaceAll(kSmall, "  ", "\t"), " ", "\t")},
        QuirkRow{"trailing_spaces", replaceAll(kSmall, "\n", " \t \n")},
        QuirkRow{"no_final_newline", std::string(kSmall, std::string(kSmall).size() - 1)},
        QuirkRow{"blank_lines", replaceAll(kSmall, "\n", "\n\n")},
        QuirkRow{"byte_order_mark", "\xEF\xBB\xBF" + std::string(kSmall)},
        QuirkRow{"leading_plus_and_dot",
                 replaceAll(kSmall, "Frame Time: 0.04", "Frame Time: +.04")},
        QuirkRow{"lower_case_keywords",
                 replaceAll(replaceAll(kSmall, "End Site", "End site"), "CHANNELS", "channels")},
        QuirkRow{"braces_on_one_line", replaceAll(kSmall, "    }\n  }\n}\n", "} } }\n")}),
    [](const ::testing::TestParamInfo<QuirkRow>& info) { return std::string(info.param.name); });

TEST(BvhParserTest, JointsMayHaveAnySubsetOfChannelsInAnyOrder) {
  const std::string text =
      "HIERARCHY\nROOT A\n{\nOFFSET 1 2 3\nCHANNELS 2 Yrotation Xposition\n"
      "JOINT B\n{\nOFFSET 0 1 0\nJOINT C\n{\nOFFSET 0 0 1\nCHANNELS 4 Zposition Xrotation "
      "Yposition Zrotation\n}\n}\n}\nMOTION\nFrames: 1\nFrame Time: 0.01\n7 8 9 10 11 12\n";
  BvhClip clip;
  std::string error;
  ASSERT_TRUE(parseBvh(text, "subset.bvh", BvhLimits(), clip, error)) << error;
  ASSERT_EQ(clip.joints.size(), 3u);
  EXPECT_EQ(channelOrder(clip.joints[0]), "Yrotation Xposition");
  EXPECT_TRUE(clip.joints[1].channels.empty());
  EXPECT_EQ(channelOrder(clip.joints[2]), "Zposition Xrotation Yposition Zrotation");
  EXPECT_EQ(clip.joints[2].firstValue, 2u);
  EXPECT_EQ(clip.channelsPerFrame, 6u);
}

TEST(BvhParserTest, SeveralRootsAreSeveralRootJoints) {
  const std::string text =
      "HIERARCHY\nROOT A\n{\nOFFSET 0 0 0\nCHANNELS 1 Xposition\n}\n"
      "ROOT B\n{\nOFFSET 1 0 0\nCHANNELS 1 Yrotation\n}\nMOTION\nFrames: 1\nFrame Time: 0.01\n1 "
      "2\n";
  BvhClip clip;
  std::string error;
  ASSERT_TRUE(parseBvh(text, "roots.bvh", BvhLimits(), clip, error)) << error;
  ASSERT_EQ(clip.joints.size(), 2u);
  EXPECT_EQ(clip.joints[0].parent, -1);
  EXPECT_EQ(clip.joints[1].parent, -1);
  EXPECT_EQ(clip.joints[1].firstValue, 1u);
}

struct BadRow {
  const char* name;
  std::string text;
  const char* message;
};

std::ostream& operator<<(std::ostream& os, const BadRow& row) { return os << row.name; }

class BvhRefused : public ::testing::TestWithParam<BadRow> {};

TEST_P(BvhRefused, WithFileLineAndReason) {
  BvhClip clip;
  std::string error;
  EXPECT_FALSE(parseBvh(GetParam().text, "bad.bvh", BvhLimits(), clip, error));
  EXPECT_EQ(error, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Text, BvhRefused,
    ::testing::Values(
        BadRow{"empty", "", "bad.bvh:1: unexpected end of file, expected 'HIERARCHY'"},
        BadRow{"not_bvh", "{\"json\": 1}", "bad.bvh:1: expected 'HIERARCHY', found '{\"json\":'"},
        BadRow{"binary", std::string("\x01\x02\0\xFF", 4),
               "bad.bvh:1: expected 'HIERARCHY', found '\\x01\\x02\\x00\\xFF'"},
        BadRow{"no_root", "HIERARCHY\nMOTION\nFrames: 1\n",
               "bad.bvh:2: no ROOT joint before MOTION"},
        BadRow{"too_few_values", replaceAll(kSmall, "4 5 6 ", "4 5 "),
               "bad.bvh:20: expected 9 values, found 8"},
        BadRow{"too_many_values", replaceAll(kSmall, "4 5 6 ", "4 5 6 7 "),
               "bad.bvh:20: expected 9 values, found 10"},
        BadRow{"not_a_number", replaceAll(kSmall, "4 5 6 ", "4 five 6 "),
               "bad.bvh:20: 'five' is not a number (value 2 of frame 2)"},
        BadRow{"nan", replaceAll(kSmall, "4 5 6 ", "4 nan 6 "),
               "bad.bvh:20: 'nan' is not a number (value 2 of frame 2)"},
        BadRow{"infinity", replaceAll(kSmall, "4 5 6 ", "4 5 inf "),
               "bad.bvh:20: 'inf' is not a number (value 3 of frame 2)"},
        BadRow{"overflow", replaceAll(kSmall, "4 5 6 ", "4 5 1e999 "),
               "bad.bvh:20: '1e999' is not a number (value 3 of frame 2)"},
        BadRow{"double_sign", replaceAll(kSmall, "4 5 6 ", "4 +-5 6 "),
               "bad.bvh:20: '+-5' is not a number (value 2 of frame 2)"},
        BadRow{"missing_frame", replaceAll(kSmall, "Frames: 2", "Frames: 3"),
               "bad.bvh:20: 'Frames:' declares 3 frames, found 2"},
        BadRow{"extra_frame", replaceAll(kSmall, "Frames: 2", "Frames: 1"),
               "bad.bvh:20: more frame lines than the 1 that 'Frames:' declares"},
        BadRow{"zero_frames", replaceAll(kSmall, "Frames: 2", "Frames: 0"),
               "bad.bvh:17: the file has no frames ('Frames: 0')"},
        BadRow{"negative_frames", replaceAll(kSmall, "Frames: 2", "Frames: -2"),
               "bad.bvh:17: frame count '-2' is not a whole number"},
        BadRow{"zero_frame_time", replaceAll(kSmall, "Frame Time: 0.04", "Frame Time: 0"),
               "bad.bvh:18: Frame Time '0' is not between 0.0001 and 60 seconds"},
        BadRow{"junk_after_frame_time",
               replaceAll(kSmall, "Frame Time: 0.04", "Frame Time: 0.04 x"),
               "bad.bvh:18: unexpected 'x' after Frame Time"},
        BadRow{"seven_channels", replaceAll(kSmall, "CHANNELS 3", "CHANNELS 7"),
               "bad.bvh:9: channel count '7' is not a number from 0 to 6"},
        BadRow{"unknown_channel", replaceAll(kSmall, "Zrotation\n    End", "Wrotation\n    End"),
               "bad.bvh:9: expected 3 channel names, found 'Wrotation'"},
        BadRow{"channel_twice",
               replaceAll(kSmall, "Yrotation Zrotation\n", "Yrotation Yrotation\n"),
               "bad.bvh:9: channel 'Yrotation' is listed twice for joint 'Spine'"},
        BadRow{"fewer_channel_names", replaceAll(kSmall, "CHANNELS 3", "CHANNELS 4"),
               "bad.bvh:10: expected 4 channel names, found 'End'"},
        BadRow{"joint_name_twice", replaceAll(kSmall, "JOINT Spine", "JOINT Hips"),
               "bad.bvh:6: joint name 'Hips' is used twice"},
        BadRow{"joint_without_name", replaceAll(kSmall, "JOINT Spine", "JOINT"),
               "bad.bvh:7: joint without a name"},
        BadRow{"offset_not_a_number", replaceAll(kSmall, "OFFSET 0 5 0", "OFFSET 0 five 0"),
               "bad.bvh:8: 'five' is not a number (OFFSET y)"},
        BadRow{"offset_missing", replaceAll(kSmall, "    OFFSET 0 5 0\n", ""),
               "bad.bvh:8: expected 'OFFSET', found 'CHANNELS'"},
        BadRow{"end_site_without_offset", replaceAll(kSmall, "      OFFSET 0 2 0\n", ""),
               "bad.bvh:12: expected 'OFFSET', found '}'"},
        BadRow{"unclosed_joint", replaceAll(kSmall, "  }\n}\nMOTION", "MOTION"),
               "bad.bvh:14: expected 'JOINT', 'End Site' or '}', found 'MOTION'"},
        BadRow{"no_motion", std::string(kSmall).substr(0, std::string(kSmall).find("MOTION")),
               "bad.bvh:15: unexpected end of file, expected 'ROOT' or 'MOTION'"},
        BadRow{"long_token_is_shortened",
               replaceAll(kSmall, "4 5 6 ", "4 " + std::string(100, 'x') + " 6 "),
               "bad.bvh:20: 'xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx...' is not a number (value 2 "
               "of frame 2)"}),
    [](const ::testing::TestParamInfo<BadRow>& info) { return std::string(info.param.name); });

TEST(BvhParserTest, LimitsRefuseHostileSizesBeforeAllocating) {
  struct Row {
    const char* name;
    BvhLimits limits;
    const char* message;
  };
  BvhLimits fewJoints;
  fewJoints.maxJoints = 1;
  BvhLimits shallow;
  shallow.maxDepth = 1;
  BvhLimits fewValues;
  fewValues.maxValues = 17;
  BvhLimits fewPoses;
  fewPoses.maxJointFrames = 3;
  BvhLimits smallFile;
  smallFile.maxFileBytes = 100;
  const Row rows[] = {
      {"joints", fewJoints, "bad.bvh:6: more than 1 joints"},
      {"depth", shallow, "bad.bvh:6: joints nested deeper than 1 levels"},
      {"values", fewValues,
       "bad.bvh:17: 'Frames: 2' with 9 channels is more than the limit of 17 values"},
      {"poses", fewPoses,
       "bad.bvh:17: 'Frames: 2' with 2 joints is more than the limit of 3 joint poses"},
      {"bytes", smallFile, "bad.bvh: larger than the limit of 100 bytes"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    BvhClip clip;
    std::string error;
    EXPECT_FALSE(parseBvh(kSmall, "bad.bvh", row.limits, clip, error));
    EXPECT_EQ(error, row.message);
  }
}

TEST(BvhParserTest, AHugeDeclaredFrameCountInATinyFileIsRefusedNotReserved) {
  // Within the default limits, but the file holds two lines of values.
  const std::string text = replaceAll(kSmall, "Frames: 2", "Frames: 1000000");
  BvhClip clip;
  std::string error;
  EXPECT_FALSE(parseBvh(text, "bad.bvh", BvhLimits(), clip, error));
  EXPECT_EQ(error, "bad.bvh:20: 'Frames:' declares 1000000 frames, found 2");
  EXPECT_LT(clip.values.capacity(), 1000u);
}

TEST(BvhParserTest, EveryTruncationIsRefusedCleanlyOrKeepsTheWholeHierarchy) {
  const std::string full = kSmall;
  for (std::size_t size = 0; size < full.size(); ++size) {
    SCOPED_TRACE(size);
    BvhClip clip;
    std::string error;
    if (parseBvh(full.substr(0, size), "cut.bvh", BvhLimits(), clip, error)) {
      // Only a cut inside the last number of the last line can still parse.
      EXPECT_GE(size, full.rfind(' ') + 1);
      EXPECT_EQ(clip.joints.size(), 2u);
      EXPECT_EQ(clip.values.size(), 18u);
    } else {
      EXPECT_EQ(error.rfind("cut.bvh:", 0), 0u) << error;
    }
  }
}

TEST(BvhParserTest, FrameRateFromFrameTime) {
  struct Row {
    double frameTime;
    double framesPerSecond;
  };
  const Row rows[] = {{0.0083333, 120},
                      {.033333, 30},
                      {0.04, 25},
                      {0.0416667, 24},
                      {1.0 / 29.97, 1.0 / (1.0 / 29.97)},
                      {0.5, 2},
                      {0.3, 1 / 0.3}};
  for (const Row& row : rows) {
    BvhClip clip;
    clip.frameTimeSeconds = row.frameTime;
    EXPECT_DOUBLE_EQ(clip.framesPerSecond(), row.framesPerSecond) << row.frameTime;
  }
}

TEST(BvhParserTest, FilesThatCannotBeReadNameThePath) {
  BvhClip clip;
  std::string error;
  EXPECT_FALSE(readBvhFile(mocapPath("missing.bvh"), BvhLimits(), clip, error));
  EXPECT_EQ(error, mocapPath("missing.bvh") + ": cannot open: No such file or directory");
  EXPECT_FALSE(readBvhFile(ORBEL_MOCAP_DIR, BvhLimits(), clip, error));
#if defined(_WIN32)
  // Windows refuses to open a folder as a file at all.
  EXPECT_EQ(error, std::string(ORBEL_MOCAP_DIR) + ": cannot open: Permission denied");
#else
  EXPECT_EQ(error, std::string(ORBEL_MOCAP_DIR) + ": cannot read: Is a directory");
#endif
}

}  // namespace
}  // namespace orbel::server::playback
