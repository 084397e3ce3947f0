// The stream codec on its own: golden bytes, every truncation, every class
// of corruption, and a flood of random and mutated input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>

#include "allocation_probe.h"
#include "fixture_messages.h"
#include "orbel/protocol/messages.h"
#include "orbel/protocol/wire.h"

namespace orbel::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Decodes one whole message of any type; answers the first error.
Error decodeWhole(const Bytes& bytes, std::uint32_t maxBody = kMaxServerBodyBytes) {
  MessageView m;
  const Error split = splitMessage(bytes.data(), bytes.size(), maxBody, m);
  if (split != Error::None) return split;
  std::string detail;
  switch (m.type) {
    case MessageType::ClientHello: {
      ClientHello v;
      return decode(m.body, m.bodyBytes, v, detail);
    }
    case MessageType::ServerHello: {
      ServerHello v;
      return decode(m.body, m.bodyBytes, v, detail);
    }
    case MessageType::Want: {
      Want v;
      return decode(m.body, m.bodyBytes, v, detail);
    }
    case MessageType::WantAck: {
      WantAck v;
      return decode(m.body, m.bodyBytes, v, detail);
    }
    case MessageType::Description: {
      Description v;
      return decode(m.body, m.bodyBytes, v, detail);
    }
    case MessageType::Frame: {
      Frame v;
      return decode(m.body, m.bodyBytes, v, detail);
    }
    case MessageType::Goodbye: {
      Goodbye v;
      return decode(m.body, m.bodyBytes, v, detail);
    }
    case MessageType::Heartbeat:
      return decodeHeartbeat(m.body, m.bodyBytes, detail);
  }
  return Error::UnknownType;
}

