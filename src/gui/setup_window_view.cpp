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

  QGroupBox* ap = binding_.AddGroup(f.GroupBox1, this, "GroupBox1", {8, 6, 270, 112});
  binding_.AddLabel(f.Label1, ap, "Label1", {10, 24, 76, 18});
  binding_.AddEdit(f.Edit1, ap, "Edit1", {88, 22, 130, 22});
  binding_.AddLabel(f.Label3, ap, "Label3", {10, 52, 76, 18});
  AddRadio(f.RadioButton1, ap, "RadioButton1", {88, 52, 60, 18});
  AddRadio(f.RadioButton2, ap, "RadioButton2", {146, 52, 80, 18});
  binding_.AddLabel(f.Label2, ap, "Label2", {10, 80, 76, 18});
  binding_.AddEdit(f.Edit2, ap, "Edit2", {88, 78, 130, 22});
  AddImage(f.Image2, write, ap, "Image2", small(226, 20));

  QGroupBox* station = binding_.AddGroup(f.GroupBox2, this, "GroupBox2", {284, 6, 270, 250});
  binding_.AddLabel(f.Label4, station, "Label4", {10, 24, 76, 18});
  binding_.AddEdit(f.Edit3, station, "Edit3", {88, 22, 130, 22});
  // Three choices share the row: the label is narrower than the AP group's, with a gap before
  // "Open" so the two never read as one.
  binding_.AddLabel(f.Label5, station, "Label5", {10, 52, 58, 18});
  AddRadio(f.RadioButton3, station, "RadioButton3", {72, 52, 52, 18});
  AddRadio(f.RadioButton4, station, "RadioButton4", {126, 52, 48, 18});
  AddRadio(f.RadioButton5, station, "RadioButton5", {176, 52, 80, 18});
  binding_.AddLabel(f.Label6, station, "Label6", {10, 80, 76, 18});
  binding_.AddEdit(f.Edit4, station, "Edit4", {88, 78, 130, 22});
  AddImage(f.Image3, write, station, "Image3", small(226, 20));
  check_box1_ = new QCheckBox(Text(f.CheckBox1.caption), station);
  check_box1_->setObjectName(QStringLiteral("CheckBox1"));
  check_box1_->setGeometry(10, 108, 120, 18);
  check_box1_->setToolTip(Text(f.CheckBox1.hint));
  // `clicked` comes only from the user; the model toggles and raises its click event itself.
  connect(check_box1_, &QCheckBox::clicked, this,
          [this] { Run([this] { window_.form.CheckBox1.UserClick(); }); });
  auto* panel = new QWidget(station);
  panel->setObjectName(QStringLiteral("Panel1"));
  panel->setGeometry(6, 130, 258, 112);
  binding_.AddLabel(f.Label10, panel, "Label10", {4, 8, 76, 18});
  binding_.AddEdit(f.Edit8, panel, "Edit8", {82, 6, 130, 22});
  binding_.AddLabel(f.Label11, panel, "Label11", {4, 38, 76, 18});
  binding_.AddEdit(f.Edit9, panel, "Edit9", {82, 36, 130, 22});
  binding_.AddLabel(f.Label12, panel, "Label12", {4, 68, 76, 18});
  binding_.AddEdit(f.Edit10, panel, "Edit10", {82, 66, 130, 22});
  AddImage(f.Image10, write, panel, "Image10", small(220, 4));

  QGroupBox* wifi = binding_.AddGroup(f.GroupBox5, this, "GroupBox5", {8, 124, 270, 60});
  AddRadio(f.RadioButton6, wifi, "RadioButton6", {12, 28, 60, 18});
  AddRadio(f.RadioButton7, wifi, "RadioButton7", {88, 28, 80, 18});
  AddImage(f.Image4, write, wifi, "Image4", small(226, 16));

  QGroupBox* web = binding_.AddGroup(f.GroupBox4, this, "GroupBox4", {8, 190, 270, 60});
  binding_.AddLabel(f.Label7, web, "Label7", {10, 28, 76, 18});
  binding_.AddEdit(f.Edit6, web, "Edit6", {88, 26, 100, 22});
  AddImage(f.Image5, write, web, "Image5", small(226, 16));

  QGroupBox* location = binding_.AddGroup(f.GroupBox3, this, "GroupBox3", {8, 256, 270, 60});
  binding_.AddLabel(f.Label8, location, "Label8", {10, 28, 48, 18});
  binding_.AddEdit(f.Edit5, location, "Edit5", {60, 26, 158, 22});
  AddImage(f.Image6, write, location, "Image6", small(226, 16));

  QGroupBox* modbus = binding_.AddGroup(f.GroupBox6, this, "GroupBox6", {284, 262, 270, 88});
  binding_.AddLabel(f.Label9, modbus, "Label9", {10, 26, 76, 18});
  binding_.AddEdit(f.Edit7, modbus, "Edit7", {88, 24, 70, 22});
  binding_.AddLabel(f.Label13, modbus, "Label13", {10, 56, 76, 18});
  binding_.AddEdit(f.Edit11, modbus, "Edit11", {88, 54, 70, 22});
  binding_.AddLabel(f.Label14, modbus, "Label14", {164, 56, 30, 18});
  AddImage(f.Image9, write, modbus, "Image9", small(226, 20));

  const QSize wide = kWideImageSize + QSize(4, 4);
  AddImage(f.Image1, FirmwareImage(), this, "Image1", {QPoint(14, 360), wide});
  AddImage(f.Image7, DefaultsImage(), this, "Image7", {QPoint(144, 360), wide});
  AddImage(f.Image8, RebootImage(), this, "Image8", {QPoint(274, 360), wide});

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
  if (check_box1_->isChecked() != window_.form.CheckBox1.checked()) {
    const QSignalBlocker block(check_box1_);
    check_box1_->setChecked(window_.form.CheckBox1.checked());
  }
  for (auto& [model, widget] : images_)
    if (widget->isEnabled() != model->enabled) widget->setEnabled(model->enabled);

  const QString status = Text(app_.Status());
  if (status_->text() != status) status_->setText(status);

  const Gauge& g = window_.form.CGauge1;
  // An empty range would turn the bar into a busy indicator; it shows empty instead.
  const int max = g.max > g.min ? g.max : g.min + 1;
  if (gauge_->minimum() != g.min || gauge_->maximum() != max) gauge_->setRange(g.min, max);
  if (gauge_->value() != g.progress) gauge_->setValue(g.progress);
  const QString style = GaugeStyle(g.fore_color);
  if (gauge_->styleSheet() != style) gauge_->setStyleSheet(style);
}

}  // namespace zvk::gui
