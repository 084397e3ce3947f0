// JSON scene files: every example served exactly, the behaviours between
// keyframes, the description switch, and every kind of bad file refused
// with a message that names where and what.
#include "scene_file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "error_text.h"
#include "frame_samples.h"
#include "playback/loaders.h"

namespace orbel::server::playback {
namespace {

using orbel_test::markerOf;
using orbel_test::segmentOf;
using protocol::Frame;

std::string scenePath(const std::string& file) {
  return std::string(ORBEL_SCENES_DIR) + "/" + file;
}

std::unique_ptr<Scene> example(const std::string& file) {
  std::string error;
  std::unique_ptr<Scene> scene = loadSceneFile(scenePath(file), error);
  EXPECT_TRUE(scene) << error;
  return scene;
}

std::unique_ptr<Scene> parse(const std::string& text) {
  std::string error;
  std::unique_ptr<Scene> scene = parseSceneText(text, "s.json", error);
  EXPECT_TRUE(scene) << error;
  return scene;
}

std::vector<double> vec(const double* v, std::size_t n) { return std::vector<double>(v, v + n); }

std::string timecodeText(const protocol::TimecodeValue& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u:%02u/%u", t.hours, t.minutes, t.seconds,
                t.frames, t.standard);
  return text;
}

// --- the examples --------------------------------------------------------

class ExampleScenes : public ::testing::TestWithParam<const char*> {};

TEST_P(ExampleScenes, LoadAndFillFramesLaidOutLikeTheirDescription) {
  std::unique_ptr<Scene> scene = example(GetParam());
  ASSERT_TRUE(scene);
  Frame out;
  for (std::uint64_t n : {0u, 1u, 59u, 60u, 119u, 120u, 121u, 100000u}) {
    const auto description = scene->descriptionAt(n);
    scene->frameAt(n, out);
    ASSERT_EQ(misfit(*description, out), "");
    for (const protocol::SegmentSample& pose : out.segments) {
      const double norm =
          std::sqrt(pose.rotation[0] * pose.rotation[0] + pose.rotation[1] * pose.rotation[1] +
                    pose.rotation[2] * pose.rotation[2] + pose.rotation[3] * pose.rotation[3]);
      EXPECT_NEAR(norm, 1.0, 1e-12);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, ExampleScenes,
    ::testing::Values("alice_bob.json", "colon_names.json", "empty_subject_name.json",
                      "keyframes_interpolated.json", "markers.json", "shared_prefix.json",
                      "subject_leaves.json", "switch_after_frames.json", "switch_on_sighup.json",
                      "timecode_midnight.json", "timecode_pal.json", "timecode_standard_0.json",
                      "timecode_standard_5.json", "unknown_parent.json", "unlabeled.json"),
    [](const ::testing::TestParamInfo<const char*>& info) {
      std::string name = info.param;
      return name.substr(0, name.find('.'));
    });

TEST(SceneFileExamples, AliceWithoutSegmentsAndBobWithHipsSpineAndTwoMarkers) {
  std::unique_ptr<Scene> scene = example("alice_bob.json");
  ASSERT_TRUE(scene);
  EXPECT_EQ(scene->framesPerSecond(), 100.0);
  EXPECT_FALSE(scene->providesTimecode());
  const auto d = scene->descriptionAt(0);
  ASSERT_EQ(d->subjects.size(), 2u);
  EXPECT_EQ(d->subjects[0].name, "Alice");
  EXPECT_TRUE(d->subjects[0].segments.empty());
  EXPECT_TRUE(d->subjects[0].markers.empty());
  const protocol::SubjectInfo& bob = d->subjects[1];
  EXPECT_EQ(bob.name, "Bob");
  ASSERT_EQ(bob.segments.size(), 2u);
  EXPECT_EQ(bob.segments[0].name, "Hips");
  EXPECT_EQ(bob.segments[0].parent, "");
  EXPECT_EQ(bob.segments[1].name, "Spine");
  EXPECT_EQ(bob.segments[1].parent, "Hips");
  EXPECT_EQ(bob.markers, (std::vector<std::string>{"LFHD", "RFHD"}));

  Frame out;
  for (std::uint64_t n : {0u, 1u, 1000000u}) {
    scene->frameAt(n, out);
    EXPECT_EQ(vec(segmentOf(out, 1, 0).translation, 3), (std::vector<double>{0.1, -2.5, 95.25}));
    EXPECT_EQ(vec(segmentOf(out, 1, 0).rotation, 4), (std::vector<double>{0, 0, 0, 1}));
    EXPECT_EQ(vec(segmentOf(out, 1, 1).translation, 3), (std::vector<double>{0, 0, 12.3}));
    EXPECT_NEAR(segmentOf(out, 1, 1).rotation[0], std::sin(5 * M_PI / 180), 1e-15);
    EXPECT_EQ(segmentOf(out, 1, 1).rotation[1], 0.0);
    EXPECT_EQ(segmentOf(out, 1, 1).rotation[2], 0.0);
    EXPECT_NEAR(segmentOf(out, 1, 1).rotation[3], std::cos(5 * M_PI / 180), 1e-15);
    EXPECT_EQ(vec(markerOf(out, 1, 0).position, 3), (std::vector<double>{7.5, 1.25, 170.125}));
    EXPECT_EQ(vec(markerOf(out, 1, 1).position, 3), (std::vector<double>{-7.5, 1.25, 170.125}));
    EXPECT_FALSE(segmentOf(out, 1, 0).occluded);
    EXPECT_FALSE(markerOf(out, 1, 1).occluded);
    EXPECT_TRUE(out.unlabeled.empty());
  }
}

TEST(SceneFileExamples, NamesAndParentsAreServedAsWritten) {
  struct Row {
    const char* file;
    std::vector<std::string> subjects;
    std::vector<std::vector<std::pair<std::string, std::string>>> segments;
    std::vector<std::vector<std::string>> markers;
  };
  const Row rows[] = {
      {"unknown_parent.json", {"Rex"}, {{{"Body", ""}, {"Tail", "Missing"}}}, {{}}},
      {"colon_names.json",
       {"Bob"},
       {{{"Bob:Hips", ""}, {"Other:Spine", "Bob:Hips"}}},
       {{"Bob:LFHD", "a:b:c"}}},
      {"shared_prefix.json",
       {"Bob", "Bobby"},
       {{{"Hips", ""}}, {{"Hips", ""}}},
       {{"Head"}, {"Head"}}},
      {"empty_subject_name.json",
       {"A", "", "B"},
       {{{"Root", ""}}, {{"Root", ""}}, {{"Root", ""}}},
       {{}, {}, {}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.file);
    std::unique_ptr<Scene> scene = example(row.file);
    ASSERT_TRUE(scene);
    const auto d = scene->descriptionAt(0);
    ASSERT_EQ(d->subjects.size(), row.subjects.size());
    for (std::size_t s = 0; s < row.subjects.size(); ++s) {
      EXPECT_EQ(d->subjects[s].name, row.subjects[s]);
      std::vector<std::pair<std::string, std::string>> segments;
      for (const protocol::SegmentInfo& seg : d->subjects[s].segments)
        segments.emplace_back(seg.name, seg.parent);
      EXPECT_EQ(segments, row.segments[s]);
      EXPECT_EQ(d->subjects[s].markers, row.markers[s]);
    }
  }
}

TEST(SceneFileExamples, SubjectsWithSharedPrefixesKeepTheirOwnValues) {
  std::unique_ptr<Scene> scene = example("shared_prefix.json");
  ASSERT_TRUE(scene);
  Frame out;
  scene->frameAt(0, out);
  EXPECT_EQ(segmentOf(out, 0, 0).translation[0], 1.0);
  EXPECT_EQ(segmentOf(out, 1, 0).translation[0], 2.0);
  EXPECT_EQ(vec(markerOf(out, 0, 0).position, 3), (std::vector<double>{1, 0, 10}));
  EXPECT_EQ(vec(markerOf(out, 1, 0).position, 3), (std::vector<double>{2, 0, 10}));
}

TEST(SceneFileExamples, ColonNamesCarryTheirValues) {
  std::unique_ptr<Scene> scene = example("colon_names.json");
  ASSERT_TRUE(scene);
  Frame out;
  scene->frameAt(7, out);
  EXPECT_EQ(vec(segmentOf(out, 0, 0).translation, 3), (std::vector<double>{1, 2, 3}));
  EXPECT_EQ(vec(markerOf(out, 0, 1).position, 3), (std::vector<double>{4, 5, 6}));
  EXPECT_EQ(vec(markerOf(out, 0, 0).position, 3), (std::vector<double>{0, 0, 0}));
}

TEST(SceneFileExamples, UnlabeledCountChangesFromFrameToFrame) {
  std::unique_ptr<Scene> scene = example("unlabeled.json");
  ASSERT_TRUE(scene);
  EXPECT_TRUE(scene->descriptionAt(0)->subjects.empty());
  const std::size_t counts[] = {0, 3, 1, 5, 0, 3, 1, 5};
  Frame out;
  for (std::uint64_t n = 0; n < 8; ++n) {
    scene->frameAt(n, out);
    EXPECT_EQ(out.unlabeled.size(), counts[n]) << n;
  }
  scene->frameAt(2, out);
  EXPECT_EQ(vec(out.unlabeled[0].position, 3), (std::vector<double>{-1.5, 0.25, 1000}));
  scene->frameAt(5, out);
  EXPECT_EQ(vec(out.unlabeled[2].position, 3), (std::vector<double>{7, 8, 9}));
}

TEST(SceneFileExamples, TimecodeIsServedWithItsStandardCodeAsWritten) {
  struct Row {
    const char* file;
    std::uint64_t n;
    const char* timecode;
  };
  const Row rows[] = {
      {"timecode_standard_0.json", 0, "01:00:00:00/0"},
      {"timecode_standard_0.json", 29, "01:00:00:29/0"},
      {"timecode_standard_0.json", 30, "01:00:01:00/0"},
      {"timecode_standard_5.json", 0, "10:20:30:12/5"},
      {"timecode_standard_5.json", 1, "10:20:30:12/5"},  // 50 scene frames per 25 timecode frames
      {"timecode_standard_5.json", 2, "10:20:30:13/5"},
      {"timecode_standard_5.json", 26, "10:20:31:00/5"},
      {"timecode_pal.json", 0, "10:20:30:12/1"},
      {"timecode_pal.json", 13, "10:20:31:00/1"},
      {"timecode_pal.json", 25 * 3600 * 14, "00:20:30:12/1"},  // past midnight
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.file) + " frame " + std::to_string(row.n));
    std::unique_ptr<Scene> scene = example(row.file);
    ASSERT_TRUE(scene);
    EXPECT_TRUE(scene->providesTimecode());
    Frame out;
    scene->frameAt(row.n, out);
    EXPECT_EQ(timecodeText(out.timecode), row.timecode);
  }
}

TEST(SceneFileExamples, MarkersMoveLinearlyAndOcclusionHoldsUntilTheNextMention) {
  std::unique_ptr<Scene> scene = example("markers.json");
  ASSERT_TRUE(scene);
  Frame out;
  for (std::uint64_t n = 0; n < 20; ++n) {
    SCOPED_TRACE(n);
    scene->frameAt(n, out);
    const double f = static_cast<double>(n % 10);
    EXPECT_DOUBLE_EQ(markerOf(out, 0, 0).position[0], 10 + f);  // LFHD 10 -> 19 over frames 0..9
    EXPECT_DOUBLE_EQ(markerOf(out, 0, 2).position[1], 10 + f);  // C7
    EXPECT_EQ(vec(markerOf(out, 0, 3).position, 3), (std::vector<double>{0, -10, 130}));
    EXPECT_EQ(markerOf(out, 0, 1).occluded, n % 10 >= 5);
    EXPECT_EQ(vec(markerOf(out, 0, 1).position, 3), (std::vector<double>{-10, 0, 160}))
        << "a keyframe that only occludes keeps the position";
    EXPECT_FALSE(markerOf(out, 0, 0).occluded);
  }
}

TEST(SceneFileExamples, RotationsAreSlerpedBetweenKeyframes) {
  std::unique_ptr<Scene> scene = example("keyframes_interpolated.json");
  ASSERT_TRUE(scene);
  Frame out;
  scene->frameAt(15, out);  // halfway from 0 to 90 degrees about Z
  EXPECT_NEAR(segmentOf(out, 0, 0).rotation[2], std::sin(M_PI / 8), 1e-12);
  EXPECT_NEAR(segmentOf(out, 0, 0).rotation[3], std::cos(M_PI / 8), 1e-12);
  EXPECT_NEAR(segmentOf(out, 0, 1).rotation[1], std::sin(-M_PI / 16),
              1e-12);  // halfway to -45 about Y
  EXPECT_NEAR(segmentOf(out, 0, 1).rotation[3], std::cos(-M_PI / 16), 1e-12);
  EXPECT_EQ(vec(segmentOf(out, 0, 1).translation, 3), (std::vector<double>{30, 0, 0}))
      << "a translation given once holds";
  scene->frameAt(60 + 30, out);  // the loop comes back to the middle keyframe exactly
  EXPECT_NEAR(segmentOf(out, 0, 0).rotation[2], std::sqrt(0.5), 1e-15);
  EXPECT_EQ(vec(markerOf(out, 0, 0).position, 3), (std::vector<double>{17.68, 47.68, 140}));
}

// --- behaviour between keyframes -----------------------------------------

const char* const kOneSegment =
    R"("subjects": [{"name": "S", "segments": [{"name": "A"}], "markers": ["M"]}])";

std::string sceneWith(const std::string& rest) {
  return std::string("{") + kOneSegment + rest + "}";
}

std::string keyAt(int frame, double x) {
  return R"({"frame": )" + std::to_string(frame) +
         R"(, "subjects": {"S": {"segments": {"A": {"translation": [)" + std::to_string(x) +
         R"(, 0, 0]}}}}})";
}

TEST(SceneFileTiming, RepeatAndInterpolationChooseTheValueOfEveryFrame) {
  struct Row {
    const char* name;
    std::string text;
    std::vector<double> xByFrame;  // frames 0, 1, 2, ...
  };
  const std::string keys = R"(, "keyframes": [)" + keyAt(2, 10) + "," + keyAt(4, 20) + "]";
  const Row rows[] = {
      {"linear_loop",
       sceneWith(keys + R"(, "length": 6)"),
       {10, 10, 10, 15, 20, 20, 10, 10, 10, 15}},
      {"step_loop",
       sceneWith(keys + R"(, "length": 6, "interpolation": "step")"),
       {10, 10, 10, 10, 20, 20, 10}},
      {"linear_hold", sceneWith(keys + R"(, "repeat": "hold")"), {10, 10, 10, 15, 20, 20, 20, 20}},
      {"default_length_loops_after_last_key",
       sceneWith(keys),
       {10, 10, 10, 15, 20, 10, 10, 10, 15}},
      {"frames_counted_when_omitted",
       sceneWith(
           R"(, "keyframes": [)" +
           std::string(R"({"subjects": {"S": {"segments": {"A": {"translation": [1, 0, 0]}}}}},)") +
           R"({"subjects": {"S": {"segments": {"A": {"translation": [2, 0, 0]}}}}}], "interpolation": "step")"),
       {1, 2, 1, 2}},
      {"no_keyframes_is_the_rest_pose", sceneWith(""), {0, 0, 0}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::unique_ptr<Scene> scene = parse(row.text);
    ASSERT_TRUE(scene);
    Frame out;
    for (std::size_t n = 0; n < row.xByFrame.size(); ++n) {
      scene->frameAt(n, out);
      EXPECT_DOUBLE_EQ(segmentOf(out, 0, 0).translation[0], row.xByFrame[n]) << "frame " << n;
      EXPECT_EQ(vec(segmentOf(out, 0, 0).rotation, 4), (std::vector<double>{0, 0, 0, 1}));
    }
  }
}

TEST(SceneFileTiming, EulerOrdersComposeInTheirListedOrder) {
  // 90 about the first axis, then 90 about the second, in each order: the
  // quaternion of R1 * R2 for intrinsic composition.
  struct Row {
    const char* order;
    double angles[3];
    double expected[4];
  };
  const double h = 0.5;
  const Row rows[] = {
      {"XYZ", {90, 90, 0}, {h, h, h, h}},  {"YXZ", {90, 90, 0}, {h, h, -h, h}},
      {"ZXY", {90, 90, 0}, {h, h, h, h}},  {"zyx", {0, 0, 90}, {std::sqrt(h), 0, 0, std::sqrt(h)}},
      {"XYZ", {360, 0, 0}, {0, 0, 0, -1}},  // one full turn: the same rotation
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.order);
    const std::string text = sceneWith(
        R"(, "keyframes": [{"subjects": {"S": {"segments": {"A": {"rotation": {"euler": [)" +
        std::to_string(row.angles[0]) + "," + std::to_string(row.angles[1]) + "," +
        std::to_string(row.angles[2]) + R"(], "order": ")" + row.order + R"("}}}}}}])");
    std::unique_ptr<Scene> scene = parse(text);
    ASSERT_TRUE(scene);
    Frame out;
    scene->frameAt(0, out);
    for (int i = 0; i < 4; ++i)
      EXPECT_NEAR(segmentOf(out, 0, 0).rotation[i], row.expected[i], 1e-15) << i;
  }
}

TEST(SceneFileTiming, SlerpTakesTheShortWayAndServesKeyframesExactly) {
  // 350 degrees about Z is -10 degrees: halfway from 0 is -5, not 175.
  const std::string text = sceneWith(
      R"(, "keyframes": [{"frame": 0, "subjects": {"S": {"segments": {"A": {"rotation": {"quaternion": [0, 0, 0, 1]}}}}}},
          {"frame": 2, "subjects": {"S": {"segments": {"A": {"rotation": {"euler": [0, 0, 350], "order": "XYZ"}}}}}},
          {"frame": 4, "subjects": {"S": {"segments": {"A": {"rotation": {"quaternion": [0, 0, 0.6, 0.8]}}}}}}])");
  std::unique_ptr<Scene> scene = parse(text);
  ASSERT_TRUE(scene);
  Frame out;
  scene->frameAt(1, out);
  const double angle =
      2 * std::atan2(segmentOf(out, 0, 0).rotation[2], segmentOf(out, 0, 0).rotation[3]);
  EXPECT_NEAR(std::remainder(angle * 180 / M_PI, 360.0), -5.0, 1e-9);
  scene->frameAt(4, out);
  EXPECT_EQ(vec(segmentOf(out, 0, 0).rotation, 4), (std::vector<double>{0, 0, 0.6, 0.8}));
}

TEST(SceneFileTiming, UnlabeledMarkersInterpolateOnlyBetweenEqualCounts) {
  const std::string text = sceneWith(R"(, "keyframes": [
      {"frame": 0, "unlabeled": [[0, 0, 0], [10, 0, 0]]},
      {"frame": 2, "unlabeled": [[2, 0, 0], [12, 0, 0]]},
      {"frame": 4, "unlabeled": [[100, 0, 0]]}], "repeat": "hold")");
  std::unique_ptr<Scene> scene = parse(text);
  ASSERT_TRUE(scene);
  struct Row {
    std::uint64_t n;
    std::vector<double> xs;
  };
  for (const Row& row : {Row{0, {0, 10}}, Row{1, {1, 11}}, Row{2, {2, 12}}, Row{3, {2, 12}},
                         Row{4, {100}}, Row{50, {100}}}) {
    Frame out;
    scene->frameAt(row.n, out);
    std::vector<double> xs;
    for (const protocol::UnlabeledSample& m : out.unlabeled) xs.push_back(m.position[0]);
    EXPECT_EQ(xs, row.xs) << "frame " << row.n;
  }
}

