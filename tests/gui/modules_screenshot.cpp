// Saves a picture of the Modules window over the main window after a scan of a fleet of simulated
// modules on 127.0.0.0/27: six modules of both models (one of them silent, so not listed), with
// the one on 127.0.0.4 double-clicked and so watched by the main window. With a second picture,
// the same window a few rounds later while it records the listed modules to a file and publishes
// them to a broker of its own on loopback (where the build has the MQTT client and mosquitto is
// installed), the module on 127.0.0.17 gone meanwhile.
//
//   modules_screenshot OUT.png [RUNNING.png]
#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "gui/modules_window_view.h"
#include "gui_test_wait.h"
#ifdef ZVK_SCREENSHOT_BROKER
#include "publish/broker.h"
#include "publish/broker_url.h"
#endif
#include "sim/simulator.h"
#include "support/test_seams.h"
#include "watch_rig.h"

int main(int argc, char** argv) {
  using namespace zvk;
  if (argc < 2) {
    std::cerr << "usage: modules_screenshot OUT.png [RUNNING.png]\n";
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
    fleet.back()->Start();
  }

  test::LoopbackOnlyNetwork network;
  test::FakeHostInterfaces hosts;
  gui::ModulesWindowView view(
      *rig.app, network, hosts,
      [&rig](const std::string& address) { rig.view->WatchModule(address); }, rig.view.get());
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
  for (int i = 0; i < 40 && rig.window->form.Label4.caption.empty(); ++i) rig.Tick();
  rig.Polls(1);
  gui::WaitUntil([] { return false; }, 700);  // the state column catches up
  if (!view.grab().save(QString::fromLocal8Bit(argv[1]))) {
    std::cerr << "modules_screenshot: cannot write " << argv[1] << "\n";
    return 1;
  }
  if (argc < 3) return 0;

  namespace fs = std::filesystem;
  const fs::path work = fs::temp_directory_path() / "zvk-modules-screenshot";
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
  // Three rounds (3.1 s apart); the module on 127.0.0.17 goes away after the first. Each run
  // reports once it has identified its modules, then after every round.
  const int runs = view.running(gui::ModulesWindowView::RunKind::Publish) ? 2 : 1;
  QSignalSpy rounds(&view, &gui::ModulesWindowView::runProgressed);
  gui::WaitUntil([&] { return rounds.count() >= 2 * runs; }, 5000);
  fleet[3]->Stop();
  gui::WaitUntil([&] { return rounds.count() >= 4 * runs; }, 12000);
  gui::WaitUntil([] { return false; }, 300);
  const bool saved = view.grab().save(QString::fromLocal8Bit(argv[2]));
  view.close();
  QSignalSpy finished(&view, &gui::ModulesWindowView::runFinished);
  gui::WaitUntil(
      [&] {
        return !view.running(gui::ModulesWindowView::RunKind::Record) &&
               !view.running(gui::ModulesWindowView::RunKind::Publish);
      },
      15000);
  for (auto& m : fleet) m->Stop();
  fs::remove_all(work);
  if (!saved) {
    std::cerr << "modules_screenshot: cannot write " << argv[2] << "\n";
    return 1;
  }
  return 0;
}
