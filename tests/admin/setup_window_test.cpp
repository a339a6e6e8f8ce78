// The setup window end to end against the simulator: what it shows of the module, the input
// checks, questions, files, frames, waits, log lines and result boxes of every action.
#include "admin/setup_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "admin/remote_files.h"
#include "admin/setup_input.h"
#include "link/exchange.h"
#include "link/wire.h"
#include "sim/fault_list.h"
#include "state/app.h"
#include "support/rig.h"

namespace zvk {
namespace {

using test::Box;
using test::Rig;
using test::RigOptions;
using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

Bytes Of(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

// A running utility whose module has described itself, with the setup window open and the
// records of the start-up cleared.
class SetupRig : public Rig {
 public:
  explicit SetupRig(RigOptions options = {}) : Rig(options) {
    Start();
    if (sim) {
      EXPECT_TRUE(TickUntilIdentified());
    }
    OpenSetupWindow();
    if (sim) sim->ClearFrames();
    dialogs.boxes.clear();
    app->log_lines.clear();
    sleeper.sleeps.clear();
  }

  SetupForm& f() { return setup->form; }

  // Clicks a picture button and waits until the simulator has taken in every file content.
  void Click(Button& button) {
    button.UserClick();
    if (!sim) return;
    const auto frames = sim->Frames();
    const auto announces = std::count_if(frames.begin(), frames.end(), [](const Bytes& f) {
      return f.size() > 4 && f[4] == wire::CMD_WRITE_FILE;
    });
    EXPECT_TRUE(sim->WaitForStreams(static_cast<std::size_t>(announces), std::chrono::seconds(5)));
  }

  // The command codes of the frames the module received, in order.
  Bytes Codes() const {
    Bytes codes;
    for (const Bytes& frame : sim->Frames()) codes.push_back(frame.size() > 4 ? frame[4] : 0);
    return codes;
  }
  std::vector<std::string> Captions() const {
    std::vector<std::string> captions;
    for (const Box& box : dialogs.boxes) captions.push_back(box.caption);
    return captions;
  }
  const Box& LastBox() const { return dialogs.boxes.back(); }
};

constexpr const char* kSsidRules =
    "    . SSID must less then 31 chars.\n    . Key must around chars  8~14.\n"
    "    . If Open type selected, Key can be ignore.";

// ---- showing the module's settings ----

TEST(SetupWindow, ActivationShowsWhatTheModuleReported) {
  SetupRig rig;
  SetupForm& f = rig.f();
  EXPECT_EQ(f.Caption, "zVK.Setup");
  EXPECT_EQ(f.ap_ssid.text, "zVK-Analog-0001");
  EXPECT_TRUE(f.ap_key_open.checked());
  EXPECT_EQ(f.station_ssid.text, "");
  EXPECT_TRUE(f.station_key_open.checked());
  EXPECT_EQ(f.location.text, "Lab bench 1");
  EXPECT_EQ(f.modbus_port.text, "502");
  EXPECT_EQ(f.modbus_timeout.text, "120");
  EXPECT_TRUE(f.wifi_mode_ap.checked());  // the module runs its access point
  // Static IP off: its controls disabled, IP and gateway empty, the mask keeps its text.
  EXPECT_FALSE(f.static_ip.checked());
  for (const Label* label :
       {&f.static_ip_address_label, &f.static_ip_mask_label, &f.static_ip_gateway_label})
    EXPECT_FALSE(label->enabled);
  for (const Edit* edit : {&f.static_ip_address, &f.static_ip_mask, &f.static_ip_gateway})
    EXPECT_FALSE(edit->enabled);
  EXPECT_EQ(f.static_ip_address.text, "");
  EXPECT_EQ(f.static_ip_mask.text, "255.255.255.0");
  EXPECT_EQ(f.static_ip_gateway.text, "");
  EXPECT_EQ(f.gauge.progress, 0);
  EXPECT_FALSE(rig.app->discovery.PollingEnabled);
}

TEST(SetupWindow, ActivationShowsKeyTypesStaticIpAndStationMode) {
  SetupRig rig;
  DeviceConfig& d = rig.app->device;
  d.DevApKeyType = 2;
  d.DevStaKeyType = 1;
  d.DevStaSsid = "Caf\xE9";  // the module's 8-bit bytes
  d.DevWifiMode = 0;
  d.DevStaticIpEnabled = true;
  d.DevStaticIp = {10, 0, 0, 7};
  d.DevSubnetMask = {255, 255, 0, 0};
  d.DevGateway = {10, 0, 0, 1};
  SetupForm& f = rig.f();
  f.ap_key.text = "typed key";
  f.station_key.text = "typed too";
  rig.setup->FormActivate();
  EXPECT_TRUE(f.ap_key_wpa.checked());
  EXPECT_EQ(f.ap_key.text, "typed key");  // keys are never shown, only kept as typed
  EXPECT_TRUE(f.station_key_wep.checked());
  EXPECT_EQ(f.station_key.text, "typed too");
  EXPECT_EQ(f.station_ssid.text, "Caf\u00E9");
  EXPECT_TRUE(f.wifi_mode_station.checked());
  EXPECT_TRUE(f.static_ip.checked());
  EXPECT_TRUE(f.static_ip_address.enabled);
  EXPECT_EQ(f.static_ip_address.text, "10.0.0.7");
  EXPECT_EQ(f.static_ip_mask.text, "255.255.0.0");
  EXPECT_EQ(f.static_ip_gateway.text, "10.0.0.1");

  d.DevStaKeyType = 7;
  d.DevApKeyType = 0;
  rig.setup->FormActivate();
  EXPECT_TRUE(f.station_key_wpa.checked());
  EXPECT_TRUE(f.ap_key_open.checked());
  EXPECT_EQ(f.ap_key.text, "");
}

TEST(SetupWindow, StaticIpCheckBoxEnablesItsControls) {
  SetupRig rig;
  SetupForm& f = rig.f();
  f.static_ip.UserClick();
  EXPECT_TRUE(f.static_ip_address_label.enabled && f.static_ip_mask_label.enabled &&
              f.static_ip_gateway_label.enabled);
  EXPECT_TRUE(f.static_ip_address.enabled && f.static_ip_mask.enabled &&
              f.static_ip_gateway.enabled);
  f.static_ip.UserClick();
  EXPECT_FALSE(f.static_ip_address.enabled || f.static_ip_gateway_label.enabled);
}

TEST(SetupWindow, ClosingAlwaysHandsPollingBackAndAsksOnlyADescribedModuleAgain) {
  {
    // Opened before the module described itself: polling comes back, so the supervision tick
    // goes on looking for it; no identity request is queued for a module not yet seen.
    Rig rig({.model = std::nullopt});
    rig.Start();
    rig.app->link.QueuedCommand = 0;
    rig.OpenSetupWindow();
    rig.CloseSetupWindow();
    EXPECT_TRUE(rig.app->discovery.PollingEnabled);
    EXPECT_EQ(rig.app->link.QueuedCommand, 0);
  }
  SetupRig rig;
  rig.CloseSetupWindow();
  EXPECT_TRUE(rig.app->discovery.PollingEnabled);
  EXPECT_EQ(rig.app->link.QueuedCommand, wire::CMD_GET_DEVICE);
  rig.Timer3();
  EXPECT_EQ(rig.LastFrame(), (Bytes{0x5A, 0x35, 0x77, 0xA5, 0x21, 0, 0}));
}

TEST(SetupWindow, PollingGoesOnWhenTheWindowClosedBeforeTheModuleFirstAnswered) {
  Rig rig;
  bool reachable = false;
  rig.network.allow_connect = [&](int) { return reachable; };
  rig.Start();
  rig.Timer3();  // the first identity request finds nobody
  ASSERT_FALSE(rig.app->device.DeviceInfoLoaded);
  rig.OpenSetupWindow();
  rig.CloseSetupWindow();
  reachable = true;
  ASSERT_TRUE(rig.TickUntilIdentified(70));
  rig.sim->ClearFrames();
  rig.Timer3(31);  // a whole supervision period
  const auto frames = rig.sim->Frames();
  EXPECT_TRUE(std::any_of(frames.begin(), frames.end(), [](const Bytes& f) {
    return f.size() > 4 && f[4] == wire::CMD_READ_DATA;
  }));
}

// ---- access point and station ----

TEST(SetupWindow, AccessPointInputChecks) {
  struct Case {
    std::string ssid, key;
    bool wpa;
    bool accepted;
  };
  const Case cases[] = {
      {std::string(31, 's'), "12345678", true, true},
      {std::string(32, 's'), "12345678", true, false},
      {"", "12345678", true, false},
      {"net", "1234567", true, false},
      {"net", std::string(16, 'k'), true, true},
      {"net", std::string(17, 'k'), true, false},
      {"net", "", true, false},
      {"net", "", false, true},
      {"net", "x", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ssid + "/" + c.key + (c.wpa ? " WPA" : " Open"));
    SetupRig rig;
    SetupForm& f = rig.f();
    f.ap_ssid.text = c.ssid;
    f.ap_key.text = c.key;
    (c.wpa ? f.ap_key_wpa : f.ap_key_open).UserClick();
    rig.Click(f.ap_write);
    if (c.accepted) {
      EXPECT_EQ(rig.Captions(), (std::vector<std::string>{"Confirm", "Information"}));
      EXPECT_EQ(rig.setup->last_outcome, SetupOutcome::Done);
    } else {
      ASSERT_EQ(rig.dialogs.boxes.size(), 1u);
      EXPECT_EQ(rig.LastBox().caption, "Error found!");
      EXPECT_EQ(rig.LastBox().text, kSsidRules);
      EXPECT_EQ(rig.LastBox().icon, MsgIcon::Error);
      EXPECT_TRUE(rig.sim->Frames().empty());
      EXPECT_EQ(rig.setup->last_outcome, SetupOutcome::Refused);
    }
  }
}

TEST(SetupWindow, AccessPointWithKeyWritesBothFiles) {
  SetupRig rig;
  SetupForm& f = rig.f();
  f.ap_ssid.text = "Plant-7";
  f.ap_key.text = "secret99";
  f.ap_key_wpa.UserClick();
  rig.Click(f.ap_write);
  ASSERT_EQ(rig.dialogs.boxes.size(), 2u);
  EXPECT_EQ(rig.dialogs.boxes[0].text,
            "Modify AP SSID, execute?\n    . SSID: Plant-7\n    . Type: [2] WPA/WPA2\n"
            "    . KEY: secret99");
  EXPECT_EQ(rig.dialogs.boxes[0].icon, MsgIcon::Question);
  EXPECT_EQ(rig.dialogs.boxes[0].buttons, MsgButtons::YesNo);
  EXPECT_EQ(rig.LastBox().text, "AP SSID write complete,\n    . Manual Reboot to take effect!");
  EXPECT_EQ(rig.LastBox().icon, MsgIcon::Information);
  EXPECT_EQ(rig.sim->File("/local/ap_key.cfg"), Of("secret99"));
  EXPECT_EQ(rig.sim->File("/local/ap_ssid.cfg"), Of("Plant-7"));
  EXPECT_EQ(rig.Codes(), (Bytes{wire::CMD_WRITE_FILE, wire::CMD_WRITE_FILE}));
  EXPECT_EQ(rig.app->log_lines, (Lines{"7", "8", "AP_KEY =secret99", "AP_SSID =Plant-7"}));
  EXPECT_EQ(rig.sleeper.sleeps, (std::vector<int>{1500, 200, 1500}));
}

TEST(SetupWindow, OpenAccessPointDeletesTheKeyAndStillShowsTheEarlierOne) {
  SetupRig rig;
  SetupForm& f = rig.f();
  f.ap_ssid.text = "Plant-7";
  f.ap_key.text = "secret99";
  f.ap_key_wpa.UserClick();
  rig.Click(f.ap_write);
  rig.dialogs.boxes.clear();
  rig.sim->ClearFrames();

  f.ap_key.text.clear();
  f.ap_key_open.UserClick();
  rig.Click(f.ap_write);
  EXPECT_EQ(rig.dialogs.boxes[0].text,
            "Modify AP SSID, execute?\n    . SSID: Plant-7\n    . Type: [0] OPEN\n"
            "    . KEY: secret99");
  EXPECT_EQ(rig.Codes(), (Bytes{wire::CMD_DELETE_FILE, wire::CMD_WRITE_FILE}));
  EXPECT_FALSE(rig.sim->File("/local/ap_key.cfg"));
  EXPECT_EQ(rig.sim->File("/local/ap_ssid.cfg"), Of("Plant-7"));
}

TEST(SetupWindow, StationFilesForEachKeyType) {
  struct Case {
    int radio;  // 3 Open, 4 WEP, 5 WPA/WPA2
    std::uint8_t type;
    const char* name;
  };
  for (const Case& c : {Case{3, 0, "OPEN"}, Case{4, 1, "WEP"}, Case{5, 2, "WPA/WPA2"}}) {
    SCOPED_TRACE(c.name);
    SetupRig rig;
    SetupForm& f = rig.f();
    rig.sim->PutFile("/local/sta_key.cfg", Of("old key!"));
    f.station_ssid.text = "Office";
    f.station_key.text = "8charkey";
    (c.radio == 3   ? f.station_key_open
     : c.radio == 4 ? f.station_key_wep
                    : f.station_key_wpa)
        .UserClick();
    rig.Click(f.station_write);
    EXPECT_EQ(rig.dialogs.boxes[0].text,
              std::string("Modify STA SSID, execute?\n    . SSID: Office\n"
                          "    . Type: [") +
                  std::to_string(c.type) + "] " + c.name + "\n    . KEY: 8charkey");
    EXPECT_EQ(rig.LastBox().text, "STA SSID write complete,\n    . Manual Reboot to take effect!");
    EXPECT_EQ(rig.sim->File("/local/sta_keyT.cfg"), Bytes{c.type});
    EXPECT_EQ(rig.sim->File("/local/sta_ssid.cfg"), Of("Office"));
    if (c.type == 0) {
      EXPECT_FALSE(rig.sim->File("/local/sta_key.cfg"));
      EXPECT_EQ(rig.app->log_lines, (Lines{"6", "8", "STA_KTYPE =0", "STA_SSID =Office"}));
    } else {
      EXPECT_EQ(rig.sim->File("/local/sta_key.cfg"), Of("8charkey"));
      EXPECT_EQ(rig.app->log_lines,
                (Lines{"6", "8", "STA_KEY =8charkey", "STA_KTYPE =" + std::to_string(c.type),
                       "STA_SSID =Office"}));
    }
    EXPECT_EQ(rig.sleeper.sleeps, c.type == 0 ? (std::vector<int>{200, 1500, 200, 1500})
                                              : (std::vector<int>{1500, 200, 1500, 200, 1500}));
  }
}

// ---- static IP ----

TEST(SetupWindow, DottedQuads) {
  for (const char* text :
       {"192.168.1.10", "010.0.0.1", "0.0.0.0", "255.255.255.255", "00000000000000000001.2.3.4"})
    EXPECT_TRUE(IsDottedQuad(text)) << text;
  for (const char* text :
       {"192.168.1", "192.168.1.256", "192..1.1", "1.2.3.4.", ".1.2.3", " 1.2.3.4", "1.2.3.4 ",
        "1.2.3.a", "", "...", "1.2.3.-4", "1.2.3.+4", "99999999999.1.1.1", "1.2.3.4.5", "1.2.3..4"})
    EXPECT_FALSE(IsDottedQuad(text)) << text;
  EXPECT_EQ(DottedQuadBytes("010.0.0.1"), (std::array<std::uint8_t, 4>{10, 0, 0, 1}));
}

TEST(SetupWindow, StaticIpWritesTwelveBytes) {
  SetupRig rig;
  SetupForm& f = rig.f();
  f.static_ip.UserClick();
  f.static_ip_address.text = "192.168.1.10";
  f.static_ip_mask.text = "255.255.255.0";
  f.static_ip_gateway.text = "192.168.1.1";
  rig.Click(f.static_ip_write);
  EXPECT_EQ(rig.dialogs.boxes[0].text,
            "Modify Station Static IP, Mask, Gateway, execute?\n    . IP: 192.168.1.10\n"
            "    . Mask: 255.255.255.0\n    . Gateway: 192.168.1.1");
  EXPECT_EQ(rig.LastBox().text,
            "Station Static IP write complete,\n    . Manual Reboot to take effect!");
  EXPECT_EQ(rig.sim->File("/local/sta_ip.cfg"),
            (Bytes{0xC0, 0xA8, 0x01, 0x0A, 0xFF, 0xFF, 0xFF, 0x00, 0xC0, 0xA8, 0x01, 0x01}));
  EXPECT_TRUE(rig.app->log_lines.empty());
}

TEST(SetupWindow, StaticIpRefusesAnyBadField) {
  for (int bad = 0; bad < 3; ++bad) {
    SCOPED_TRACE(bad);
    SetupRig rig;
    SetupForm& f = rig.f();
    f.static_ip.UserClick();
    Edit* edits[] = {&f.static_ip_address, &f.static_ip_mask, &f.static_ip_gateway};
    for (Edit* edit : edits) edit->text = "10.0.0.1";
    edits[bad]->text = "10.0.0";
    rig.Click(f.static_ip_write);
    ASSERT_EQ(rig.dialogs.boxes.size(), 1u);
    EXPECT_EQ(rig.LastBox().caption, "Error found!");
    EXPECT_EQ(rig.LastBox().text, "    . IP, Mask, Gateway input error.\n");
    EXPECT_TRUE(rig.sim->Frames().empty());
  }
}

TEST(SetupWindow, StaticIpOffDeletesTheFile) {
  SetupRig rig;
  rig.sim->PutFile("/local/sta_ip.cfg", Bytes(12, 1));
  rig.Click(rig.f().static_ip_write);
  EXPECT_EQ(rig.dialogs.boxes[0].text, "Delete Station Static IP config, execute?\n");
  EXPECT_EQ(rig.LastBox().text,
            "Station Static IP delete complete,\n    . Manual Reboot to take effect!");
  EXPECT_EQ(rig.Codes(), Bytes{wire::CMD_DELETE_FILE});
  EXPECT_FALSE(rig.sim->File("/local/sta_ip.cfg"));
}

// ---- web key, location, Modbus ----

TEST(SetupWindow, WebKeyGoesOutAsCommand50) {
  SetupRig rig;
  rig.f().web_key.text = "abc";
  rig.Click(rig.f().web_key_write);
  EXPECT_EQ(rig.dialogs.boxes[0].text, "Modify WEB Key, execute?\n    . WEB Key: abc.\n");
  EXPECT_EQ(rig.LastBox().text, "WEB Key write complete,\n    .Take effect immediately.");
  EXPECT_EQ(rig.sim->Frames(),
            (std::vector<Bytes>{{0x5A, 0x35, 0x77, 0xA5, 0x32, 3, 'a', 'b', 'c'}}));
  EXPECT_EQ(rig.sim->Snapshot().web_key, "abc");
  EXPECT_EQ(rig.app->log_lines, (Lines{"3", "WEB Key =abc"}));
  EXPECT_EQ(rig.setup->WebKeyEntry, "abc");
}

TEST(SetupWindow, WebKeyOfSixOrNoneIsRefused) {
  for (const char* key : {"abcdef", ""}) {
    SetupRig rig;
    rig.f().web_key.text = key;
    rig.Click(rig.f().web_key_write);
    ASSERT_EQ(rig.dialogs.boxes.size(), 1u);
    EXPECT_EQ(rig.LastBox().text, "    . WEB Key must be 5 chars.");
    EXPECT_TRUE(rig.sim->Frames().empty());
  }
  // The limit itself is a key.
  SetupRig rig;
  rig.f().web_key.text = "abcde";
  rig.Click(rig.f().web_key_write);
  EXPECT_EQ(rig.setup->last_outcome, SetupOutcome::Done);
  EXPECT_EQ(rig.sim->Snapshot().web_key, "abcde");
}

TEST(SetupWindow, ControlCharactersAreRefusedInNamesAndKeys) {
  struct Case {
    const char* name;
    Edit SetupForm::*edit;
    Button SetupForm::*button;
    const char* field;
    const char* text;
  };
  const Case cases[] = {
      {"location, line break", &SetupForm::location, &SetupForm::location_write, "Location",
       "two\nlines"},
      {"location, delete", &SetupForm::location, &SetupForm::location_write, "Location", "del\x7f"},
      {"AP SSID, tab", &SetupForm::ap_ssid, &SetupForm::ap_write, "SSID", "Plant\t7"},
      {"station key, 0x01", &SetupForm::station_key, &SetupForm::station_write, "Key",
       "secret\x01"
       "99"},
      {"web key, carriage return", &SetupForm::web_key, &SetupForm::web_key_write, "WEB Key",
       "ab\r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetupRig rig;
    rig.f().station_ssid.text = "Office";
    rig.f().station_key_wpa.UserClick();
    rig.f().station_key.text = "8charkey";
    (rig.f().*c.edit).text = c.text;
    rig.Click(rig.f().*c.button);
    ASSERT_EQ(rig.dialogs.boxes.size(), 1u);
    EXPECT_EQ(rig.LastBox().caption, "Error found!");
    EXPECT_EQ(rig.LastBox().text, std::string("    . ") + c.field +
                                      ": control characters (line breaks, tabs) are not allowed.");
    EXPECT_EQ(rig.setup->last_outcome, SetupOutcome::Refused);
    EXPECT_TRUE(rig.sim->Frames().empty());
  }
}

TEST(SetupWindow, LocationIsWrittenInTheModulesCodePage) {
  SetupRig rig;
  rig.f().location.text = "Kühlraum 2";
  rig.Click(rig.f().location_write);
  EXPECT_EQ(rig.dialogs.boxes[0].text,
            "Modify Location string, execute?\n    . Location: Kühlraum 2.\n");
  EXPECT_EQ(rig.LastBox().text,
            "Location string write complete,\n    . Manual Reboot to take effect!");
  EXPECT_EQ(rig.sim->File("/local/locate.cfg"), Of("K\xFChlraum 2"));
  EXPECT_EQ(rig.app->log_lines, (Lines{"10", "Location =Kühlraum 2"}));
}

TEST(SetupWindow, TextsTheModuleCannotHoldAreRefusedBeforeAnythingIsSent) {
  struct Case {
    const char* name;
    Edit SetupForm::*edit;
    Button SetupForm::*button;
    const char* field;
  };
  const Case cases[] = {
      {"location", &SetupForm::location, &SetupForm::location_write, "Location"},
      {"AP SSID", &SetupForm::ap_ssid, &SetupForm::ap_write, "SSID"},
      {"station key", &SetupForm::station_key, &SetupForm::station_write, "Key"},
      {"web key", &SetupForm::web_key, &SetupForm::web_key_write, "WEB Key"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetupRig rig;
    rig.f().station_ssid.text = "Office";
    (rig.f().*c.edit).text = "ok\u2713";
    rig.Click(rig.f().*c.button);
    ASSERT_EQ(rig.dialogs.boxes.size(), 1u);
    EXPECT_EQ(rig.LastBox().caption, "Error found!");
    EXPECT_EQ(rig.LastBox().text, std::string("    . ") + c.field +
                                      ": the character \"\u2713\" (U+2713) is not in the "
                                      "module's code page (Windows-1252).");
    EXPECT_TRUE(rig.sim->Frames().empty());
  }
}

TEST(SetupWindow, LocationLengthCountsTheModulesBytes) {
  std::string umlauts;  // two UTF-8 bytes each, one byte for the module
  for (int i = 0; i < 31; ++i) umlauts += "\u00FC";
  struct Case {
    std::string text;
    bool accepted;
  };
  const Case cases[] = {
      {umlauts, true},
      {umlauts + "x", false},
      {std::string(32, 'x'), false},
      {"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    SetupRig rig;
    rig.f().location.text = c.text;
    rig.Click(rig.f().location_write);
    if (c.accepted) {
      EXPECT_EQ(rig.sim->File("/local/locate.cfg"), Bytes(31, 0xFC));
    } else {
      EXPECT_EQ(rig.LastBox().text, "    . Location string must less then 31 chars.");
      EXPECT_TRUE(rig.sim->Frames().empty());
    }
  }
}

TEST(SetupWindow, ModbusWritesItsFileThenTheNotice) {
  SetupRig rig;
  rig.f().modbus_port.text = "502";
  rig.f().modbus_timeout.text = "30";
  rig.Click(rig.f().modbus_write);
  EXPECT_EQ(rig.dialogs.boxes[0].text,
            "Modify Modbus Port & Idle Timeout, execute?\n    . Port: 502, Idle Timeout: 30.");
  EXPECT_EQ(rig.LastBox().text,
            "Modify Modbus Port, Timeout write complete,\n    . Manual Reboot to take effect!");
  EXPECT_EQ(rig.sim->File("/local/mbport.cfg"), (Bytes{0x01, 0xF6, 0x00, 0x1E, 0, 0, 0, 0, 0, 0}));
  ASSERT_EQ(rig.Codes(), (Bytes{wire::CMD_WRITE_FILE, wire::CMD_MBPORT_CFG}));
  EXPECT_EQ(rig.LastFrame(), (Bytes{0x5A, 0x35, 0x77, 0xA5, 0xDC}));
  EXPECT_EQ(rig.sleeper.sleeps, (std::vector<int>{1500, 300}));
  EXPECT_EQ(rig.app->log_lines, Lines{"Modbus Port =502, Idle Timeout: 30"});
}

TEST(SetupWindow, ModbusInputChecks) {
  struct Case {
    const char* port;
    const char* timeout;
    const char* caption;  // null: accepted
    const char* text;
  };
  const Case cases[] = {
      {"80", "30", "Modbus port input Error", "Port already used!"},
      {"13577", "30", "Modbus port input Error", "Port already used!"},
      {"0", "30", "Modbus port range Error", "Port number over range!"},
      {"65536", "30", "Modbus port range Error", "Port number over range!"},
      {"abc", "30", "Modbus port input Error", "'abc' is not a valid integer value"},
      {"", "30", "Modbus port input Error", "'' is not a valid integer value"},
      {"+-5", "30", "Modbus port input Error", "'+-5' is not a valid integer value"},
      {"502", "+-30", "Modbus Idle Timeout input Error", "'+-30' is not a valid integer value"},
      {"502", "0", "Modbus Idle Timeout input Error",
       "Timeout range must in 1 ~ 65000 Sec! Recommend 30 Sec."},
      {"502", "65001", "Modbus Idle Timeout input Error",
       "Timeout range must in 1 ~ 65000 Sec! Recommend 30 Sec."},
      {"502", "3e1", "Modbus Idle Timeout input Error", "'3e1' is not a valid integer value"},
      {"502", "65000", nullptr, nullptr},
      {"65535", "30", nullptr, nullptr},
      {"+1", "1", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.port) + " / " + c.timeout);
    SetupRig rig;
    rig.f().modbus_port.text = c.port;
    rig.f().modbus_timeout.text = c.timeout;
    rig.Click(rig.f().modbus_write);
    if (!c.caption) {
      EXPECT_EQ(rig.setup->last_outcome, SetupOutcome::Done);
      continue;
    }
    ASSERT_EQ(rig.dialogs.boxes.size(), 1u);
    EXPECT_EQ(rig.LastBox().caption, c.caption);
    EXPECT_EQ(rig.LastBox().text, c.text);
    EXPECT_EQ(rig.LastBox().icon, MsgIcon::None);
    EXPECT_TRUE(rig.sim->Frames().empty());
  }
}

// ---- what stops an action ----

TEST(SetupWindow, NoAtTheQuestionSendsNothing) {
  SetupRig rig;
  SetupForm& f = rig.f();
  f.ap_key.text = "secret99";
  f.ap_key_wpa.UserClick();
  f.station_ssid.text = "Office";
  f.web_key.text = "abc";
  f.modbus_port.text = "502";
  f.modbus_timeout.text = "30";
  for (Button* button :
       {&f.ap_write, &f.station_write, &f.wifi_mode_write, &f.web_key_write, &f.location_write,
        &f.reset_defaults, &f.reboot, &f.modbus_write, &f.static_ip_write}) {
    rig.dialogs.answers.push_back(MsgResult::No);
    rig.dialogs.boxes.clear();
    rig.Click(*button);
    EXPECT_EQ(rig.Captions(), std::vector<std::string>{"Confirm"});
    EXPECT_EQ(rig.setup->last_outcome, SetupOutcome::Declined);
  }
  EXPECT_TRUE(rig.sim->Frames().empty());
}

TEST(SetupWindow, FailedConnectionCheckEndsAnActionWithoutABox) {
  SetupRig rig({.skip_wifi_check = false});
  rig.fake_hosts->adapter_scans = {{}};  // the module's subnet is gone
  rig.f().location.text = "Hall";
  rig.Click(rig.f().location_write);
  EXPECT_EQ(rig.Captions(), std::vector<std::string>{"Confirm"});
  EXPECT_EQ(rig.setup->last_outcome, SetupOutcome::NotFound);
  EXPECT_EQ(rig.form().module_state.caption, "Device not found!!");
  EXPECT_TRUE(rig.sim->Frames().empty());
}

TEST(SetupWindow, FileThatDidNotGoOutStopsTheActionWithoutSuccess) {
  SetupRig rig;
  SetupForm& f = rig.f();
  f.ap_ssid.text = "Plant-7";
  f.ap_key.text = "secret99";
  f.ap_key_wpa.UserClick();
  rig.sim->Stop();  // the module is gone after the question
  EXPECT_THROW(rig.Click(f.ap_write), RemoteFileError);
  EXPECT_EQ(rig.Captions(), std::vector<std::string>{"Confirm"});
  EXPECT_EQ(rig.setup->last_outcome, SetupOutcome::NotSent);
  EXPECT_EQ(rig.app->Status(), "Connect Timeout");
  // Only the first announce was tried; nothing streamed, the SSID file never attempted.
  EXPECT_EQ(rig.network.writes.back(), std::vector<std::size_t>{});
  EXPECT_EQ(rig.sleeper.sleeps, std::vector<int>{});
}

TEST(SetupWindow, BrokenDataConnectionKeepsEarlierFilesAndTheWindowUsable) {
  SetupRig rig;
  SetupForm& f = rig.f();
  f.station_ssid.text = "Office";
  f.station_key.text = "8charkey";
  f.station_key_wpa.UserClick();
  // Connections: key announce, key content, type announce, type content (refused).
  const int first = rig.network.connects;
  rig.network.allow_connect = [first](int connect) { return connect != first + 4; };
  EXPECT_THROW(rig.Click(f.station_write), RemoteFileError);
  EXPECT_EQ(rig.Captions(), std::vector<std::string>{"Confirm"});
  ASSERT_TRUE(rig.sim->WaitForStreams(1, std::chrono::seconds(5)));
  EXPECT_EQ(rig.sim->File("/local/sta_key.cfg"), Of("8charkey"));
  EXPECT_FALSE(rig.sim->File("/local/sta_keyT.cfg"));
  EXPECT_FALSE(rig.sim->File("/local/sta_ssid.cfg"));
  EXPECT_EQ(f.gauge.max, 1);
  EXPECT_EQ(rig.app->log_lines, (Lines{"6", "8", "STA_KEY =8charkey"}));

  // The module still waits for the type file's content: an empty connection ends that wait
  // (it keeps nothing of it), as the module would see from a utility that gave up.
  rig.network.allow_connect = nullptr;
  auto socket = rig.network.NewSocket();
  socket->BeginConnect("127.0.0.1", rig.sim->Port());
  socket->PollConnect(1000);
  socket->Close();
  ASSERT_TRUE(rig.sim->WaitForStreams(2, std::chrono::seconds(5)));
  EXPECT_FALSE(rig.sim->File("/local/sta_keyT.cfg"));
  rig.dialogs.boxes.clear();
  f.location.text = "Hall";
  rig.Click(f.location_write);
  EXPECT_EQ(rig.setup->last_outcome, SetupOutcome::Done);
  EXPECT_EQ(rig.sim->File("/local/locate.cfg"), Of("Hall"));
}

// ---- device control ----

TEST(SetupWindow, WifiModeFramesAndTexts) {
  for (const bool ap : {false, true}) {
    SetupRig rig;
    (ap ? rig.f().wifi_mode_ap : rig.f().wifi_mode_station).UserClick();
    rig.app->link.RetryCount = 2;
    rig.Click(rig.f().wifi_mode_write);
    const std::string mode = ap ? "AP Mode" : "Station Mode";
    EXPECT_EQ(rig.dialogs.boxes[0].text, "Modify Wi-Fi Mode, execute?\n    . Wi-Fi Mode: " + mode +
                                             ".\n    . Device will Reboot immediately!");
    EXPECT_EQ(rig.LastBox().caption, "Information");
    EXPECT_EQ(rig.LastBox().text, "Wi-Fi Mode write complete,\n    . Reboot complete.");
    EXPECT_EQ(rig.sim->Frames(),
              (std::vector<Bytes>{{0x5A, 0x35, 0x77, 0xA5, 0x30, std::uint8_t(ap ? 2 : 0)}}));
    EXPECT_EQ(rig.app->link.RetryCount, 0);
    EXPECT_EQ(rig.app->link.PendingCommand, wire::CMD_SET_WIFI_MODE);  // no handler clears it
  }
}

TEST(SetupWindow, ResetToDefaultsAndReboot) {
  SetupRig rig;
  rig.Click(rig.f().reset_defaults);
  EXPECT_EQ(rig.dialogs.boxes[0].text,
            "Reset to default setting, execute?\n    . Device will Reboot immediately!");
  EXPECT_EQ(rig.LastBox().text, "Reset default complete,\n    . Reboot complete.");
  EXPECT_EQ(rig.LastFrame(), (Bytes{0x5A, 0x35, 0x77, 0xA5, 0x5E, 0x01}));
  EXPECT_EQ(rig.app->Status(), "Flash Config been kill!");
  EXPECT_EQ(rig.app->link.PendingCommand, 0);

  rig.dialogs.boxes.clear();
  rig.Click(rig.f().reboot);
  EXPECT_EQ(rig.dialogs.boxes[0].text, "Reboot device, execute?");
  EXPECT_EQ(rig.LastBox().text, "Reboot complete.");
  ASSERT_TRUE(rig.sim->WaitForFrames(2, std::chrono::seconds(2)));  // nobody waits for a reply
  EXPECT_EQ(rig.LastFrame(), (Bytes{0x5A, 0x35, 0x77, 0xA5, 0x2D}));
  EXPECT_EQ(rig.app->link.PendingCommand, wire::CMD_RESET_MODULE);
  EXPECT_FALSE(rig.app->link.ReplyTimedOut);  // nothing was waited for
}

TEST(SetupWindow, ResultBoxSaysNotSentWhenTheCommandDidNotGoOut) {
  struct Case {
    const char* name;
    Button SetupForm::*button;
    const char* what;
  };
  const Case cases[] = {
      {"wifi", &SetupForm::wifi_mode_write, "Wi-Fi Mode"},
      {"reset", &SetupForm::reset_defaults, "Reset to defaults"},
      {"reboot", &SetupForm::reboot, "Reboot"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    {
      SetupRig rig({.skip_wifi_check = false});
      rig.fake_hosts->adapter_scans = {{}};
      rig.Click(rig.f().*c.button);
      EXPECT_EQ(rig.LastBox().text,
                std::string(c.what) + " not sent,\n    . the module was not found");
      EXPECT_EQ(rig.LastBox().caption, "Error");
      EXPECT_EQ(rig.LastBox().icon, MsgIcon::Error);
      EXPECT_EQ(rig.setup->last_outcome, SetupOutcome::NotSent);
      EXPECT_TRUE(rig.sim->Frames().empty());
    }
    SetupRig rig;
    rig.sim->Stop();
    rig.Click(rig.f().*c.button);
    EXPECT_EQ(rig.LastBox().text, std::string(c.what) + " not sent,\n    . Connect Timeout");
  }
}

// A module that refuses, does not answer, answers with a wrong signature or resets the
// connection at one step of an action: the action stops there, sends nothing after it (no
// content after an announce it did not take, no later file or command) and shows no success.
TEST(SetupWindow, AnActionStopsAtTheFirstStepTheModuleDidNotTake) {
  struct Action {
    const char* name;
    Button SetupForm::*button;
    std::uint8_t failing;  // the command whose reply is spoiled
    Bytes sent;            // every frame that goes out, up to the failing one
    bool file_step;        // a file's announce or delete fails: it raises out of the click
    int contents = 0;      // files whose content went out before the failing step
  };
  const Action actions[] = {
      {"station", &SetupForm::station_write, wire::CMD_WRITE_FILE, {wire::CMD_WRITE_FILE}, true},
      {"location", &SetupForm::location_write, wire::CMD_WRITE_FILE, {wire::CMD_WRITE_FILE}, true},
      {"static IP off",
       &SetupForm::static_ip_write,
       wire::CMD_DELETE_FILE,
       {wire::CMD_DELETE_FILE},
       true},
      {"web key", &SetupForm::web_key_write, wire::CMD_SET_WEB_KEY, {wire::CMD_SET_WEB_KEY}, false},
      {"Modbus notice",
       &SetupForm::modbus_write,
       wire::CMD_MBPORT_CFG,
       {wire::CMD_WRITE_FILE, wire::CMD_MBPORT_CFG},
       false,
       1},
      {"Wi-Fi mode",
       &SetupForm::wifi_mode_write,
       wire::CMD_SET_WIFI_MODE,
       {wire::CMD_SET_WIFI_MODE},
       false},
      {"reset to defaults",
       &SetupForm::reset_defaults,
       wire::CMD_RESET_CONFIG,
       {wire::CMD_RESET_CONFIG},
       false},
  };
  const sim::Fault faults[] = {sim::Fault::Refuse, sim::Fault::NoReply, sim::Fault::WrongSignature,
                               sim::Fault::Reset};
  for (const Action& a : actions) {
    for (const sim::Fault fault : faults) {
      SCOPED_TRACE(std::string(a.name) + " / " + sim::FaultName(fault));
      SetupRig rig;
      SetupForm& f = rig.f();
      f.station_ssid.text = "Office";
      f.station_key.text = "8charkey";
      f.station_key_wpa.UserClick();
      f.location.text = "Hall";
      f.web_key.text = "abc";
      f.modbus_port.text = "502";
      f.modbus_timeout.text = "30";
      rig.sim->InjectFault(fault, 1, a.failing);
      const int connects_before = rig.network.connects;
      if (a.file_step) {
        EXPECT_THROW((f.*a.button).UserClick(), RemoteFileError);
      } else {
        (f.*a.button).UserClick();
        EXPECT_EQ(rig.LastBox().caption, "Error");
        EXPECT_EQ(rig.LastBox().icon, MsgIcon::Error);
        EXPECT_NE(rig.LastBox().text.find(" not acknowledged,\n    . "), std::string::npos)
            << rig.LastBox().text;
      }
      EXPECT_EQ(rig.Codes(), a.sent);
      // One connection a frame: no content stream followed a failed announce.
      EXPECT_EQ(rig.network.connects - connects_before,
                static_cast<int>(a.sent.size()) + a.contents);
      const std::vector<std::string> captions = rig.Captions();
      EXPECT_EQ(std::count(captions.begin(), captions.end(), "Information"), 0);
      EXPECT_EQ(rig.setup->last_outcome, SetupOutcome::NotSent);
      EXPECT_FALSE(rig.sim->File("/local/sta_ssid.cfg"));
      EXPECT_FALSE(rig.sim->File("/local/locate.cfg") == Of("Hall"));
    }
  }
}

TEST(SetupWindow, WebKeyAndModbusNoticeThatDidNotGoOutAreNoSuccess) {
  struct Case {
    const char* name;
    Button SetupForm::*button;
    int refused_connect;  // counted from the click: the command's own connection
    const char* text;
  };
  const Case cases[] = {
      {"web key", &SetupForm::web_key_write, 1, "WEB Key not sent,\n    . Connect Timeout"},
      {"Modbus notice", &SetupForm::modbus_write, 3,
       "Modbus settings written, but their notice not sent,\n    . Connect Timeout"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetupRig rig;
    rig.f().web_key.text = "abc";
    rig.f().modbus_port.text = "502";
    rig.f().modbus_timeout.text = "30";
    const int first = rig.network.connects;
    rig.network.allow_connect = [&](int connect) { return connect != first + c.refused_connect; };
    rig.Click(rig.f().*c.button);
    EXPECT_EQ(rig.LastBox().caption, "Error");
    EXPECT_EQ(rig.LastBox().text, c.text);
    EXPECT_EQ(rig.setup->last_outcome, SetupOutcome::NotSent);
    EXPECT_NE(rig.app->log_lines.back(), "WEB Key =abc");
  }
}

TEST(SetupWindow, NewLocationShowsOnceTheRebootedModuleIsBack) {
  SetupRig rig;
  rig.sim->SetRebootMs(300);
  rig.f().location.text = "Boiler room";
  rig.Click(rig.f().location_write);
  rig.Click(rig.f().reboot);
  EXPECT_EQ(rig.LastBox().text, "Reboot complete.");
  ASSERT_TRUE(rig.sim->WaitForFrames(2, std::chrono::seconds(2)));  // the reboot was taken
  rig.CloseSetupWindow();
  rig.Timer3();  // the identity request finds the module gone
  EXPECT_EQ(rig.app->Status(), "Connect Timeout");
  ASSERT_TRUE(rig.sim->WaitUntilOnline(std::chrono::seconds(3)));
  rig.form().refresh_button.UserClick();  // Refresh
  rig.Timer3();
  EXPECT_EQ(rig.form().location_text.caption, "Locate: Boiler room");
}

TEST(SetupWindow, LostRebootIsIssuedAgainThroughItsIssuer) {
  SetupRig rig;
  rig.app->link.PendingCommand = wire::CMD_RESET_MODULE;
  ReissuePending(rig.app->link);
  ASSERT_TRUE(rig.sim->WaitForFrames(1, std::chrono::seconds(2)));
  EXPECT_EQ(rig.LastFrame(), (Bytes{0x5A, 0x35, 0x77, 0xA5, 0x2D}));
}

TEST(SetupWindow, FirmwareButtonRunsWhatIsPluggedIn) {
  SetupRig rig;
  rig.f().firmware_update.UserClick();  // nothing plugged in: nothing happens
  int runs = 0;
  rig.setup->run_firmware_update = [&] { ++runs; };
  rig.f().firmware_update.UserClick();
  EXPECT_EQ(runs, 1);
}

}  // namespace
}  // namespace zvk
