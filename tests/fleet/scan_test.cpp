// The scan against a fleet of simulated modules on loopback addresses 127.0.0.x, all on one port.
#include "fleet/scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fleet/scan_range.h"
#include "link/exchange.h"
#include "sim/simulator.h"
#include "support/rig.h"
#include "support/test_seams.h"

namespace zvk {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Counts the sockets open at once, to see the bound on connections in flight.
class OpenSocketCounter final : public Network {
 public:
  explicit OpenSocketCounter(Network& inner) : inner_(inner) {}
  std::unique_ptr<TcpSocket> NewSocket() override {
    return std::make_unique<Counted>(inner_.NewSocket(), *this);
  }
  int open = 0;
  int peak = 0;

 private:
  class Counted final : public TcpSocket {
   public:
    Counted(std::unique_ptr<TcpSocket> inner, OpenSocketCounter& counter)
        : inner_(std::move(inner)), counter_(counter) {
      counter_.peak = std::max(counter_.peak, ++counter_.open);
    }
    ~Counted() override { Close(); }
    IoStatus BeginConnect(const std::string& h, std::uint16_t p) override {
      return inner_->BeginConnect(h, p);
    }
    IoStatus PollConnect(int t) override { return inner_->PollConnect(t); }
    bool WriteAll(const std::uint8_t* d, std::size_t n) override { return inner_->WriteAll(d, n); }
    IoStatus WaitReadable(int t) override { return inner_->WaitReadable(t); }
    long ReadSome(std::uint8_t* o, std::size_t c) override { return inner_->ReadSome(o, c); }
    bool ShutdownWrite() override { return inner_->ShutdownWrite(); }
    IoStatus WaitPeerClose(int t) override { return inner_->WaitPeerClose(t); }
    void Close() override {
      if (!closed_) --counter_.open;
      closed_ = true;
      inner_->Close();
    }
    std::string LastError() const override { return inner_->LastError(); }
    std::int64_t PollHandle() const override { return inner_->PollHandle(); }

