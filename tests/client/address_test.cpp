#include <gtest/gtest.h>

#include "Net.h"

namespace orbel::net {
namespace {

struct Row {
  const char* text;
  bool ok;
  const char* host;
  const char* port;
  const char* errorHas;
};

// Names the row in test listings instead of dumping its bytes.
void PrintTo(const Row& row, std::ostream* os) { *os << row.text; }

const Row kRows[] = {
    {"localhost:801", true, "localhost", "801", ""},
    {"127.0.0.1:65535", true, "127.0.0.1", "65535", ""},
    {"[::1]:801", true, "::1", "801", ""},
    {"localhost", false, "", "", "'localhost' has no ':port'"},
    {":801", false, "", "", "has no host"},
    {"localhost:", false, "", "", "port '' is not a number"},
    {"localhost:abc", false, "", "", "port 'abc' is not a number"},
    {"localhost:0", false, "", "", "port '0' is not between 1 and 65535"},
    {"localhost:65536", false, "", "", "port '65536'"},
    {"localhost:99999999999", false, "", "", "is not a number"},
    {"::1:801", false, "", "", "brackets"},
    {"[::1]801", false, "", "", "[address]:port"},
    {"", false, "", "", "has no ':port'"},
};

class HostPortRows : public ::testing::TestWithParam<Row> {};

TEST_P(HostPortRows, ParsesOrQuotesTheBadInput) {
  const Row& r = GetParam();
  HostPort hp;
  std::string error;
  ASSERT_EQ(parseHostPort(r.text, hp, error), r.ok) << error;
  if (r.ok) {
    EXPECT_EQ(hp.host, r.host);
    EXPECT_EQ(hp.port, r.port);
  } else {
    EXPECT_NE(error.find(r.errorHas), std::string::npos) << error;
  }
}

INSTANTIATE_TEST_SUITE_P(Addresses, HostPortRows, ::testing::ValuesIn(kRows));

}  // namespace
}  // namespace orbel::net
