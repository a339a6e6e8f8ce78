// "Publish…" of the Modules window, where the build has the MQTT client: every listed module
// through one gateway, the MQTT sink of a ModulesRun.
#include <QPushButton>
#include <algorithm>
#include <chrono>
#include <cstdint>

#include "gui/modules_window_view.h"
#include "publish/gateway_publisher.h"
#include "publish/mqtt_sink.h"

namespace zvk::gui {

namespace {

constexpr std::chrono::seconds kConnectTimeout{10};
constexpr std::chrono::seconds kFinishTimeout{10};

}  // namespace

void ModulesWindowView::SetUpPublishing() {
  ask_publish = [this](QWidget* parent) {
    std::optional<PublishChoice> choice = AskPublishChoice(parent, last_publish_);
    if (choice) {
      last_publish_ = choice;
      last_publish_->settings.password.reset();
    }
    return choice;
  };
  connect(runs_[Slot(RunKind::Publish)].button, &QPushButton::clicked, this, [this] {
    if (running(RunKind::Publish)) {
      StopRun(RunKind::Publish);
      return;
    }
    if (list_.modules().empty()) {
      show_error(QStringLiteral("Publish"), QStringLiteral("No modules listed: scan first."));
      return;
    }
    if (std::optional<PublishChoice> choice = ask_publish(this)) StartPublishing(*choice);
  });
}

bool ModulesWindowView::StartPublishing(PublishChoice choice) {
  if (running(RunKind::Publish)) return false;
  if (list_.modules().empty()) {
    show_error(QStringLiteral("Publish"), QStringLiteral("No modules listed: scan first."));
    return false;
  }
  std::vector<std::string> addresses;
  for (const RunTarget& t : Targets()) addresses.push_back(t.host);
  if (choice.settings.client_id.empty())
    choice.settings.client_id = publish::GatewayClientId("zvk-analog-gw-", addresses);
  auto sink = std::make_unique<publish::MqttSink>(
      std::move(choice.settings), choice.url, true,
      [this](std::optional<std::size_t> module, const std::string& line) {
        runs_[Slot(RunKind::Publish)].run->Tell(module, line);
      });
  publish::MqttSink* gateway = sink.get();
  runs_[Slot(RunKind::Publish)].target = choice.url;
  engine::EngineOptions options;
  options.gap_note = "the channels are published as \"No Reading\" until it answers";
  // A module's MAC names its topics: one that has not described itself waits until it does.
  options.identity_first = true;
  options.finish_wait = kFinishTimeout;
  StartRun(RunKind::Publish, std::move(sink), std::move(options),
           [gateway] { gateway->Connect(kConnectTimeout); });
  return true;
}

}  // namespace zvk::gui