// --- the description switch ---------------------------------------------

TEST(SceneFileSwitch, AfterAGivenNumberOfFrames) {
  std::unique_ptr<Scene> scene = example("switch_after_frames.json");
  ASSERT_TRUE(scene);
  const auto first = scene->descriptionAt(0);
  const auto second = scene->descriptionAt(120);
  EXPECT_NE(first, second);
  EXPECT_EQ(scene->descriptionAt(119), first);
  EXPECT_EQ(scene->descriptionAt(5000), second);
  scene->requestSwitch();  // only "after": "SIGHUP" listens to the signal
  EXPECT_EQ(scene->descriptionAt(1), first);
  ASSERT_EQ(second->subjects.size(), 2u);
  EXPECT_EQ(second->subjects[1].name, "Carol");

  Frame out;
  scene->frameAt(119, out);
  ASSERT_EQ(out.segmentCounts.size(), 2u);
  EXPECT_EQ(segmentOf(out, 1, 0).translation[2], 90.0);
  scene->frameAt(120, out);
  ASSERT_EQ(out.markerCounts.size(), 2u);
  EXPECT_EQ(vec(markerOf(out, 1, 0).position, 3), (std::vector<double>{0, 0, 165}));
  EXPECT_EQ(segmentOf(out, 0, 0).translation[2], 0.0)
      << "the second description has its own values";
}

