// The administration commands of zvk in-process against the simulator on loopback: the setup
// window's actions, Wi-Fi mode, reset, reboot and the module's files, with their exit statuses.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/zvk_cli.h"
#include "link/wire.h"
#include "sim/fault_list.h"
#include "sim/simulator.h"
#include "support/rig.h"
#include "support/test_seams.h"

namespace zvk::cli {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kGetDevice{0x5A, 0x35, 0x77, 0xA5, 0x21, 0x00, 0x00};

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

Bytes Of(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

class cliAdmin : public ::testing::Test {
 protected:
  void SetUp() override {
    sim = std::make_unique<sim::Simulator>(sim::Options{});
    sim->Start();
  }
  void TearDown() override { sim->Stop(); }

  Result Run(std::vector<std::string> args, bool progress_terminal = false) {
    std::vector<std::string> all{"--host", "127.0.0.1", "--port", std::to_string(sim->Port()),
                                 "--skip-wifi-check"};
    all.insert(all.end(), args.begin(), args.end());
    CliEnv env{.network = network,
               .hosts = &hosts,
               .progress_terminal = progress_terminal,
               .sleeper = &sleeper};
    std::ostringstream out, err;
    Result r;
    r.status = RunZvk(all, out, err, env);
    r.out = out.str();
    r.err = err.str();
    // Every announced content has been taken in by now (a failed run may have sent none).
    std::size_t announces = 0;
    for (const Bytes& frame : sim->Frames()) announces += frame.size() > 4 && frame[4] == 0x5F;
    if (r.status == 0) {
      EXPECT_TRUE(sim->WaitForStreams(announces, std::chrono::seconds(5)));
    }
    return r;
  }
  Bytes Codes() const {
    Bytes codes;
    for (const Bytes& frame : sim->Frames()) codes.push_back(frame.size() > 4 ? frame[4] : 0);
    return codes;
  }

  test::LoopbackOnlyNetwork network;
  test::FakeHostInterfaces hosts;
  test::RecordingSleeper sleeper;
  std::unique_ptr<sim::Simulator> sim;
};

TEST_F(cliAdmin, SetupActionsWriteTheWindowsFiles) {
  struct Case {
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::optional<Bytes>>> files;  // nullopt: deleted
    const char* success;
  };
  const Case cases[] = {
      {{"setup", "ap", "--ssid", "Plant-7", "--key", "secret99"},
       {{"/local/ap_key.cfg", Of("secret99")}, {"/local/ap_ssid.cfg", Of("Plant-7")}},
       "AP SSID write complete,"},
      {{"setup", "ap", "--ssid", "Plant-7", "--open"},
       {{"/local/ap_key.cfg", std::nullopt}, {"/local/ap_ssid.cfg", Of("Plant-7")}},
       "AP SSID write complete,"},
      {{"setup", "station", "--ssid", "Office", "--key", "8charkey", "--type", "wep"},
       {{"/local/sta_key.cfg", Of("8charkey")},
        {"/local/sta_keyT.cfg", Bytes{1}},
        {"/local/sta_ssid.cfg", Of("Office")}},
       "STA SSID write complete,"},
      {{"setup", "static-ip", "192.168.1.10", "255.255.255.0", "192.168.1.1"},
       {{"/local/sta_ip.cfg", Bytes{192, 168, 1, 10, 255, 255, 255, 0, 192, 168, 1, 1}}},
       "Station Static IP write complete,"},
      {{"setup", "static-ip", "off"},
       {{"/local/sta_ip.cfg", std::nullopt}},
       "Station Static IP delete complete,"},
      {{"setup", "location", "K\u00FChlraum"},
       {{"/local/locate.cfg", Of("K\xFChlraum")}},
       "Location string write complete,"},
      {{"setup", "modbus", "502", "30"},
       {{"/local/mbport.cfg", Bytes{0x01, 0xF6, 0x00, 0x1E, 0, 0, 0, 0, 0, 0}}},
       "Modify Modbus Port, Timeout write complete,"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    sim->PutFile("/local/ap_key.cfg", Of("old key!"));
    sim->PutFile("/local/sta_ip.cfg", Bytes(12, 1));
    std::vector<std::string> args{"--yes"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Result r = Run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find(std::string("Confirm\n")), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(std::string("Information\n") + c.success), std::string::npos) << r.out;
    for (const auto& [name, content] : c.files) EXPECT_EQ(sim->File(name), content) << name;
  }
}

// Sets an environment variable for the life of the object.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name_(name) { Put(value.c_str()); }
  ~ScopedVariable() { Put(nullptr); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  void Put(const char* value) {
#ifdef _WIN32
    _putenv_s(name_, value ? value : "");
#else
    if (value)
      ::setenv(name_, value, 1);
    else
      ::unsetenv(name_);
#endif
  }
  const char* name_;
};

// A key kept off the command line, where every local user could read it: from a file's first
// line or from an environment variable.
TEST_F(cliAdmin, KeysComeFromAFileOrTheEnvironment) {
  const std::string dir = ::testing::TempDir();
  const auto file = [&dir](const std::string& name, const std::string& content) {
    const std::string path = dir + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  };
  const std::string station_key = file("zvk-station.key", "secret123\r\nnot the key\n");
  const std::string web_key = file("zvk-web.key", "abc");
  const std::string empty = file("zvk-empty.key", "\nsecret123\n");
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::pair<const char*, const char*> variable;  // {nullptr, ...}: none
    int status;
    std::string outcome;  // the key the module got, or how standard error starts
  };
  std::vector<Case> cases = {
      {"station key file",
       {"setup", "station", "--ssid", "Office", "--type", "wpa", "--key-file", station_key},
       {nullptr, nullptr},
       0,
       "secret123"},
      {"station key variable",
       {"setup", "station", "--ssid", "Office", "--type", "wep"},
       {"ZVK_STATION_KEY", "envkey12"},
       0,
       "envkey12"},
      {"access point key variable",
       {"setup", "ap", "--ssid", "Plant-7"},
       {"ZVK_AP_KEY", "apkey123"},
       0,
       "apkey123"},
      {"the file before the variable",
       {"setup", "ap", "--ssid", "Plant-7", "--key-file", station_key},
       {"ZVK_AP_KEY", "apkey123"},
       0,
       "secret123"},
      {"web key file", {"setup", "web-key", "--key-file", web_key}, {nullptr, nullptr}, 0, "abc"},
      {"web key variable", {"setup", "web-key"}, {"ZVK_WEB_KEY", "xyz"}, 0, "xyz"},
      {"no key file",
       {"setup", "station", "--ssid", "Office", "--type", "wpa", "--key-file", dir + "nothing"},
       {nullptr, nullptr},
       1,
       "setup station: cannot read the key file \"" + dir + "nothing\": "},
      {"a key file with an empty first line",
       {"setup", "web-key", "--key-file", empty},
       {nullptr, nullptr},
       1,
       "setup web-key: the key file \"" + empty + "\" holds no key on its first line"},
      {"no key at all",
       {"setup", "ap", "--ssid", "Plant-7"},
       {nullptr, nullptr},
       2,
       "setup ap: give a key (--key-file F or ZVK_AP_KEY, or --key K) or --open"},
      {"no web key",
       {"setup", "web-key"},
       {nullptr, nullptr},
       2,
       "setup web-key: give the web key"},
      {"a key twice",
       {"setup", "ap", "--ssid", "Plant-7", "--key", "apkey123", "--key-file", station_key},
       {nullptr, nullptr},
       2,
       ""},
  };
#ifndef _WIN32
  const std::string fifo = dir + "zvk-key-fifo";
  std::remove(fifo.c_str());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  cases.push_back(
      {"a FIFO",
       {"setup", "ap", "--ssid", "Plant-7", "--key-file", fifo},
       {nullptr, nullptr},
       1,
       "setup ap: cannot read the key file \"" + fifo + "\": it is a pipe, not a plain file"});
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim->ClearFrames();
    sim->PutFile("/local/ap_key.cfg", Of("old key!"));
    sim->PutFile("/local/sta_key.cfg", Of("old key!"));
    std::optional<ScopedVariable> variable;
    if (c.variable.first) variable.emplace(c.variable.first, c.variable.second);
    std::vector<std::string> args{"--yes"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Result r = Run(args);
    EXPECT_EQ(r.status, c.status) << r.err;
    if (c.status != 0) {
      EXPECT_EQ(r.err.rfind("zvk: " + c.outcome, 0), 0u) << r.err;
      EXPECT_TRUE(sim->Frames().empty());
      continue;
    }
    if (c.args[1] == "web-key")
      EXPECT_EQ(sim->Snapshot().web_key, c.outcome);
    else
      EXPECT_EQ(sim->File(c.args[1] == "ap" ? "/local/ap_key.cfg" : "/local/sta_key.cfg"),
                Of(c.outcome));
  }
#ifndef _WIN32
  std::remove(fifo.c_str());
#endif
  for (const char* name : {"zvk-station.key", "zvk-web.key", "zvk-empty.key"})
    std::remove((dir + name).c_str());
}

TEST_F(cliAdmin, WebKeyWifiModeResetAndRebootSendTheirFrames) {
  struct Case {
    std::vector<std::string> args;
    Bytes frame;
  };
  const Case cases[] = {
      {{"setup", "web-key", "abc"}, {0x5A, 0x35, 0x77, 0xA5, 0x32, 3, 'a', 'b', 'c'}},
      {{"wifi-mode", "station"}, {0x5A, 0x35, 0x77, 0xA5, 0x30, 0x00}},
      {{"wifi-mode", "AP"}, {0x5A, 0x35, 0x77, 0xA5, 0x30, 0x02}},
      {{"reset-defaults"}, {0x5A, 0x35, 0x77, 0xA5, 0x5E, 0x01}},
      {{"reboot"}, {0x5A, 0x35, 0x77, 0xA5, 0x2D}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    sim->ClearFrames();
    std::vector<std::string> args{"--yes"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Result r = Run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(sim->WaitForFrames(2, std::chrono::seconds(2)));
    EXPECT_EQ(sim->Frames(), (std::vector<Bytes>{kGetDevice, c.frame}));
  }
}

TEST_F(cliAdmin, RefusedInputExitsOneAndSendsNothingAfterTheIdentity) {
  struct Case {
    std::vector<std::string> args;
    const char* reason;
  };
  const Case cases[] = {
      {{"setup", "ap", "--ssid", "net", "--key", "short"},
       "zvk: input refused: SSID must less then 31 chars. Key must around chars  8~14. If Open "
       "type selected, Key can be ignore. (Error found!); nothing sent\n"},
      {{"setup", "modbus", "80", "30"},
       "zvk: input refused: Port already used! (Modbus port input Error); nothing sent\n"},
      {{"setup", "modbus", "502", "x"},
       "zvk: input refused: 'x' is not a valid integer value (Modbus Idle Timeout input "
       "Error); nothing sent\n"},
      {{"setup", "static-ip", "1.2.3", "255.0.0.0", "1.2.3.4"},
       "zvk: input refused: IP, Mask, Gateway input error. (Error found!); nothing sent\n"},
      {{"setup", "web-key", "abcdef"},
       "zvk: input refused: WEB Key must be 5 chars. (Error found!); nothing sent\n"},
      {{"setup", "location", "\u2603"},
       "zvk: input refused: Location: the character \"\u2603\" (U+2603) is not in the module's "
       "code page (Windows-1252). (Error found!); nothing sent\n"},
      {{"setup", "location", "two\nlines"},
       "zvk: input refused: Location: control characters (line breaks, tabs) are not allowed. "
       "(Error found!); nothing sent\n"},
      {{"setup", "web-key", "a\x01"},
       "zvk: input refused: WEB Key: control characters (line breaks, tabs) are not allowed. "
       "(Error found!); nothing sent\n"},
      {{"setup", "station", "--ssid", "Off\x7f", "--type", "open"},
       "zvk: input refused: SSID: control characters (line breaks, tabs) are not allowed. "
       "(Error found!); nothing sent\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    sim->ClearFrames();
    std::vector<std::string> args{"--yes"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Result r = Run(args);
    EXPECT_EQ(r.status, 1);
    const std::size_t last_line = r.err.rfind("zvk: ");
    ASSERT_NE(last_line, std::string::npos) << r.err;
    EXPECT_EQ(r.err.substr(last_line), c.reason);
    // The refusal's box, whatever its icon (the Modbus boxes have none), is an error message.
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(sim->Frames(), std::vector<Bytes>{kGetDevice});
  }
}

TEST_F(cliAdmin, ModuleThatRefusesOrKeepsSilentFailsTheCommand) {
  struct Case {
    sim::Fault fault;
    std::uint8_t code;
    std::vector<std::string> args;
    const char* reason;
  };
  const Case cases[] = {
      {sim::Fault::Refuse,
       wire::CMD_WRITE_FILE,
       {"setup", "location", "Hall"},
       "zvk: File /local/locate.cfg not written: its announce was not acknowledged, the module "
       "refused it (status 0x15); the content was not sent\n"},
      {sim::Fault::Refuse,
       wire::CMD_SET_WIFI_MODE,
       {"wifi-mode", "ap"},
       "zvk: Wi-Fi Mode not acknowledged: the module refused it (status 0x15)\n"},
      {sim::Fault::Refuse,
       wire::CMD_DELETE_FILE,
       {"setup", "static-ip", "off"},
       "zvk: Delete of /local/sta_ip.cfg not acknowledged: the module refused it (status 0x15)\n"},
      {sim::Fault::NoReply,
       wire::CMD_SET_WEB_KEY,
       {"setup", "web-key", "abc"},
       "zvk: WEB Key not acknowledged: no reply came (Wait RX Timeout!)\n"},
      {sim::Fault::WrongSignature,
       wire::CMD_RESET_CONFIG,
       {"reset-defaults"},
       "zvk: Reset to defaults not acknowledged: the reply does not start with the frame "
       "signature (InValid Header package!)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    sim->InjectFault(c.fault, 1, c.code);
    std::vector<std::string> args{"--yes"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Result r = Run(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.substr(r.err.rfind("zvk: ")), c.reason);
  }
}

// Every misbehaviour of the module at one step of every action: the action stops at that step
// (nothing goes out after it), prints no success box and exits 1.
TEST_F(cliAdmin, EveryMisbehaviourAtEveryStepFailsTheCommandThere) {
  struct Command {
    std::vector<std::string> args;
    std::uint8_t failing;
  };
  const Command commands[] = {
      {{"setup", "station", "--ssid", "Office", "--key", "8charkey", "--type", "wpa"},
       wire::CMD_WRITE_FILE},
      {{"setup", "location", "Hall"}, wire::CMD_WRITE_FILE},
      {{"setup", "static-ip", "off"}, wire::CMD_DELETE_FILE},
      {{"setup", "web-key", "abc"}, wire::CMD_SET_WEB_KEY},
      {{"setup", "modbus", "502", "30"}, wire::CMD_MBPORT_CFG},
      {{"wifi-mode", "station"}, wire::CMD_SET_WIFI_MODE},
      {{"reset-defaults"}, wire::CMD_RESET_CONFIG},
  };
  const sim::Fault faults[] = {sim::Fault::Refuse, sim::Fault::NoReply, sim::Fault::WrongSignature,
                               sim::Fault::Reset};
  for (const Command& c : commands) {
    for (const sim::Fault fault : faults) {
      SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : "") + " / " +
                   sim::FaultName(fault));
      sim->ClearFrames();
      sim->InjectFault(fault, 1, c.failing);
      std::vector<std::string> args{"--yes"};
      args.insert(args.end(), c.args.begin(), c.args.end());
      const Result r = Run(args);
      EXPECT_EQ(r.status, 1) << r.out;
      EXPECT_EQ(r.out.find("complete"), std::string::npos) << r.out;
      EXPECT_EQ(Codes().back(), c.failing);
      EXPECT_FALSE(sim->File("/local/sta_ssid.cfg"));
      sim->ClearFaults();
    }
  }
}

// SIGTERM (as Ctrl+C) while a setup action writes (here in the pause after its first announce was
// acknowledged, before the content went out): every file of the action is still written whole,
// nothing more is sent, and the run ends with status 1 and says so.
TEST_F(cliAdmin, ASignalDuringASetupActionLetsItFinishItsFilesThenEndsTheRun) {
  struct Case {
    std::vector<std::string> args;
    std::vector<std::pair<std::string, Bytes>> files;
  };
  const Case cases[] = {
      {{"setup", "station", "--ssid", "Office", "--key", "8charkey", "--type", "wpa"},
       {{"/local/sta_key.cfg", Of("8charkey")},
        {"/local/sta_keyT.cfg", Bytes{2}},
        {"/local/sta_ssid.cfg", Of("Office")}}},
      {{"setup", "location", "Tank 4"}, {{"/local/locate.cfg", Of("Tank 4")}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    int signals = 0;
    sleeper.on_sleep = [&](int) {
      if (signals++ == 0) std::raise(SIGTERM);
    };
    std::vector<std::string> args{"--yes"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Result r = Run(args);
    sleeper.on_sleep = nullptr;
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.out.find(" write complete,"), std::string::npos) << r.out;
    EXPECT_EQ(r.err,
              "zvk: interrupted by SIGTERM; what was under way was finished first (above), nothing "
              "more was sent\n");
    std::size_t announces = 0;
    for (const Bytes& frame : sim->Frames()) announces += frame.size() > 4 && frame[4] == 0x5F;
    EXPECT_TRUE(sim->WaitForStreams(announces, std::chrono::seconds(5)));
    for (const auto& [name, content] : c.files) EXPECT_EQ(sim->File(name), content) << name;
    sim->ClearFrames();
  }
}

TEST_F(cliAdmin, QuestionsNeedYesOrATerminal) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"reboot"}, {"setup", "location", "Hall"}}) {
    sim->ClearFrames();
    const Result r = Run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(sim->Frames().empty());
  }
}

TEST_F(cliAdmin, WriteFileStreamsTheLocalFileWithAProgressBar) {
  const std::string path = ::testing::TempDir() + "zvk-admin-write.bin";
  Bytes content(200000);
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i * 13);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(content.data()),
             static_cast<std::streamsize>(content.size()));

  Result r = Run({"write-file", "/sys/big.bin", path}, true);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Wrote 200000 bytes to /sys/big.bin\n");
  EXPECT_EQ(sim->File("/sys/big.bin"), content);
  EXPECT_NE(r.err.find("100% of 200000 bytes\n"), std::string::npos) << r.err;
  EXPECT_EQ(Codes(), Bytes{wire::CMD_WRITE_FILE});  // no identification first

  r = Run({"write-file", "/sys/again.bin", path});  // not on a terminal: no bar
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");

  r = Run({"delete-file", "/sys/big.bin"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Kill file in Flash Done!\n");
  EXPECT_FALSE(sim->File("/sys/big.bin"));
  std::remove(path.c_str());
}

TEST_F(cliAdmin, FileCommandFailures) {
  const std::string path = ::testing::TempDir() + "zvk-admin-small.bin";
  std::ofstream(path) << "abc";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string reason;  // how standard error starts; nothing sent unless the status is 0
  };
  std::vector<Case> cases = {
      {{"write-file", "/local/x.cfg", path + ".missing"}, 1, "cannot read "},
      {{"write-file", "/local/x.cfg", ::testing::TempDir()}, 1, "cannot read "},
      {{"write-file", std::string(44, 'n'), path}, 2, "write-file: a file name is 1 to 43"},
      {{"write-file", "/local/\u00E9.cfg", path}, 2, "write-file: a file name is 1 to 43"},
      {{"delete-file", std::string(24, 'n')}, 2, "delete-file: a file name is 1 to 23"},
      // The limits themselves fit their frames.
      {{"write-file", "/" + std::string(42, 'n'), path}, 0, ""},
      {{"delete-file", "/" + std::string(22, 'n')}, 0, ""},
  };
#ifndef _WIN32
  // Only a plain file is read: a device would send nothing or never end, a FIFO would hang.
  const std::string fifo = ::testing::TempDir() + "zvk-admin-fifo";
  std::remove(fifo.c_str());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  cases.push_back({{"write-file", "/local/ad_ref.cfg", "/dev/zero"},
                   1,
                   "cannot read \"/dev/zero\": it is a device, not a plain file; nothing sent"});
  cases.push_back({{"write-file", "/local/x.cfg", fifo},
                   1,
                   "cannot read \"" + fifo + "\": it is a pipe, not a plain file; nothing sent"});
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1] + " " + c.args.back());
    sim->ClearFrames();
    const Result r = Run(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    if (c.status == 0) {
      EXPECT_EQ(r.err, "");
      ASSERT_FALSE(sim->Frames().empty());
      EXPECT_EQ(sim->Frames()[0][16], c.args[1].size());
      continue;
    }
    EXPECT_EQ(r.err.rfind("zvk: " + c.reason, 0), 0u) << r.err;
    EXPECT_TRUE(sim->Frames().empty());
  }
  EXPECT_FALSE(sim->File("/local/ad_ref.cfg"));
#ifndef _WIN32
  std::remove(fifo.c_str());
#endif
  sim->Stop();
  const Result r = Run({"write-file", "/local/x.cfg", path});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "zvk: File /local/x.cfg not sent: Connect Timeout\n");
  std::remove(path.c_str());
}

}  // namespace
}  // namespace zvk::cli
