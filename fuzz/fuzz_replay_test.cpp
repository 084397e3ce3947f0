// One fuzz target's kept inputs as tests: ORBEL_FUZZ_TARGET names it.
#include "fuzz_replay.h"

namespace orbel::fuzz {
namespace {

INSTANTIATE_TEST_SUITE_P(KeptInputs, FuzzReplayTest,
                         testing::ValuesIn(fuzzReplayInputs(ORBEL_FUZZ_TARGET)), fuzzReplayName);

}  // namespace
}  // namespace orbel::fuzz
