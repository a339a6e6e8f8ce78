#include "fleet/scan_range.h"

#include <algorithm>
#include <charconv>

namespace zvk {

namespace {

std::uint32_t Mask(int prefix_length) {
  return prefix_length == 0 ? 0 : ~std::uint32_t{0} << (32 - prefix_length);
}

// A decimal number of at most `digits` digits, the whole of `text`.
bool ParseNumber(std::string_view text, std::size_t digits, unsigned& value) {
  if (text.empty() || text.size() > digits) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

bool ParseAddress(std::string_view text, std::uint32_t& address) {
  address = 0;
  for (int part = 0; part < 4; ++part) {
    const std::size_t dot = part < 3 ? text.find('.') : text.size();
    if (dot == std::string_view::npos) return false;
    unsigned octet = 0;
    if (!ParseNumber(text.substr(0, dot), 3, octet) || octet > 255) return false;
    address = (address << 8) | octet;
    text.remove_prefix(part < 3 ? dot + 1 : dot);
  }
  return true;
}

}  // namespace

std::string Ipv4Text(std::uint32_t a) {
  return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 0xFF) + "." +
         std::to_string((a >> 8) & 0xFF) + "." + std::to_string(a & 0xFF);
}

std::string Ipv4Range::Text() const {
  return Ipv4Text(network) + "/" + std::to_string(prefix_length);
}

Ipv4Range ParseScanRange(const std::string& text) {
  const std::size_t slash = text.find('/');
  const std::string_view address_text = std::string_view(text).substr(0, slash);
  std::uint32_t address = 0;
  unsigned prefix = 32;
  if (!ParseAddress(address_text, address) ||
      (slash != std::string::npos &&
       (!ParseNumber(std::string_view(text).substr(slash + 1), 2, prefix) || prefix > 32)))
    throw ScanRangeError("'" + text + "' is not an IPv4 range such as 192.168.1.0/24");
  if (static_cast<int>(prefix) < kWidestScanPrefix)
    throw ScanRangeError("'" + text +
                         "' is wider than a /16; scan at most 65,536 addresses at once");
  const int length = static_cast<int>(prefix);
  return {address & Mask(length), length};
}

std::vector<std::uint32_t> RangeAddresses(const Ipv4Range& range) {
  const std::uint64_t count = std::uint64_t{1} << (32 - range.prefix_length);
  std::uint64_t first = range.network;
  std::uint64_t last = first + count - 1;
  if (count >= 4) {
    ++first;
    --last;
  }
  std::vector<std::uint32_t> addresses;
  addresses.reserve(static_cast<std::size_t>(last - first + 1));
  for (std::uint64_t a = first; a <= last; ++a) addresses.push_back(static_cast<std::uint32_t>(a));
  return addresses;
}

std::vector<Ipv4Range> HostSubnets(HostInterfaces& hosts, std::vector<std::string>* skipped) {
  std::string error;
  const auto adapters = hosts.Adapters(&error);
  if (!adapters) throw ScanRangeError("cannot list the network interfaces: " + error);
  std::vector<Ipv4Range> subnets;
  for (const AdapterInfo& a : *adapters) {
    if (!a.up || a.loopback || a.address.empty() || a.prefix_length < 0) continue;
    std::uint32_t address = 0;
    if (!ParseAddress(a.address, address)) continue;
    const Ipv4Range subnet{address & Mask(a.prefix_length), a.prefix_length};
    if (a.prefix_length < kWidestScanPrefix) {
      if (skipped) skipped->push_back(subnet.Text() + " (" + a.name + ")");
      continue;
    }
    const bool known = std::any_of(subnets.begin(), subnets.end(), [&](const Ipv4Range& r) {
      return r.network == subnet.network && r.prefix_length == subnet.prefix_length;
    });
    if (!known) subnets.push_back(subnet);
  }
  return subnets;
}

std::vector<std::string> ScanAddresses(const std::vector<Ipv4Range>& ranges) {
  std::vector<std::uint32_t> all;
  for (const Ipv4Range& r : ranges) {
    const auto part = RangeAddresses(r);
    all.insert(all.end(), part.begin(), part.end());
  }
  std::sort(all.begin(), all.end());
  all.erase(std::unique(all.begin(), all.end()), all.end());
  std::vector<std::string> texts;
  texts.reserve(all.size());
  for (std::uint32_t a : all) texts.push_back(Ipv4Text(a));
  return texts;
}

}  // namespace zvk
