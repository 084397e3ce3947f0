// Settings files: what a device relies on (texts kept exactly, defaults for
// missing keys, one file shared by every object of a name) and what a user
// relies on (a crash or a damaged file never costs the settings).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fbhost/config.h"
#include "fbhost/messages.h"
#include "fbsdk/fbconfigfile.h"
#include "test_folder.h"

namespace {

class ConfigFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fbhost::SetConfigFolder(mFolder.path());
    fbhost::SetMessageEcho(false);
    fbhost::ClearMessages();
  }
  void TearDown() override {
    fbhost::SetBeforeRenameHook(nullptr);
    fbhost::SetFlushToDisk(true);
    fbhost::SetConfigFolder("");
    fbhost::SetMessageEcho(true);
  }
  std::string FilePath() const { return mFolder.path() + "/Settings.txt"; }

  TestFolder mFolder;
};

std::string Get(FBConfigFile& file, const char* key, const char* fallback = "<default>") {
  const char* value = file.Get("DataStream", key, fallback);
  return value ? value : "<null>";
}

TEST_F(ConfigFileTest, MissingFileAnswersTheDefaultPointerAndCreatesNothing) {
  FBConfigFile file("@Settings.txt", false, false);
  const char* fallback = "localhost";
  EXPECT_EQ(file.Get("DataStream", "HostAddress", fallback), fallback);
  EXPECT_EQ(file.Get("DataStream", "HostAddress", nullptr), nullptr);
  EXPECT_STREQ(file.GetPath(), FilePath().c_str());
  EXPECT_FALSE(PathExists(FilePath()));
  EXPECT_TRUE(fbhost::Messages().empty());
}

TEST_F(ConfigFileTest, WritesTheDocumentedFormat) {
  FBConfigFile file("@Settings.txt");
  ASSERT_TRUE(file.Set("DataStream", "HostAddress", "localhost"));
  ASSERT_TRUE(file.Set("DataStream", "StreamBones", "1"));
  ASSERT_TRUE(file.Set("Other", "Key", "v", "why it is here"));
  const std::string text = ReadFile(FilePath());
  EXPECT_NE(text.find("[DataStream]\nHostAddress = \"localhost\"\nStreamBones = \"1\"\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\n[Other]\n; why it is here\nKey = \"v\"\n"), std::string::npos) << text;
  EXPECT_EQ(text.rfind(";", 0), 0u) << "a new file starts with a comment saying what it is";
}

TEST_F(ConfigFileTest, ValuesRoundTripExactlyAsTexts) {
  const std::vector<std::string> values = {" 7",
                                           "12abc",
                                           "",
                                           "  ",
                                           "trailing ",
                                           "a \"quoted\" word",
                                           "back\\slash",
                                           "\\x41",
                                           "tab\there",
                                           "line\nbreak",
                                           "\r",
                                           "=",
                                           "[section]",
                                           "; not a comment",
                                           "# nor this",
                                           "\x7f\x01",
                                           "caf\xc3\xa9",
                                           "-2147483648"};
  {
    FBConfigFile writer("@Settings.txt");
    for (std::size_t i = 0; i < values.size(); ++i) {
      ASSERT_TRUE(writer.Set("DataStream", ("Key" + std::to_string(i)).c_str(), values[i].c_str()));
    }
  }
  FBConfigFile reader("@Settings.txt");
  for (std::size_t i = 0; i < values.size(); ++i) {
    SCOPED_TRACE("value #" + std::to_string(i));
    EXPECT_EQ(Get(reader, ("Key" + std::to_string(i)).c_str()), values[i]);
  }
  // The file stays one setting per line.
  std::istringstream lines(ReadFile(FilePath()));
  std::string line;
  int settings = 0;
  while (std::getline(lines, line)) settings += line.rfind("Key", 0) == 0 ? 1 : 0;
  EXPECT_EQ(settings, static_cast<int>(values.size()));
}

struct HandWritten {
  const char* name;
  const char* contents;
  const char* key;
  const char* expected;  // nullptr: the key is missing
};

class HandWrittenFileTest : public ConfigFileTest,
                            public ::testing::WithParamInterface<HandWritten> {};

