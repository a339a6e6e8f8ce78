// "Publish…" in the trend window against a real broker on loopback: the gateway starts and stops
// for the watched module, its state (connected, queued, dropped) follows the broker, and a
// broker that cannot be reached is said in a box while the window goes on.
#include "gui/publish_panel.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gui/trend_window_view.h"
#include "gui_test_wait.h"
#include "publish/broker.h"
#include "publish/broker_url.h"
#include "scripted_file_dialog.h"
#include "support/rig.h"
#include "watch_rig.h"

namespace zvk::gui {
namespace {

namespace fs = std::filesystem;

// Answers the publish dialog once it is open.
void AnswerPublishDialog(std::function<void(QDialog&)> answer) {
  auto* timer = new QTimer(qApp);
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, answer = std::move(answer)] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog || !dialog->isVisible() || dialog->objectName() != "PublishDialog") return;
    timer->stop();
    timer->deleteLater();
    answer(*dialog);
  });
  timer->start();
}

template <typename W>
W& In(QDialog& dialog, const char* name) {
  W* widget = dialog.findChild<W*>(QString::fromLatin1(name));
  if (!widget) throw std::runtime_error(std::string("no widget ") + name);
  return *widget;
}

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
  void Choose(const std::string& url, bool discovery = false) {
    panel->ask = [url, discovery](QWidget*) {
      PublishChoice c;
      c.url = url;
      c.settings.broker = publish::ParseBrokerUrl(url);
      c.settings.discovery = discovery;
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

// Watching another module while publishing: its readings go out under its own MAC, model and
// name, and the first module's status says offline; nothing of the new one under the old MAC.
TEST_F(PublishPanelTest, FollowsAnotherModuleUnderItsOwnIdentityAndTheFirstGoesOffline) {
  broker = std::make_unique<test::Broker>(dir, test::Broker::Options{});
  broker->Start();
  std::unique_ptr<sim::Simulator> second = rig->AnotherModule(2, sim::Model::Qn6);
  test::Subscriber live(broker->port(), "#");
  ASSERT_TRUE(WaitUntil([&] { return live.subscribed(); }));
  Choose(broker->url(), true);
  panel->button()->click();
  ASSERT_TRUE(WaitUntil([&] { return panel->running(); }, 15000)) << Status();
  rig->Polls(1);
  ASSERT_TRUE(WaitUntil([&] { return StatusHas("8 published"); })) << Status();
  EXPECT_TRUE(StatusHas("Publishing zvk/025a51360001 to " + broker->url())) << Status();

  rig->WatchAndIdentify("127.0.0.2");
  rig->Polls(2);
  ASSERT_TRUE(live.WaitFor([](const auto& all) {
    std::size_t th0 = 0;
    for (const test::Received& r : all) th0 += r.topic == "zvk/025a51360002/TH0";
    return th0 >= 2;
  })) << Status();
  ASSERT_TRUE(live.WaitFor([](const auto& all) {
    std::string last;
    for (const test::Received& r : all)
      if (r.topic == "zvk/025a51360001/status") last = r.payload;
    return last == "offline";
  })) << Status();
  EXPECT_EQ(live.On("zvk/025a51360001/TH0").size(), 1u);  // the one poll before the switch
  EXPECT_EQ(live.On("zvk/025a51360002/status").at(0).payload, "online");
  const auto config = live.On("homeassistant/sensor/zvk_025a51360002/TH0/config");
  ASSERT_FALSE(config.empty());
  EXPECT_NE(config.back().payload.find("\"name\":\"Lab bench 2\""), std::string::npos)
      << config.back().payload;
  for (const auto& old : live.On("homeassistant/sensor/zvk_025a51360001/TH0/config"))
    EXPECT_EQ(old.payload.find("Lab bench 2"), std::string::npos);
  ASSERT_TRUE(WaitUntil([&] { return StatusHas("zvk/025a51360001 went offline"); })) << Status();
  EXPECT_TRUE(StatusHas("Publishing zvk/025a51360002 to ")) << Status();
  EXPECT_TRUE(errors.empty()) << errors.front();
  second->Stop();
}

// zvk publish takes "zvk-" and the module's id by default; the desktop program another, so
// running both for one module does not make them take each other's session.
TEST_F(PublishPanelTest, RunsBesideTheGatewayOfZvkForTheSameModule) {
  broker = std::make_unique<test::Broker>(dir, test::Broker::Options{});
  broker->Start();
  test::Subscriber gateway(broker->port(), "zvk/#", "zvk-025a51360001");
  ASSERT_TRUE(WaitUntil([&] { return gateway.subscribed(); }));
  EXPECT_EQ(DesktopClientId("025a51360001"), "zvk-analog-025a51360001");
  Choose(broker->url());
  panel->button()->click();
  ASSERT_TRUE(WaitUntil([&] { return panel->running(); }, 15000)) << Status();
  rig->Polls(2);
  ASSERT_TRUE(WaitUntil([&] { return StatusHas("16 published, 0 queued"); })) << Status();
  ASSERT_TRUE(gateway.WaitFor([](const auto& all) { return all.size() >= 17; }));
  WaitUntil([] { return false; }, 1500);  // a taken session would be taken back by now
  ASSERT_NE(panel->publisher(), nullptr);
  const publish::PublisherStatus s = panel->publisher()->Status();
  EXPECT_EQ(s.reconnects, 0u) << s.last_error;
  EXPECT_TRUE(s.connected);
  EXPECT_TRUE(gateway.subscribed());
}

// The dialog offers the broker, prefix, discovery and the rest as chosen last, never the
// password; the CA file can be browsed for.
TEST_F(PublishPanelTest, TheDialogOffersTheLastChoiceButNeverThePassword) {
  fs::create_directories(dir);
  const fs::path ca = dir / "plant-ca.pem";
  std::ofstream(ca) << "not a certificate\n";
  const std::string url = "mqtt://127.0.0.1:" + std::to_string(test::ClosedLoopbackPort());
  AnswerPublishDialog([&](QDialog& d) {
    bool labelled = false;
    for (const QLabel* label : d.findChildren<QLabel*>())
      labelled = labelled || label->text() == "Polls kept while the broker is away";
    EXPECT_TRUE(labelled);
    EXPECT_EQ(In<QLineEdit>(d, "BrokerEdit").text(), "mqtt://127.0.0.1:1883");
    In<QLineEdit>(d, "BrokerEdit").setText(QString::fromStdString(url));
    In<QLineEdit>(d, "PrefixEdit").setText("plant/hall");
    In<QLineEdit>(d, "UserEdit").setText("ops");
    In<QLineEdit>(d, "PasswordEdit").setText("secret");
    In<QSpinBox>(d, "QueueSpin").setValue(500);
    In<QCheckBox>(d, "DiscoveryCheck").setChecked(true);
    AnswerNextFileDialog(
        [&](QFileDialog& files) { ChooseFile(files, QString::fromStdString(ca.string())); });
    In<QPushButton>(d, "BrowseCaFile").click();
    EXPECT_EQ(In<QLineEdit>(d, "CaFileEdit").text().toStdString(), ca.string());
    d.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  });
  panel->button()->click();
  ASSERT_TRUE(WaitUntil([&] { return !errors.empty(); }, 15000)) << Status();  // no broker there

  bool asked = false;
  AnswerPublishDialog([&](QDialog& d) {
    asked = true;
    EXPECT_EQ(In<QLineEdit>(d, "BrokerEdit").text().toStdString(), url);
    EXPECT_EQ(In<QLineEdit>(d, "PrefixEdit").text(), "plant/hall");
    EXPECT_EQ(In<QLineEdit>(d, "UserEdit").text(), "ops");
    EXPECT_EQ(In<QLineEdit>(d, "PasswordEdit").text(), "");
    EXPECT_EQ(In<QLineEdit>(d, "CaFileEdit").text().toStdString(), ca.string());
    EXPECT_EQ(In<QSpinBox>(d, "QueueSpin").value(), 500);
    EXPECT_TRUE(In<QCheckBox>(d, "DiscoveryCheck").isChecked());
    d.reject();
  });
  panel->button()->click();
  EXPECT_TRUE(asked);
  EXPECT_FALSE(panel->running());
}

}  // namespace
}  // namespace zvk::gui
