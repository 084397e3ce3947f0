#include "access_list.h"

#if defined(_WIN32)
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <sys/socket.h>
#endif

#include <cstring>

namespace orbel::server {

namespace {

bool isV4Mapped(const std::uint8_t* a) {
  static constexpr std::uint8_t kPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  return std::memcmp(a, kPrefix, sizeof kPrefix) == 0;
}

bool prefixMatches(const std::uint8_t* a, const std::uint8_t* b, unsigned bits) {
  const unsigned whole = bits / 8;
  if (std::memcmp(a, b, whole) != 0) return false;
  if (bits % 8 == 0) return true;
  const auto mask = static_cast<std::uint8_t>(0xFF00u >> (bits % 8));
  return (a[whole] & mask) == (b[whole] & mask);
}

}  // namespace

bool AddressRange::parse(const std::string& text, AddressRange& out, std::string& error) {
  const std::size_t slash = text.find('/');
  const std::string address = text.substr(0, slash);
  AddressRange r;
  r.v6 = address.find(':') != std::string::npos;
  if (inet_pton(r.v6 ? AF_INET6 : AF_INET, address.c_str(), r.network.data()) != 1) {
    error = "'" + text + "' is not an IPv4 or IPv6 address or range (like 10.0.0.0/8)";
    return false;
  }
  const unsigned most = r.v6 ? 128 : 32;
  r.prefixBits = most;
  if (slash != std::string::npos) {
    const std::string bits = text.substr(slash + 1);
    if (bits.empty() || bits.size() > 3 ||
        bits.find_first_not_of("0123456789") != std::string::npos || std::stoul(bits) > most) {
      error =
          "'" + text + "': the prefix length must be a number from 0 to " + std::to_string(most);
      return false;
    }
    r.prefixBits = static_cast<unsigned>(std::stoul(bits));
  }
  for (unsigned bit = r.prefixBits; bit < most; ++bit) {
    r.network[bit / 8] &= static_cast<std::uint8_t>(~(0x80u >> (bit % 8)));
  }
  out = r;
  return true;
}

std::string AddressRange::toString() const {
  char text[INET6_ADDRSTRLEN] = "?";
  inet_ntop(v6 ? AF_INET6 : AF_INET, network.data(), text, sizeof text);
  return std::string(text) + "/" + std::to_string(prefixBits);
}

bool AddressRange::contains(const std::uint8_t* address, std::size_t bytes) const {
  if (bytes != (v6 ? 16u : 4u)) return false;
  return prefixMatches(address, network.data(), prefixBits);
}

bool AccessList::allows(const std::uint8_t* address, std::size_t bytes) const {
  if (bytes == 16 && isV4Mapped(address)) {
    address += 12;
    bytes = 4;
  }
  // Loopback is 127.0.0.0/8 and ::1: only a process on this machine can
  // send from there, and a user's own tools must never be locked out.
  static constexpr std::uint8_t kLoopback6[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  if (bytes == 4 && address[0] == 127) return true;
  if (bytes == 16 && std::memcmp(address, kLoopback6, 16) == 0) return true;
  for (const AddressRange& r : ranges_) {
    if (r.contains(address, bytes)) return true;
  }
  return false;
}

std::string AccessList::describe() const {
  if (ranges_.empty()) return "loopback only";
  std::string text = "loopback";
  for (const AddressRange& r : ranges_) text += ", " + r.toString();
  return text;
}

}  // namespace orbel::server