TEST_P(HandWrittenFileTest, ReadsAsDocumented) {
  WriteFile(FilePath(), GetParam().contents);
  FBConfigFile file("@Settings.txt");
  const char* value = file.Get("DataStream", GetParam().key, nullptr);
  if (GetParam().expected == nullptr) {
    EXPECT_EQ(value, nullptr);
  } else {
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(value, GetParam().expected);
  }
  EXPECT_TRUE(fbhost::Messages().empty()) << fbhost::Messages().front().text;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HandWrittenFileTest,
    ::testing::Values(
        HandWritten{"unquoted_trimmed", "[DataStream]\nHostPort =   801  \n", "HostPort", "801"},
        HandWritten{"quoted_exact", "[DataStream]\nStreamBones = \" 7\"\n", "StreamBones", " 7"},
        HandWritten{"crlf", "[DataStream]\r\nHostPort = 802\r\n", "HostPort", "802"},
        HandWritten{"no_final_newline", "[DataStream]\nHostPort = 803", "HostPort", "803"},
        HandWritten{"comments_and_blanks", "; c\n# c\n\n  [ DataStream ]  \n  ; c\nA=1\n", "A",
                    "1"},
        HandWritten{"last_duplicate_counts", "[DataStream]\nA = 1\nA = 2\n", "A", "2"},
        HandWritten{"sections_merge", "[DataStream]\nA = 1\n[X]\nA = 9\n[DataStream]\nB = 2\n", "B",
                    "2"},
        HandWritten{"section_case_matters", "[datastream]\nA = 1\n", "A", nullptr},
        HandWritten{"key_in_other_section", "[X]\nA = 1\n", "A", nullptr},
        HandWritten{"empty_unquoted", "[DataStream]\nA =\n", "A", ""},
        HandWritten{"escapes", "[DataStream]\nA = \"\\x41\\\\\\\"\\t\"\n", "A", "A\\\"\t"},
        HandWritten{"empty_file", "", "A", nullptr}),
    [](const ::testing::TestParamInfo<HandWritten>& info) { return info.param.name; });

TEST_F(ConfigFileTest, TwoObjectsShareOneFile) {
  FBConfigFile first("@Settings.txt");
  FBConfigFile second("@Settings.txt");
  ASSERT_TRUE(first.Set("DataStream", "StreamMarkers", "1"));
  EXPECT_EQ(Get(second, "StreamMarkers"), "1");
  ASSERT_TRUE(second.Set("DataStream", "StreamMarkers", "0"));
  ASSERT_TRUE(second.Set("DataStream", "UseTimecode", "1"));
  EXPECT_EQ(Get(first, "StreamMarkers"), "0");
  EXPECT_EQ(Get(first, "UseTimecode"), "1");
}

TEST_F(ConfigFileTest, SettingTheValueAlreadyThereWritesNothing) {
  FBConfigFile file("@Settings.txt");
  int writes = 0;
  fbhost::SetBeforeRenameHook([&](const std::string&, const std::string&) {
    ++writes;
    return true;
  });
  ASSERT_TRUE(file.Set("DataStream", "StreamBones", "1"));
  ASSERT_TRUE(file.Set("DataStream", "StreamBones", "1"));
  EXPECT_EQ(writes, 1);
  ASSERT_TRUE(file.Set("DataStream", "StreamBones", "0"));
  ASSERT_TRUE(file.Set("DataStream", "StreamBones", "0", "with a comment"));
  EXPECT_EQ(writes, 3);
  // A hand-written unquoted value is the same text: no rewrite either.
  WriteFile(FilePath(), "[DataStream]\nStreamBones = 1\n");
  ASSERT_TRUE(file.Set("DataStream", "StreamBones", "1"));
  EXPECT_EQ(writes, 3);
  EXPECT_EQ(ReadFile(FilePath()), "[DataStream]\nStreamBones = 1\n");
}

TEST_F(ConfigFileTest, AnsweredTextsStayValidAcrossLaterCalls) {
  FBConfigFile file("@Settings.txt");
  ASSERT_TRUE(file.Set("DataStream", "HostAddress", "first.example"));
  const char* first = file.Get("DataStream", "HostAddress", "");
  // A device passes the answer straight back into Set.
  ASSERT_TRUE(file.Set("DataStream", "Copy", first));
  ASSERT_TRUE(file.Set("DataStream", "HostAddress", "second.example"));
  const char* second = file.Get("DataStream", "HostAddress", "");
  EXPECT_STREQ(first, "first.example");
  EXPECT_STREQ(second, "second.example");
  EXPECT_EQ(Get(file, "Copy"), "first.example");
}

struct BadCall {
  const char* name;
  const char* section;
  const char* key;
};

class RefusedSetTest : public ConfigFileTest, public ::testing::WithParamInterface<BadCall> {};

