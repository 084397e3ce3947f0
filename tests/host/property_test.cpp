#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <fbsdk/fbproperty.h>

namespace {

TEST(FBPropertyTest, ReadsAndAssignsLikeAValue) {
  FBPropertyBool online;
  EXPECT_FALSE(online);
  online = true;
  EXPECT_TRUE(online);

  FBPropertyInt count(3);
  int n = count;
  EXPECT_EQ(n, 3);
  count = n + 1;
  EXPECT_EQ(count.Get(), 4);

  FBPropertyString status;
  status = "Started";
  FBString s = status;
  EXPECT_EQ(s, "Started");
  EXPECT_TRUE(status == "Started");

  FBPropertyTime period;
  period = FBTime::FromMilliSeconds(8);
  EXPECT_EQ(FBTime(period).GetMilliSeconds(), 8);

  FBPropertyDouble d;
  d = 0.5;
  EXPECT_DOUBLE_EQ(d, 0.5);
}

TEST(FBPropertyTest, AssignmentFromPropertyCopiesTheValue) {
  FBPropertyString a;
  FBPropertyString b;
  a = "one";
  b = a;
  a = "two";
  EXPECT_EQ(b.Get(), "one");
}

TEST(FBPropertyTest, ReadOnlyRefusesAssignment) {
  FBPropertyInt p(1);
  p.SetReadOnly(true);
  EXPECT_TRUE(p.IsReadOnly());
  EXPECT_FALSE(p.Set(2));
  p = 3;
  EXPECT_EQ(p.Get(), 1);
  p.Store(4);  // the owner still writes
  EXPECT_EQ(p.Get(), 4);
}

TEST(FBPropertyTest, GetterAndSetterWiring) {
  int backing = 10;
  FBPropertyInt p;
  p.SetGetter([&backing] { return backing * 2; });
  p.SetSetter([&backing](const int& v) {
    if (v < 0) return false;
    backing = v;
    return true;
  });
  EXPECT_EQ(p.Get(), 20);
  EXPECT_TRUE(p.Set(7));
  EXPECT_EQ(p.Get(), 14);
  EXPECT_FALSE(p.Set(-1));
  EXPECT_EQ(backing, 7);
}

// One writer flips between two long texts, readers must only ever see one of
// them whole. Run under the tsan preset this also shows the absence of races.
TEST(FBPropertyTest, ConcurrentStringReadsNeverTear) {
  const std::string a(200, 'a');
  const std::string b(300, 'b');
  FBPropertyString p;
  p = a.c_str();
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::vector<std::thread> readers;
  readers.reserve(3);
  for (int t = 0; t < 3; ++t) {
    readers.emplace_back([&] {
      while (!stop.load()) {
        const FBString s = p;
        if (s.str() != a && s.str() != b) bad.fetch_add(1);
      }
    });
  }
  for (int i = 0; i < 20000; ++i) p = (i % 2 ? a : b).c_str();
  stop = true;
  for (auto& r : readers) r.join();
  EXPECT_EQ(bad.load(), 0);
}

TEST(FBPropertyTest, ConcurrentTimeAndBoolReads) {
  FBPropertyTime time;
  FBPropertyBool flag;
  const FBTime t1(0x1111111111111111LL);
  const FBTime t2(0x2222222222222222LL);
  time = t1;
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::thread reader([&] {
    while (!stop.load()) {
      const FBTime t = time;
      if (t != t1 && t != t2) bad.fetch_add(1);
      (void)static_cast<bool>(flag);
    }
  });
  for (int i = 0; i < 50000; ++i) {
    time = (i % 2) ? t1 : t2;
    flag = (i % 2) != 0;
  }
  stop = true;
  reader.join();
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
