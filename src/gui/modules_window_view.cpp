#include "gui/modules_window_view.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMetaObject>
#include <QPointer>
#include <QScreen>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>
#include <set>
#include <utility>

#include "fleet/scan_range.h"
#include "state/app.h"

namespace zvk::gui {

namespace {

constexpr int kStateRefreshMs = 500;

// Sorts by a key of its own (the address as a number, the signal strength as a number) where the
// text would sort wrongly.
class KeyedItem final : public QTableWidgetItem {
 public:
  KeyedItem(const QString& text, double key) : QTableWidgetItem(text) {
    setData(Qt::UserRole, key);
  }
  bool operator<(const QTableWidgetItem& other) const override {
    const QVariant theirs = other.data(Qt::UserRole);
    if (!theirs.isValid()) return QTableWidgetItem::operator<(other);
    return data(Qt::UserRole).toDouble() < theirs.toDouble();
  }
};

double AddressKey(const std::string& address) {
  double key = 0;
  unsigned octet = 0;
  for (char c : address) {
    if (c == '.') {
      key = key * 256 + octet;
      octet = 0;
    } else {
      octet = octet * 10 + static_cast<unsigned>(c - '0');
    }
  }
  return key * 256 + octet;
}

QString Text(const std::string& utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// The main window's own view of the module it watches: its connection check and its last poll.
WatchedState WatchedStateOf(const App& app, std::string* why_not_polled) {
  const std::optional<DeviceSearch>& search = app.discovery.LastSearch;
  if (search && *search != DeviceSearch::Found) {
    *why_not_polled = *search == DeviceSearch::SeveralFound
                          ? "more than one Wi-Fi interface in its subnet"
                          : "no Wi-Fi interface in its subnet";
    return WatchedState::NotPolled;
  }
  switch (app.meas.Freshness) {
    case ReadingsFreshness::Fresh:
      return app.device.Identified ? WatchedState::Online : WatchedState::Checking;
    case ReadingsFreshness::Stale:
      return WatchedState::NotAnswering;
    case ReadingsFreshness::Unknown:
      break;
  }
  return WatchedState::Checking;
}

}  // namespace

ModulesWindowView::ModulesWindowView(App& app, Network& network, HostInterfaces& hosts,
                                     std::function<void(const std::string&)> watch, QWidget* parent)
    : QWidget(parent, Qt::Window),
      app_(app),
      network_(network),
      hosts_(hosts),
      watch_(std::move(watch)) {
  setObjectName(QStringLiteral("ModulesWindow"));
  setWindowTitle(QStringLiteral("Modules"));
  choose_file = SaveFileDialog(this);
  show_error = [this](const QString& caption, const QString& text) {
    ShowBox(this, QMessageBox::Warning, caption, text);
  };
  Build();
  // The watched module and the main window's identification change without a scan.
  connect(&state_timer_, &QTimer::timeout, this, [this] { RefreshStates(); });
  state_timer_.start(kStateRefreshMs);
  connect(&probe_timer_, &QTimer::timeout, this, [this] { ProbeListed(); });
  probe_timer_.start(kProbeIntervalMs);
}

ModulesWindowView::~ModulesWindowView() {
  StopScan();
  StopProbe();
  // Each run ends its round, finishes its sink and is joined; what it posts is dropped with the
  // window.
  for (ActiveRun& r : runs_) {
    if (r.run) r.run->Stop();
  }
  for (ActiveRun& r : runs_) {
    r.run.reset();
    r.sink.reset();
  }
  if (worker_.joinable()) worker_.join();
  if (probe_.joinable()) probe_.join();
}

void ModulesWindowView::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  FitColumns();
}

void ModulesWindowView::closeEvent(QCloseEvent* e) {
  StopRun(RunKind::Record);
  StopRun(RunKind::Publish);
  QWidget::closeEvent(e);
}

void ModulesWindowView::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  PlaceEmptyHint();
}

void ModulesWindowView::FitColumns() {
  QHeaderView* header = table_->horizontalHeader();
  const QAbstractItemView& view = *table_;
  const auto contents = [&](int c) {
    return std::max(view.sizeHintForColumn(c), header->sectionSizeHint(c));
  };
  // The "Run" column is shown while a run goes on.
  int last = 0;
  for (int c = 0; c < table_->columnCount(); ++c)
    if (!table_->isColumnHidden(c)) last = c;
  int natural = 0;
  for (int c = 0; c <= last; ++c) {
    if (table_->isColumnHidden(c)) continue;
    // The last column stretches over what is left; it never gets less than its contents.
    if (c < last) table_->setColumnWidth(c, contents(c));
    natural += contents(c);
  }
  const int last_width = contents(last);
  // The window grows (within its screen) until every column fits without a scroll bar.
  const int needed =
      natural + 2 * table_->frameWidth() + table_->verticalScrollBar()->sizeHint().width() + 2;
  const int missing = needed - table_->width();
  if (missing > 0) {
    int width = this->width() + missing;
    if (const QScreen* s = screen()) width = std::min(width, s->availableGeometry().width());
    resize(width, height());
  }
  if (header->sectionSize(last) < last_width) header->resizeSection(last, last_width);
  PlaceEmptyHint();
}

