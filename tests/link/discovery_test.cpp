// Finding the module among the host's interfaces, the supervision tick and the typed address.
#include "link/discovery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "link/exchange.h"
#include "link/wire.h"
#include "monitor/supervision.h"
#include "support/rig.h"

namespace zvk {
namespace {

using test::FakeHostInterfaces;
using test::Logged;
using test::Rig;

struct ScanCase {
  const char* name;
  std::vector<std::vector<AdapterInfo>> adapter_scans;
  std::vector<std::vector<WirelessInterface>> wireless_scans;
  std::string prefix;
  bool selected;
  const char* label4;
  // What the main window says about it beyond Label4: why, and how to go on.
  std::string note;
};

void PrintTo(const ScanCase& c, std::ostream* os) {
  *os << c.name;
}

class SelectDeviceTest : public ::testing::TestWithParam<ScanCase> {};

TEST_P(SelectDeviceTest, MatchesConnectedWirelessInterfacesInTheSubnet) {
  const ScanCase& c = GetParam();
  Rig rig({.model = std::nullopt, .skip_wifi_check = false});
  FakeHostInterfaces& hosts = *rig.fake_hosts;
  hosts.adapter_scans.assign(c.adapter_scans.begin(), c.adapter_scans.end());
  hosts.wireless_scans.assign(c.wireless_scans.begin(), c.wireless_scans.end());
  App& app = *rig.app;
  app.discovery.SubnetPrefix = c.prefix;
  app.device.Identified = true;
  rig.form().location_text.caption = "Locate: bench";
  rig.form().thermistor_group.visible = true;

  EXPECT_EQ(SelectDevice(app.link), c.selected);
  EXPECT_EQ(WifiCheckNote(app), c.note);
  if (c.selected) {
    EXPECT_EQ(rig.form().link_bar.panels[1], "IP: 127.0.0.1");
    EXPECT_TRUE(app.device.Identified);
    EXPECT_EQ(hosts.scans, 1);
    return;
  }
  EXPECT_EQ(hosts.scans, 2);
  EXPECT_EQ(rig.form().module_state.caption, c.label4);
  EXPECT_EQ(rig.form().module_state.color, kRed);
  EXPECT_EQ(rig.form().location_text.caption, "");
  EXPECT_FALSE(app.device.Identified);
  // Only "not found" resets the display.
  EXPECT_EQ(rig.form().thermistor_group.visible, std::string(c.label4) != "Device not found!!");
  EXPECT_EQ(rig.network.connects, 0);
}

const AdapterInfo kWlan{"wlan0", "192.168.77.23"};
const AdapterInfo kEth{"eth0", "192.168.77.5"};
const std::string kHow = "\nWired or routed network: start with --skip-wifi-check --host 127.0.0.1";

INSTANTIATE_TEST_SUITE_P(
    Scans, SelectDeviceTest,
    ::testing::Values(
        ScanCase{"WifiAndEthernetInSubnet",
                 {{kWlan, kEth}},
                 {{{"wlan0", true}}},
                 "192.168.77.",
                 true,
                 "",
                 ""},
        ScanCase{"EthernetOnlyNeverMatches",
                 {{kEth}},
                 {{{"eth0", false}}},
                 "192.168.77.",
                 false,
                 "Device not found!!",
                 "The Wi-Fi interface of this computer in 192.168.77.x is not connected" + kHow},
        ScanCase{"DeskComputerByCable",
                 {{kEth}},
                 {{}},
                 "192.168.77.",
                 false,
                 "Device not found!!",
                 "Only a wired interface of this computer is in 192.168.77.x" + kHow},
        ScanCase{"TwoWifiInSubnet",
                 {{kWlan, {"wlan1", "192.168.77.40"}}},
                 {{{"wlan0", true}, {"wlan1", true}}},
                 "192.168.77.",
                 false,
                 "Same multiple IP found!!",
                 "More than one Wi-Fi interface of this computer is in 192.168.77.x" + kHow},
        ScanCase{
            "SecondScanFindsOne",
            {{}, {kWlan}},
            {{{"wlan0", true}}},
            "192.168.77.",
            false,
            "Same multiple IP found!!",
            "A Wi-Fi interface of this computer came up in 192.168.77.x during the check" + kHow},
        ScanCase{"WifiDown",
                 {{kWlan}},
                 {{{"wlan0", false}}},
                 "192.168.77.",
                 false,
                 "Device not found!!",
                 "The Wi-Fi interface of this computer in 192.168.77.x is not connected" + kHow},
        ScanCase{"PrefixIsComparedByCharacters",
                 {{{"wlan0", "192.168.77.5"}}},
                 {{{"wlan0", true}}},
                 "192.168.7.",
                 false,
                 "Device not found!!",
                 "No Wi-Fi interface of this computer is in 192.168.7.x" + kHow},
        ScanCase{"LongerAddressInPrefix",
                 {{{"wlan0", "192.168.77.123"}}},
                 {{{"wlan0", true}}},
                 "192.168.77.",
                 true,
                 "",
                 ""},
        ScanCase{"NoAdapters",
                 {{}},
                 {{}},
                 "192.168.77.",
                 false,
                 "Device not found!!",
                 "No Wi-Fi interface of this computer is in 192.168.77.x" + kHow}),
    [](const auto& info) { return info.param.name; });

TEST(ScanAdapters, ListsGrowPastTwentyEntries) {
  Rig rig({.model = std::nullopt, .skip_wifi_check = false});
  std::vector<AdapterInfo> adapters;
  std::vector<WirelessInterface> wireless;
  for (int i = 0; i < 30; ++i) {
    adapters.push_back({"if" + std::to_string(i), "10.1.1." + std::to_string(i)});
    wireless.push_back({"if" + std::to_string(i), i == 27});
  }
  adapters[27].address = "192.168.77.9";
  rig.fake_hosts->adapter_scans = {adapters};
  rig.fake_hosts->wireless_scans = {wireless};
  EXPECT_EQ(ScanAdapters(rig.app->link), 1);
}

TEST(ScanAdapters, FailedAdapterQueryCountsAsNoAdaptersAndIsLogged) {
  Rig rig({.model = std::nullopt, .skip_wifi_check = false});
  rig.fake_hosts->adapter_query_fails = true;
  EXPECT_EQ(ScanAdapters(rig.app->link), 0);
  EXPECT_TRUE(Logged(*rig.app, "Adapter query failed: adapter query failed"));
}

TEST(ScanAdapters, FailedWirelessQueryKeepsThePreviousList) {
  Rig rig({.model = std::nullopt, .skip_wifi_check = false});
  EXPECT_EQ(ScanAdapters(rig.app->link), 1);
  rig.fake_hosts->wireless_fails = true;
  EXPECT_EQ(ScanAdapters(rig.app->link), 1);
}

TEST(ScanAdapters, SkippedCheckCountsOneMatchWithoutScanning) {
  Rig rig({.model = std::nullopt, .skip_wifi_check = true});
  EXPECT_EQ(ScanAdapters(rig.app->link), 1);
  EXPECT_EQ(rig.fake_hosts->scans, 0);
}

struct StaticIpCase {
  const char* typed;
  bool accepted;
  const char* prefix;
  const char* error;
};

void PrintTo(const StaticIpCase& c, std::ostream* os) {
  *os << '"' << c.typed << '"';
}

class ApplyStaticIpTest : public ::testing::TestWithParam<StaticIpCase> {};

TEST_P(ApplyStaticIpTest, SetsHostAndPrefixOrChangesNothing) {
  const StaticIpCase& c = GetParam();
  Rig rig({.model = std::nullopt, .skip_wifi_check = false});
  App& app = *rig.app;
  app.link.DeviceHost = wire::kDefaultHost;
  rig.form().device_ip.text = c.typed;
  EXPECT_EQ(ApplyStaticIp(app, rig.form()), c.accepted);
  if (c.accepted) {
    EXPECT_EQ(app.link.DeviceHost, c.typed);
    EXPECT_EQ(app.discovery.SubnetPrefix, c.prefix);
    EXPECT_EQ(app.Status(), std::string("Change IP => ") + c.typed);
    EXPECT_GE(rig.fake_hosts->scans, 1);  // SelectDevice ran
    EXPECT_TRUE(rig.dialogs.errors.empty());
  } else {
    EXPECT_EQ(app.link.DeviceHost, "192.168.77.1");
    EXPECT_EQ(app.discovery.SubnetPrefix, "192.168.77.");
    EXPECT_EQ(app.Status(), "");
    EXPECT_EQ(rig.dialogs.errors, std::vector<std::string>{c.error});
  }
}

INSTANTIATE_TEST_SUITE_P(
    Typed, ApplyStaticIpTest,
    ::testing::Values(StaticIpCase{"10.0.0.50", true, "10.0.0.", ""},
                      StaticIpCase{"10.0.0.5.7", true, "10.0.0.", ""},
                      StaticIpCase{"192.168.077.1", true, "192.168.077.", ""},
                      StaticIpCase{"10.0.0.", false, "", "'' is not a valid integer value"},
                      StaticIpCase{"10.0.0", false, "", "'' is not a valid integer value"},
                      StaticIpCase{"10.x.0.1", false, "", "'x' is not a valid integer value"},
                      StaticIpCase{"", false, "", "'' is not a valid integer value"}));

TEST(StaticIpButton, UnreachableAddressResetsTheDisplayAndEndsInConnectTimeout) {
  Rig rig({.model = std::nullopt});
  App& app = *rig.app;
  rig.Start();
  rig.form().analog_group.visible = true;
  rig.form().device_ip.text = "127.0.0.1";
  rig.window->SpeedButton5Click();
  EXPECT_FALSE(rig.form().analog_group.visible);
  EXPECT_EQ(app.link.QueuedCommand, wire::CMD_GET_DEVICE);
  rig.Timer3();
  EXPECT_EQ(app.Status(), "Connect Timeout");

  rig.form().device_ip.text = "10.0.0.";
  rig.form().analog_group.visible = true;
  rig.window->SpeedButton5Click();
  EXPECT_TRUE(rig.form().analog_group.visible);  // nothing after the conversion error ran
  EXPECT_EQ(app.link.QueuedCommand, 0);
}

TEST(Supervision, AsksForTheIdentityUntilIdentifiedThenPolls) {
  Rig rig({.model = sim::Model::Qn6});
  App& app = *rig.app;
  app.discovery.PollingEnabled = true;
  app.discovery.SupervisionTicks = 30;
  rig.Timer3();
  EXPECT_TRUE(Logged(app, "Re-Get Device.."));
  EXPECT_TRUE(app.device.Identified);
  EXPECT_EQ(app.discovery.SupervisionTicks, 0);

  app.discovery.SupervisionTicks = 30;
  rig.Timer3();
  ASSERT_EQ(rig.Frames().size(), 2u);
  EXPECT_EQ(rig.Frames()[1], (std::vector<std::uint8_t>{0x5A, 0x35, 0x77, 0xA5, 0xD8}));
}

TEST(Supervision, PendingCommandIsClearedAndNothingPolledOnThatTick) {
  Rig rig({.model = sim::Model::Qn6});
  App& app = *rig.app;
  app.discovery.PollingEnabled = true;
  app.device.Identified = true;
  app.link.PendingCommand = wire::CMD_SET_WIFI_MODE;
  app.discovery.SupervisionTicks = 30;
  rig.Timer3();
  EXPECT_EQ(app.link.PendingCommand, 0);
  EXPECT_TRUE(rig.Frames().empty());
  EXPECT_EQ(app.discovery.SupervisionTicks, 0);
  // The next supervision tick, 31 ticks later, polls.
  rig.Timer3(30);
  EXPECT_TRUE(rig.Frames().empty());
  rig.Timer3();
  EXPECT_EQ(rig.Frames().size(), 1u);
}

TEST(Supervision, BusyLinkKeepsTheNextTickASupervisionTick) {
  Rig rig({.model = sim::Model::Qn6});
  App& app = *rig.app;
  app.discovery.PollingEnabled = true;
  app.device.Identified = true;
  app.discovery.SupervisionTicks = 30;
  app.link.LinkBusy = true;  // an exchange of another issuer is waiting
  rig.Timer3();
  EXPECT_EQ(app.discovery.SupervisionTicks, 30);
  EXPECT_TRUE(rig.window->Timer3Enabled());
  app.link.LinkBusy = false;
  rig.Timer3();
  EXPECT_EQ(app.discovery.SupervisionTicks, 0);
  EXPECT_EQ(rig.Frames().size(), 1u);
}

TEST(Supervision, ModuleLostClearsIdentified) {
  Rig rig({.model = std::nullopt, .skip_wifi_check = false});
  App& app = *rig.app;
  app.device.Identified = true;
  rig.fake_hosts->adapter_scans = {{}};
  app.discovery.SupervisionTicks = 30;
  rig.Timer3();
  EXPECT_FALSE(app.device.Identified);
  EXPECT_EQ(rig.form().module_state.caption, "Device not found!!");
  EXPECT_EQ(rig.network.connects, 0);
}

}  // namespace
}  // namespace zvk