TEST(SceneFileSwitch, OnSignalFromTheNextFrameAskedFor) {
  std::unique_ptr<Scene> scene = example("switch_on_sighup.json");
  ASSERT_TRUE(scene);
  const auto first = scene->descriptionAt(0);
  EXPECT_EQ(scene->descriptionAt(100000), first);
  scene->requestSwitch();
  Frame out;
  scene->frameAt(500, out);
  ASSERT_EQ(out.segmentCounts.size(), 2u);
  const auto second = scene->descriptionAt(500);
  EXPECT_NE(second, first);
  EXPECT_EQ(second->subjects[1].name, "Dave");
  EXPECT_EQ(scene->descriptionAt(499), first) << "frames before the switch keep the first";
  EXPECT_EQ(scene->descriptionAt(501), second);
  scene->requestSwitch();  // a second signal changes nothing
  EXPECT_EQ(scene->descriptionAt(10000), second);
}

TEST(SceneFileSwitch, ConcurrentReadersAgreeOnTheSwitchFrame) {
  std::unique_ptr<Scene> scene = example("switch_on_sighup.json");
  ASSERT_TRUE(scene);
  const auto first = scene->descriptionAt(0);
  std::atomic<bool> go{false};
  std::vector<std::uint64_t> firstSecond(4, UINT64_MAX);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      Frame out;
      for (std::uint64_t n = 0; n < 3000; ++n) {
        scene->frameAt(n, out);
        const auto d = scene->descriptionAt(n);
        ASSERT_EQ(misfit(*d, out), "") << "frame and description disagree at " << n;
        if (d != first && firstSecond[t] == UINT64_MAX) firstSecond[t] = n;
        if (d == first) {
          ASSERT_EQ(firstSecond[t], UINT64_MAX) << "switched back at " << n;
        }
      }
    });
  }
  go.store(true);
  scene->requestSwitch();
  for (std::thread& thread : threads) thread.join();
  // Every thread ends on the second description, and none went back.
  for (std::uint64_t n : firstSecond) EXPECT_NE(n, UINT64_MAX);
}

