#ifndef _WIN32

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "link/host_interfaces_linux.h"
#include "support/interface_lists.h"

namespace zvk {

namespace {

namespace fs = std::filesystem;

using test::Adapters;
using test::Flat;
using test::Wifi;

// A throwaway /sys/class/net look-alike.
class SysfsNet : public testing::Test {
 protected:
  void SetUp() override {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    root_ = fs::temp_directory_path() /
            ("zvk_sysfs_" + std::to_string(::getpid()) + "_" + info->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  // `marker` is "wireless", "phy80211" or empty for a wired interface.
  void AddInterface(const std::string& name, const std::string& marker,
                    const std::string& operstate) {
    fs::create_directories(root_ / name);
    if (!marker.empty()) fs::create_directories(root_ / name / marker);
    std::ofstream(root_ / name / "operstate") << operstate;
  }

  LinuxHostInterfaces Hosts(std::vector<AdapterInfo> adapters) {
    return LinuxHostInterfaces(root_.string(), [adapters](std::string*) { return adapters; });
  }

  fs::path root_;
};

TEST_F(SysfsNet, OneWifiUpBesideWiredAdapterOnSameSubnet) {
  AddInterface("wlan0", "wireless", "up\n");
  AddInterface("eth0", "", "up\n");
  AddInterface("lo", "", "unknown\n");
  const std::vector<AdapterInfo> adapters = {{"wlan0", "192.168.77.23"}, {"eth0", "192.168.77.5"}};
  LinuxHostInterfaces hosts = Hosts(adapters);

  std::string error;
  EXPECT_EQ(Flat(hosts.Adapters(&error)), Flat(adapters));
  EXPECT_EQ(Flat(hosts.Wireless()), (Wifi{{"wlan0", true}}));
  EXPECT_FALSE(hosts.FixedMatchCount().has_value());
}

TEST_F(SysfsNet, WifiInterfacesAreFoundByEitherMarkerAndSortedByName) {
  AddInterface("wlp3s0", "wireless", "up\n");
  AddInterface("wlan1", "phy80211", "up");
  AddInterface("enp0s31f6", "", "down\n");
  LinuxHostInterfaces hosts = Hosts({{"wlp3s0", "192.168.77.20"}, {"wlan1", "192.168.77.21"}});

  EXPECT_EQ(Flat(hosts.Wireless()), (Wifi{{"wlan1", true}, {"wlp3s0", true}}));
}

TEST_F(SysfsNet, OnlyOperstateUpCountsAsConnected) {
  AddInterface("wlan0", "wireless", "down\n");
  AddInterface("wlan1", "wireless", "dormant\n");
  AddInterface("wlan2", "wireless", "  up \n");
  AddInterface("wlan3", "wireless", "upper\n");
  fs::create_directories(root_ / "wlan4" / "wireless");  // no operstate file at all

  EXPECT_EQ(Flat(Hosts({}).Wireless()), (Wifi{{"wlan0", false},
                                              {"wlan1", false},
                                              {"wlan2", true},
                                              {"wlan3", false},
                                              {"wlan4", false}}));
}

TEST_F(SysfsNet, EmptyRootAndNoAdaptersGiveEmptyLists) {
  std::ofstream(root_ / "bonding_masters") << "\n";  // plain files are not interfaces
  LinuxHostInterfaces hosts = Hosts({});
  std::string error;
  EXPECT_EQ(Flat(hosts.Adapters(&error)), Adapters{});
  EXPECT_EQ(Flat(hosts.Wireless()), Wifi{});
}

TEST_F(SysfsNet, MissingRootMeansNoWirelessService) {
  LinuxHostInterfaces hosts((root_ / "absent").string(),
                            [](std::string*) { return std::vector<AdapterInfo>{}; });
  EXPECT_FALSE(hosts.Wireless().has_value());
}

TEST_F(SysfsNet, AdapterQueryFailurePassesTheReasonThrough) {
  LinuxHostInterfaces hosts(root_.string(),
                            [](std::string* error) -> std::optional<std::vector<AdapterInfo>> {
                              *error = "Too many open files";
                              return std::nullopt;
                            });
  std::string error;
  EXPECT_FALSE(hosts.Adapters(&error).has_value());
  EXPECT_EQ(error, "Too many open files");
}

// Builds a getifaddrs-shaped list in the order entries are added.
class IfaddrsList {
 public:
  void Add(const char* name, const char* ipv4) {
    sockaddr_in& sin = v4_.emplace_back();
    sin.sin_family = AF_INET;
    ::inet_pton(AF_INET, ipv4, &sin.sin_addr);
    Link(name, reinterpret_cast<sockaddr*>(&sin));
  }
  void AddIpv6(const char* name) {
    sockaddr_in6& sin6 = v6_.emplace_back();
    sin6.sin6_family = AF_INET6;
    Link(name, reinterpret_cast<sockaddr*>(&sin6));
  }
  // An address with its netmask and interface flags, as the scan's default ranges need them.
  void AddWithMask(const char* name, const char* ipv4, const char* mask, unsigned flags) {
    Add(name, ipv4);
    sockaddr_in& m = v4_.emplace_back();
    m.sin_family = AF_INET;
    ::inet_pton(AF_INET, mask, &m.sin_addr);
    nodes_.back().ifa_netmask = reinterpret_cast<sockaddr*>(&m);
    nodes_.back().ifa_flags = flags;
  }
  void AddWithoutAddress(const char* name) { Link(name, nullptr); }
  const ifaddrs* head() const { return nodes_.empty() ? nullptr : &nodes_.front(); }

 private:
  void Link(const char* name, sockaddr* addr) {
    ifaddrs& node = nodes_.emplace_back();
    node.ifa_name = const_cast<char*>(name);
    node.ifa_addr = addr;
    if (nodes_.size() > 1) nodes_[nodes_.size() - 2].ifa_next = &node;
  }
  std::deque<ifaddrs> nodes_;  // deque: links stay valid as entries are added
  std::deque<sockaddr_in> v4_;
  std::deque<sockaddr_in6> v6_;
};

TEST(Ipv4AdaptersFromList, KeepsHostOrderAndFirstIpv4AddressPerName) {
  IfaddrsList list;
  list.AddWithoutAddress("tun0");
  list.AddIpv6("wlan0");
  list.Add("wlan0", "192.168.77.23");
  list.Add("eth0", "192.168.77.5");
  list.Add("wlan0", "10.1.2.3");  // secondary address
  list.AddIpv6("eth1");           // IPv6 only: not an IPv4 adapter
  list.Add("lo", "127.0.0.1");

  EXPECT_EQ(Flat(Ipv4AdaptersFromList(list.head())),
            (Adapters{{"wlan0", "192.168.77.23"}, {"eth0", "192.168.77.5"}, {"lo", "127.0.0.1"}}));
  EXPECT_EQ(Flat(Ipv4AdaptersFromList(nullptr)), Adapters{});
}

TEST(Ipv4AdaptersFromList, ReadsPrefixLengthAndStateOfTheFirstAddress) {
  IfaddrsList list;
  list.AddWithMask("wlan0", "192.168.1.23", "255.255.255.0", IFF_UP | IFF_RUNNING);
  list.AddWithMask("eth0", "10.1.2.3", "255.255.0.0", 0);
  list.AddWithMask("lo", "127.0.0.1", "255.0.0.0", IFF_UP | IFF_LOOPBACK);
  list.AddWithMask("odd0", "172.16.0.1", "255.0.255.0", IFF_UP);  // not a prefix
  list.Add("tun0", "10.8.0.1");                                   // no netmask reported
  struct Expected {
    const char* name;
    int prefix_length;
    bool up;
    bool loopback;
  };
  const Expected expected[] = {{"wlan0", 24, true, false},
                               {"eth0", 16, false, false},
                               {"lo", 8, true, true},
                               {"odd0", -1, true, false},
                               {"tun0", -1, false, false}};
  const std::vector<AdapterInfo> adapters = Ipv4AdaptersFromList(list.head());
  ASSERT_EQ(adapters.size(), std::size(expected));
  for (std::size_t i = 0; i < adapters.size(); ++i) {
    EXPECT_EQ(adapters[i].name, expected[i].name);
    EXPECT_EQ(adapters[i].prefix_length, expected[i].prefix_length) << expected[i].name;
    EXPECT_EQ(adapters[i].up, expected[i].up) << expected[i].name;
    EXPECT_EQ(adapters[i].loopback, expected[i].loopback) << expected[i].name;
  }
}

TEST(Getifaddrs, ListsEachIpv4InterfaceOnceWithDottedAddress) {
  std::string error;
  auto adapters = ListIpv4AdaptersFromGetifaddrs(&error);
  ASSERT_TRUE(adapters.has_value()) << error;
  for (const AdapterInfo& a : *adapters) {
    EXPECT_FALSE(a.name.empty());
    EXPECT_EQ(std::count_if(adapters->begin(), adapters->end(),
                            [&](const AdapterInfo& b) { return b.name == a.name; }),
              1)
        << a.name;
    EXPECT_EQ(std::count(a.address.begin(), a.address.end(), '.'), 3) << a.address;
  }
  auto lo = std::find_if(adapters->begin(), adapters->end(),
                         [](const AdapterInfo& a) { return a.name == "lo"; });
  if (lo != adapters->end()) {
    EXPECT_EQ(lo->address, "127.0.0.1");
    EXPECT_TRUE(lo->loopback);
    EXPECT_EQ(lo->prefix_length, 8);
  }

  std::unique_ptr<HostInterfaces> platform = MakePlatformHostInterfaces();
  EXPECT_EQ(Flat(platform->Adapters(&error)), Flat(*adapters));
}

}  // namespace
}  // namespace zvk

#endif  // _WIN32
