#include "gui/firmware_rollout.h"

#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPointer>
#include <QScrollBar>
#include <QVBoxLayout>
#include <utility>

#include "admin/firmware.h"
#include "operations/module_session.h"

namespace zvk::gui {

namespace {

QString Text(const std::string& utf8) {
  return QString::fromStdString(utf8);
}

// A module session whose questions are answered Yes: the rollout was confirmed as a whole.
struct WithYesDialogs {
  ops::RecordedDialogs dialogs{true};
};
class RolloutSession final : private WithYesDialogs, public ops::ModuleSession {
 public:
  RolloutSession(const RolloutSeams& seams, const std::string& address)
      : ModuleSession({seams.network, dialogs, seams.hosts, seams.sleeper},
                      {.host = address, .port = seams.port}) {}
};

}  // namespace

FirmwareRolloutDialog::FirmwareRolloutDialog(std::vector<std::string> addresses, RolloutSeams seams,
                                             QWidget* parent)
    : QDialog(parent), addresses_(std::move(addresses)), seams_(seams) {
  setWindowTitle(QStringLiteral("Update firmware"));
  Build();
}

FirmwareRolloutDialog::~FirmwareRolloutDialog() {
  if (stop_flag_) stop_flag_->Request();
  Join();
}

void FirmwareRolloutDialog::Join() {
  if (worker_.joinable()) worker_.join();
}

void FirmwareRolloutDialog::Build() {
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  auto* image_row = new QHBoxLayout;
  image_ = new QLineEdit(this);
  image_->setObjectName(QStringLiteral("Image"));
  auto* browse = new QPushButton(QStringLiteral("Browse…"), this);
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Firmware image"),
                                                      QString(), QStringLiteral("bin (*.bin)"));
    if (!path.isEmpty()) image_->setText(path);
  });
  image_row->addWidget(image_, 1);
  image_row->addWidget(browse);
  form->addRow(QStringLiteral("Image:"), image_row);
  version_ = new QLineEdit(this);
  version_->setObjectName(QStringLiteral("Version"));
  version_->setPlaceholderText(QStringLiteral("the version the image brings, e.g. 01.13"));
  form->addRow(QStringLiteral("Version:"), version_);
  model_ = new QComboBox(this);
  model_->addItems({QStringLiteral("qn6"), QStringLiteral("km3")});
  form->addRow(QStringLiteral("Model:"), model_);
  canary_ = new QSpinBox(this);
  canary_->setRange(0, 100);
  canary_->setValue(1);
  form->addRow(QStringLiteral("Canary modules:"), canary_);
  batch_ = new QSpinBox(this);
  batch_->setRange(1, 100);
  batch_->setValue(5);
  form->addRow(QStringLiteral("Batch size:"), batch_);
  layout->addLayout(form);

  table_ = new QTableWidget(static_cast<int>(addresses_.size()), kFirmware + 1, this);
  table_->setObjectName(QStringLiteral("RolloutTable"));
  table_->setHorizontalHeaderLabels({"Address", "MAC", "Version", "Stage", "Firmware"});
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setWordWrap(false);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  for (std::size_t i = 0; i < addresses_.size(); ++i)
    SetCell(static_cast<int>(i), kAddress, addresses_[i]);
  layout->addWidget(table_, 1);

  auto* buttons = new QHBoxLayout;
  plan_ = new QPushButton(QStringLiteral("Plan"), this);
  start_ = new QPushButton(QStringLiteral("Start"), this);
  stop_ = new QPushButton(QStringLiteral("Stop"), this);
  start_->setEnabled(false);
  stop_->setEnabled(false);
  connect(plan_, &QPushButton::clicked, this, [this] { MakePlan(); });
  connect(start_, &QPushButton::clicked, this, [this] { Start(); });
  connect(stop_, &QPushButton::clicked, this, [this] { Stop(); });
  buttons->addWidget(plan_);
  buttons->addStretch(1);
  buttons->addWidget(start_);
  buttons->addWidget(stop_);
  layout->addLayout(buttons);
  status_ = new QLabel(QStringLiteral("Choose the image, its version and model, then Plan."), this);
  status_->setObjectName(QStringLiteral("RolloutStatus"));
  status_->setWordWrap(true);
  layout->addWidget(status_);
  resize(760, 480);
}

void FirmwareRolloutDialog::SetCell(int row, int column, const std::string& text) {
  QTableWidgetItem* item = table_->item(row, column);
  if (!item) {
    item = new QTableWidgetItem;
    table_->setItem(row, column, item);
  }
  item->setText(Text(text));
}

void FirmwareRolloutDialog::FitColumns() {
  table_->resizeColumnsToContents();
  int needed = 2 * table_->frameWidth() + table_->verticalScrollBar()->sizeHint().width();
  for (int column = 0; column < table_->columnCount(); ++column)
    needed += table_->columnWidth(column);
  const int extra = width() - table_->width();
  if (table_->width() < needed) resize(needed + extra, height());
}

std::unique_ptr<ops::ModuleSession> FirmwareRolloutDialog::Open(std::size_t i) const {
  auto session = std::make_unique<RolloutSession>(seams_, addresses_[i]);
  session->Open();
  return session;
}

