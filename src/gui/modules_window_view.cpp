#include "gui/modules_window_view.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QMetaObject>
#include <QPointer>
#include <QVBoxLayout>
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
  Build();
  // The watched module and the main window's identification change without a scan.
  connect(&state_timer_, &QTimer::timeout, this, [this] { RefreshStates(); });
  state_timer_.start(kStateRefreshMs);
}

ModulesWindowView::~ModulesWindowView() {
  StopScan();
  if (worker_.joinable()) worker_.join();
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
  layout->addLayout(bar);

  table_ = new QTableWidget(0, kState + 1, this);
  table_->setObjectName(QStringLiteral("ModulesTable"));
  table_->setHorizontalHeaderLabels(
      {"Address", "Model", "Name", "Location", "Firmware", "MAC", "RSSI", "Wi-Fi", "State"});
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
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

  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("ScanStatus"));
  layout->addWidget(status_);
  resize(860, 360);
}

bool ModulesWindowView::StartScan() {
  if (scanning()) return false;
  if (worker_.joinable()) worker_.join();
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
  emit scanFinished();
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
  put(kState, new QTableWidgetItem(Text(ScanList::StateText(m, app_.link.DeviceHost))));
  table_->setSortingEnabled(true);
}

void ModulesWindowView::RefreshStates() {
  for (int r = 0; r < table_->rowCount(); ++r) {
    const QTableWidgetItem* item = table_->item(r, kAddress);
    if (!item) continue;
    const int index = list_.IndexOf(item->text().toStdString());
    if (index < 0) continue;
    const QString state = Text(ScanList::StateText(list_.modules()[static_cast<std::size_t>(index)],
                                                   app_.link.DeviceHost));
    if (table_->item(r, kState) && table_->item(r, kState)->text() != state)
      table_->item(r, kState)->setText(state);
  }
}

}  // namespace zvk::gui
