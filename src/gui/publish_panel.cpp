#include "gui/publish_panel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <chrono>

#include "engine/watch_sinks.h"
#include "gui/qt_seams.h"
#include "monitor/main_form.h"
#include "publish/broker_url.h"
#include "publish/messages.h"
#include "publish/settings.h"
#include "record/sample.h"
#include "state/app.h"

namespace zvk::gui {

namespace {

constexpr std::chrono::seconds kConnectTimeout{10};
constexpr std::chrono::seconds kFinishTimeout{10};

QString Text(const std::string& s) {
  return QString::fromStdString(s);
}

// PREFIX/MODULE: the topics the desktop's gateway of one module publishes under.
std::string TopicBase(const publish::GatewayPublisher& p) {
  std::string status = p.TopicsOf(p.ModuleIds().front()).Status();
  return status.substr(0, status.rfind('/'));
}

}  // namespace

std::string DesktopClientId(const std::string& module_id) {
  return publish::DesktopClientId(module_id);
}

PublishPanel::PublishPanel(engine::WatchSinks& sinks, QWidget* parent)
    : QWidget(parent), sinks_(sinks) {
  sinks_.before_sample = [this](const Sample& sample) { BeforeSample(sample); };
  // The broker refused the gateway: its status says so too; whichever comes first stops it.
  sinks_.on_sink_error = [this](const std::string&) {
    QTimer::singleShot(0, this, [this] {
      if (state_ == State::Running) UpdateStatus();
    });
  };
  ask = [this](QWidget* p) {
    std::optional<PublishChoice> choice = AskPublishChoice(p, remembered_);
    if (choice) {
      // Offered again next time, whether the broker takes it or not; the password never.
      remembered_ = choice;
      remembered_->settings.password.reset();
    }
    return choice;
  };
  show_error = [this](const QString& caption, const QString& text) {
    ShowBox(this, QMessageBox::Warning, caption, text);
  };
  button_ = new QPushButton(this);
  button_->setObjectName(QStringLiteral("PublishButton"));
  connect(button_, &QPushButton::clicked, this, [this] { Toggle(); });
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("PublishStatus"));
  status_->setTextFormat(Qt::PlainText);  // it names the broker and its errors
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(button_);
  layout->addWidget(status_, 1);
  UpdateStatus();
}

PublishPanel::~PublishPanel() {
  sinks_.before_sample = nullptr;
  sinks_.on_sink_error = nullptr;
  // Connections and farewells under way end within their timeouts.
  for (auto& [key, thread] : threads_) thread.join();
  if (sink_) {
    sinks_.Remove(*sink_);
    sink_->gateway().OnChange(nullptr);
    // The window is going away: what is queued gets a moment, then the status says offline.
    sink_->Finish(std::chrono::steady_clock::now() + std::chrono::seconds(2));
  }
}

void PublishPanel::Watch(const App& app) {
  app_ = &app;
}

void PublishPanel::Background(std::function<void()> work, std::function<void()> then) {
  const int key = next_thread_++;
  threads_.emplace(key, std::thread([this, key, work = std::move(work), then = std::move(then)] {
                     work();
                     QMetaObject::invokeMethod(
                         this,
                         [this, key, then] {
                           auto it = threads_.find(key);
                           if (it != threads_.end()) {
                             it->second.join();
                             threads_.erase(it);
                           }
                           then();
                         },
                         Qt::QueuedConnection);
                   }));
}

void PublishPanel::Toggle() {
  if (state_ == State::Idle) {
    if (!app_ || !app_->device.Identified) {
      show_error(QStringLiteral("Publish"),
                 QStringLiteral("No module is identified yet: there is nothing to publish."));
      return;
    }
    const std::string why =
        publish::UnpublishableId(publish::IdentityOf(ModuleOf(app_->device)).id);
    if (!why.empty()) {
      show_error(QStringLiteral("Publish"), Text("The module " + why + "."));
      return;
    }
    if (std::optional<PublishChoice> choice = ask(this)) Start(std::move(*choice));
  } else if (state_ == State::Running) {
    Stop();
  }
}

void PublishPanel::Start(PublishChoice choice) {
  url_ = choice.url;
  settings_ = std::move(choice.settings);
  note_.clear();
  Begin(nullptr);
}

void PublishPanel::Begin(const Sample* first) {
  // The module the first sample came from, else the one the main window identified.
  const ModuleIdentity module = first ? first->identity : ModuleOf(app_->device);
  const publish::ModuleIdentity identity = publish::IdentityOf(module);
  publish::PublishSettings settings = settings_;
  if (settings.client_id.empty()) settings.client_id = DesktopClientId(identity.id);
  // Its lines are told by the status line here.
  auto sink = std::make_shared<publish::MqttSink>(
      std::move(settings), url_, false, [](std::optional<std::size_t>, const std::string&) {});
  // Samples are queued until the broker accepts: published then, or counted as not delivered.
  sinks_.Add(*sink, module);
  sink_ = sink;
  module_ = module.mac;
  state_ = State::Connecting;
  UpdateStatus();
  auto error = std::make_shared<std::string>();
  Background(
      [sink, error] {
        try {
          sink->Connect(kConnectTimeout);
        } catch (const std::exception& e) {
          *error = e.what();
        }
      },
      [this, sink, error] { Connected(sink, *error); });
}

