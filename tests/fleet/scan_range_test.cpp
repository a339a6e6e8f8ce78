#include "fleet/scan_range.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_seams.h"

namespace zvk {
namespace {

TEST(ScanRange, ParsesRangesAndClearsHostBits) {
  struct Case {
    const char* text;
    const char* range;
  };
  const Case cases[] = {
      {"192.168.1.0/24", "192.168.1.0/24"}, {"192.168.1.77/24", "192.168.1.0/24"},
      {"10.20.0.0/16", "10.20.0.0/16"},     {"10.20.30.40/16", "10.20.0.0/16"},
      {"192.168.77.1", "192.168.77.1/32"},  {"127.0.0.8/29", "127.0.0.8/29"},
      {"192.168.1.3/31", "192.168.1.2/31"},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseScanRange(c.text).Text(), c.range) << c.text;
}

TEST(ScanRange, RefusesMalformedTextAndRangesWiderThanASlash16) {
  const char* refused[] = {"",           "192.168.1.0/",   "192.168.1/24", "192.168.1.0/33",
                           "256.1.1.1",  "1.2.3.4.5",      "a.b.c.d/24",   "192.168.1.0/-1",
                           "10.0.0.0/8", "0.0.0.0/0",      "10.0.0.0/15",  "192.168.1.0/24x",
                           "1..2.3",     " 192.168.1.0/24"};
  for (const char* text : refused) EXPECT_THROW(ParseScanRange(text), ScanRangeError) << text;
}

TEST(ScanRange, LeavesOutTheNetworkAndBroadcastAddressesOfASubnet) {
  struct Case {
    const char* range;
    std::size_t count;
    const char* first;
    const char* last;
  };
  const Case cases[] = {
      {"192.168.1.0/24", 254, "192.168.1.1", "192.168.1.254"},
      {"10.1.0.0/16", 65534, "10.1.0.1", "10.1.255.254"},
      {"127.0.0.8/30", 2, "127.0.0.9", "127.0.0.10"},
      {"127.0.0.8/31", 2, "127.0.0.8", "127.0.0.9"},
      {"192.168.77.1/32", 1, "192.168.77.1", "192.168.77.1"},
      {"255.255.255.0/24", 254, "255.255.255.1", "255.255.255.254"},
  };
  for (const Case& c : cases) {
    const auto addresses = RangeAddresses(ParseScanRange(c.range));
    ASSERT_EQ(addresses.size(), c.count) << c.range;
    EXPECT_EQ(Ipv4Text(addresses.front()), c.first) << c.range;
    EXPECT_EQ(Ipv4Text(addresses.back()), c.last) << c.range;
  }
}

TEST(ScanRange, OverlappingRangesGiveEachAddressOnceInOrder) {
  const auto addresses =
      ScanAddresses({ParseScanRange("127.0.0.4/30"), ParseScanRange("127.0.0.0/29"),
                     ParseScanRange("127.0.0.1")});
  EXPECT_EQ(addresses, (std::vector<std::string>{"127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.4",
                                                 "127.0.0.5", "127.0.0.6"}));
}

TEST(ScanRange, HostSubnetsAreThoseOfUpNonLoopbackInterfacesUpToASlash16) {
  test::FakeHostInterfaces hosts;
  AdapterInfo wlan{"wlan0", "192.168.1.23"};
  wlan.prefix_length = 24;
  AdapterInfo eth{"eth0", "192.168.1.5"};  // the same subnet: scanned once
  eth.prefix_length = 24;
  AdapterInfo lo{"lo", "127.0.0.1"};
  lo.prefix_length = 8;
  lo.loopback = true;
  AdapterInfo down{"eth1", "10.9.0.4"};
  down.prefix_length = 24;
  down.up = false;
  AdapterInfo wide{"eth2", "10.200.3.4"};
  wide.prefix_length = 8;
  AdapterInfo unknown{"tun0", "172.16.0.2"};  // no prefix length known
  AdapterInfo plant{"eth3", "172.20.5.9"};
  plant.prefix_length = 16;
  AdapterInfo no_address{"eth4", ""};
  no_address.prefix_length = 24;
  hosts.adapter_scans.push_back({wlan, eth, lo, down, wide, unknown, plant, no_address});

  std::vector<std::string> skipped;
  std::vector<std::string> subnets;
  for (const Ipv4Range& r : HostSubnets(hosts, &skipped)) subnets.push_back(r.Text());
  EXPECT_EQ(subnets, (std::vector<std::string>{"192.168.1.0/24", "172.20.0.0/16"}));
  EXPECT_EQ(skipped, (std::vector<std::string>{"10.0.0.0/8 (eth2)"}));
}

TEST(ScanRange, AFailedInterfaceQueryIsAnError) {
  test::FakeHostInterfaces hosts;
  hosts.adapter_query_fails = true;
  EXPECT_THROW(HostSubnets(hosts, nullptr), ScanRangeError);
}

}  // namespace
}  // namespace zvk
