// "Publish…" of the Modules window against a real broker on loopback: every listed module goes
// out through one gateway until "Stop publishing", which delivers what is queued and says each
// module offline without holding up the window; a module reporting the MAC of another one is
// left out.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QSignalSpy>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "gui/modules_window_view.h"
#include "gui_test_wait.h"
#include "publish/broker.h"
#include "publish/broker_url.h"
#include "sim/simulator.h"
#include "support/test_seams.h"
#include "watch_rig.h"

namespace zvk::gui {
namespace {

namespace fs = std::filesystem;

class ModulesPublish : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::MosquittoProgram())
      GTEST_SKIP() << "the mosquitto broker is not installed (scripts/bootstrap installs it)";
    dir_ = fs::temp_directory_path() / ("zvk-modules-publish-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    broker_ = std::make_unique<test::Broker>(dir_, test::Broker::Options{});
    broker_->Start();
    rig_ = std::make_unique<WatchRig>(sim::Model::Qn6);  // watched, on 127.0.0.1
    other_ = rig_->AnotherModule(2, sim::Model::Km3);
    // A twin of 127.0.0.2 on 127.0.0.3: the same unit, so the same MAC and name.
    sim::Options twin;
    twin.model = sim::Model::Km3;
    twin.unit = 2;
    twin.listen = "127.0.0.3";
    twin.port = rig_->sim->Port();
    twin_ = std::make_unique<sim::Simulator>(twin);
    twin_->SetReportedAddress({127, 0, 0, 3});
    twin_->Start();
    view_ = std::make_unique<ModulesWindowView>(
        *rig_->app, network_, hosts_,
        [this](const std::string& address) { rig_->view->WatchModule(address); });
    view_->show_error = [this](const QString& caption, const QString& text) {
      errors_.push_back((caption + ": " + text).toStdString());
    };
    view_->show();
    view_->ranges().setText(QStringLiteral("127.0.0.1 127.0.0.2 127.0.0.3"));
    ASSERT_TRUE(view_->StartScan());
    ASSERT_TRUE(WaitUntil([this] { return !view_->scanning(); }));
    ASSERT_EQ(view_->table().rowCount(), 3);
  }
  void TearDown() override {
    view_.reset();
    if (other_) other_->Stop();
    if (twin_) twin_->Stop();
    rig_.reset();
    broker_.reset();
    fs::remove_all(dir_);
  }
  std::string RunOf(int row) {
    const QTableWidgetItem* item = view_->table().item(row, ModulesWindowView::kRun);
    return item ? item->text().toStdString() : "";
  }

  fs::path dir_;
  std::unique_ptr<test::Broker> broker_;
  std::unique_ptr<WatchRig> rig_;
  std::unique_ptr<sim::Simulator> other_;
  std::unique_ptr<sim::Simulator> twin_;
  test::LoopbackOnlyNetwork network_;
  test::FakeHostInterfaces hosts_;
  std::unique_ptr<ModulesWindowView> view_;
  std::vector<std::string> errors_;
};

TEST_F(ModulesPublish, PublishesEveryListedModuleThroughOneGatewayUntilStopped) {
  const std::string url = broker_->url();
  int asked = 0;
  view_->ask_publish = [&](QWidget*) {
    ++asked;
    PublishChoice c;
    c.url = url;
    c.settings.broker = publish::ParseBrokerUrl(url);
    return std::optional<PublishChoice>(c);
  };
  test::Subscriber live(broker_->port(), "zvk/#");
  ASSERT_TRUE(WaitUntil([&] { return live.subscribed(); }));
  QPushButton& publish = view_->run_button(ModulesWindowView::RunKind::Publish);
  EXPECT_EQ(publish.text(), "Publish\u2026");
  publish.click();
  EXPECT_EQ(asked, 1);
  ASSERT_TRUE(view_->running(ModulesWindowView::RunKind::Publish));
  EXPECT_EQ(publish.text(), "Stop publishing");
  // The twin the gateway admits second (the list keeps the order the scan found them in) is left
  // out.
  const auto twins = [&] {
    return std::set<std::string>{RunOf(1), RunOf(2)} ==
           std::set<std::string>{"publishing", "publishing (left out)"};
  };
  ASSERT_TRUE(WaitUntil([&] { return RunOf(0) == "publishing" && twins(); }, 15000))
      << RunOf(0) << " / " << RunOf(1) << " / " << RunOf(2);
  // Both modules' channels reach a real subscriber, each under its own MAC.
  ASSERT_TRUE(WaitUntil([&] {
    return !live.On("zvk/025a51360001/TH0").empty() && !live.On("zvk/025a4b330002/AI0").empty();
  }));
  EXPECT_EQ(live.On("zvk/025a51360001/status").at(0).payload, "online");
  EXPECT_EQ(live.On("zvk/025a4b330002/status").at(0).payload, "online");
  EXPECT_NE(view_->run_status().text().toStdString().find("Publishing to " + url + ": "),
            std::string::npos)
      << view_->run_status().text().toStdString();

  QSignalSpy finished(view_.get(), &ModulesWindowView::runFinished);
  QElapsedTimer clicked;
  clicked.start();
  publish.click();
  EXPECT_LT(clicked.elapsed(), 500);  // the gateway's farewell is the run's, not the window's
  ASSERT_TRUE(finished.wait(15000));
  EXPECT_FALSE(view_->running(ModulesWindowView::RunKind::Publish));
  EXPECT_EQ(publish.text(), "Publish\u2026");
  const std::string status = view_->run_status().text().toStdString();
  EXPECT_EQ(status.rfind("Published the listed modules: ", 0), 0u) << status;
  EXPECT_NE(status.find(" published, 0 not delivered, 0 polls dropped"), std::string::npos)
      << status;
  EXPECT_TRUE(WaitUntil([&] {
    const auto a = live.On("zvk/025a51360001/status");
    const auto b = live.On("zvk/025a4b330002/status");
    return !a.empty() && a.back().payload == "offline" && !b.empty() &&
           b.back().payload == "offline";
  }));
  EXPECT_TRUE(errors_.empty()) << errors_.front();
}

// A broker that cannot be reached ends the run at its start, said in a box; the window goes on.
TEST_F(ModulesPublish, ABrokerThatCannotBeReachedIsSaid) {
  const std::uint16_t port = broker_->port();
  broker_->Stop();
  PublishChoice c;
  c.url = "mqtt://127.0.0.1:" + std::to_string(port);
  c.settings.broker = publish::ParseBrokerUrl(c.url);
  QSignalSpy finished(view_.get(), &ModulesWindowView::runFinished);
  ASSERT_TRUE(view_->StartPublishing(c));
  ASSERT_TRUE(finished.wait(20000));
  EXPECT_FALSE(view_->running(ModulesWindowView::RunKind::Publish));
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0].rfind("Publish: ", 0), 0u) << errors_[0];
  EXPECT_EQ(RunOf(0), "");
}

}  // namespace
}  // namespace zvk::gui
