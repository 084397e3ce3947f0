// Bytes from a server, read as the client library reads them: split into
// messages with the server-to-client size limit, each body decoded, each
// description indexed by name and each frame checked against the newest
// description.
//
// Every message that decodes must encode back to exactly its own bytes: the
// format has one spelling per value, so any difference is a field the
// decoder lost, invented or misread.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "DescriptionIndex.h"
#include "fuzz_check.h"
#include "orbel/protocol/messages.h"

namespace {

namespace protocol = orbel::protocol;
using orbel::fuzz::check;

template <typename Message>
void checkReencodes(const Message& m, const protocol::MessageView& view) {
  std::vector<std::uint8_t> again;
  protocol::encode(m, again);
  check(again.size() == view.totalBytes, "a decoded message re-encodes to another length");
  check(std::equal(again.begin(), again.end(), view.body - protocol::kHeaderBytes),
        "a decoded message re-encodes to other bytes");
}

// The first position of every name, as a scan from the front finds it: the
// index must answer the same, and npos for a name that is not there.
template <typename Names, typename Find>
void checkNames(const Names& names, Find find, const char* what) {
  std::unordered_map<std::string, std::uint32_t> first;
  for (std::uint32_t k = 0; k < names.size(); ++k) first.emplace(names[k], k);
  for (std::uint32_t k = 0; k < names.size(); ++k) {
    check(find(names[k]) == first.at(names[k]), what);
    // A near miss: the same name one byte longer, or one byte shorter.
    for (const std::string& other :
         {names[k] + "\x01", names[k].substr(0, names[k].empty() ? 0 : names[k].size() - 1)}) {
      const auto it = first.find(other);
      const std::uint32_t expected =
          it == first.end() ? orbel::client::DescriptionIndex::npos : it->second;
      check(find(other) == expected, what);
    }
  }
}

void checkIndex(const orbel::client::DescriptionIndex& index) {
  const auto& subjects = index.subjects();
  std::vector<std::string> subjectNames;
  for (const auto& subject : subjects) subjectNames.push_back(subject.name);
  checkNames(
      subjectNames, [&](const std::string& name) { return index.subject(name); },
      "a subject is found at the wrong place");
  std::uint32_t segments = 0;
  std::uint32_t markers = 0;
  for (std::uint32_t s = 0; s < subjects.size(); ++s) {
    check(index.firstSegment(s) == segments, "a subject's first segment is misplaced");
    check(index.firstMarker(s) == markers, "a subject's first marker is misplaced");
    std::vector<std::string> segmentNames;
    for (const auto& segment : subjects[s].segments) segmentNames.push_back(segment.name);
    checkNames(
        segmentNames, [&](const std::string& name) { return index.segment(s, name); },
        "a segment is found at the wrong place");
    checkNames(
        subjects[s].markers, [&](const std::string& name) { return index.marker(s, name); },
        "a marker is found at the wrong place");
    segments += static_cast<std::uint32_t>(subjects[s].segments.size());
    markers += static_cast<std::uint32_t>(subjects[s].markers.size());
  }
  check(index.segmentTotal() == segments && index.markerTotal() == markers,
        "the index's totals differ from the description");
}

// The client's test before it hands a frame on: laid out as the description
// it names. Answers whether the frame would be taken.
bool frameFits(const protocol::Frame& frame, const orbel::client::DescriptionIndex* index) {
  if (index == nullptr || frame.descriptionId != index->id()) return false;
  const auto& subjects = index->subjects();
  if (frame.kinds & protocol::Kind::Segments) {
    if (frame.segmentCounts.size() != subjects.size()) return false;
    for (std::size_t s = 0; s < subjects.size(); ++s) {
      if (frame.segmentCounts[s] != subjects[s].segments.size()) return false;
    }
  }
  if (frame.kinds & protocol::Kind::Markers) {
    if (frame.markerCounts.size() != subjects.size()) return false;
    for (std::size_t s = 0; s < subjects.size(); ++s) {
      if (frame.markerCounts[s] != subjects[s].markers.size()) return false;
    }
  }
  return true;
}

// Whether a body decodes as a message of that type, with fresh messages.
bool decodesClean(protocol::MessageType type, const std::uint8_t* body, std::size_t size,
                  std::string& detail) {
  switch (type) {
    case protocol::MessageType::ClientHello: {
      protocol::ClientHello m;
      return protocol::decode(body, size, m, detail) == protocol::Error::None;
    }
    case protocol::MessageType::ServerHello: {
      protocol::ServerHello m;
      return protocol::decode(body, size, m, detail) == protocol::Error::None;
    }
    case protocol::MessageType::Want: {
      protocol::Want m;
      return protocol::decode(body, size, m, detail) == protocol::Error::None;
    }
    case protocol::MessageType::WantAck: {
      protocol::WantAck m;
      return protocol::decode(body, size, m, detail) == protocol::Error::None;
    }
    case protocol::MessageType::Description: {
      protocol::Description m;
      return protocol::decode(body, size, m, detail) == protocol::Error::None;
    }
    case protocol::MessageType::Frame: {
      protocol::Frame m;
      return protocol::decode(body, size, m, detail) == protocol::Error::None;
    }
    case protocol::MessageType::Goodbye: {
      protocol::Goodbye m;
      return protocol::decode(body, size, m, detail) == protocol::Error::None;
    }
    case protocol::MessageType::Heartbeat:
      return protocol::decodeHeartbeat(body, size, detail) == protocol::Error::None;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The codec's own sweep over the bytes, as either side would read them.
  protocol::decodeAnything(data, size);
  std::shared_ptr<const orbel::client::DescriptionIndex> index;
  protocol::Frame frame;  // reused, as the client's receive thread does
  std::string detail;
  std::size_t offset = 0;
  while (offset < size) {
    detail.clear();
    protocol::MessageView view;
    const protocol::Error split =
        protocol::splitMessage(data + offset, size - offset, protocol::kMaxServerBodyBytes, view);
    if (split != protocol::Error::None) break;
    check(view.totalBytes == protocol::kHeaderBytes + view.bodyBytes &&
              view.totalBytes <= size - offset,
          "a split message reaches past the bytes given");
    // Every beginning of a good message only asks for more bytes.
    for (std::size_t cut :
         {std::size_t{0}, std::size_t{3}, protocol::kHeaderBytes - 1, view.totalBytes - 1}) {
      if (cut >= view.totalBytes) continue;
      protocol::MessageView part;
      check(protocol::splitMessage(data + offset, cut, protocol::kMaxServerBodyBytes, part) ==
                protocol::Error::Incomplete,
            "the beginning of a message is refused instead of awaited");
    }
    protocol::Error e = protocol::Error::None;
    switch (view.type) {
      case protocol::MessageType::ServerHello: {
        protocol::ServerHello m;
        e = protocol::decode(view.body, view.bodyBytes, m, detail);
        if (e == protocol::Error::None) checkReencodes(m, view);
        break;
      }
      case protocol::MessageType::WantAck: {
        protocol::WantAck m;
        e = protocol::decode(view.body, view.bodyBytes, m, detail);
        if (e == protocol::Error::None) checkReencodes(m, view);
        break;
      }
      case protocol::MessageType::Goodbye: {
        protocol::Goodbye m;
        e = protocol::decode(view.body, view.bodyBytes, m, detail);
        if (e == protocol::Error::None) checkReencodes(m, view);
        break;
      }
      case protocol::MessageType::Heartbeat:
        e = protocol::decodeHeartbeat(view.body, view.bodyBytes, detail);
        if (e == protocol::Error::None) {
          std::vector<std::uint8_t> again;
          protocol::encodeHeartbeat(again);
          check(again.size() == view.totalBytes, "a heartbeat re-encodes to another length");
        }
        break;
      case protocol::MessageType::Description: {
        protocol::Description m;
        e = protocol::decode(view.body, view.bodyBytes, m, detail);
        if (e == protocol::Error::None) {
          checkReencodes(m, view);
          index = orbel::client::DescriptionIndex::build(std::move(m));
          checkIndex(*index);
        }
        break;
      }
      case protocol::MessageType::Frame: {
        e = protocol::decode(view.body, view.bodyBytes, frame, detail);
        if (e == protocol::Error::None) {
          std::vector<std::uint8_t> again;
          protocol::encode(frame, frame.kinds, again);
          check(again.size() == view.totalBytes, "a frame re-encodes to another length");
          check(std::equal(again.begin(), again.end(), data + offset),
                "a frame re-encodes to other bytes");
          if (frameFits(frame, index.get())) {
            // What a reader then does: walk every sample by its subject.
            for (std::uint32_t s = 0; s < index->subjects().size(); ++s) {
              if (frame.kinds & protocol::Kind::Segments) {
                const std::uint32_t first = index->firstSegment(s);
                check(first + frame.segmentCounts[s] <= frame.segments.size(),
                      "a subject's segments reach past the frame");
              }
              if (frame.kinds & protocol::Kind::Markers) {
                const std::uint32_t first = index->firstMarker(s);
                check(first + frame.markerCounts[s] <= frame.markers.size(),
                      "a subject's markers reach past the frame");
              }
            }
          }
        }
        break;
      }
      case protocol::MessageType::ClientHello:
      case protocol::MessageType::Want:
        // Never expected from a server; the client drops the connection.
        return 0;
    }
    // The same body one byte short never decodes.
    if (e == protocol::Error::None && view.bodyBytes > 0) {
      std::string shortDetail;
      check(decodesClean(view.type, view.body, view.bodyBytes - 1, shortDetail) == false,
            "a body cut by one byte still decodes");
    }
    // A failure names the field, so a user reading the log can find it.
    check(e == protocol::Error::None || !detail.empty(), "a decoding error without a detail");
    if (e != protocol::Error::None) break;  // the client drops the connection here
    offset += view.totalBytes;
  }
  return 0;
}
