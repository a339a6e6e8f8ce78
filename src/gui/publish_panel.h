// "Publish…" in the trend window: starts and stops the MQTT sink of `zvk publish` for the module
// the window follows, a sink of the watched module's WatchSinks beside the trend and the
// recording, and shows its state (connected, queued, dropped). When the main window
// starts watching another module, the old module's status goes offline and the gateway follows
// the new one under its own identity. The broker is reached on libmosquitto's own thread and
// connections and the last acknowledgements are waited for on threads of the panel's own, so
// the window never waits on the network; results come back through the event loop.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "gui/publish_dialog.h"
#include "publish/gateway_publisher.h"
#include "publish/mqtt_sink.h"

class QLabel;
class QPushButton;

namespace zvk {
struct App;
struct Sample;
}  // namespace zvk
namespace zvk::engine {
class WatchSinks;
}

namespace zvk::gui {

// The desktop program's client id for a module: never the one `zvk publish` takes by default
// ("zvk-" and the module's id), so the two can publish one module at once without taking each
// other's session. 23 characters, the most every broker accepts.
std::string DesktopClientId(const std::string& module_id);

class PublishPanel final : public QWidget {
  Q_OBJECT

 public:
  // Publishes through `sinks`, which get every sample of the poll.
  explicit PublishPanel(engine::WatchSinks& sinks, QWidget* parent = nullptr);
  ~PublishPanel() override;

  void Watch(const App& app);

  // Asks for the broker and the options: none when the user cancelled. Tests put their own here.
  // The dialog offers what was chosen last in this run, never the password.
  std::function<std::optional<PublishChoice>(QWidget* parent)> ask;
  // Shows an error: caption and text.
  std::function<void(const QString& caption, const QString& text)> show_error;

  QPushButton* button() const { return button_; }
  QLabel* status() const { return status_; }
  bool running() const { return state_ == State::Running; }
  // The gateway of the module published now (a gateway of one); null while none runs.
  const publish::GatewayPublisher* publisher() const { return sink_ ? &sink_->gateway() : nullptr; }

 private:
  enum class State { Idle, Connecting, Running, Stopping };
  void Toggle();
  void Start(PublishChoice choice);
  // A gateway for the module the main window shows now, connected in the background;
  // `first` is queued at once.
  void Begin(const Sample* first);
  void Stop();
  void Connected(std::shared_ptr<publish::MqttSink> sink, const std::string& error);
  void Stopped(std::shared_ptr<publish::MqttSink> sink, bool delivered);
  // Before the sinks get a sample: one of another module retires the gateway.
  void BeforeSample(const Sample& sample);
  // The main window watches another module: the old gateway says offline and goes.
  void ModuleChanged(const Sample& sample);
  void Retire(std::shared_ptr<publish::MqttSink> sink);
  void UpdateStatus();
  // Runs `work` on a thread of its own, then `then` on the window's thread.
  void Background(std::function<void()> work, std::function<void()> then);

  engine::WatchSinks& sinks_;
  const App* app_ = nullptr;
  QPushButton* button_ = nullptr;
  QLabel* status_ = nullptr;
  State state_ = State::Idle;
  std::string url_;
  publish::PublishSettings settings_;
  std::optional<PublishChoice> remembered_;  // for the dialog; without the password
  std::shared_ptr<publish::MqttSink> sink_;  // in sinks_ while it publishes
  std::string module_;  // the MAC of sink_'s module, as Sample::module holds it
  std::string note_;    // what became of the module published before
  std::map<int, std::thread> threads_;
  int next_thread_ = 0;
};

}  // namespace zvk::gui
