// "Publish…" in the trend window against a real broker on loopback: the gateway starts and stops
// for the watched module, its state (connected, queued, dropped) follows the broker, and a
// broker that cannot be reached is said in a box while the window goes on.
#include "gui/publish_panel.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "gui/trend_window_view.h"
#include "gui_test_wait.h"
#include "publish/broker.h"
#include "publish/broker_url.h"
#include "support/rig.h"
#include "watch_rig.h"

namespace zvk::gui {
namespace {

namespace fs = std::filesystem;

class PublishPanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::MosquittoProgram())
      GTEST_SKIP() << "the mosquitto broker is not installed (scripts/bootstrap installs it)";
    dir = fs::temp_directory_path() /
          ("zvk-publish-panel-" +
           std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir);
    rig = std::make_unique<WatchRig>(sim::Model::Qn6);
    rig->Polls(1);
    panel = dynamic_cast<TrendWindowView&>(*rig->watch->trend_view()).publish_panel();
    ASSERT_NE(panel, nullptr);
    panel->show_error = [this](const QString& caption, const QString& text) {
      errors.push_back((caption + ": " + text).toStdString());
    };
  }
  void TearDown() override {
    rig.reset();
    broker.reset();
    fs::remove_all(dir);
  }
  void Choose(const std::string& url) {
    panel->ask = [url](QWidget*) {
      PublishChoice c;
      c.url = url;
      c.settings.broker = publish::ParseBrokerUrl(url);
      return std::optional<PublishChoice>(c);
    };
  }
  std::string Status() const { return panel->status()->text().toStdString(); }
  bool StatusHas(const std::string& part) const { return Status().find(part) != std::string::npos; }

  fs::path dir;
  std::unique_ptr<test::Broker> broker;
  std::unique_ptr<WatchRig> rig;
  PublishPanel* panel = nullptr;
  std::vector<std::string> errors;
};

TEST_F(PublishPanelTest, StartsAndStopsTheGatewayAndFollowsTheBroker) {
  broker = std::make_unique<test::Broker>(dir, test::Broker::Options{});
  broker->Start();
  EXPECT_EQ(panel->button()->text().toStdString(), "Publish\u2026");
  EXPECT_EQ(Status(), "Not publishing");

  Choose(broker->url());
  {
    test::Subscriber live(broker->port(), "zvk/#");
    panel->button()->click();
    ASSERT_TRUE(WaitUntil([&] { return panel->running(); }, 15000)) << Status();
    EXPECT_EQ(panel->button()->text().toStdString(), "Stop publishing");
    rig->Polls(2);
    ASSERT_TRUE(WaitUntil([&] { return StatusHas("16 published, 0 queued, 0 dropped"); }))
        << Status();
    EXPECT_TRUE(StatusHas(broker->url() + ": connected")) << Status();
    ASSERT_TRUE(live.WaitFor([](const auto& all) { return all.size() >= 17; }));
    EXPECT_EQ(live.On("zvk/025a51360001/TH0").size(), 2u);
    EXPECT_EQ(live.On("zvk/025a51360001/status").at(0).payload, "online");
  }

  broker->Stop();
  rig->Polls(1);
  ASSERT_TRUE(WaitUntil([&] {
    return StatusHas("waiting for the broker") && StatusHas("8 queued");
  })) << Status();
  broker->Start();
  ASSERT_TRUE(WaitUntil([&] { return StatusHas("connected; 24 published, 0 queued"); }, 20000))
      << Status();

  panel->button()->click();
  ASSERT_TRUE(WaitUntil([&] { return StatusHas("Stopped publishing"); }, 15000)) << Status();
  EXPECT_FALSE(panel->running());
  EXPECT_EQ(panel->button()->text().toStdString(), "Publish\u2026");
  EXPECT_TRUE(StatusHas("24 published, 0 not delivered, 0 polls dropped")) << Status();
  rig->Polls(1);  // no longer published
  test::Subscriber late(broker->port(), "zvk/025a51360001/status");
  ASSERT_TRUE(late.WaitFor([](const auto& all) { return !all.empty(); }));
  EXPECT_EQ(late.Messages().at(0).payload, "offline");
  EXPECT_TRUE(errors.empty()) << errors.front();
}

TEST_F(PublishPanelTest, ABrokerThatCannotBeReachedIsSaidAndNothingRuns) {
  Choose("mqtt://127.0.0.1:" + std::to_string(test::ClosedLoopbackPort()));
  panel->button()->click();
  ASSERT_TRUE(WaitUntil([&] { return !errors.empty(); }, 15000)) << Status();
  EXPECT_EQ(errors[0].rfind("Publish: cannot reach the broker mqtt://127.0.0.1:", 0), 0u)
      << errors[0];
  EXPECT_FALSE(panel->running());
  EXPECT_EQ(Status(), "Not publishing");
  rig->Polls(1);  // the window goes on
}

}  // namespace
}  // namespace zvk::gui