void setBodyLength(Bytes& b, std::uint32_t length) {
  for (int i = 0; i < 4; ++i) b[4 + i] = static_cast<std::uint8_t>(length >> (8 * i));
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// ---- Golden bytes ------------------------------------------------------------

TEST(ProtocolGolden, EncoderStillWritesTheCommittedBytes) {
  for (const auto& f : fixtures::all()) {
    SCOPED_TRACE(f.name);
    const Bytes golden = readFile(std::string(ORBEL_FIXTURE_DIR) + "/" + f.name + ".bin");
    ASSERT_FALSE(golden.empty()) << "missing fixture; run write_protocol_fixtures";
    EXPECT_EQ(f.bytes, golden);
    EXPECT_EQ(decodeWhole(golden), Error::None);
  }
}

TEST(ProtocolGolden, HeaderLayoutIsLittleEndianWithMagic) {
  Bytes b;
  encode(Want{0x11223344, Kind::Markers}, b);
  const Bytes expected = {'O', 'B', 3, 0, 5, 0, 0, 0, 0x44, 0x33, 0x22, 0x11, Kind::Markers};
  EXPECT_EQ(b, expected);
}

TEST(ProtocolRoundTrip, DescriptionKeepsEveryName) {
  const Description in = fixtures::sampleDescription();
  Bytes b;
  encode(in, b);
  MessageView m;
  ASSERT_EQ(splitMessage(b.data(), b.size(), kMaxServerBodyBytes, m), Error::None);
  Description out;
  std::string detail;
  ASSERT_EQ(decode(m.body, m.bodyBytes, out, detail), Error::None) << detail;
  EXPECT_EQ(out.id, in.id);
  ASSERT_EQ(out.subjects.size(), in.subjects.size());
  for (std::size_t s = 0; s < in.subjects.size(); ++s) {
    EXPECT_EQ(out.subjects[s].name, in.subjects[s].name);
    ASSERT_EQ(out.subjects[s].segments.size(), in.subjects[s].segments.size());
    for (std::size_t k = 0; k < in.subjects[s].segments.size(); ++k) {
      EXPECT_EQ(out.subjects[s].segments[k].name, in.subjects[s].segments[k].name);
      EXPECT_EQ(out.subjects[s].segments[k].parent, in.subjects[s].segments[k].parent);
    }
    EXPECT_EQ(out.subjects[s].markers, in.subjects[s].markers);
  }
}

TEST(ProtocolRoundTrip, FrameDoublesSurviveBitForBit) {
  const Frame in = fixtures::sampleFrame();
  Bytes b;
  encode(in, Kind::All, b);
  MessageView m;
  ASSERT_EQ(splitMessage(b.data(), b.size(), kMaxServerBodyBytes, m), Error::None);
  Frame out;
  std::string detail;
  ASSERT_EQ(decode(m.body, m.bodyBytes, out, detail), Error::None) << detail;
  EXPECT_EQ(out.number, in.number);
  EXPECT_EQ(out.serverSendTimeNs, in.serverSendTimeNs);
  EXPECT_EQ(out.timecode.frames, 12u);
  EXPECT_EQ(out.segmentCounts, in.segmentCounts);
  EXPECT_EQ(out.markerCounts, in.markerCounts);
  ASSERT_EQ(out.segments.size(), in.segments.size());
  for (std::size_t k = 0; k < in.segments.size(); ++k) {
    for (int i = 0; i < 3; ++i) {
      EXPECT_TRUE(sameBits(out.segments[k].translation[i], in.segments[k].translation[i]));
    }
    for (int i = 0; i < 4; ++i) {
      EXPECT_TRUE(sameBits(out.segments[k].rotation[i], in.segments[k].rotation[i]));
    }
    EXPECT_EQ(out.segments[k].occluded, in.segments[k].occluded);
  }
  ASSERT_EQ(out.unlabeled.size(), 2u);
  EXPECT_TRUE(sameBits(out.unlabeled[1].position[2], -3));
}

TEST(ProtocolRoundTrip, RestampedFrameEqualsOneEncodedWithThatTime) {
  for (std::uint8_t kinds = 0; kinds <= Kind::All; ++kinds) {
    for (std::int64_t t : {std::int64_t{0}, std::int64_t{-1}, std::int64_t{0x0102030405060708},
                           std::numeric_limits<std::int64_t>::min()}) {
      Frame in = fixtures::sampleFrame();
      Bytes restamped;
      encode(in, kinds, restamped);
      restampFrameSendTime(restamped, t);
      in.serverSendTimeNs = t;
      Bytes direct;
      encode(in, kinds, direct);
      EXPECT_EQ(restamped, direct) << "kinds " << int(kinds) << " time " << t;
    }
  }
}

TEST(ProtocolRoundTrip, FrameCarriesOnlyTheKindsAsked) {
  const Frame in = fixtures::sampleFrame();
  struct Row {
    std::uint8_t kinds;
    std::size_t segments, markers, unlabeled;
  };
  for (const Row& row : {Row{0, 0, 0, 0}, Row{Kind::Segments, 3, 0, 0}, Row{Kind::Markers, 0, 3, 0},
                         Row{Kind::Unlabeled, 0, 0, 2}, Row{Kind::Device, 0, 0, 0}}) {
    SCOPED_TRACE(int(row.kinds));
    Bytes b;
    encode(in, row.kinds, b);
    MessageView m;
    ASSERT_EQ(splitMessage(b.data(), b.size(), kMaxServerBodyBytes, m), Error::None);
    Frame out;
    std::string detail;
    ASSERT_EQ(decode(m.body, m.bodyBytes, out, detail), Error::None) << detail;
    EXPECT_EQ(out.kinds, row.kinds);
    EXPECT_EQ(out.segments.size(), row.segments);
    EXPECT_EQ(out.markers.size(), row.markers);
    EXPECT_EQ(out.unlabeled.size(), row.unlabeled);
  }
}

// ---- Truncation ----------------------------------------------------------------

TEST(ProtocolTruncation, EveryPrefixOfEveryMessageIsIncompleteNeverCorrupt) {
  for (const auto& f : fixtures::all()) {
    SCOPED_TRACE(f.name);
    for (std::size_t n = 0; n < f.bytes.size(); ++n) {
      MessageView m;
      EXPECT_EQ(splitMessage(f.bytes.data(), n, kMaxServerBodyBytes, m), Error::Incomplete)
          << "prefix of " << n << " bytes";
    }
  }
}

TEST(ProtocolTruncation, EveryShortenedBodyIsTruncatedNeverAccepted) {
  for (const auto& f : fixtures::all()) {
    SCOPED_TRACE(f.name);
    for (std::size_t n = kHeaderBytes; n < f.bytes.size(); ++n) {
      // A header that claims exactly the shortened body: the body decoder
      // itself must notice that fields are missing.
      Bytes cut(f.bytes.begin(), f.bytes.begin() + static_cast<std::ptrdiff_t>(n));
      setBodyLength(cut, static_cast<std::uint32_t>(n - kHeaderBytes));
      const Error e = decodeWhole(cut);
      EXPECT_TRUE(e == Error::Truncated)
          << "body of " << n - kHeaderBytes << " bytes gave " << errorName(e);
    }
  }
}

TEST(ProtocolTruncation, FailedReadLeavesTheCursorInPlace) {
  const std::uint8_t bytes[] = {1, 2, 3, 0xFF, 0xFF};
  Reader r(bytes, sizeof bytes);
  std::uint16_t two = 0;
  ASSERT_TRUE(r.u16(two));
  std::uint32_t four = 0;
  EXPECT_FALSE(r.u32(four));
  EXPECT_EQ(r.offset(), 2u);
  std::string text;
  // Claims 0xFF03 bytes of text, has 2.
  Reader t(bytes + 2, 3);
  EXPECT_EQ(t.text(text, 0xFFFF), Reader::TextResult::Truncated);
  EXPECT_EQ(t.offset(), 0u);
}

// ---- Corruption ------------------------------------------------------------------

struct Corruption {
  const char* name;
  const char* fixture;
  void (*mutate)(Bytes&);
  Error expected;
};

// Names the row in test listings instead of dumping its bytes.
void PrintTo(const Corruption& row, std::ostream* os) { *os << row.name; }

Bytes fixtureBytes(const std::string& name) {
  for (auto& f : fixtures::all()) {
    if (f.name == name) return f.bytes;
  }
  ADD_FAILURE() << "no fixture " << name;
  return {};
}

// Offsets into the sample description's body: id (4), subject count (4),
// then "Bob" as u16 length + 3 bytes, then Bob's segment count.
constexpr std::size_t kDescSubjectCount = kHeaderBytes + 4;
constexpr std::size_t kDescFirstName = kDescSubjectCount + 4;
constexpr std::size_t kDescBobSegments = kDescFirstName + 2 + 3;
// The sample frame: 8 + 4 + 8 + 5 * 4 bytes, then kinds, then the subject
// count of the segment section and the first subject's count.
constexpr std::size_t kFrameKinds = kHeaderBytes + 8 + 4 + 8 + 20;
constexpr std::size_t kFrameSegmentSubjects = kFrameKinds + 1;
constexpr std::size_t kFrameFirstCount = kFrameSegmentSubjects + 4;
constexpr std::size_t kFrameFirstOccluded = kFrameFirstCount + 4 + 56;

void putU32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

const Corruption kCorruptions[] = {
    {"first magic byte", "want", [](Bytes& b) { b[0] = 'X'; }, Error::BadMagic},
    {"second magic byte", "frame_all", [](Bytes& b) { b[1] = 0; }, Error::BadMagic},
    {"type zero", "want", [](Bytes& b) { b[2] = 0; }, Error::UnknownType},
    {"type past the last", "want", [](Bytes& b) { b[2] = 9; }, Error::UnknownType},
    {"type 255", "heartbeat", [](Bytes& b) { b[2] = 255; }, Error::UnknownType},
    {"flags set", "goodbye", [](Bytes& b) { b[3] = 1; }, Error::BadFlags},
    {"length above the limit", "frame_all",
     [](Bytes& b) { setBodyLength(b, kMaxServerBodyBytes + 1); }, Error::Oversized},
    {"length 4 GiB", "heartbeat", [](Bytes& b) { setBodyLength(b, 0xFFFFFFFFu); },
     Error::Oversized},
    {"length one short", "want",
     [](Bytes& b) {
       setBodyLength(b, 4);
       b.pop_back();
     },
     Error::Truncated},
    {"length one long", "want",
     [](Bytes& b) {
       setBodyLength(b, 6);
       b.push_back(0);
     },
     Error::TrailingBytes},
    {"heartbeat with a body", "heartbeat",
     [](Bytes& b) {
       setBodyLength(b, 1);
       b.push_back(7);
     },
     Error::TrailingBytes},
    {"absurd subject count", "description",
     [](Bytes& b) { putU32(b, kDescSubjectCount, 0xFFFFFFFFu); }, Error::LimitExceeded},
    {"subject count that cannot fit", "description",
     [](Bytes& b) { putU32(b, kDescSubjectCount, 1000); }, Error::Truncated},
    {"name longer than the limit", "description",
     [](Bytes& b) {
       b[kDescFirstName] = 0x01;
       b[kDescFirstName + 1] = 0x08;  // 2049 bytes
     },
     Error::LimitExceeded},
    {"absurd segment count", "description", [](Bytes& b) { putU32(b, kDescBobSegments, 70000); },
     Error::LimitExceeded},
    {"unknown kind bit in a frame", "frame_all", [](Bytes& b) { b[kFrameKinds] |= 0x80; },
     Error::BadValue},
    {"absurd frame subject count", "frame_all",
     [](Bytes& b) { putU32(b, kFrameSegmentSubjects, 0x7FFFFFFF); }, Error::LimitExceeded},
    {"absurd frame segment count", "frame_all",
     [](Bytes& b) { putU32(b, kFrameFirstCount, 0x10000000); }, Error::LimitExceeded},
    {"segment count past the body", "frame_all",
     [](Bytes& b) { putU32(b, kFrameFirstCount, 5000); }, Error::Truncated},
    {"occluded flag neither 0 nor 1", "frame_all", [](Bytes& b) { b[kFrameFirstOccluded] = 2; },
     Error::BadValue},
    {"unknown kind bit in a request", "want", [](Bytes& b) { b.back() = 0x10; }, Error::BadValue},
    {"negative frame rate", "server_hello",
     [](Bytes& b) {
       const double bad = -1;
       std::memcpy(&b[kHeaderBytes + 2], &bad, 8);  // host order is little-endian here
     },
     Error::BadValue},
    {"frame rate not a number", "server_hello",
     [](Bytes& b) {
       const double bad = std::numeric_limits<double>::quiet_NaN();
       std::memcpy(&b[kHeaderBytes + 2], &bad, 8);
     },
     Error::BadValue},
};

class ProtocolCorruption : public ::testing::TestWithParam<Corruption> {};

TEST_P(ProtocolCorruption, IsRefusedWithItsOwnError) {
  const Corruption& c = GetParam();
  Bytes b = fixtureBytes(c.fixture);
  c.mutate(b);
  EXPECT_EQ(decodeWhole(b), c.expected) << "got " << errorName(decodeWhole(b));
}

INSTANTIATE_TEST_SUITE_P(Cases, ProtocolCorruption, ::testing::ValuesIn(kCorruptions),
                         [](const auto& info) {
                           std::string n = info.param.name;
                           for (char& ch : n) {
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           }
                           return n;
                         });

TEST(ProtocolCorruption, ClientDirectionHasTheSmallerLimit) {
  Bytes b;
  encode(fixtures::sampleDescription(), b);
  setBodyLength(b, kMaxClientBodyBytes + 1);
  MessageView m;
  EXPECT_EQ(splitMessage(b.data(), b.size(), kMaxClientBodyBytes, m), Error::Oversized);
}

TEST(ProtocolCorruption, GarbageIsRefusedFromItsFirstByte) {
  // No waiting for a length that may never come: one wrong byte is enough.
  const std::uint8_t garbage[] = {'G'};
  MessageView m;
  EXPECT_EQ(splitMessage(garbage, 1, kMaxServerBodyBytes, m), Error::BadMagic);
}

// ---- Random and mutated input --------------------------------------------------------

TEST(ProtocolFuzz, RandomAndMutatedInputNeverCrashesOrAllocatesPastTheLimits) {
  std::mt19937 rng(20240611);
  const auto seeds = fixtures::all();
  testing::AllocationProbe probe;
  std::size_t decodedClean = 0;
  for (int round = 0; round < 6000; ++round) {
    Bytes b;
    if (round % 3 == 0) {
      b.resize(rng() % 300);
      for (auto& byte : b) byte = static_cast<std::uint8_t>(rng());
      // Often start with a valid header so the body decoders get exercised.
      if (b.size() >= kHeaderBytes && rng() % 2 == 0) {
        b[0] = 'O';
        b[1] = 'B';
        b[2] = static_cast<std::uint8_t>(1 + rng() % 8);
        b[3] = 0;
        setBodyLength(b, static_cast<std::uint32_t>(b.size() - kHeaderBytes));
      }
    } else {
      b = seeds[rng() % seeds.size()].bytes;
      const int edits = 1 + static_cast<int>(rng() % 6);
      for (int e = 0; e < edits && !b.empty(); ++e) {
        const std::size_t at = rng() % b.size();
        switch (rng() % 5) {
          case 0:
            b[at] = static_cast<std::uint8_t>(rng());
            break;
          case 1:
            b[at] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
            break;
          case 2:
            b.erase(b.begin() + static_cast<std::ptrdiff_t>(at));
            break;
          case 3:
            b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), static_cast<std::uint8_t>(rng()));
            break;
          case 4:
            // Counts and lengths are where absurd values hurt: write one.
            if (at + 4 <= b.size()) putU32(b, at, static_cast<std::uint32_t>(rng()));
            break;
        }
      }
      // Keep the header's length honest half the time, so mutations reach
      // the body decoders instead of stopping at the framing.
      if (b.size() >= kHeaderBytes && rng() % 2 == 0) {
        setBodyLength(b, static_cast<std::uint32_t>(b.size() - kHeaderBytes));
      }
    }
    decodedClean += decodeAnything(b.data(), b.size());
    decodeWhole(b);
  }
  // Nothing reserved more than the largest frame the limits allow.
  EXPECT_LE(probe.largest(), std::size_t{kMaxSegmentsTotal} * sizeof(SegmentSample));
  // The mutations were not all rejected at the door.
  EXPECT_GT(decodedClean, 100u);
}

TEST(ProtocolFuzz, ACountThatCannotFitReservesNothing) {
  // A frame that claims the most unlabelled markers the limits allow but
  // carries none of them: refused before any room is made for them.
  Bytes b = fixtureBytes("frame_none");
  b[kFrameKinds] = Kind::Unlabeled;
  b.resize(b.size() + 4);
  putU32(b, b.size() - 4, kMaxUnlabeled);
  setBodyLength(b, static_cast<std::uint32_t>(b.size() - kHeaderBytes));
  testing::AllocationProbe probe;
  EXPECT_EQ(decodeWhole(b), Error::Truncated);
  EXPECT_LT(probe.largest(), 1024u);
}

TEST(ProtocolFuzz, ConcatenatedMessagesSplitOneByOne) {
  Bytes stream;
  for (const auto& f : fixtures::all()) stream.insert(stream.end(), f.bytes.begin(), f.bytes.end());
  EXPECT_EQ(decodeAnything(stream.data(), stream.size()), fixtures::all().size());
}

}  // namespace
}  // namespace orbel::protocol
