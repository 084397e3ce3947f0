// The messages whose exact bytes are kept as golden files in fixtures/.
// write_protocol_fixtures writes them; protocol_test checks that today's
// encoder still produces those bytes and today's decoder still reads them,
// so any change to the wire format shows up as a failing test.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "orbel/protocol/messages.h"

namespace orbel::protocol::fixtures {

struct Fixture {
  std::string name;  // file name without ".bin"
  std::vector<std::uint8_t> bytes;
};

inline Description sampleDescription() {
  Description d;
  d.id = 7;
  SubjectInfo bob;
  bob.name = "Bob";
  bob.segments = {{"Hips", ""}, {"Spine", "Hips"}, {"Bob:Head", "Spine"}};
  bob.markers = {"LFHD", "RFHD"};
  SubjectInfo empty;  // an empty name and no segments are legal on the wire
  SubjectInfo alice;
  alice.name = "Alice";
  alice.markers = {"M1"};
  d.subjects = {bob, empty, alice};
  return d;
}

// A frame laid out for sampleDescription(): 3 + 0 + 0 segments, 2 + 0 + 1
// markers, two unlabelled markers; values chosen to exercise signs, zero,
// -0.0, tiny and huge doubles.
inline Frame sampleFrame() {
  Frame f;
  f.number = 0x0102030405060708ull;
  f.descriptionId = 7;
  f.serverSendTimeNs = -5;
  f.timecode = {10, 20, 30, 12, 3};
  f.kinds = Kind::All;
  f.segmentCounts = {3, 0, 0};
  f.segments.resize(3);
  f.segments[0] = {{1, 2, 3}, {0, 0, 0, 1}, false};
  f.segments[1] = {{-0.0, 1e-300, 1e300}, {0.5, -0.5, 0.5, -0.5}, true};
  f.segments[2] = {{0.1, 0.2, 0.3}, {0, 0.7071067811865476, 0, 0.7071067811865476}, false};
  f.markerCounts = {2, 0, 1};
  f.markers = {{{4, 5, 6}, false}, {{-7, -8, -9}, true}, {{0.25, 0.5, 0.75}, false}};
  f.unlabeled = {{{100, 200, 300}}, {{-1, -2, -3}}};
  return f;
}

inline std::vector<Fixture> all() {
  std::vector<Fixture> out;
  auto add = [&](std::string name, auto&& write) {
    Fixture f{std::move(name), {}};
    write(f.bytes);
    out.push_back(std::move(f));
  };
  add("client_hello", [](auto& b) { encode(ClientHello{kVersion, "test-client"}, b); });
  add("server_hello", [](auto& b) { encode(ServerHello{kVersion, 120.0, "test-server"}, b); });
  add("want", [](auto& b) { encode(Want{42, Kind::Segments | Kind::Unlabeled}, b); });
  add("want_ack", [](auto& b) { encode(WantAck{42, Kind::Segments | Kind::Unlabeled}, b); });
  add("goodbye", [](auto& b) { encode(Goodbye{"server shutting down"}, b); });
  add("heartbeat", [](auto& b) { encodeHeartbeat(b); });
  add("description", [](auto& b) { encode(sampleDescription(), b); });
  add("frame_all", [](auto& b) { encode(sampleFrame(), Kind::All, b); });
  add("frame_segments", [](auto& b) { encode(sampleFrame(), Kind::Segments, b); });
  add("frame_none", [](auto& b) { encode(sampleFrame(), 0, b); });
  return out;
}

}  // namespace orbel::protocol::fixtures
