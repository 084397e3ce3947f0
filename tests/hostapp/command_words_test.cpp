// Reading command lines: the tables cover what users type (quotes, blanks,
// comments, variables) and what they mistype, which must come back as an
// error quoting the input rather than a wrong command.
#include <gtest/gtest.h>

#include <cmath>

#include "command_words.h"

namespace orbel::hostapp {
namespace {

struct SplitCase {
  const char* name;
  const char* line;
  std::vector<std::string> words;
};

class SplitWordsTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitWordsTest, GivesTheWords) {
  std::vector<std::string> words;
  std::string error;
  ASSERT_TRUE(SplitWords(GetParam().line, &words, &error)) << error;
  EXPECT_EQ(words, GetParam().words);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SplitWordsTest,
    ::testing::Values(
        SplitCase{"empty", "", {}}, SplitCase{"blanks_only", " \t ", {}},
        SplitCase{"comment_only", "  # a comment", {}},
        SplitCase{"plain", "online orbel on", {"online", "orbel", "on"}},
        SplitCase{"tabs_and_runs", "\tonline   orbel\ton ", {"online", "orbel", "on"}},
        SplitCase{"quoted_blank",
                  "add \"Orbel Stream Device\" cam",
                  {"add", "Orbel Stream Device", "cam"}},
        SplitCase{"escaped_quote", R"(echo "say \"hi\"")", {"echo", "say \"hi\""}},
        SplitCase{"escaped_backslash", R"(echo "a\\b")", {"echo", "a\\b"}},
        SplitCase{"other_backslash_kept", R"(echo "C:\dir")", {"echo", "C:\\dir"}},
        SplitCase{"empty_quoted_word", "take new \"\"", {"take", "new", ""}},
        SplitCase{"trailing_comment", "wait 1 # settle", {"wait", "1"}},
        SplitCase{"hash_inside_word", "echo a#b", {"echo", "a#b"}},
        SplitCase{"hash_inside_quotes", "echo \"# not a comment\"", {"echo", "# not a comment"}},
        SplitCase{"crlf_line", "stop\r", {"stop"}}),
    [](const ::testing::TestParamInfo<SplitCase>& info) { return info.param.name; });

struct BadLine {
  const char* name;
  const char* line;
  const char* quoted;  // what the error must quote
};

class SplitWordsErrorTest : public ::testing::TestWithParam<BadLine> {};

