// "Update firmware…" in the Modules window over a simulated fleet of 20 modules on 127.0.0.x:
// the selected modules identified and planned (canary, then batches, the other model skipped),
// the rollout on its worker with each module's progress in its row, and the watched module's
// main window polling on undisturbed.
#include "gui/firmware_rollout.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "gui/modules_window_view.h"
#include "gui_test_wait.h"
#include "link/host_interfaces.h"
#include "link/wire.h"
#include "sim/simulator.h"
#include "support/test_seams.h"
#include "watch_rig.h"

namespace zvk::gui {
namespace {

// The protocol's waits, a 25th of their length, from any thread.
class ScaledSleeper final : public Sleeper {
 public:
  void SleepMs(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms / 25)); }
};

TEST(FirmwareRolloutWindow, UpdatesTheSelectedModulesInStagesBesideTheWatchedOne) {
  WatchRig rig(sim::Model::Qn6);  // 127.0.0.1, watched
  std::vector<std::unique_ptr<sim::Simulator>> fleet;
  for (int unit = 2; unit <= 20; ++unit)
    fleet.push_back(rig.AnotherModule(unit, unit == 5 ? sim::Model::Km3 : sim::Model::Qn6));
  const std::filesystem::path image =
      std::filesystem::temp_directory_path() /
      ("zvk-rollout-" + std::to_string(std::random_device{}()) + ".bin");
  std::ofstream(image, std::ios::binary) << "image " << sim::kImageVersionTag << "01.13 code";

  test::LoopbackOnlyNetwork network;
  SkipWifiCheckInterfaces hosts;
  ScaledSleeper sleeper;
  ModulesWindowView view(*rig.app, network, hosts, [](const std::string&) {});
  view.rollout_sleeper = &sleeper;
  view.show();
  view.ranges().setText(QStringLiteral("127.0.0.0/27"));
  ASSERT_TRUE(view.StartScan());
  ASSERT_TRUE(WaitUntil([&] { return !view.scanning(); }, 10000));
  ASSERT_EQ(view.table().rowCount(), 20);

  EXPECT_EQ(view.OpenFirmwareRollout(), nullptr);  // nothing selected
  QTableWidget& modules = view.table();
  for (int row = 0; row < modules.rowCount(); ++row)
    if (modules.item(row, ModulesWindowView::kAddress)->text() != "127.0.0.1")
      modules.selectionModel()->select(modules.model()->index(row, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
  FirmwareRolloutDialog* dialog = view.OpenFirmwareRollout();
  ASSERT_NE(dialog, nullptr);
  QTableWidget& table = dialog->table();
  ASSERT_EQ(table.rowCount(), 19);
  const auto cell = [&table](int row, int column) {
    const QTableWidgetItem* item = table.item(row, column);
    return item ? item->text().toStdString() : std::string();
  };

  dialog->version().setText(QStringLiteral("01.12"));
  dialog->image().setText(QString::fromStdString(image.string()));
  QSignalSpy planned(dialog, &FirmwareRolloutDialog::planReady);
  ASSERT_TRUE(dialog->MakePlan());
  ASSERT_TRUE(planned.wait(10000));
  // Everything already runs 01.12: nothing to start.
  EXPECT_FALSE(dialog->start_button().isEnabled());
  EXPECT_EQ(cell(0, FirmwareRolloutDialog::kStage), "skipped: already runs 01.12");

  dialog->version().setText(QStringLiteral("1.13"));
  ASSERT_TRUE(dialog->MakePlan());
  ASSERT_TRUE(planned.wait(10000));
  EXPECT_EQ(dialog->status().text().toStdString(),
            "Plan: 18 of 19 modules to update to 01.13 (qn6), 1 skipped. Start updates them as "
            "listed.");
  // The plan in the table's order: the canary, then batches of 5; the voltage module skipped.
  int planned_row = 0;
  for (int row = 0; row < table.rowCount(); ++row) {
    if (cell(row, FirmwareRolloutDialog::kAddress) == "127.0.0.5") {
      EXPECT_EQ(cell(row, FirmwareRolloutDialog::kStage),
                "skipped: model km3, the image is for qn6");
      continue;
    }
    const std::string stage =
        planned_row == 0 ? "canary" : "batch " + std::to_string((planned_row - 1) / 5 + 1);
    EXPECT_EQ(cell(row, FirmwareRolloutDialog::kStage), stage) << row;
    ++planned_row;
  }

  QSignalSpy done(dialog, &FirmwareRolloutDialog::finished);
  ASSERT_TRUE(dialog->Start());
  EXPECT_TRUE(dialog->busy());
  // The main window polls its own module meanwhile.
  const std::size_t frames = rig.sim->Frames().size();
  rig.Polls(1);
  EXPECT_GT(rig.sim->Frames().size(), frames);
  EXPECT_EQ(rig.window->form.module_state.caption, "zVK-QN6 Thermistor Input Module");
  // Each module's row follows its steps.
  EXPECT_TRUE(WaitUntil(
      [&] { return cell(0, FirmwareRolloutDialog::kFirmware).rfind("updating", 0) == 0; }, 5000));
  ASSERT_TRUE(done.wait(60000));

  ASSERT_TRUE(dialog->report().has_value());
  EXPECT_TRUE(dialog->report()->complete());
  for (int row = 0; row < table.rowCount(); ++row) {
    const bool km3 = cell(row, FirmwareRolloutDialog::kAddress) == "127.0.0.5";
    EXPECT_EQ(cell(row, FirmwareRolloutDialog::kFirmware),
              km3 ? "skipped: model km3, the image is for qn6" : "updated: now runs 01.13")
        << row;
  }
  EXPECT_EQ(dialog->status().text().toStdString(),
            "18 updated, 1 skipped, 0 failed, 0 not touched. Done.");
  // The watched module saw its main window's polls and nothing of the rollout.
  for (const auto& frame : rig.sim->Frames())
    EXPECT_NE(frame.at(wire::kReplyCode), wire::CMD_WRITE_FILE);
  for (auto& module : fleet) module->Stop();
  std::filesystem::remove(image);
}

}  // namespace
}  // namespace zvk::gui
