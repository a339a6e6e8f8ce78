// "Publish…" in the trend window: starts and stops the gateway of `zvk publish` for the module
// the window follows, and shows its state (connected, queued, dropped). The broker is reached on
// libmosquitto's own thread and the first connection and the last acknowledgements are waited
// for on a thread of the panel's own, so the window never waits on the network; results come
// back through the event loop.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "publish/module_publisher.h"

class QLabel;
class QPushButton;

namespace zvk {
struct App;
struct MainForm;
struct Sample;
}  // namespace zvk

namespace zvk::gui {

// What the user chose in the publish dialog.
struct PublishChoice {
  std::string url;  // as typed, for the status line
  publish::PublishSettings settings;
};

class PublishPanel final : public QWidget {
  Q_OBJECT

 public:
  explicit PublishPanel(QWidget* parent = nullptr);
  ~PublishPanel() override;

  void Watch(const App& app, const MainForm& form);
  // A sample of the poll; published while the gateway runs.
  void Submit(const Sample& sample);

  // Asks for the broker and the options: none when the user cancelled. Tests put their own here.
  std::function<std::optional<PublishChoice>(QWidget* parent)> ask;
  // Shows an error: caption and text.
  std::function<void(const QString& caption, const QString& text)> show_error;

  QPushButton* button() const { return button_; }
  QLabel* status() const { return status_; }
  bool running() const { return state_ == State::Running; }

 private:
  enum class State { Idle, Connecting, Running, Stopping };
  void Toggle();
  void Start(PublishChoice choice);
  void Stop();
  void Connected(std::shared_ptr<publish::ModulePublisher> publisher, const std::string& error);
  void Stopped(bool delivered);
  void UpdateStatus();
  void JoinWorker();

  const App* app_ = nullptr;
  const MainForm* form_ = nullptr;
  QPushButton* button_ = nullptr;
  QLabel* status_ = nullptr;
  State state_ = State::Idle;
  std::string url_;
  std::shared_ptr<publish::ModulePublisher> publisher_;
  std::thread worker_;
  QString last_text_;
};

// The dialog of "Publish…": broker URL, topic prefix, user name and password, CA file,
// discovery. Refuses a broker URL it cannot use, saying why.
std::optional<PublishChoice> AskPublishChoice(QWidget* parent);

}  // namespace zvk::gui
