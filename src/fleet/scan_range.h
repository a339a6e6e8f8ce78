// The addresses a network scan may reach: the IPv4 ranges the user names (CIDR text), or the
// subnets of the host's own interfaces that are up. Nothing wider than a /16 is ever scanned.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "link/host_interfaces.h"

namespace zvk {

// A range the scan refuses (bad text, wider than a /16), or no range to scan at all.
class ScanRangeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr int kWidestScanPrefix = 16;

struct Ipv4Range {
  std::uint32_t network = 0;  // host order, host bits cleared
  int prefix_length = 32;
  std::string Text() const;  // "192.168.1.0/24"
};

// "192.168.1.0/24", or a single address ("192.168.1.7" as a /32). Host bits may be set
// ("192.168.1.7/24" is the range 192.168.1.0/24). Throws ScanRangeError for anything else and
// for a range wider than a /16.
Ipv4Range ParseScanRange(const std::string& text);

// The addresses of a range in ascending order; the network and broadcast addresses of a subnet
// of 4 addresses or more are left out (they reach no single module, or every one at once).
std::vector<std::uint32_t> RangeAddresses(const Ipv4Range& range);

// The subnets of the host's up, non-loopback IPv4 interfaces with a known prefix length. Those
// wider than a /16 are left out and named in *skipped ("10.0.0.0/8 (eth1)"). Throws
// ScanRangeError when the interfaces cannot be listed.
std::vector<Ipv4Range> HostSubnets(HostInterfaces& hosts, std::vector<std::string>* skipped);

// Every address of the ranges once, in ascending order.
std::vector<std::string> ScanAddresses(const std::vector<Ipv4Range>& ranges);

std::string Ipv4Text(std::uint32_t address);

}  // namespace zvk
