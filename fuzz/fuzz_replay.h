// Runs the inputs kept for one fuzz target (its seed corpus and every
// regression input) through the target's own checks, as part of the normal
// test suite: a fault found by fuzzing stays caught without clang.
//
// Built by orbel_add_fuzz_replay() (fuzz/FuzzReplay.cmake) from a room's
// tests/<room>/CMakeLists.txt, with fuzz_replay_test.cpp.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace orbel::fuzz {

inline std::vector<std::string> fuzzReplayInputs(const std::string& target) {
  std::vector<std::string> paths;
  for (const char* kind : {"corpus", "regressions"}) {
    const std::filesystem::path dir = std::filesystem::path(ORBEL_FUZZ_DIR) / kind / target;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
      if (entry.is_regular_file()) paths.push_back(entry.path().string());
    }
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

// "regressions/json_scene_fuzzer/crash-1a2b.json" -> "regressions_crash_1a2b_json"
inline std::string fuzzReplayName(const testing::TestParamInfo<std::string>& info) {
  const std::filesystem::path p(info.param);
  std::string name =
      p.parent_path().parent_path().filename().string() + "_" + p.filename().string();
  std::replace_if(
      name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); },
      '_');
  return name;
}

class FuzzReplayTest : public testing::TestWithParam<std::string> {};
// A target whose inputs are all gone has nothing to replay; that is no fault.
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(FuzzReplayTest);

TEST_P(FuzzReplayTest, KeptInputPassesTheTargetsChecks) {
  std::ifstream in(GetParam(), std::ios::binary);
  ASSERT_TRUE(in) << GetParam();
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
  try {
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  } catch (const std::exception& e) {
    ADD_FAILURE() << GetParam() << ": " << e.what();
  }
}

}  // namespace orbel::fuzz
