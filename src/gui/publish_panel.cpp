#include "gui/publish_panel.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <chrono>

#include "gui/qt_seams.h"
#include "monitor/main_form.h"
#include "publish/broker_url.h"
#include "publish/messages.h"
#include "record/sample.h"
#include "state/app.h"

namespace zvk::gui {

namespace {

constexpr std::chrono::seconds kConnectTimeout{10};
constexpr std::chrono::seconds kFinishTimeout{10};

QString Text(const std::string& s) {
  return QString::fromStdString(s);
}

}  // namespace

std::optional<PublishChoice> AskPublishChoice(QWidget* parent) {
  QDialog dialog(parent);
  dialog.setWindowTitle(QStringLiteral("Publish to an MQTT broker"));
  auto* broker = new QLineEdit(QStringLiteral("mqtt://127.0.0.1:1883"), &dialog);
  broker->setObjectName(QStringLiteral("BrokerEdit"));
  auto* prefix = new QLineEdit(QStringLiteral("zvk"), &dialog);
  auto* user = new QLineEdit(&dialog);
  auto* password = new QLineEdit(&dialog);
  password->setEchoMode(QLineEdit::Password);
  auto* cafile = new QLineEdit(&dialog);
  cafile->setPlaceholderText(QStringLiteral("the system's, for mqtts://"));
  auto* queue = new QSpinBox(&dialog);
  queue->setRange(1, 10000000);
  queue->setValue(10000);
  auto* discovery = new QCheckBox(QStringLiteral("Home Assistant discovery"), &dialog);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  auto* form = new QFormLayout(&dialog);
  form->addRow(QStringLiteral("Broker"), broker);
  form->addRow(QStringLiteral("Topic prefix"), prefix);
  form->addRow(QStringLiteral("User name"), user);
  form->addRow(QStringLiteral("Password"), password);
  form->addRow(QStringLiteral("CA file"), cafile);
  form->addRow(QStringLiteral("Queue (polls)"), queue);
  form->addRow(QString(), discovery);
  form->addRow(buttons);
  for (;;) {
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    PublishChoice c;
    c.url = broker->text().trimmed().toStdString();
    try {
      c.settings.broker = publish::ParseBrokerUrl(c.url);
    } catch (const publish::BrokerUrlError& e) {
      ShowBox(&dialog, QMessageBox::Warning, QStringLiteral("Publish"), Text(e.what()));
      continue;
    }
    const std::string p = prefix->text().trimmed().toStdString();
    if (p.empty() || p.find_first_of("+#") != std::string::npos || p.front() == '/' ||
        p.back() == '/') {
      ShowBox(&dialog, QMessageBox::Warning, QStringLiteral("Publish"),
              QStringLiteral("The topic prefix must be a topic without + or # and without a "
                             "leading or trailing /."));
      continue;
    }
    c.settings.topic_prefix = p;
    c.settings.username = user->text().toStdString();
    if (!password->text().isEmpty()) c.settings.password = password->text().toStdString();
    c.settings.cafile = cafile->text().trimmed().toStdString();
    c.settings.queue_polls = static_cast<std::size_t>(queue->value());
    c.settings.discovery = discovery->isChecked();
    return c;
  }
}

PublishPanel::PublishPanel(QWidget* parent) : QWidget(parent) {
  ask = [](QWidget* p) { return AskPublishChoice(p); };
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
  JoinWorker();
  if (publisher_) {
    publisher_->OnChange(nullptr);
    // The window is going away: what is queued gets a moment, then the status says offline.
    publisher_->Finish(std::chrono::steady_clock::now() + std::chrono::seconds(2));
  }
}

void PublishPanel::Watch(const App& app, const MainForm& form) {
  app_ = &app;
  form_ = &form;
}

void PublishPanel::JoinWorker() {
  if (worker_.joinable()) worker_.join();
}

void PublishPanel::Toggle() {
  if (state_ == State::Idle) {
    if (!app_ || !app_->device.Identified) {
      show_error(QStringLiteral("Publish"),
                 QStringLiteral("No module is identified yet: there is nothing to publish."));
      return;
    }
    if (publish::IdentityOf(*app_, *form_).id.size() != 12) {
      show_error(QStringLiteral("Publish"),
                 QStringLiteral("The module reported no MAC address to publish under."));
      return;
    }
    if (std::optional<PublishChoice> choice = ask(this)) Start(std::move(*choice));
  } else if (state_ == State::Running) {
    Stop();
  }
}

void PublishPanel::Start(PublishChoice choice) {
  JoinWorker();
  url_ = choice.url;
  auto publisher = std::make_shared<publish::ModulePublisher>(std::move(choice.settings),
                                                              publish::IdentityOf(*app_, *form_));
  state_ = State::Connecting;
  UpdateStatus();
  worker_ = std::thread([this, publisher] {
    std::string error;
    try {
      publisher->Connect(kConnectTimeout);
    } catch (const std::exception& e) {
      error = e.what();
    }
    QMetaObject::invokeMethod(
        this, [this, publisher, error] { Connected(publisher, error); }, Qt::QueuedConnection);
  });
}

void PublishPanel::Connected(std::shared_ptr<publish::ModulePublisher> publisher,
                             const std::string& error) {
  JoinWorker();
  if (!error.empty()) {
    state_ = State::Idle;
    UpdateStatus();
    show_error(QStringLiteral("Publish"), Text(error));
    return;
  }
  publisher_ = std::move(publisher);
  publisher_->OnChange([this] {
    QMetaObject::invokeMethod(
        this, [this] { UpdateStatus(); }, Qt::QueuedConnection);
  });
  state_ = State::Running;
  UpdateStatus();
}

void PublishPanel::Submit(const Sample& sample) {
  if (state_ == State::Running && publisher_) publisher_->Submit(sample);
}

void PublishPanel::Stop() {
  JoinWorker();
  state_ = State::Stopping;
  UpdateStatus();
  std::shared_ptr<publish::ModulePublisher> publisher = publisher_;
  publisher->OnChange(nullptr);
  worker_ = std::thread([this, publisher] {
    const bool delivered = publisher->Finish(std::chrono::steady_clock::now() + kFinishTimeout);
    QMetaObject::invokeMethod(
        this, [this, delivered] { Stopped(delivered); }, Qt::QueuedConnection);
  });
}

void PublishPanel::Stopped(bool delivered) {
  JoinWorker();
  const publish::PublisherStatus s = publisher_->Status();
  publisher_.reset();
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
      status_->setText(QStringLiteral("Connecting to %1\u2026").arg(Text(url_)));
      return;
    case State::Stopping:
      button_->setEnabled(false);
      status_->setText(QStringLiteral("Stopping: sending what is queued\u2026"));
      return;
    case State::Running:
      break;
  }
  const publish::PublisherStatus s = publisher_->Status();
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
  status_->setText(QStringLiteral("%1: %2; %3 published, %4 queued, %5 dropped")
                       .arg(Text(url_), broker)
                       .arg(s.published)
                       .arg(s.queued)
                       .arg(s.dropped_polls));
}

}  // namespace zvk::gui