void ModulesWindowView::PlaceEmptyHint() {
  if (!empty_hint_) return;
  empty_hint_->setVisible(table_->rowCount() == 0);
  empty_hint_->setGeometry(table_->viewport()->rect());
}

std::string ModulesWindowView::StateOf(const ListedModule& module) const {
  std::string why;
  const WatchedState watched = WatchedStateOf(app_, &why);
  return ScanList::StateText(module, app_.link.DeviceHost, watched, why);
}

void ModulesWindowView::Build() {
  auto* layout = new QVBoxLayout(this);
  auto* bar = new QHBoxLayout;
  auto* label = new QLabel(QStringLiteral("Ranges:"), this);
  ranges_ = new QLineEdit(this);
  ranges_->setObjectName(QStringLiteral("Ranges"));
  ranges_->setPlaceholderText(
      QStringLiteral("the subnets of this computer, or e.g. 192.168.1.0/24"));
  ranges_->setToolTip(
      QStringLiteral("IPv4 ranges to scan, separated by spaces; at most a /16 each"));
  label->setBuddy(ranges_);
  scan_button_ = new QPushButton(QStringLiteral("Scan"), this);
  scan_button_->setObjectName(QStringLiteral("Scan"));
  connect(scan_button_, &QPushButton::clicked, this, [this] {
    if (scanning())
      StopScan();
    else
      StartScan();
  });
  connect(ranges_, &QLineEdit::returnPressed, this, [this] {
    if (!scanning()) StartScan();
  });
  bar->addWidget(label);
  bar->addWidget(ranges_, 1);
  bar->addWidget(scan_button_);
  update_button_ = new QPushButton(QStringLiteral("Update firmware…"), this);
  update_button_->setObjectName(QStringLiteral("UpdateFirmware"));
  update_button_->setToolTip(QStringLiteral("A staged firmware rollout over the selected modules"));
  connect(update_button_, &QPushButton::clicked, this, [this] { OpenFirmwareRollout(); });
  bar->addWidget(update_button_);
  layout->addLayout(bar);

  table_ = new QTableWidget(0, kRun + 1, this);
  table_->setObjectName(QStringLiteral("ModulesTable"));
  table_->setHorizontalHeaderLabels(
      {"Address", "Model", "Name", "Location", "Firmware", "MAC", "RSSI", "Wi-Fi", "State", "Run"});
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // One line per module: a name or a MAC broken over two lines reads as two values.
  table_->setWordWrap(false);
  table_->setTextElideMode(Qt::ElideNone);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  // Several rows for a firmware rollout; a double click still watches one.
  table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setSortingEnabled(true);
  table_->sortByColumn(kAddress, Qt::AscendingOrder);
  table_->setToolTip(QStringLiteral("Double-click a module to watch it in the main window"));
  connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
    const QTableWidgetItem* item = table_->item(row, kAddress);
    if (!item) return;
    watch_(item->text().toStdString());
    RefreshStates();
  });
  layout->addWidget(table_, 1);
  empty_hint_ = new QLabel(
      QStringLiteral("No modules yet: type a range such as 192.168.77.0/24 and press Scan"),
      table_->viewport());
  empty_hint_->setObjectName(QStringLiteral("EmptyHint"));
  empty_hint_->setAlignment(Qt::AlignCenter);
  empty_hint_->setWordWrap(true);
  empty_hint_->setEnabled(false);  // drawn greyed, as a hint is

  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("ScanStatus"));
  layout->addWidget(status_);

  auto* runs = new QHBoxLayout;
  const auto add_run = [&](RunKind kind, const char* name, const QString& idle,
                           const QString& running, const char* doing) {
    ActiveRun& r = runs_[Slot(kind)];
    r.button = new QPushButton(idle, this);
    r.button->setObjectName(QString::fromUtf8(name));
    r.idle_text = idle;
    r.running_text = running;
    r.doing = doing;
    runs->addWidget(r.button);
  };
  add_run(RunKind::Record, "RecordButton", QStringLiteral("Record\u2026"),
          QStringLiteral("Stop recording"), "recording");
  runs_[0].button->setToolTip(QStringLiteral("Record every listed module to one CSV file"));
  connect(runs_[0].button, &QPushButton::clicked, this, [this] {
    if (running(RunKind::Record)) {
      StopRun(RunKind::Record);
      return;
    }
    const QString path = choose_file(QStringLiteral("Record the listed modules to a CSV file"),
                                     QStringLiteral("CSV files (*.csv);;All files (*)"), true);
    if (!path.isEmpty()) StartRecording(path);
  });
  add_run(RunKind::Publish, "PublishButton", QStringLiteral("Publish\u2026"),
          QStringLiteral("Stop publishing"), "publishing");
  runs_[1].button->setToolTip(
      QStringLiteral("Publish every listed module to an MQTT broker through one gateway"));
  SetUpPublishing();
  run_status_ = new QLabel(this);
  run_status_->setObjectName(QStringLiteral("RunStatus"));
  run_status_->setTextFormat(Qt::PlainText);  // it names files and module texts
  runs->addWidget(run_status_, 1);
  layout->addLayout(runs);
  ShowRuns();
  resize(860, 360);
}

