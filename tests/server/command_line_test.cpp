#include <gtest/gtest.h>

#include "command_line.h"

namespace orbel::server {
namespace {

struct Row {
  const char* name;
  std::vector<std::string> args;
  const char* errorHas;  // empty: must parse
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

const Row kRows[] = {
    {"nothing", {}, ""},
    {"port_zero", {"--port", "0"}, ""},
    {"port_not_a_number", {"--port", "abc"}, "port 'abc' is not a whole number"},
    {"port_too_big", {"--port", "70000"}, "port '70000' is above 65535"},
    {"port_negative", {"--port", "-1"}, "port '-1' is not a whole number"},
    {"port_without_value", {"--port"}, "option '--port' needs a value"},
    {"fps_zero", {"--fps", "0"}, "frame rate '0' is not a number above 0 and at most 1000000"},
    {"fps_text", {"--fps", "fast"}, "frame rate 'fast'"},
    {"fps_trailing_text", {"--fps", "120x"}, "frame rate '120x'"},
    {"timecode_unknown", {"--timecode", "smpte"}, "timecode standard 'smpte'"},
    {"preset_unknown", {"--scene-preset", "huge"}, "scene preset 'huge'"},
    {"too_many_segments", {"--subjects", "100", "--segments", "1000"}, "more than 65536"},
    {"zero_subjects", {"--subjects", "0"}, "subject count 0"},
    {"bvh_without_files", {"--bvh"}, "needs at least one file"},
    {"bvh_then_option", {"--bvh", "--port", "5"}, "needs at least one file"},
    {"bvh_and_scene", {"--bvh", "a.bvh", "--scene", "b.json"}, "either --bvh or --scene"},
    {"synthetic_size_with_bvh", {"--bvh", "a.bvh", "--unlabeled", "5"}, "do not apply"},
    {"unknown_option", {"--verbose"}, "unknown option '--verbose'"},
    {"allow_ranges", {"--allow", "10.1.2.3/8", "--allow", "fd00::/8", "--allow", "::1"}, ""},
    {"allow_prefix_too_long", {"--allow", "10.0.0.0/33"}, "'10.0.0.0/33': the prefix length"},
    {"allow_v6_prefix_too_long", {"--allow", "fd00::/129"}, "'fd00::/129'"},
    {"allow_empty_prefix", {"--allow", "10.0.0.0/"}, "'10.0.0.0/'"},
    {"allow_a_name", {"--allow", "example.org"}, "'example.org' is not an IPv4 or IPv6"},
    {"max_clients_zero", {"--max-clients", "0"}, "at least one client"},
    {"idle_timeout_zero", {"--idle-timeout", "0"}, "idle timeout '0'"},
};

class CommandLineRows : public ::testing::TestWithParam<Row> {};

TEST_P(CommandLineRows, ParsesOrQuotesTheBadArgument) {
  const Row& r = GetParam();
  CommandLine cl;
  std::string error;
  const bool ok = parseCommandLine(r.args, cl, error);
  if (std::string(r.errorHas).empty()) {
    EXPECT_TRUE(ok) << error;
  } else {
    EXPECT_FALSE(ok);
    EXPECT_NE(error.find(r.errorHas), std::string::npos) << error;
  }
}

INSTANTIATE_TEST_SUITE_P(Arguments, CommandLineRows, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CommandLine, DefaultsServeTheSyntheticSceneOnPort801) {
  CommandLine cl;
  std::string error;
  ASSERT_TRUE(parseCommandLine({}, cl, error));
  EXPECT_EQ(cl.server.port, 801);
  EXPECT_EQ(cl.server.framesPerSecond, 0);  // the scene's own rate
  EXPECT_EQ(cl.synthetic.framesPerSecond, 120);
  EXPECT_GE(cl.synthetic.subjects, 2u);
  EXPECT_GE(cl.synthetic.segmentsPerSubject, 15u);
  EXPECT_EQ(cl.server.timecode, TimecodeStandard::None);
}

TEST(CommandLine, SizesOverrideThePresetWhateverTheirOrder) {
  CommandLine cl;
  std::string error;
  ASSERT_TRUE(
      parseCommandLine({"--unlabeled", "7", "--scene-preset", "stage", "--fps", "500"}, cl, error))
      << error;
  EXPECT_EQ(cl.synthetic.subjects, 10u);
  EXPECT_EQ(cl.synthetic.unlabeled, 7u);
  EXPECT_EQ(cl.synthetic.framesPerSecond, 500);
  EXPECT_EQ(cl.server.framesPerSecond, 500);
}

TEST(CommandLine, BvhTakesEveryFileUpToTheNextOption) {
  CommandLine cl;
  std::string error;
  ASSERT_TRUE(parseCommandLine({"--bvh", "a.bvh", "b.bvh", "--timecode", "pal"}, cl, error));
  EXPECT_EQ(cl.bvhFiles, (std::vector<std::string>{"a.bvh", "b.bvh"}));
  EXPECT_EQ(cl.server.timecode, TimecodeStandard::PAL);
}

TEST(CommandLine, AllowListAdmitsLoopbackAndTheNamedRangesOnly) {
  CommandLine cl;
  std::string error;
  ASSERT_TRUE(parseCommandLine({"--allow", "172.16.5.9/12", "--allow", "fd00:1::/33"}, cl, error))
      << error;
  const AccessList access(cl.server.allow);
  EXPECT_EQ(access.describe(), "loopback, 172.16.0.0/12, fd00:1::/33");
  const std::pair<const char*, bool> rows[] = {
      {"127.0.0.1", true},        {"127.200.0.9", true},     {"::1", true},
      {"::ffff:127.0.0.1", true}, {"172.31.255.255", true},  {"::ffff:172.20.0.1", true},
      {"172.32.0.0", false},      {"172.15.255.255", false}, {"fd00:1:7fff::1", true},
      {"fd00:1:8000::1", false},  {"10.0.0.1", false},       {"::2", false},
  };
  for (const auto& [text, allowed] : rows) {
    AddressRange peer;
    ASSERT_TRUE(AddressRange::parse(text, peer, error)) << error;
    EXPECT_EQ(access.allows(peer.network.data(), peer.v6 ? 16 : 4), allowed) << text;
  }
}

}  // namespace
}  // namespace orbel::server
