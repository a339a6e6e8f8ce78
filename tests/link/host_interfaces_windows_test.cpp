// The Windows host-interface reader: its decisions over a fake of the Windows calls (on every
// platform), and the real calls where they exist.
#include "link/host_interfaces_windows.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "support/interface_lists.h"

namespace zvk {
namespace {

using test::Adapters;
using test::Flat;
using test::Wifi;

struct AdapterAnswer {
  std::uint32_t code;
  std::uint32_t needed = 0;
  std::vector<WinAdapter> adapters;
};

// Answers the calls from a script and records what was asked.
struct FakeCalls {
  std::deque<AdapterAnswer> adapter_answers;  // the last one repeats
  std::vector<std::uint32_t> buffer_sizes;
  std::uint32_t wlan_code = kWinNoError;
  std::vector<WinWlanInterface> wlan;
};

class FakeWindowsNetApi final : public WindowsNetApi {
 public:
  explicit FakeWindowsNetApi(FakeCalls& calls) : calls_(calls) {}
  std::uint32_t QueryAdapters(std::uint32_t buffer_size, std::uint32_t* needed,
                              std::vector<WinAdapter>* adapters) override {
    calls_.buffer_sizes.push_back(buffer_size);
    const AdapterAnswer answer = calls_.adapter_answers.front();
    if (calls_.adapter_answers.size() > 1) calls_.adapter_answers.pop_front();
    if (answer.code == kWinBufferOverflow) *needed = answer.needed;
    if (answer.code == kWinNoError) *adapters = answer.adapters;
    return answer.code;
  }
  std::string MessageFor(std::uint32_t code) override {
    return "system text for " + std::to_string(code);
  }
  std::uint32_t QueryWlanInterfaces(std::vector<WinWlanInterface>* interfaces) override {
    if (calls_.wlan_code == kWinNoError) *interfaces = calls_.wlan;
    return calls_.wlan_code;
  }