bool ModulesWindowView::StartScan() {
  if (scanning()) return false;
  if (worker_.joinable()) worker_.join();
  // A probe in flight gives way: the scan asks every module again anyway.
  StopProbe();
  if (probe_.joinable()) probe_.join();
  std::vector<Ipv4Range> ranges;
  std::vector<std::string> skipped;
  try {
    for (const QString& text : ranges_->text().split(' ', Qt::SkipEmptyParts))
      ranges.push_back(ParseScanRange(text.toStdString()));
    if (ranges.empty()) ranges = HostSubnets(hosts_, &skipped);
  } catch (const ScanRangeError& e) {
    status_->setText(Text(e.what()));
    return false;
  }
  if (ranges.empty()) {
    status_->setText(QStringLiteral("No network interface with a subnet to scan; type a range."));
    return false;
  }
  std::string described;
  for (const Ipv4Range& r : ranges) described += (described.empty() ? "" : ", ") + r.Text();

  list_.BeginScan();
  for (const ListedModule& m : list_.modules()) ShowRow(m);
  stop_ = false;
  finished_ = false;
  scan_button_->setText(QStringLiteral("Stop"));
  status_->setText(Text("Scanning " + described + " …"));

  ScanOptions options;
  options.port = app_.link.DevicePort;
  options.cancelled = [this] { return stop_.load(); };
  QPointer<ModulesWindowView> self(this);
  // A line of progress now and then, not one posted event per address.
  options.on_progress = [self, described](std::size_t done, std::size_t total) {
    if (done % 32 != 0 || done == total) return;
    QMetaObject::invokeMethod(
        self,
        [self, done, total, described] {
          if (self && self->scanning())
            self->status_->setText(Text("Scanning " + described + ": " + std::to_string(done) +
                                        " of " + std::to_string(total) + " addresses …"));
        },
        Qt::QueuedConnection);
  };
  options.on_module = [self](const ScanRow& row) {
    QMetaObject::invokeMethod(
        self,
        [self, row] {
          if (!self) return;
          self->list_.Found(row);
          self->ShowRow(
              self->list_.modules()[static_cast<std::size_t>(self->list_.IndexOf(row.address))]);
        },
        Qt::QueuedConnection);
  };
  worker_ = std::thread([this, self, options = std::move(options), ranges, described] {
    ScanResult result = ScanModules(network_, ScanAddresses(ranges), options);
    QMetaObject::invokeMethod(
        self,
        [self, result = std::move(result), described]() mutable {
          if (self) self->Finished(std::move(result), described);
        },
        Qt::QueuedConnection);
  });
  return true;
}