TEST(SceneFileScene, FrameAtReusesTheCallersStorage) {
  std::unique_ptr<Scene> scene = example("unlabeled.json");
  ASSERT_TRUE(scene);
  Frame out;
  scene->frameAt(3, out);  // the largest unlabelled list
  const protocol::UnlabeledSample* unlabeled = out.unlabeled.data();
  for (std::uint64_t n = 0; n < 40; ++n) scene->frameAt(n, out);
  scene->frameAt(3, out);
  EXPECT_EQ(out.unlabeled.data(), unlabeled);
}

// --- refused files --------------------------------------------------------

struct BadRow {
  const char* name;
  std::string text;
  std::string where;  // "line:column" for syntax, else the JSON pointer
  std::string quoted = "", also = "";
};

std::string At(const std::string& where) {
  return where[0] == '/' ? "s.json: " + where : "s.json:" + where;
}

std::ostream& operator<<(std::ostream& os, const BadRow& row) { return os << row.name; }

class SceneFileRefused : public ::testing::TestWithParam<BadRow> {};

TEST_P(SceneFileRefused, WithFileWhereAndWhat) {
  std::string error;
  const BadRow& row = GetParam();
  EXPECT_FALSE(parseSceneText(row.text, "s.json", error));
  std::vector<std::string> quoted;
  for (const std::string& piece : {row.quoted, row.also})
    if (!piece.empty()) quoted.push_back(piece);
  EXPECT_TRUE(orbel_test::NamesWhereAndQuotes(error, At(row.where), quoted));
}