TEST_P(RefusedSetTest, ChangesNothing) {
  FBConfigFile file("@Settings.txt");
  ASSERT_TRUE(file.Set("DataStream", "Kept", "1"));
  const std::string before = ReadFile(FilePath());
  EXPECT_FALSE(file.Set(GetParam().section, GetParam().key, "x"));
  EXPECT_EQ(ReadFile(FilePath()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RefusedSetTest,
    ::testing::Values(BadCall{"null_section", nullptr, "A"}, BadCall{"null_key", "S", nullptr},
                      BadCall{"empty_section", "", "A"}, BadCall{"empty_key", "S", ""},
                      BadCall{"bracket_in_section", "a]b", "A"},
                      BadCall{"equals_in_key", "S", "a=b"}, BadCall{"key_like_section", "S", "[A"},
                      BadCall{"key_like_comment", "S", ";A"},
                      BadCall{"blank_around_key", "S", " A"},
                      BadCall{"newline_in_key", "S", "A\nB"},
                      BadCall{"newline_in_section", "S\n[T]", "A"}),
    [](const ::testing::TestParamInfo<BadCall>& info) { return info.param.name; });

TEST_F(ConfigFileTest, InvalidNamesAndModes) {
  FBConfigFile escaping("@../Settings.txt");
  EXPECT_FALSE(escaping.Set("DataStream", "A", "1"));
  EXPECT_STREQ(escaping.Get("DataStream", "A", "d"), "d");
  FBConfigFile empty("");
  EXPECT_FALSE(empty.Set("DataStream", "A", "1"));
  EXPECT_EQ(fbhost::Messages().size(), 2u);

  FBConfigFile readOnly("@Settings.txt", false, true);
  EXPECT_FALSE(readOnly.Set("DataStream", "A", "1"));
  EXPECT_FALSE(PathExists(FilePath()));

  FBConfigFile memoryA("@Settings.txt", true, false);
  FBConfigFile memoryB("@Settings.txt", true, false);
  ASSERT_TRUE(memoryA.Set("DataStream", "A", " 7"));
  EXPECT_EQ(Get(memoryB, "A"), " 7");
  EXPECT_FALSE(PathExists(FilePath()));
}

TEST_F(ConfigFileTest, AbsolutePathNamesAndNewFolders) {
  const std::string path = mFolder.path() + "/deeper/still/plain.txt";
  FBConfigFile file(path.c_str());
  ASSERT_TRUE(file.Set("S", "A", "1"));
  EXPECT_EQ(ReadFile(path).find("[S]\nA = \"1\"\n") != std::string::npos, true);
}

TEST_F(ConfigFileTest, AWriteStoppedBeforeItsRenameLeavesTheOldFile) {
  FBConfigFile file("@Settings.txt");
  ASSERT_TRUE(file.Set("DataStream", "HostPort", "801"));
  const std::string before = ReadFile(FilePath());
  std::string temporary;
  fbhost::SetBeforeRenameHook([&](const std::string& tmp, const std::string&) {
    temporary = tmp;
    return false;  // the "crash"
  });
  EXPECT_FALSE(file.Set("DataStream", "HostPort", "802"));
  EXPECT_EQ(ReadFile(FilePath()), before);
  EXPECT_EQ(Get(file, "HostPort"), "801");
  ASSERT_FALSE(temporary.empty());
  EXPECT_NE(ReadFile(temporary).find("802"), std::string::npos) << "the new contents were complete";
  fbhost::SetBeforeRenameHook(nullptr);
  ASSERT_TRUE(file.Set("DataStream", "HostPort", "803"));
  EXPECT_EQ(Get(file, "HostPort"), "803");
}

TEST_F(ConfigFileTest, AWriterKilledMidWriteLeavesTheOldFile) {
  FBConfigFile file("@Settings.txt");
  ASSERT_TRUE(file.Set("DataStream", "HostPort", "801"));
  const std::string before = ReadFile(FilePath());
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    fbhost::SetBeforeRenameHook([](const std::string&, const std::string&) {
      ::kill(::getpid(), SIGKILL);
      return true;
    });
    FBConfigFile writer("@Settings.txt");
    writer.Set("DataStream", "HostPort", "802");
    std::_Exit(3);  // not reached
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
  EXPECT_EQ(ReadFile(FilePath()), before);
  EXPECT_EQ(Get(file, "HostPort"), "801");
}

TEST_F(ConfigFileTest, ADamagedFileIsReportedOnceAndKeptBeforeItIsRewritten) {
  const std::string damaged =
      "[DataStream]\nHostAddress = \"studio\"\nthis line is garbage\nHostPort = \"80\n";
  WriteFile(FilePath(), damaged);
  FBConfigFile file("@Settings.txt");
  EXPECT_EQ(Get(file, "HostAddress"), "studio");
  EXPECT_EQ(Get(file, "HostPort"), "<default>");
  auto messages = fbhost::Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].text.find("line 3 'this line is garbage'"), std::string::npos)
      << messages[0].text;
  EXPECT_NE(messages[0].text.find(FilePath()), std::string::npos);

  ASSERT_TRUE(file.Set("DataStream", "StreamBones", "1"));
  EXPECT_EQ(ReadFile(FilePath() + ".corrupt"), damaged);
  EXPECT_EQ(Get(file, "HostAddress"), "studio");
  EXPECT_EQ(Get(file, "StreamBones"), "1");
  messages = fbhost::Messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_NE(messages[1].text.find(".corrupt"), std::string::npos) << messages[1].text;

  // A second damage keeps the first copy too.
  WriteFile(FilePath(), "garbage again\n");
  ASSERT_TRUE(file.Set("DataStream", "StreamBones", "0"));
  EXPECT_EQ(ReadFile(FilePath() + ".corrupt"), damaged);
  EXPECT_EQ(ReadFile(FilePath() + ".corrupt.1"), "garbage again\n");
}