std::vector<std::string> ModulesWindowView::SelectedAddresses() const {
  // In the order the table shows them: the rollout's order.
  QModelIndexList rows = table_->selectionModel()->selectedRows(kAddress);
  std::sort(rows.begin(), rows.end(),
            [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  std::vector<std::string> addresses;
  for (const QModelIndex& index : rows) addresses.push_back(index.data().toString().toStdString());
  return addresses;
}

FirmwareRolloutDialog* ModulesWindowView::OpenFirmwareRollout() {
  if (!rollout_ || !rollout_->busy()) {
    const std::vector<std::string> addresses = SelectedAddresses();
    if (addresses.empty()) {
      status_->setText(QStringLiteral("Select the modules to update first."));
      return nullptr;
    }
    rollout_.reset();
    rollout_ = std::make_unique<FirmwareRolloutDialog>(
        addresses,
        RolloutSeams{network_, rollout_hosts ? rollout_hosts : &hosts_, app_.link.DevicePort,
                     rollout_sleeper, rollout_waits},
        this);
  }
  rollout_->show();
  rollout_->raise();
  return rollout_.get();
}

void ModulesWindowView::StopScan() {
  stop_ = true;
}

void ModulesWindowView::Finished(ScanResult result, std::string ranges) {
  finished_ = true;
  list_.EndScan(!result.cancelled);
  for (const ListedModule& m : list_.modules()) ShowRow(m);
  scan_button_->setText(QStringLiteral("Scan"));
  std::string text = (result.cancelled ? "Stopped after " : "Scanned ") +
                     std::to_string(result.probed) + " addresses (" + ranges +
                     "): " + std::to_string(result.modules.size()) +
                     (result.modules.size() == 1 ? " module" : " modules") + " answered.";
  status_->setText(Text(text));
  FitColumns();
  emit scanFinished();
}

bool ModulesWindowView::ProbeListed() {
  // A closed window asks nobody anything.
  if (!isVisible() || scanning() || probing()) return false;
  if (probe_.joinable()) probe_.join();
  std::vector<std::string> addresses;
  for (const ListedModule& m : list_.modules())
    if (m.row.address != app_.link.DeviceHost) addresses.push_back(m.row.address);
  if (addresses.empty()) return false;
  probe_stop_ = false;
  probe_finished_ = false;
  ScanOptions options;
  options.port = app_.link.DevicePort;
  options.cancelled = [this] { return probe_stop_.load(); };
  QPointer<ModulesWindowView> self(this);
  probe_ = std::thread([this, self, options = std::move(options), addresses] {
    ScanResult result = ScanModules(network_, addresses, options);
    QMetaObject::invokeMethod(
        self,
        [self, result = std::move(result), addresses]() mutable {
          if (self) self->ProbeFinished(std::move(result), std::move(addresses));
        },
        Qt::QueuedConnection);
  });
  return true;
}

void ModulesWindowView::StopProbe() {
  probe_stop_ = true;
}

void ModulesWindowView::ProbeFinished(ScanResult result, std::vector<std::string> addresses) {
  probe_finished_ = true;
  if (probe_.joinable()) probe_.join();
  // A probe cut short says nothing about what it did not reach.
  if (!result.cancelled) {
    std::set<std::string> answered;
    for (const ScanRow& row : result.modules) {
      answered.insert(row.address);
      list_.Probed(row.address, row);
    }
    for (const std::string& address : addresses)
      if (!answered.count(address)) list_.Probed(address, std::nullopt);
    for (const ListedModule& m : list_.modules()) ShowRow(m);
  }
  emit probeFinished();
}

void ModulesWindowView::ShowRow(const ListedModule& m) {
  const QString address = Text(m.row.address);
  int row = -1;
  for (int r = 0; r < table_->rowCount(); ++r)
    if (table_->item(r, kAddress) && table_->item(r, kAddress)->text() == address) row = r;
  // Sorting moves rows while they are filled; it is held off until the row is complete.
  table_->setSortingEnabled(false);
  if (row < 0) {
    row = table_->rowCount();
    table_->insertRow(row);
  }
  const auto put = [&](int column, QTableWidgetItem* item) { table_->setItem(row, column, item); };
  put(kAddress, new KeyedItem(address, AddressKey(m.row.address)));
  put(kModel, new QTableWidgetItem(Text(m.row.model)));
  put(kName, new QTableWidgetItem(Text(m.row.name)));
  put(kLocation, new QTableWidgetItem(Text(m.row.location)));
  put(kFirmware, new QTableWidgetItem(Text(m.row.firmware)));
  put(kMac, new QTableWidgetItem(Text(m.row.mac.value_or("-"))));
  put(kRssi, m.row.rssi_dbm
                 ? new KeyedItem(QString::number(*m.row.rssi_dbm) + " dBm", *m.row.rssi_dbm)
                 : new KeyedItem(QStringLiteral("-"), -1e9));
  put(kWifi, new QTableWidgetItem(Text(m.row.wifi_mode)));
  put(kState, new QTableWidgetItem(Text(StateOf(m))));
  std::string why;
  put(kRun, new QTableWidgetItem(Text(RunOf(m.row.address, &why))));
  table_->item(row, kRun)->setToolTip(Text(why).toHtmlEscaped());
  table_->setSortingEnabled(true);
  PlaceEmptyHint();
}

void ModulesWindowView::RefreshStates() {
  bool changed = false;
  for (int r = 0; r < table_->rowCount(); ++r) {
    const QTableWidgetItem* item = table_->item(r, kAddress);
    if (!item) continue;
    const int index = list_.IndexOf(item->text().toStdString());
    if (index < 0) continue;
    const QString state = Text(StateOf(list_.modules()[static_cast<std::size_t>(index)]));
    if (table_->item(r, kState) && table_->item(r, kState)->text() != state) {
      table_->item(r, kState)->setText(state);
      changed = true;
    }
  }
  if (changed) FitColumns();
}

}  // namespace zvk::gui
