// Who may take the stream: any address of this machine's loopback, and the
// ranges an operator names (--allow CIDR). Bound to loopback the server only
// meets loopback peers; bound beyond it, this list is what keeps the stream
// and the client slots from anyone else on the network.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orbel::server {

// An IPv4 or IPv6 network: its address with the host bits cleared, and the
// length of its prefix.
struct AddressRange {
  bool v6 = false;
  std::array<std::uint8_t, 16> network{};  // IPv4 uses the first 4 bytes
  unsigned prefixBits = 0;

  // "10.0.0.0/8", "fd00::/8", or one address ("192.168.1.20" is /32). Host
  // bits are cleared ("10.1.2.3/8" is 10.0.0.0/8). On failure answers false
  // and sets error to a message that quotes the text.
  static bool parse(const std::string& text, AddressRange& out, std::string& error);
  std::string toString() const;  // "10.0.0.0/8"
  // address: 4 bytes (IPv4) or 16 (IPv6), in network order.
  bool contains(const std::uint8_t* address, std::size_t bytes) const;
};

class AccessList {
 public:
  explicit AccessList(std::vector<AddressRange> ranges = {}) : ranges_(std::move(ranges)) {}

  // address as for AddressRange::contains. An IPv4-mapped IPv6 address (a
  // dual-stack socket's IPv4 peer) is judged as the IPv4 address it carries.
  bool allows(const std::uint8_t* address, std::size_t bytes) const;
  // For the log: "loopback only", or "loopback, 10.0.0.0/8, fd00::/8".
  std::string describe() const;

 private:
  std::vector<AddressRange> ranges_;
};

}  // namespace orbel::server