void PublishPanel::Connected(std::shared_ptr<publish::MqttSink> sink, const std::string& error) {
  if (sink != sink_) {
    // The module changed while this one connected: it publishes what it holds, says offline
    // and goes.
    if (error.empty()) Retire(std::move(sink));
    return;
  }
  if (!error.empty()) {
    sinks_.Remove(*sink_);
    sink_.reset();
    state_ = State::Idle;
    UpdateStatus();
    show_error(QStringLiteral("Publish"), Text(error));
    return;
  }
  sink_->gateway().OnChange([this] {
    QMetaObject::invokeMethod(
        this, [this] { UpdateStatus(); }, Qt::QueuedConnection);
  });
  state_ = State::Running;
  UpdateStatus();
}

void PublishPanel::BeforeSample(const Sample& sample) {
  if (!sink_ || (state_ != State::Running && state_ != State::Connecting)) return;
  if (OfAnotherModule(sample, module_)) ModuleChanged(sample);
}

void PublishPanel::ModuleChanged(const Sample& sample) {
  std::shared_ptr<publish::MqttSink> old = std::move(sink_);
  sinks_.Remove(*old);
  const std::string old_topics = TopicBase(old->gateway());
  // A gateway still connecting is retired once its connection is made (Connected).
  if (state_ == State::Running) Retire(old);
  note_ = "the main window watches another module: " + old_topics + " goes offline";
  const std::string why = publish::UnpublishableId(publish::IdentityOf(sample.identity).id);
  if (!why.empty()) {
    // Nothing to publish the new module's readings under: no guessing.
    module_.clear();
    state_ = State::Idle;
    UpdateStatus();
    const QString stopped = Text("Stopped publishing: the main window now watches a module that " +
                                 why + "; " + old_topics + " goes offline.");
    status_->setText(stopped);
    // Told once the poll that brought it is over.
    QTimer::singleShot(0, this,
                       [this, stopped] { show_error(QStringLiteral("Publish"), stopped); });
    return;
  }
  // The new gateway gets this sample first, once this call returns.
  Begin(&sample);
}

void PublishPanel::Retire(std::shared_ptr<publish::MqttSink> sink) {
  sink->gateway().OnChange(nullptr);
  auto delivered = std::make_shared<bool>(false);
  Background(
      [sink, delivered] {
        *delivered = sink->Finish(std::chrono::steady_clock::now() + kFinishTimeout);
      },
      [this, sink, delivered] {
        const publish::PublisherStatus s = sink->gateway().Status();
        note_ = TopicBase(sink->gateway()) + " went offline" +
                (*delivered ? "" : " (" + std::to_string(s.queued) + " not delivered)");
        if (state_ == State::Running || state_ == State::Connecting) UpdateStatus();
      });
}

void PublishPanel::Stop() {
  state_ = State::Stopping;
  UpdateStatus();
  std::shared_ptr<publish::MqttSink> sink = sink_;
  sinks_.Remove(*sink);
  sink->gateway().OnChange(nullptr);
  auto delivered = std::make_shared<bool>(false);
  Background(
      [sink, delivered] {
        *delivered = sink->Finish(std::chrono::steady_clock::now() + kFinishTimeout);
      },
      [this, sink, delivered] { Stopped(sink, *delivered); });
}

void PublishPanel::Stopped(std::shared_ptr<publish::MqttSink> sink, bool delivered) {
  const publish::PublisherStatus s = sink->gateway().Status();
  if (sink_ == sink) sink_.reset();
  state_ = State::Idle;
  UpdateStatus();
  status_->setText(QStringLiteral("Stopped publishing to %1: %2 published, %3 not delivered, %4 "
                                  "polls dropped")
                       .arg(Text(url_))
                       .arg(s.published)
                       .arg(delivered ? 0 : s.queued)
                       .arg(s.dropped_polls));
}

void PublishPanel::UpdateStatus() {
  switch (state_) {
    case State::Idle:
      button_->setText(QStringLiteral("Publish\u2026"));
      button_->setEnabled(true);
      status_->setText(QStringLiteral("Not publishing"));
      return;
    case State::Connecting:
      button_->setText(QStringLiteral("Publish\u2026"));
      button_->setEnabled(false);
      status_->setText(QStringLiteral("Connecting to %1\u2026").arg(Text(url_)) +
                       (note_.empty() ? QString() : QStringLiteral(" (%1)").arg(Text(note_))));
      return;
    case State::Stopping:
      button_->setEnabled(false);
      status_->setText(QStringLiteral("Stopping: sending what is queued\u2026"));
      return;
    case State::Running:
      break;
  }
  const publish::PublisherStatus s = sink_->gateway().Status();
  if (s.refused) {
    Stop();
    show_error(QStringLiteral("Publish"),
               QStringLiteral("The broker %1 %2").arg(Text(url_), Text(s.last_error)));
    return;
  }
  button_->setText(QStringLiteral("Stop publishing"));
  button_->setEnabled(true);
  const QString broker =
      s.connected ? QStringLiteral("connected")
                  : QStringLiteral("waiting for the broker (%1)").arg(Text(s.last_error));
  // The topics say under which module's identity the readings go out.
  status_->setText(QStringLiteral("Publishing %1 to %2: %3; %4 published, %5 queued, %6 dropped")
                       .arg(Text(TopicBase(sink_->gateway())), Text(url_), broker)
                       .arg(s.published)
                       .arg(s.queued)
                       .arg(s.dropped_polls) +
                   (note_.empty() ? QString() : QStringLiteral(" (%1)").arg(Text(note_))));
}

}  // namespace zvk::gui
