// Saves a picture of the Modules window over the main window after a scan of a fleet of simulated
// modules on 127.0.0.0/27: six modules of both models (one of them silent, so not listed), with
// the one on 127.0.0.4 double-clicked and so watched by the main window. With ROLLOUT.png, also
// "Update firmware…" over the other modules after its rollout, in which the module on 127.0.0.17
// comes back with its old firmware. With RUNNING.png too, the window a few rounds later while it
// records the listed modules to a file and publishes them to a broker of its own on loopback
// (where the build has the MQTT client and mosquitto is installed), the module on 127.0.0.17
// gone meanwhile.
//
//   modules_screenshot OUT.png [ROLLOUT.png [RUNNING.png]]
#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gui/modules_window_view.h"
#include "gui_test_wait.h"
#ifdef ZVK_SCREENSHOT_BROKER
#include "publish/broker.h"
#include "publish/broker_url.h"
#endif
#include "link/host_interfaces.h"
#include "sim/simulator.h"
#include "support/test_seams.h"
#include "watch_rig.h"

namespace {

// The protocol's waits, a 25th of their length, from any thread: the picture takes a second.
class ScaledSleeper final : public zvk::Sleeper {
 public:
  void SleepMs(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms / 25)); }
};

// The rollout over every listed module but the watched one, pictured once it is over.
bool SaveRollout(zvk::gui::ModulesWindowView& view, const char* out) {
  using namespace zvk;
  QTableWidget& table = view.table();
  table.clearSelection();
  for (int row = 0; row < table.rowCount(); ++row)
    if (table.item(row, gui::ModulesWindowView::kAddress)->text() != "127.0.0.4")
      table.selectionModel()->select(table.model()->index(row, 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
  gui::FirmwareRolloutDialog* dialog = view.OpenFirmwareRollout();
  if (!dialog) return false;
  const std::filesystem::path image = std::filesystem::temp_directory_path() / "qn6-0113.bin";
  std::ofstream(image, std::ios::binary) << "image " << sim::kImageVersionTag << "01.13 code";
  dialog->image().setText(QString::fromStdString(image.string()));
  dialog->version().setText(QStringLiteral("01.13"));
  QSignalSpy planned(dialog, &gui::FirmwareRolloutDialog::planReady);
  QSignalSpy done(dialog, &gui::FirmwareRolloutDialog::finished);
  const bool ran = dialog->MakePlan() && planned.wait(10000) && dialog->Start() && done.wait(60000);
  std::filesystem::remove(image);
  return ran && dialog->grab().save(QString::fromLocal8Bit(out));
}

}  // namespace

// Records and publishes the listed modules for three rounds (3.1 s apart), the module on
// 127.0.0.17 gone after the first, and saves the window then; the runs are stopped after.
bool SaveRunning(zvk::gui::ModulesWindowView& view,
                 std::vector<std::unique_ptr<zvk::sim::Simulator>>& fleet, const char* out) {
  using namespace zvk;
  namespace fs = std::filesystem;
  const fs::path work = fs::temp_directory_path() / "zvk-modules-screenshot-running";
  fs::remove_all(work);
  fs::create_directories(work);
  view.StartRecording(QString::fromStdString((work / "plant.csv").string()));
#ifdef ZVK_SCREENSHOT_BROKER
  std::unique_ptr<test::Broker> broker;
  if (test::MosquittoProgram()) {
    broker = std::make_unique<test::Broker>(work / "broker", test::Broker::Options{});
    broker->Start();
    gui::PublishChoice choice;
    choice.url = broker->url();
    choice.settings.broker = publish::ParseBrokerUrl(choice.url);
    view.StartPublishing(choice);
  }
#endif
  // Each run reports once it has identified its modules, then after every round.
  const int runs = view.running(gui::ModulesWindowView::RunKind::Publish) ? 2 : 1;
  QSignalSpy rounds(&view, &gui::ModulesWindowView::runProgressed);
  gui::WaitUntil([&] { return rounds.count() >= 2 * runs; }, 5000);
  fleet[3]->Stop();  // 127.0.0.17
  gui::WaitUntil([&] { return rounds.count() >= 4 * runs; }, 12000);
  gui::WaitUntil([] { return false; }, 300);
  const bool saved = view.grab().save(QString::fromLocal8Bit(out));
  view.StopRun(gui::ModulesWindowView::RunKind::Record);
  view.StopRun(gui::ModulesWindowView::RunKind::Publish);
  gui::WaitUntil(
      [&] {
        return !view.running(gui::ModulesWindowView::RunKind::Record) &&
               !view.running(gui::ModulesWindowView::RunKind::Publish);
      },
      15000);
  fs::remove_all(work);
  return saved;
}

int main(int argc, char** argv) {
  using namespace zvk;
  if (argc < 2) {
    std::cerr << "usage: modules_screenshot OUT.png [ROLLOUT.png [RUNNING.png]]\n";
    return 2;
  }
  QApplication qt(argc, argv);
  gui::WatchRig rig(sim::Model::Qn6);
  rig.sim->SetLocation("Boiler house");
  struct Member {
    int address;
    sim::Model model;
    const char* location;
    std::uint16_t rssi;
  };
  const Member members[] = {{4, sim::Model::Km3, "Press line 2", 0xFFB5},
                            {9, sim::Model::Qn6, "Cold store", 0xFFC9},
                            {12, sim::Model::Km3, "Dryer", 0xFFAE},
                            {17, sim::Model::Qn6, "Kiln east", 0xFFBD},
                            {23, sim::Model::Qn6, "", 0xFFC1}};
  std::vector<std::unique_ptr<sim::Simulator>> fleet;
  int unit = 2;
  for (const Member& m : members) {
    sim::Options options;
    options.model = m.model;
    options.unit = unit++;
    options.listen = "127.0.0." + std::to_string(m.address);
    options.port = rig.sim->Port();
    fleet.push_back(std::make_unique<sim::Simulator>(options));
    fleet.back()->SetLocation(m.location);
    fleet.back()->SetRssi(m.rssi);
    fleet.back()->SetReportedAddress({127, 0, 0, static_cast<std::uint8_t>(m.address)});
    if (m.address == 23) fleet.back()->InjectFault(sim::Fault::NoReply, 1000);
    if (m.address == 17) fleet.back()->InjectFault(sim::Fault::OldFirmware);
    fleet.back()->Start();
  }

  test::LoopbackOnlyNetwork network;
  test::FakeHostInterfaces hosts;
  gui::ModulesWindowView view(
      *rig.app, network, hosts,
      [&rig](const std::string& address) { rig.view->WatchModule(address); }, rig.view.get());
  ScaledSleeper sleeper;
  view.rollout_sleeper = &sleeper;
  SkipWifiCheckInterfaces on_loopback;
  view.rollout_hosts = &on_loopback;
  view.ranges().setText(QStringLiteral("127.0.0.0/27"));
  view.show();
  if (!view.StartScan() || !gui::WaitUntil([&] { return !view.scanning(); }, 10000)) {
    std::cerr << "modules_screenshot: the scan did not finish\n";
    return 1;
  }
  QTableWidget& table = view.table();
  for (int row = 0; row < table.rowCount(); ++row) {
    if (table.item(row, gui::ModulesWindowView::kAddress)->text() != "127.0.0.4") continue;
    table.selectRow(row);
    const QPoint at = table.visualItemRect(table.item(row, 0)).center();
    QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(table.viewport(), Qt::LeftButton, {}, at);
  }
  // "Static IP" empties the main window; the new module's identity fills it again.
  for (int i = 0; i < 40 && rig.window->form.module_state.caption.empty(); ++i) rig.Tick();
  rig.Polls(1);
  gui::WaitUntil([] { return false; }, 700);  // the state column catches up
  const bool saved = view.grab().save(QString::fromLocal8Bit(argv[1]));
  const bool rollout_saved = argc < 3 || SaveRollout(view, argv[2]);
  const bool running_saved = argc < 4 || SaveRunning(view, fleet, argv[3]);
  for (auto& m : fleet) m->Stop();
  if (!saved || !rollout_saved || !running_saved) {
    std::cerr << "modules_screenshot: cannot write "
              << argv[!saved           ? 1
                      : !rollout_saved ? 2
                                       : 3]
              << "\n";
    return 1;
  }
  return 0;
}