TEST_P(SplitWordsErrorTest, RefusesAndQuotes) {
  std::vector<std::string> words{"left over"};
  std::string error;
  EXPECT_FALSE(SplitWords(GetParam().line, &words, &error));
  EXPECT_NE(error.find(GetParam().quoted), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SplitWordsErrorTest,
    ::testing::Values(BadLine{"unclosed", "add \"Orbel Stream", "'\"Orbel Stream'"},
                      BadLine{"unclosed_after_escape", R"(echo "a\")", R"('"a\"')"},
                      BadLine{"glued_after", "echo \"a\"b", "'\"a\"b'"},
                      BadLine{"quote_inside_word", "echo ab\"c d\"", "'ab\"'"}),
    [](const ::testing::TestParamInfo<BadLine>& info) { return info.param.name; });

TEST(SplitCommands, SplitsAtSemicolonsOutsideQuotes) {
  EXPECT_EQ(SplitCommands("a; b;c"), (std::vector<std::string>{"a", " b", "c"}));
  EXPECT_EQ(SplitCommands("echo \"x; y\"; stop"),
            (std::vector<std::string>{"echo \"x; y\"", " stop"}));
  EXPECT_EQ(SplitCommands(R"(echo "a\";b"; c)"),
            (std::vector<std::string>{R"(echo "a\";b")", " c"}));
  EXPECT_EQ(SplitCommands(""), (std::vector<std::string>{""}));
}

TEST(ExpandVariables, ReplacesKnownNamesAndQuotesUnknownOnes) {
  const std::map<std::string, std::string> vars{{"PORT", "4242"}, {"OUT", "out/demo"}};
  std::string out, error;
  ASSERT_TRUE(ExpandVariables("${OUT}/a_${PORT}.bvh", vars, &out, &error));
  EXPECT_EQ(out, "out/demo/a_4242.bvh");
  ASSERT_TRUE(ExpandVariables("no variables $PORT {x}", vars, &out, &error));
  EXPECT_EQ(out, "no variables $PORT {x}");

  EXPECT_FALSE(ExpandVariables("port ${HOST}", vars, &out, &error));
  EXPECT_NE(error.find("'HOST'"), std::string::npos) << error;
  EXPECT_FALSE(ExpandVariables("${PORT", vars, &out, &error));
  EXPECT_NE(error.find("'${PORT'"), std::string::npos) << error;
}

TEST(ParseOnOff, KnowsBothSpellingsAndRefusesTheRest) {
  for (const char* yes : {"on", "1", "true", "yes", "ON", "Yes"}) {
    bool value = false;
    std::string error;
    EXPECT_TRUE(ParseOnOff(yes, &value, &error)) << yes;
    EXPECT_TRUE(value) << yes;
  }
  for (const char* no : {"off", "0", "false", "no", "OFF", "False"}) {
    bool value = true;
    std::string error;
    EXPECT_TRUE(ParseOnOff(no, &value, &error)) << no;
    EXPECT_FALSE(value) << no;
  }
  for (const char* bad : {"", "2", "enable", "onn"}) {
    bool value = false;
    std::string error;
    EXPECT_FALSE(ParseOnOff(bad, &value, &error)) << bad;
    EXPECT_NE(error.find("'" + std::string(bad) + "'"), std::string::npos) << error;
  }
}

struct IntegerCase {
  const char* text;
  bool ok;
  long long value;
};

TEST(ParseInteger, ChecksDigitsAndRange) {
  const IntegerCase cases[] = {
      {"0", true, 0},    {"7", true, 7},
      {"-3", true, -3},  {"+4", true, 4},
      {"10", true, 10},  {"11", false, 0},
      {"-4", false, 0},  {"", false, 0},
      {"-", false, 0},   {"1.5", false, 0},
      {"0x1", false, 0}, {" 1", false, 0},
      {"1 ", false, 0},  {"99999999999999999999", false, 0},
  };
  for (const IntegerCase& c : cases) {
    long long value = -99;
    std::string error;
    EXPECT_EQ(ParseInteger(c.text, -3, 10, &value, &error), c.ok) << "'" << c.text << "'";
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    } else {
      EXPECT_EQ(value, -99) << c.text;
      EXPECT_NE(error.find("'" + std::string(c.text) + "'"), std::string::npos) << error;
    }
  }
}

TEST(ParseSeconds, TakesFiniteDurationsUpToADay) {
  const std::pair<const char*, double> good[] = {{"5", 5.0},  {"0", 0.0},    {"0.25", 0.25},
                                                 {".5", 0.5}, {"1e1", 10.0}, {"86400", 86400.0}};
  for (const auto& [text, expected] : good) {
    double seconds = -1;
    std::string error;
    EXPECT_TRUE(ParseSeconds(text, &seconds, &error)) << text << ": " << error;
    EXPECT_EQ(seconds, expected) << text;
  }
  for (const char* bad : {"", "-1", "5s", "nan", "inf", "1e400", "86401", "1,5", "--1"}) {
    double seconds = -1;
    std::string error;
    EXPECT_FALSE(ParseSeconds(bad, &seconds, &error)) << bad;
    EXPECT_EQ(seconds, -1) << bad;
    EXPECT_NE(error.find("'" + std::string(bad) + "'"), std::string::npos) << error;
  }
}

TEST(Quote, ShowsControlCharactersAsHex) {
  EXPECT_EQ(Quote("plain"), "'plain'");
  EXPECT_EQ(Quote(std::string("a\nb\x7f", 4)), "'a\\x0Ab\\x7F'");
  // UTF-8 passes; bytes that are not (a stray, a cut-off sequence) do not.
  EXPECT_EQ(Quote("caf\xC3\xA9 \xFF\xC3"), "'caf\xC3\xA9 \\xFF\\xC3'");
  // Four bytes up to U+10FFFF pass; overlong forms, surrogates and beyond do not.
  EXPECT_EQ(EscapeBytes("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(EscapeBytes("\xC0\xAF"), "\\xC0\\xAF");
  EXPECT_EQ(EscapeBytes("\xED\xA0\x80"), "\\xED\\xA0\\x80");
  EXPECT_EQ(EscapeBytes("\xF4\x90\x80\x80"), "\\xF4\\x90\\x80\\x80");
  EXPECT_EQ(EscapeBytes("\xE2\x82"), "\\xE2\\x82");
}

}  // namespace
}  // namespace orbel::hostapp
