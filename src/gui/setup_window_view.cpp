#include "gui/setup_window_view.h"

#include <QCheckBox>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <exception>

#include "admin/setup_window.h"
#include "gui/icons.h"
#include "state/app.h"

namespace zvk::gui {

namespace {

QString Text(const std::string& s) {
  return QString::fromStdString(s);
}

QString GaugeStyle(Rgb c) {
  return QStringLiteral(
             "QProgressBar { border: 1px solid #8a8a8a; background: white; }"
             "QProgressBar::chunk { background-color: rgb(%1, %2, %3); }")
      .arg(c.r)
      .arg(c.g)
      .arg(c.b);
}

constexpr QSize kSmallImage{36, 36};
constexpr int kGaugeHeight = 16;

}  // namespace

SetupWindowView::SetupWindowView(App& app, SetupWindow& window, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint),
      app_(app),
      window_(window),
      binding_([this](const std::function<void()>& action) { Run(action); }) {
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(Text(window_.form.Caption));
  setModal(true);
  setFixedSize(kSetupClientWidth, kSetupClientHeight);
  QFont font(QStringLiteral("Tahoma"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  setFont(font);
  Build();
  SyncFromModel();
}

SetupWindowView::~SetupWindowView() = default;

void SetupWindowView::Exec() {
  Run([this] { window_.FormActivate(); });
  if (const QWidget* main = parentWidget()) {
    const QRect frame = main->frameGeometry();
    move(frame.center() - QPoint(width() / 2, height() / 2));
  }
  exec();
  Run([this] { window_.FormClose(); });
}

void SetupWindowView::Run(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    // A file given up because the program is ending needs no box.
    if (!app_.seams.pump.QuitRequested()) app_.seams.dialogs.ErrorBox(e.what());
  }
  SyncFromModel();
  if (after_event) after_event();
}

// ---- building ----

QRadioButton* SetupWindowView::AddRadio(RadioButton& model, QWidget* parent, const char* name,
                                        QRect geometry) {
  auto* radio = new QRadioButton(Text(model.caption), parent);
  radio->setObjectName(QString::fromLatin1(name));
  radio->setGeometry(geometry);
  radio->resize(radio->sizeHint().width(), geometry.height());
  // `clicked` comes only from the user; the model raises its click event when it was unchecked.
  connect(radio, &QRadioButton::clicked, this,
          [this, &model] { Run([&model] { model.UserClick(); }); });
  radios_.emplace_back(&model, radio);
  return radio;
}

QToolButton* SetupWindowView::AddImage(Button& model, const QIcon& icon, QWidget* parent,
                                       const char* name, QRect geometry) {
  auto* image = new QToolButton(parent);
  image->setObjectName(QString::fromLatin1(name));
  image->setGeometry(geometry);
  image->setIcon(icon);
  image->setIconSize(geometry.size() - QSize(4, 4));
  image->setAutoRaise(true);
  image->setToolTip(Text(model.hint));
  image->setCursor(Qt::PointingHandCursor);
  image->setFocusPolicy(Qt::NoFocus);
  connect(image, &QToolButton::clicked, this,
          [this, &model] { Run([&model] { model.UserClick(); }); });
  images_.emplace_back(&model, image);
  return image;
}

void SetupWindowView::Build() {
  SetupForm& f = window_.form;
  const QIcon write = WriteIcon();
  const auto small = [](int x, int y) { return QRect(QPoint(x, y), kSmallImage); };

  QGroupBox* ap = binding_.AddGroup(f.ap_group, this, "GroupBox1", {8, 6, 270, 112});
  binding_.AddLabel(f.ap_ssid_label, ap, "Label1", {10, 24, 76, 18});
  binding_.AddEdit(f.ap_ssid, ap, "Edit1", {88, 22, 130, 22});
  binding_.AddLabel(f.ap_key_type_label, ap, "Label3", {10, 52, 76, 18});
  AddRadio(f.ap_key_open, ap, "RadioButton1", {88, 52, 60, 18});
  AddRadio(f.ap_key_wpa, ap, "RadioButton2", {146, 52, 80, 18});
  binding_.AddLabel(f.ap_key_label, ap, "Label2", {10, 80, 76, 18});
  binding_.AddEdit(f.ap_key, ap, "Edit2", {88, 78, 130, 22});
  AddImage(f.ap_write, write, ap, "Image2", small(226, 20));

  QGroupBox* station = binding_.AddGroup(f.station_group, this, "GroupBox2", {284, 6, 270, 250});
  binding_.AddLabel(f.station_ssid_label, station, "Label4", {10, 24, 76, 18});
  binding_.AddEdit(f.station_ssid, station, "Edit3", {88, 22, 130, 22});
  // Three choices share the row: the label is narrower than the AP group's, with a gap before
  // "Open" so the two never read as one.
  binding_.AddLabel(f.station_key_type_label, station, "Label5", {10, 52, 58, 18});
  AddRadio(f.station_key_open, station, "RadioButton3", {72, 52, 52, 18});
  AddRadio(f.station_key_wep, station, "RadioButton4", {126, 52, 48, 18});
  AddRadio(f.station_key_wpa, station, "RadioButton5", {176, 52, 80, 18});
  binding_.AddLabel(f.station_key_label, station, "Label6", {10, 80, 76, 18});
  binding_.AddEdit(f.station_key, station, "Edit4", {88, 78, 130, 22});
  AddImage(f.station_write, write, station, "Image3", small(226, 20));
  check_box1_ = new QCheckBox(Text(f.static_ip.caption), station);
  check_box1_->setObjectName(QStringLiteral("CheckBox1"));
  check_box1_->setGeometry(10, 108, 120, 18);
  check_box1_->setToolTip(Text(f.static_ip.hint));
  // `clicked` comes only from the user; the model toggles and raises its click event itself.
  connect(check_box1_, &QCheckBox::clicked, this,
          [this] { Run([this] { window_.form.static_ip.UserClick(); }); });
  auto* panel = new QWidget(station);
  panel->setObjectName(QStringLiteral("Panel1"));
  panel->setGeometry(6, 130, 258, 112);
  binding_.AddLabel(f.static_ip_address_label, panel, "Label10", {4, 8, 76, 18});
  binding_.AddEdit(f.static_ip_address, panel, "Edit8", {82, 6, 130, 22});
  binding_.AddLabel(f.static_ip_mask_label, panel, "Label11", {4, 38, 76, 18});
  binding_.AddEdit(f.static_ip_mask, panel, "Edit9", {82, 36, 130, 22});
  binding_.AddLabel(f.static_ip_gateway_label, panel, "Label12", {4, 68, 76, 18});
  binding_.AddEdit(f.static_ip_gateway, panel, "Edit10", {82, 66, 130, 22});
  AddImage(f.static_ip_write, write, panel, "Image10", small(220, 4));

  QGroupBox* wifi = binding_.AddGroup(f.wifi_mode_group, this, "GroupBox5", {8, 124, 270, 60});
  AddRadio(f.wifi_mode_ap, wifi, "RadioButton6", {12, 28, 60, 18});
  AddRadio(f.wifi_mode_station, wifi, "RadioButton7", {88, 28, 80, 18});
  AddImage(f.wifi_mode_write, write, wifi, "Image4", small(226, 16));

  QGroupBox* web = binding_.AddGroup(f.web_group, this, "GroupBox4", {8, 190, 270, 60});
  binding_.AddLabel(f.web_key_label, web, "Label7", {10, 28, 76, 18});
  binding_.AddEdit(f.web_key, web, "Edit6", {88, 26, 100, 22});
  AddImage(f.web_key_write, write, web, "Image5", small(226, 16));

  QGroupBox* location = binding_.AddGroup(f.location_group, this, "GroupBox3", {8, 256, 270, 60});
  binding_.AddLabel(f.location_label, location, "Label8", {10, 28, 48, 18});
  binding_.AddEdit(f.location, location, "Edit5", {60, 26, 158, 22});
  AddImage(f.location_write, write, location, "Image6", small(226, 16));

  QGroupBox* modbus = binding_.AddGroup(f.modbus_group, this, "GroupBox6", {284, 262, 270, 88});
  binding_.AddLabel(f.modbus_port_label, modbus, "Label9", {10, 26, 76, 18});
  binding_.AddEdit(f.modbus_port, modbus, "Edit7", {88, 24, 70, 22});
  binding_.AddLabel(f.modbus_timeout_label, modbus, "Label13", {10, 56, 76, 18});
  binding_.AddEdit(f.modbus_timeout, modbus, "Edit11", {88, 54, 70, 22});
  binding_.AddLabel(f.modbus_timeout_unit, modbus, "Label14", {164, 56, 30, 18});
  AddImage(f.modbus_write, write, modbus, "Image9", small(226, 20));

  const QSize wide = kWideImageSize + QSize(4, 4);
  AddImage(f.firmware_update, FirmwareImage(), this, "Image1", {QPoint(14, 360), wide});
  AddImage(f.reset_defaults, DefaultsImage(), this, "Image7", {QPoint(144, 360), wide});
  AddImage(f.reboot, RebootImage(), this, "Image8", {QPoint(274, 360), wide});

  // The modal window covers the main window's status line, where a file transfer reports its
  // steps ("Send FileName: ...", "Transfer Length => ..."): they show here too.
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("StatusLine"));
  status_->setGeometry(6, kSetupClientHeight - kGaugeHeight - 19, kSetupClientWidth - 12, 18);

  gauge_ = new QProgressBar(this);
  gauge_->setObjectName(QStringLiteral("CGauge1"));
  gauge_->setGeometry(0, kSetupClientHeight - kGaugeHeight, kSetupClientWidth, kGaugeHeight);
  gauge_->setTextVisible(false);
}

// ---- model to widgets ----

void SetupWindowView::SyncFromModel() {
  binding_.Sync();
  // Radio buttons exclude each other within their group box; with none checked in the model,
  // that is lifted for a moment so the widgets can show it.
  for (auto& [model, widget] : radios_) {
    if (widget->isChecked() == model->checked()) continue;
    const QSignalBlocker block(widget);
    widget->setAutoExclusive(false);
    widget->setChecked(model->checked());
    widget->setAutoExclusive(true);
  }
  if (check_box1_->isChecked() != window_.form.static_ip.checked()) {
    const QSignalBlocker block(check_box1_);
    check_box1_->setChecked(window_.form.static_ip.checked());
  }
  for (auto& [model, widget] : images_)
    if (widget->isEnabled() != model->enabled) widget->setEnabled(model->enabled);

  const QString status = Text(app_.Status());
  if (status_->text() != status) status_->setText(status);

  const Gauge& g = window_.form.gauge;
  // An empty range would turn the bar into a busy indicator; it shows empty instead.
  const int max = g.max > g.min ? g.max : g.min + 1;
  if (gauge_->minimum() != g.min || gauge_->maximum() != max) gauge_->setRange(g.min, max);
  if (gauge_->value() != g.progress) gauge_->setValue(g.progress);
  const QString style = GaugeStyle(g.fore_color);
  if (gauge_->styleSheet() != style) gauge_->setStyleSheet(style);
}

}  // namespace zvk::gui