const std::string kBob =
    R"({"name": "Bob", "segments": [{"name": "Hips"}, {"name": "Spine", "parent": "Hips"}], "markers": ["LFHD"]})";

std::string withSubjects(const std::string& subjects, const std::string& rest = "") {
  return R"({"subjects": [)" + subjects + "]" + rest + "}";
}

std::string bobKey(const std::string& body) {
  return withSubjects(kBob, R"(, "keyframes": [{"subjects": {"Bob": )" + body + "}}]");
}

std::string withTimecode(const std::string& timecode) {
  return withSubjects("", R"(, "frameRate": 25, "timecode": )" + timecode);
}

INSTANTIATE_TEST_SUITE_P(
    Files, SceneFileRefused,
    ::testing::Values(
        // Syntax: file, line and column.
        BadRow{"empty", "", "1:1"},
        BadRow{"trailing_comma", "{\n  \"subjects\": [],\n}", "3:1", "'}'"},
        BadRow{"unclosed", "{\"subjects\": [\n\n", "3:1"},
        BadRow{"duplicate_key", R"({"subjects": [], "subjects": []})", "/subjects"},
        BadRow{
            "duplicate_nested_key",
            bobKey(
                R"({"segments": {"Hips": {"translation": [0, 0, 0], "translation": [1, 0, 0]}}})"),
            "/keyframes/0/subjects/Bob/segments/Hips/translation"},
        BadRow{
            "duplicate_key_in_later_element",
            withSubjects(
                "",
                R"(, "keyframes": [{"frame": 0}, {"unlabeled": [[1, 2, 3]]}, {"frame": 4, "frame": 5}])"),
            "/keyframes/2/frame"},
        // Shape of the document.
        BadRow{"not_an_object", "[]", "/", "an array of 0"},
        BadRow{"no_subjects", "{}", "/", "'subjects'"},
        BadRow{"unknown_key", R"({"subjects": [], "frameRat": 60})", "/frameRat", "'frameRat'"},
        BadRow{"frame_rate_text", R"({"subjects": [], "frameRate": "fast"})", "/frameRate",
               "'fast'"},
        BadRow{"frame_rate_zero", R"({"subjects": [], "frameRate": 0})", "/frameRate", "0"},
        BadRow{"frame_rate_negative", R"({"subjects": [], "frameRate": -60})", "/frameRate", "-60"},
        // Description.
        BadRow{"subjects_not_array", R"({"subjects": {}})", "/subjects", "an object"},
        BadRow{"subject_without_name", withSubjects(kBob + R"(, {"segments": []})"), "/subjects/1",
               "'name'"},
        BadRow{"subject_name_number", withSubjects(kBob + R"(, {"name": 3})"), "/subjects/1/name",
               "3"},
        BadRow{"subject_name_twice", withSubjects(kBob + ", " + kBob), "/subjects/1/name", "'Bob'"},
        BadRow{"parent_not_string",
               withSubjects(kBob +
                            R"(, {"name": "Eve", "segments": [{"name": "Hips", "parent": 7}]})"),
               "/subjects/1/segments/0/parent", "7"},
        BadRow{"segment_name_empty", withSubjects(R"({"name": "A", "segments": [{"name": ""}]})"),
               "/subjects/0/segments/0/name"},
        BadRow{"segment_without_name",
               withSubjects(R"({"name": "A", "segments": [{"parent": "X"}]})"),
               "/subjects/0/segments/0", "'name'"},
        BadRow{"segment_name_twice",
               withSubjects(
                   R"({"name": "A", "segments": [{"name": "H"}, {"name": "H", "parent": "H"}]})"),
               "/subjects/0/segments/1/name", "'H'", "'A'"},
        BadRow{"segment_unknown_key",
               withSubjects(R"({"name": "A", "segments": [{"name": "H", "parnet": ""}]})"),
               "/subjects/0/segments/0/parnet", "'parnet'"},
        BadRow{"marker_not_string", withSubjects(R"({"name": "A", "markers": ["M", {}]})"),
               "/subjects/0/markers/1", "an object"},
        BadRow{"marker_name_twice", withSubjects(R"({"name": "A", "markers": ["M", "M"]})"),
               "/subjects/0/markers/1", "'M'", "'A'"},
        BadRow{"marker_name_empty", withSubjects(R"({"name": "A", "markers": [""]})"),
               "/subjects/0/markers/0"},
        // Keyframes.
        BadRow{"unknown_subject",
               withSubjects(kBob, R"(, "keyframes": [{"subjects": {"Carol": {}}}])"),
               "/keyframes/0/subjects/Carol", "'Carol'"},
        BadRow{"unknown_segment", bobKey(R"({"segments": {"Neck": {}}})"),
               "/keyframes/0/subjects/Bob/segments/Neck", "'Bob'", "'Neck'"},
        BadRow{"unknown_marker", bobKey(R"({"markers": {"RFHD": [0, 0, 0]}})"),
               "/keyframes/0/subjects/Bob/markers/RFHD", "'Bob'", "'RFHD'"},
        BadRow{"slash_in_name_is_escaped", bobKey(R"({"markers": {"a/b~c": [0, 0, 0]}})"),
               "/keyframes/0/subjects/Bob/markers/a~1b~0c", "'Bob'", "'a/b~c'"},
        BadRow{"translation_too_short",
               bobKey(R"({"segments": {"Hips": {"translation": [1, 2]}}})"),
               "/keyframes/0/subjects/Bob/segments/Hips/translation", "an array of 2"},
        BadRow{"translation_text",
               bobKey(R"({"segments": {"Hips": {"translation": [1, "2", 3]}}})"),
               "/keyframes/0/subjects/Bob/segments/Hips/translation/1", "'2'"},
        BadRow{"rotation_neither", bobKey(R"({"segments": {"Hips": {"rotation": {}}}})"),
               "/keyframes/0/subjects/Bob/segments/Hips/rotation", "'quaternion'", "'euler'"},
        BadRow{
            "rotation_both",
            bobKey(
                R"({"segments": {"Hips": {"rotation": {"quaternion": [0, 0, 0, 1], "euler": [0, 0, 0]}}}})"),
            "/keyframes/0/subjects/Bob/segments/Hips/rotation", "'quaternion'", "'euler'"},
        BadRow{"quaternion_short",
               bobKey(R"({"segments": {"Hips": {"rotation": {"quaternion": [0, 0, 1]}}}})"),
               "/keyframes/0/subjects/Bob/segments/Hips/rotation/quaternion", "an array of 3"},
        BadRow{"quaternion_not_unit",
               bobKey(R"({"segments": {"Hips": {"rotation": {"quaternion": [0, 0, 1, 1]}}}})"),
               "/keyframes/0/subjects/Bob/segments/Hips/rotation/quaternion", "1.41421"},
        BadRow{"quaternion_zero",
               bobKey(R"({"segments": {"Hips": {"rotation": {"quaternion": [0, 0, 0, 0]}}}})"),
               "/keyframes/0/subjects/Bob/segments/Hips/rotation/quaternion", "0"},
        BadRow{
            "quaternion_with_order",
            bobKey(
                R"({"segments": {"Hips": {"rotation": {"quaternion": [0, 0, 0, 1], "order": "XYZ"}}}})"),
            "/keyframes/0/subjects/Bob/segments/Hips/rotation/order", "'order'", "'euler'"},
        BadRow{"euler_without_order",
               bobKey(R"({"segments": {"Hips": {"rotation": {"euler": [0, 0, 0]}}}})"),
               "/keyframes/0/subjects/Bob/segments/Hips/rotation", "'euler'", "'order'"},
        BadRow{
            "euler_bad_order",
            bobKey(R"({"segments": {"Hips": {"rotation": {"euler": [0, 0, 0], "order": "XXY"}}}})"),
            "/keyframes/0/subjects/Bob/segments/Hips/rotation/order", "'XXY'"},
        BadRow{"occluded_not_bool", bobKey(R"({"markers": {"LFHD": {"occluded": 1}}})"),
               "/keyframes/0/subjects/Bob/markers/LFHD/occluded", "1"},
        BadRow{"keyframe_frames_not_increasing",
               withSubjects(kBob, R"(, "keyframes": [{"frame": 5}, {"frame": 5}])"),
               "/keyframes/1/frame", "5"},
        BadRow{"keyframe_frame_negative", withSubjects(kBob, R"(, "keyframes": [{"frame": -1}])"),
               "/keyframes/0/frame", "-1"},
        BadRow{"keyframe_frame_fraction", withSubjects(kBob, R"(, "keyframes": [{"frame": 1.5}])"),
               "/keyframes/0/frame", "1.5"},
        BadRow{"keyframe_unknown_key", withSubjects(kBob, R"(, "keyframes": [{"time": 1}])"),
               "/keyframes/0/time", "'time'"},
        BadRow{"unlabeled_not_positions",
               withSubjects("", R"(, "keyframes": [{"unlabeled": [[0, 0, 0], [1, 2]]}])"),
               "/keyframes/0/unlabeled/1", "an array of 2"},
        BadRow{"length_before_last_key",
               withSubjects("", R"(, "keyframes": [{"frame": 9}], "length": 5)"), "/length", "5",
               "9"},
        BadRow{"repeat_unknown", withSubjects("", R"(, "repeat": "bounce")"), "/repeat",
               "'bounce'"},
        BadRow{"interpolation_unknown", withSubjects("", R"(, "interpolation": "cubic")"),
               "/interpolation", "'cubic'"},
        // Timecode.
        BadRow{"timecode_without_standard", withTimecode(R"({"start": "00:00:00:00"})"),
               "/timecode", "'standard'"},
        BadRow{"timecode_standard_negative", withTimecode(R"({"standard": -1})"),
               "/timecode/standard", "-1"},
        BadRow{"timecode_standard_too_large", withTimecode(R"({"standard": 4294967296})"),
               "/timecode/standard", "4294967296"},
        BadRow{"timecode_start_malformed", withTimecode(R"({"standard": 1, "start": "10:20:30"})"),
               "/timecode/start", "'10:20:30'"},
        BadRow{"timecode_start_out_of_range",
               withTimecode(R"({"standard": 1, "start": "10:20:30:25"})"), "/timecode/start",
               "10:20:30:25"},
        BadRow{"timecode_start_dropped_label",
               withTimecode(R"({"standard": 3, "start": [0, 1, 0, 1]})"), "/timecode/start",
               "00:01:00;01"},
        BadRow{"timecode_rate_for_known_standard", withTimecode(R"({"standard": 2, "rate": 25})"),
               "/timecode/rate", "2", "'rate'"},
        BadRow{"timecode_rate_zero", withTimecode(R"({"standard": 7, "rate": 0})"),
               "/timecode/rate"},
        // The second description.
        BadRow{"then_without_after", withSubjects("", R"(, "then": {"subjects": []})"), "/then",
               "'after'"},
        BadRow{"then_after_other_signal",
               withSubjects("", R"(, "then": {"after": "SIGINT", "subjects": []})"), "/then/after",
               "'SIGINT'"},
        BadRow{"then_after_zero", withSubjects("", R"(, "then": {"after": 0, "subjects": []})"),
               "/then/after", "0"},
        BadRow{"then_bad_subject",
               withSubjects("", R"(, "then": {"after": 10, "subjects": [{"name": 1}]})"),
               "/then/subjects/0/name", "1"},
        BadRow{"then_frame_rate",
               withSubjects("", R"(, "then": {"after": 10, "subjects": [], "frameRate": 30})"),
               "/then/frameRate", "'frameRate'"}),
    [](const ::testing::TestParamInfo<BadRow>& info) { return std::string(info.param.name); });

TEST(SceneFileRefusedTest, DeepNestingAndHugeValuesAreRefusedWithoutCrashing) {
  const std::string deep =
      withSubjects("", R"(, "keyframes": [{"unlabeled": )" + std::string(100000, '[') +
                           std::string(100000, ']') + "}]");
  std::string error;
  EXPECT_FALSE(parseSceneText(deep, "s.json", error));
  EXPECT_TRUE(
      orbel_test::NamesWhereAndQuotes(error, At("/keyframes/0/unlabeled/0"), {"an array of 1"}));

  EXPECT_FALSE(parseSceneText(withSubjects("", R"(, "frameRate": 1e999)"), "s.json", error));
  EXPECT_TRUE(orbel_test::NamesWhereAndQuotes(error, "s.json", {"'1e999'"}));
}

TEST(SceneFileRefusedTest, FilesThatCannotBeReadNameThePath) {
  std::string error;
  EXPECT_FALSE(loadSceneFile(scenePath("missing.json"), error));
  EXPECT_EQ(error, scenePath("missing.json") + ": cannot open: No such file or directory");
}

}  // namespace
}  // namespace orbel::server::playback