bool FirmwareRolloutDialog::MakePlan() {
  if (busy()) return false;
  const std::string image = image_->text().toStdString();
  const ImageFileCheck check = CheckImageFile(image);
  const std::optional<std::string> version =
      rollout::NormalVersion(version_->text().trimmed().toStdString());
  const std::optional<std::uint8_t> model =
      rollout::ModelCodeOf(model_->currentText().toStdString());
  std::string refused;
  if (check.error)
    refused = *check.error;
  else if (!version)
    refused = "The version is two hex bytes, such as 01.13.";
  if (!refused.empty() || !model) {
    status_->setText(Text(refused));
    return false;
  }
  Join();
  plan_made_.reset();
  report_.reset();
  start_->setEnabled(false);
  plan_->setEnabled(false);
  status_->setText(QStringLiteral("Identifying the modules …"));
  const rollout::Target target{*version, *model, static_cast<std::size_t>(canary_->value()),
                               static_cast<std::size_t>(batch_->value())};
  QPointer<FirmwareRolloutDialog> self(this);
  worker_done_ = false;
  worker_ = std::thread([this, self, target] {
    const rollout::SessionOpener open = [this](std::size_t i) { return Open(i); };
    rollout::Plan plan =
        rollout::MakePlan(addresses_, rollout::IdentifyAll(addresses_.size(), open), target);
    QMetaObject::invokeMethod(
        self,
        [self, plan = std::move(plan)]() mutable {
          if (self) self->ShowPlan(std::move(plan));
        },
        Qt::QueuedConnection);
  });
  return true;
}

void FirmwareRolloutDialog::ShowPlan(rollout::Plan plan) {
  worker_done_ = true;
  plan_->setEnabled(true);
  for (std::size_t i = 0; i < plan.modules.size(); ++i) {
    const rollout::PlannedModule& m = plan.modules[i];
    const int row = static_cast<int>(i);
    SetCell(row, kMac, m.identity.mac);
    SetCell(row, kVersion, m.identity.version);
    SetCell(row, kStage,
            m.wave < 0 ? "skipped: " + m.reason : plan.WaveName(static_cast<std::size_t>(m.wave)));
    SetCell(row, kFirmware, "");
  }
  FitColumns();
  const std::vector<std::string> lines = rollout::PlanLines(plan);
  const bool anything = plan.ToUpdate() > 0;
  status_->setText(Text(lines.front() + (anything ? ". Start updates them as listed." : ".")));
  start_->setEnabled(anything);
  plan_made_ = std::move(plan);
  emit planReady();
}

bool FirmwareRolloutDialog::Start() {
  if (busy() || !plan_made_ || plan_made_->ToUpdate() == 0) return false;
  Join();
  start_->setEnabled(false);
  plan_->setEnabled(false);
  stop_->setEnabled(true);
  status_->setText(QStringLiteral("Updating …"));
  stop_flag_ = std::make_unique<engine::StopFlag>();
  QPointer<FirmwareRolloutDialog> self(this);
  worker_done_ = false;
  worker_ = std::thread([this, self, plan = *plan_made_, image = image_->text().toStdString(),
                         stop = stop_flag_.get()] {
    const rollout::SessionOpener open = [this](std::size_t i) { return Open(i); };
    const auto progress = [self](const rollout::Progress& p) {
      QMetaObject::invokeMethod(
          self,
          [self, p] {
            if (self) self->ShowProgress(p);
          },
          Qt::QueuedConnection);
    };
    rollout::Report report =
        rollout::Run(plan, image, seams_.waits, {open, *stop, progress, nullptr});
    QMetaObject::invokeMethod(
        self,
        [self, report = std::move(report)]() mutable {
          if (self) self->Done(std::move(report));
        },
        Qt::QueuedConnection);
  });
  return true;
}

void FirmwareRolloutDialog::Stop() {
  if (!busy() || !stop_flag_) return;
  stop_flag_->Request();
  stop_->setEnabled(false);
  status_->setText(QStringLiteral("Stopping: the modules under way finish …"));
}

void FirmwareRolloutDialog::ShowProgress(const rollout::Progress& p) {
  SetCell(static_cast<int>(p.module), kFirmware, p.text);
}

void FirmwareRolloutDialog::Done(rollout::Report report) {
  worker_done_ = true;
  stop_->setEnabled(false);
  plan_->setEnabled(true);
  for (std::size_t i = 0; i < report.results.size(); ++i) {
    const rollout::ModuleResult& r = report.results[i];
    SetCell(static_cast<int>(i), kFirmware,
            std::string(rollout::OutcomeWord(r.outcome)) + ": " + r.message);
  }
  FitColumns();
  const std::vector<std::string> lines = rollout::ResultLines(*plan_made_, report);
  std::string text = lines.back();
  if (report.stopped)
    text += ". Stopped: no further module was started.";
  else if (report.failed)
    text += ". The rollout stopped at the first failure.";
  else
    text += ". Done.";
  status_->setText(Text(text));
  report_ = std::move(report);
  plan_made_.reset();
  emit finished();
}

}  // namespace zvk::gui
