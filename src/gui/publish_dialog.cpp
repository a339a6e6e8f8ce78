#include "gui/publish_dialog.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "gui/qt_seams.h"
#include "publish/broker_url.h"
#include "publish/settings.h"

namespace zvk::gui {

namespace {

QString Text(const std::string& s) {
  return QString::fromStdString(s);
}

}  // namespace

std::optional<PublishChoice> AskPublishChoice(QWidget* parent,
                                              const std::optional<PublishChoice>& last) {
  QDialog dialog(parent);
  dialog.setObjectName(QStringLiteral("PublishDialog"));
  dialog.setWindowTitle(QStringLiteral("Publish to an MQTT broker"));
  auto* broker = new QLineEdit(Text(last ? last->url : publish::kDefaultBrokerUrl), &dialog);
  broker->setObjectName(QStringLiteral("BrokerEdit"));
  auto* prefix = new QLineEdit(
      Text(last ? last->settings.topic_prefix : publish::kDefaultTopicPrefix), &dialog);
  prefix->setObjectName(QStringLiteral("PrefixEdit"));
  auto* user = new QLineEdit(last ? Text(last->settings.username) : QString(), &dialog);
  user->setObjectName(QStringLiteral("UserEdit"));
  auto* password = new QLineEdit(&dialog);
  password->setObjectName(QStringLiteral("PasswordEdit"));
  password->setEchoMode(QLineEdit::Password);
  auto* cafile = new QLineEdit(last ? Text(last->settings.cafile) : QString(), &dialog);
  cafile->setObjectName(QStringLiteral("CaFileEdit"));
  cafile->setPlaceholderText(QStringLiteral("the system's, for mqtts://"));
  auto* browse = new QPushButton(QStringLiteral("Browse\u2026"), &dialog);
  browse->setObjectName(QStringLiteral("BrowseCaFile"));
  QObject::connect(browse, &QPushButton::clicked, &dialog, [&dialog, cafile] {
    QFileDialog files(&dialog, QStringLiteral("The CA certificates of the broker"));
    files.setObjectName(QStringLiteral("CaFileDialog"));
    files.setAcceptMode(QFileDialog::AcceptOpen);
    files.setFileMode(QFileDialog::ExistingFile);
    files.setNameFilters(
        {QStringLiteral("Certificates (*.pem *.crt *.cer)"), QStringLiteral("All files (*)")});
    if (!cafile->text().isEmpty()) files.selectFile(cafile->text());
    if (files.exec() == QDialog::Accepted && !files.selectedFiles().isEmpty())
      cafile->setText(files.selectedFiles().first());
  });
  auto* cafile_row = new QHBoxLayout;
  cafile_row->addWidget(cafile, 1);
  cafile_row->addWidget(browse);
  auto* queue = new QSpinBox(&dialog);
  queue->setObjectName(QStringLiteral("QueueSpin"));
  queue->setRange(1, static_cast<int>(publish::kLargestQueuePolls));
  queue->setValue(
      static_cast<int>(last ? last->settings.queue_polls : publish::kDefaultQueuePolls));
  auto* discovery = new QCheckBox(QStringLiteral("Home Assistant discovery"), &dialog);
  discovery->setObjectName(QStringLiteral("DiscoveryCheck"));
  discovery->setChecked(last && last->settings.discovery);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  auto* form = new QFormLayout(&dialog);
  form->addRow(QStringLiteral("Broker"), broker);
  form->addRow(QStringLiteral("Topic prefix"), prefix);
  form->addRow(QStringLiteral("User name"), user);
  form->addRow(QStringLiteral("Password"), password);
  form->addRow(QStringLiteral("CA file"), cafile_row);
  form->addRow(QStringLiteral("Polls kept while the broker is away"), queue);
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
    // The rules of `zvk publish`, named as the dialog names the fields. A CA file stays filled
    // in for a plain broker (kept for the next mqtts:// one) and is not used.
    const std::string p = prefix->text().trimmed().toStdString();
    const std::string ca = cafile->text().trimmed().toStdString();
    const std::string why = publish::TopicPrefixProblem(p, publish::LabelNames());
    if (!why.empty()) {
      ShowBox(&dialog, QMessageBox::Warning, QStringLiteral("Publish"), Text(why + "."));
      continue;
    }
    c.settings.topic_prefix = p;
    c.settings.username = user->text().toStdString();
    if (!password->text().isEmpty()) c.settings.password = password->text().toStdString();
    c.settings.cafile = ca;
    c.settings.queue_polls = static_cast<std::size_t>(queue->value());
    c.settings.discovery = discovery->isChecked();
    return c;
  }
}

}  // namespace zvk::gui