   private:
    std::unique_ptr<TcpSocket> inner_;
    OpenSocketCounter& counter_;
    bool closed_ = false;
  };
  Network& inner_;
};

// Simulated modules on 127.0.0.1, 127.0.0.2, ... (module k on 127.0.0.k), one port for all.
class Fleet {
 public:
  sim::Simulator& Add(sim::Model model) {
    sim::Options options;
    options.model = model;
    options.unit = static_cast<int>(modules.size()) + 1;
    options.listen = "127.0.0." + std::to_string(options.unit);
    options.port = port;
    modules.push_back(std::make_unique<sim::Simulator>(options));
    sim::Simulator& module = *modules.back();
    module.SetReportedAddress({127, 0, 0, static_cast<std::uint8_t>(options.unit)});
    port = module.Start();
    return module;
  }
  ~Fleet() {
    for (auto& m : modules) m->Stop();
  }
  std::uint16_t port = 0;
  std::vector<std::unique_ptr<sim::Simulator>> modules;
};

std::vector<std::string> Addresses(const std::vector<ScanRow>& rows) {
  std::vector<std::string> out;
  for (const ScanRow& r : rows) out.push_back(r.address);
  return out;
}

TEST(Scan, FindsExactlyTheModulesThatAnswerAndSendsThemOnlyTheIdentityRequest) {
  Fleet fleet;
  fleet.Add(sim::Model::Qn6);                                               // .1
  fleet.Add(sim::Model::Km3).SetLocation("Kessel \xE9st");                  // .2, 8-bit text
  fleet.Add(sim::Model::Qn6).InjectFault(sim::Fault::NoReply, 100);         // .3 silent
  fleet.Add(sim::Model::Qn6).InjectFault(sim::Fault::Refuse, 100);          // .4 refusing
  fleet.Add(sim::Model::Qn6).InjectFault(sim::Fault::WrongSignature, 100);  // .5
  fleet.Add(sim::Model::Qn6).SetModelCode(0x00);                            // .6 unknown model
  fleet.Add(sim::Model::Qn6).InjectFault(sim::Fault::Truncate, 100);        // .7 cut short
  sim::Simulator& weak = fleet.Add(sim::Model::Qn6);                        // .8
  weak.SetRssi(0);
  // .9 to .14: nothing listens there.

  test::LoopbackOnlyNetwork network;
  ScanOptions options;
  options.port = fleet.port;
  std::vector<std::string> found_live;
  options.on_module = [&](const ScanRow& row) { found_live.push_back(row.address); };
  const ScanResult result =
      ScanModules(network, ScanAddresses({ParseScanRange("127.0.0.0/28")}), options);

  EXPECT_EQ(Addresses(result.modules),
            (std::vector<std::string>{"127.0.0.1", "127.0.0.2", "127.0.0.8"}));
  std::sort(found_live.begin(), found_live.end());
  EXPECT_EQ(found_live, Addresses(result.modules));
  EXPECT_EQ(result.probed, 14u);
  EXPECT_EQ(result.silent, 1u);
  EXPECT_EQ(result.not_modules, 4u);
  EXPECT_EQ(result.unreachable, 6u);
  EXPECT_FALSE(result.cancelled);

  ASSERT_EQ(result.modules.size(), 3u);
  const ScanRow& qn6 = result.modules[0];
  EXPECT_EQ(qn6.model, "zVK-QN6");
  EXPECT_EQ(qn6.model_code, wire::kModelQn6);
  EXPECT_EQ(qn6.name, "zVK-Analog-0001");
  EXPECT_EQ(qn6.location, "Lab bench 1");
  EXPECT_EQ(qn6.firmware, "V01.12");
  EXPECT_EQ(qn6.mac, "02:5A:51:36:00:01");
  EXPECT_EQ(qn6.rssi_dbm, -61);
  EXPECT_EQ(qn6.wifi_mode, "AP");
  const ScanRow& km3 = result.modules[1];
  EXPECT_EQ(km3.model, "zVK-KM3");
  EXPECT_EQ(km3.name, "zVK-Analog-0002");
  EXPECT_EQ(km3.location, "Kessel \xC3\xA9st");  // through the text codec
  EXPECT_EQ(km3.mac, "02:5A:4B:33:00:02");
  EXPECT_EQ(result.modules[2].rssi_dbm, std::nullopt);

  const auto request = IdentityRequestFrame();
  for (const auto& module : fleet.modules)
    EXPECT_EQ(module->Frames(), (std::vector<Bytes>{Bytes(request.begin(), request.end())}));
}

TEST(Scan, TheIdentityRequestIsTheFrameTheLinkSends) {
  test::Rig rig;
  rig.Start();
  ASSERT_TRUE(rig.TickUntilIdentified());
  const auto request = IdentityRequestFrame();
  ASSERT_FALSE(rig.Frames().empty());
  EXPECT_EQ(rig.Frames().front(), Bytes(request.begin(), request.end()));
}

TEST(Scan, KeepsNoMoreConnectionsInFlightThanAllowed) {
  Fleet fleet;
  for (int i = 0; i < 6; ++i) fleet.Add(sim::Model::Qn6).InjectFault(sim::Fault::Delay, 1, 0, 100);
  test::LoopbackOnlyNetwork loopback;
  OpenSocketCounter network(loopback);
  ScanOptions options;
  options.port = fleet.port;
  options.max_in_flight = 4;
  const ScanResult result =
      ScanModules(network, ScanAddresses({ParseScanRange("127.0.0.0/28")}), options);
  EXPECT_EQ(result.modules.size(), 6u);
  EXPECT_EQ(network.peak, 4);
  EXPECT_EQ(network.open, 0);
}

TEST(Scan, ASilentModuleIsGivenUpAfterTheReplyWait) {
  Fleet fleet;
  fleet.Add(sim::Model::Qn6).InjectFault(sim::Fault::NoReply, 10);
  fleet.Add(sim::Model::Qn6).InjectFault(sim::Fault::Delay, 1, 0, 2000);  // too late
  test::LoopbackOnlyNetwork network;
  ScanOptions options;
  options.port = fleet.port;
  options.reply_timeout_ms = 100;
  const ScanResult result = ScanModules(network, {"127.0.0.1", "127.0.0.2"}, options);
  EXPECT_TRUE(result.modules.empty());
  EXPECT_EQ(result.silent, 2u);
}

TEST(Scan, ACancelledScanStopsAndSaysSo) {
  Fleet fleet;
  fleet.Add(sim::Model::Qn6);
  test::LoopbackOnlyNetwork network;
  ScanOptions options;
  options.port = fleet.port;
  options.cancelled = [] { return true; };
  const ScanResult result = ScanModules(network, {"127.0.0.1"}, options);
  EXPECT_TRUE(result.cancelled);
  EXPECT_TRUE(result.modules.empty());
  EXPECT_TRUE(fleet.modules[0]->Frames().empty());
}

// Replies built by the simulator's module, changed one way at a time.
TEST(ModuleFromReply, OnlyACompleteRecordOfAKnownModelIsAModule) {
  sim::Options options;
  sim::Simulator qn6(options);
  const auto request = IdentityRequestFrame();
  const Bytes record = qn6.BuildReply(Bytes(request.begin(), request.end()));
  ASSERT_EQ(record.size(), wire::devinfo::kQn6RecordSize);
  ASSERT_TRUE(ModuleFromReply("127.0.0.1", record.data(), record.size()));

  struct Case {
    const char* what;
    std::size_t offset;
    std::uint8_t value;
    std::size_t length;
  };
  const Case refused[] = {
      {"refusal", wire::kReplyStatus, wire::NAK, record.size()},
      {"another signature", 3, 0xA4, record.size()},
      {"unknown model", wire::devinfo::kModel, 0x00, record.size()},
      {"the other model's length", wire::devinfo::kModel, wire::kModelKm3, record.size()},
      {"one byte short", 0, 0x5A, record.size() - 1},
      {"header only", 0, 0x5A, wire::kReplyHeaderSize},
      {"nothing", 0, 0x5A, 0},
  };
  for (const Case& c : refused) {
    Bytes reply = record;
    reply[c.offset] = c.value;
    EXPECT_FALSE(ModuleFromReply("127.0.0.1", reply.data(), c.length)) << c.what;
  }
}

TEST(ModuleFromReply, ReadsTheRowFromTheRecord) {
  sim::Options options;
  options.model = sim::Model::Km3;
  sim::Simulator km3(options);
  km3.SetLocation(std::string("Halle 3 \x80", 9));  // the euro sign in the module's code page
  km3.SetRssi(0);
  const auto request = IdentityRequestFrame();
  Bytes record = km3.BuildReply(Bytes(request.begin(), request.end()));
  record[wire::devinfo::kWifiMode] = 0;
  std::fill_n(record.begin() + wire::devinfo::kMac, 6, 0);

  const auto row = ModuleFromReply("10.0.0.7", record.data(), record.size());
  ASSERT_TRUE(row);
  EXPECT_EQ(row->address, "10.0.0.7");
  EXPECT_EQ(row->model, "zVK-KM3");
  EXPECT_EQ(row->location, "Halle 3 \xE2\x82\xAC");
  EXPECT_EQ(row->mac, std::nullopt);
  EXPECT_EQ(row->rssi_dbm, std::nullopt);
  EXPECT_EQ(row->wifi_mode, "Station");
}

}  // namespace
}  // namespace zvk