 private:
  FakeCalls& calls_;
};

// The GUID of the adapter list's "{4D36E972-E325-11CE-BFC1-08002BE10318}".
const WinGuid kWifiGuid{
    0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
const WinGuid kOtherGuid{0x0000ABCD, 0x0001, 0x0A0B, {0, 1, 2, 3, 4, 5, 6, 0xFF}};

TEST(WindowsHostInterfaces, GuidTextIsTheAdapterListsForm) {
  EXPECT_EQ(GuidText(kWifiGuid), "{4D36E972-E325-11CE-BFC1-08002BE10318}");
  EXPECT_EQ(GuidText(kOtherGuid), "{0000ABCD-0001-0A0B-0001-0203040506FF}");  // zero-padded
}

TEST(WindowsHostInterfaces, AdapterQueryOutcomes) {
  const std::vector<WinAdapter> listed = {
      {"{4d36e972-e325-11ce-bfc1-08002be10318}", "192.168.77.23"},
      {"{0000ABCD-0001-0A0B-0001-0203040506FF}", ""}};
  const Adapters expected = {{"{4D36E972-E325-11CE-BFC1-08002BE10318}", "192.168.77.23"},
                             {"{0000ABCD-0001-0A0B-0001-0203040506FF}", ""}};
  struct Case {
    const char* what;
    std::deque<AdapterAnswer> answers;
    std::optional<Adapters> adapters;
    std::string error;
    std::vector<std::uint32_t> sizes;
  };
  const Case cases[] = {
      {"listed at once", {{kWinNoError, 0, listed}}, expected, "", {15000}},
      {"buffer grown to the size asked",
       {{kWinBufferOverflow, 20000}, {kWinBufferOverflow, 26000}, {kWinNoError, 0, listed}},
       expected,
       "",
       {15000, 20000, 26000}},
      {"still too small after three queries",
       {{kWinBufferOverflow, 40000}},
       std::nullopt,
       "system text for 111",
       {15000, 40000, 40000}},
      {"no adapters at all", {{kWinNoData}}, Adapters{}, "", {15000}},
      {"query failed", {{87}}, std::nullopt, "system text for 87", {15000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeCalls calls;
    calls.adapter_answers = c.answers;
    WindowsHostInterfaces hosts(std::make_unique<FakeWindowsNetApi>(calls));
    std::string error;
    const auto adapters = hosts.Adapters(&error);
    ASSERT_EQ(adapters.has_value(), c.adapters.has_value());
    if (adapters) {
      EXPECT_EQ(Flat(*adapters), *c.adapters);
    }
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(calls.buffer_sizes, c.sizes);
  }
}

TEST(WindowsHostInterfaces, WirelessQueryOutcomes) {
  FakeCalls calls;
  WindowsHostInterfaces hosts(std::make_unique<FakeWindowsNetApi>(calls));

  // The service is not running, or there is no Wi-Fi hardware: the question has no answer.
  for (std::uint32_t code : {1062u /* service not active */, 5u /* access denied */}) {
    calls.wlan_code = code;
    EXPECT_FALSE(hosts.Wireless().has_value()) << code;
  }
  calls.wlan_code = kWinNoError;
  ASSERT_TRUE(hosts.Wireless().has_value());
  EXPECT_TRUE(hosts.Wireless()->empty());

  // Only the connected state counts: not associating, authenticating or disconnecting.
  calls.wlan = {{kWifiGuid, kWlanStateConnected},
                {kOtherGuid, 5},
                {kOtherGuid, 7},
                {kOtherGuid, 3},
                {kOtherGuid, 4}};
  const std::string other = GuidText(kOtherGuid);
  EXPECT_EQ(Flat(hosts.Wireless()), (Wifi{{"{4D36E972-E325-11CE-BFC1-08002BE10318}", true},
                                          {other, false},
                                          {other, false},
                                          {other, false},
                                          {other, false}}));
}

// The module is found by pairing an adapter with a wireless interface by identifier: the adapter
// list's name and the Wi-Fi API's GUID of one device must come out as the same text.
TEST(WindowsHostInterfaces, AdapterAndItsWirelessInterfaceShareTheIdentifier) {
  for (const char* reported :
       {"{4D36E972-E325-11CE-BFC1-08002BE10318}", "{4d36e972-e325-11ce-bfc1-08002be10318}"}) {
    SCOPED_TRACE(reported);
    FakeCalls calls;
    calls.adapter_answers = {{kWinNoError, 0, {{reported, "192.168.77.23"}}}};
    calls.wlan = {{kWifiGuid, kWlanStateConnected}};
    WindowsHostInterfaces hosts(std::make_unique<FakeWindowsNetApi>(calls));
    std::string error;
    EXPECT_EQ(hosts.Adapters(&error).value().at(0).name, hosts.Wireless().value().at(0).id);
  }
}

// The scan's default ranges come from each adapter's prefix length and state.
TEST(WindowsHostInterfaces, AdaptersKeepPrefixLengthStateAndLoopback) {
  FakeCalls calls;
  WinAdapter wifi{"{A}", "192.168.1.23", 24, true, false};
  WinAdapter down{"{B}", "10.0.0.2", 16, false, false};
  WinAdapter loopback{"{C}", "127.0.0.1", 8, true, true};
  calls.adapter_answers = {{kWinNoError, 0, {wifi, down, loopback}}};
  WindowsHostInterfaces hosts(std::make_unique<FakeWindowsNetApi>(calls));
  std::string error;
  const std::vector<AdapterInfo> adapters = hosts.Adapters(&error).value();
  ASSERT_EQ(adapters.size(), 3u);
  EXPECT_EQ(adapters[0].prefix_length, 24);
  EXPECT_TRUE(adapters[0].up);
  EXPECT_FALSE(adapters[1].up);
  EXPECT_EQ(adapters[1].prefix_length, 16);
  EXPECT_TRUE(adapters[2].loopback);
  EXPECT_FALSE(adapters[0].loopback);
}

#ifdef _WIN32
// The real calls. Under wine the adapter list works and the Wi-Fi API lists no interface; on a
// Windows machine without the Wi-Fi service it cannot be opened.
TEST(WindowsHostInterfacesSystem, ListsAdaptersAndWirelessInterfacesInTheGuidForm) {
  const std::regex guid(R"(\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\})");
  const std::regex dotted(R"((\d{1,3}\.){3}\d{1,3})");
  std::unique_ptr<HostInterfaces> hosts = MakePlatformHostInterfaces();
  std::string error;
  const auto adapters = hosts->Adapters(&error);
  ASSERT_TRUE(adapters.has_value()) << error;
  EXPECT_FALSE(adapters->empty()) << "not even the loopback interface";
  for (const AdapterInfo& a : *adapters) {
    EXPECT_TRUE(std::regex_match(a.name, guid)) << a.name;
    EXPECT_TRUE(a.address.empty() || std::regex_match(a.address, dotted)) << a.address;
  }
  if (const auto wireless = hosts->Wireless()) {
    for (const WirelessInterface& w : *wireless) EXPECT_TRUE(std::regex_match(w.id, guid)) << w.id;
  }
}

// A Windows without the wireless service has no Native Wi-Fi library: the adapters are still
// listed, and the wireless scan fails as with the service stopped (no list), again and again.
TEST(WindowsHostInterfacesSystem, NoWifiLibraryIsTheServiceUnavailable) {
  WindowsHostInterfaces hosts(MakeSystemWindowsNetApi(L"zvk-no-such-wlanapi.dll"));
  std::string error;
  const auto adapters = hosts.Adapters(&error);
  ASSERT_TRUE(adapters.has_value()) << error;
  EXPECT_FALSE(adapters->empty());
  EXPECT_FALSE(hosts.Wireless().has_value());
  EXPECT_FALSE(hosts.Wireless().has_value());
}
#endif

}  // namespace
}  // namespace zvk