TEST_F(ConfigFileTest, AFileThatCannotBeReadIsNeverReplaced) {
  ASSERT_EQ(mkdir(FilePath().c_str(), 0755), 0);  // a folder where the file should be
  FBConfigFile file("@Settings.txt");
  EXPECT_EQ(Get(file, "HostPort"), "<default>");
  EXPECT_FALSE(file.Set("DataStream", "HostPort", "801"));
  struct stat info {};
  ASSERT_EQ(stat(FilePath().c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));

  const std::string big = mFolder.path() + "/big.txt";
  WriteFile(big, "[S]\nA = \"" + std::string(2 << 20, 'x') + "\"\n");
  FBConfigFile large(big.c_str());
  EXPECT_STREQ(large.Get("S", "A", "d"), "d");
  EXPECT_FALSE(large.Set("S", "B", "1"));
  EXPECT_EQ(ReadFile(big).size(), (2u << 20) + 11);
}

// Every prefix of a good file and a set of single-byte damages: reading never
// crashes, a Set never loses a setting that the damaged file still showed, and
// any file that was not clean is kept byte for byte.
TEST_F(ConfigFileTest, CorpusOfTruncatedAndMutatedFiles) {
  const std::string good =
      "; header\n[DataStream]\nHostAddress = \"localhost\"\nHostPort = \"801\"\n"
      "StreamBones = \" 7\"\nUnlabeledMarkerCount = \"12abc\"\n[Other]\nX = y\n";
  std::vector<std::string> corpus;
  for (std::size_t n = 0; n <= good.size(); ++n) corpus.push_back(good.substr(0, n));
  const char damages[] = {'"', '[', ']', '\\', '=', '\0', '\n', ';', 'x', '\xff'};
  for (std::size_t at = 0; at < good.size(); at += 5) {
    for (const char d : damages) {
      std::string mutated = good;
      mutated[at] = d;
      corpus.push_back(mutated);
    }
  }
  const char* keys[] = {"HostAddress", "HostPort", "StreamBones", "UnlabeledMarkerCount", "Z"};
  fbhost::SetFlushToDisk(false);  // hundreds of writes; whole-file replacement is unchanged
  int index = 0;
  for (const std::string& contents : corpus) {
    SCOPED_TRACE("case " + std::to_string(index++));
    const std::string path = mFolder.path() + "/corpus.txt";
    std::remove(path.c_str());
    std::remove((path + ".corrupt").c_str());
    WriteFile(path, contents);
    FBConfigFile file(path.c_str());
    std::vector<std::string> seen;
    for (const char* key : keys) seen.push_back(Get(file, key));
    fbhost::ClearMessages();
    ASSERT_TRUE(file.Set("DataStream", "Z", "new"));
    for (std::size_t k = 0; k + 1 < std::size(keys); ++k) {
      EXPECT_EQ(Get(file, keys[k]), seen[k]) << keys[k];
    }
    EXPECT_EQ(Get(file, "Z"), "new");
    if (!fbhost::Messages().empty()) {
      EXPECT_EQ(ReadFile(path + ".corrupt"), contents);
    }
  }
}

TEST_F(ConfigFileTest, ConcurrentWritersLoseNothing) {
  constexpr int kThreads = 4;
  constexpr int kKeysEach = 12;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      FBConfigFile file("@Settings.txt");  // one object per thread, like one per device
      for (int k = 0; k < kKeysEach; ++k) {
        const std::string key = "T" + std::to_string(t) + "K" + std::to_string(k);
        file.Set("DataStream", key.c_str(), std::to_string(k).c_str());
      }
    });
  }
  for (auto& thread : threads) thread.join();
  FBConfigFile file("@Settings.txt");
  for (int t = 0; t < kThreads; ++t) {
    for (int k = 0; k < kKeysEach; ++k) {
      const std::string key = "T" + std::to_string(t) + "K" + std::to_string(k);
      EXPECT_EQ(Get(file, key.c_str()), std::to_string(k)) << key;
    }
  }
}

}  // namespace
