#include "gui/main_window_view.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStyle>
#include <QToolButton>
#include <exception>

#include "gui/form_binding.h"
#include "gui/icons.h"
#include "monitor/main_window.h"
#include "state/app.h"

namespace zvk::gui {

namespace {

constexpr int kTickMs = 100;

QString Text(const std::string& s) {
  return QString::fromStdString(s);
}

// Tahoma where it is installed, a plain sans face elsewhere.
QFont WindowFont() {
  QFont font(QStringLiteral("Tahoma"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  return font;
}

QFont CalibriBold(int pixels) {
  QFont font(QStringLiteral("Calibri"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(pixels);
  font.setBold(true);
  return font;
}

// Thermistor rows: the channel captions and values line up with the controls of the three
// column groups.
constexpr int kThColumnsTop = 36;
constexpr int kThRowTop = 22;  // first row inside a column group
constexpr int kThRowPitch = 28;

}  // namespace

MainWindowView::MainWindowView(App& app, MainWindow& window, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::MSWindowsFixedSizeDialogHint), app_(app), window_(window) {
  // A tool window does not end the program when closed unless told so.
  setAttribute(Qt::WA_QuitOnClose, true);
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(Text(window_.form.Caption));
  setFixedSize(kMainClientWidth, kMainClientHeight);
  setFont(WindowFont());
  QPalette white = palette();
  white.setColor(QPalette::Window, Qt::white);
  setPalette(white);
  setAutoFillBackground(true);

  Build();
  SyncFromModel();

  timer1_.setInterval(kTickMs);
  timer3_.setInterval(kTickMs);
  connect(&timer1_, &QTimer::timeout, this, [this] { Run([this] { window_.Timer1Timer(); }); });
  // The model stops Timer3 for the length of its own tick; a tick that comes due inside it
  // (through the event pump) is skipped.
  connect(&timer3_, &QTimer::timeout, this, [this] {
    if (window_.Timer3Enabled()) Run([this] { window_.Timer3Timer(); });
  });
}

MainWindowView::~MainWindowView() = default;

void MainWindowView::Start() {
  started_ = true;
  timer1_.start();
  timer3_.start();
  // Without a window manager no activation event ever comes; the first pass through the event
  // loop after showing stands for it.
  QTimer::singleShot(0, this, [this] { Activate(); });
}

void MainWindowView::CentreOnScreen() {
  if (const QScreen* s = screen())
    move(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, frameSize(), s->availableGeometry())
             .topLeft());
}

bool MainWindowView::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate && started_) Activate();
  return QWidget::event(e);
}

void MainWindowView::closeEvent(QCloseEvent* e) {
  QWidget::closeEvent(e);
  emit closed();
}

void MainWindowView::Activate() {
  if (activated_) return;
  activated_ = true;
  Run([this] { window_.FormActivate(); });
}

void MainWindowView::Run(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    app_.seams.dialogs.ErrorBox(e.what());
  }
  SyncFromModel();
}

// ---- building ----

QLabel* MainWindowView::AddLabel(const Label& model, QWidget* parent, const char* name,
                                 QRect geometry) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(geometry);
  labels_.push_back({&model, label});
  return label;
}

QComboBox* MainWindowView::AddCombo(ComboBox& model, QWidget* parent, const char* name,
                                    QRect geometry) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(QString::fromLatin1(name));
  combo->setGeometry(geometry);
  combo->setMaxVisibleItems(22);
  BindCombo(combo, model, [this](const std::function<void()>& action) { Run(action); });
  combos_.push_back({&model, combo});
  return combo;
}

QPushButton* MainWindowView::AddButton(Button& model, QWidget* parent, const char* name,
                                       QRect geometry) {
  auto* button = new QPushButton(Text(model.caption), parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(geometry);
  button->setToolTip(Text(model.hint));
  button->setFocusPolicy(Qt::NoFocus);  // speed buttons take no focus
  connect(button, &QPushButton::clicked, this,
          [this, &model] { Run([&model] { model.UserClick(); }); });
  buttons_.emplace_back(&model, button);
  return button;
}

QToolButton* MainWindowView::AddImage(Button& model, const QIcon& icon, QWidget* parent,
                                      const char* name, QRect geometry) {
  auto* image = new QToolButton(parent);
  image->setObjectName(QString::fromLatin1(name));
  image->setGeometry(geometry);
  image->setIcon(icon);
  image->setIconSize(QSize(32, 32));
  image->setAutoRaise(true);
  image->setToolTip(Text(model.hint));
  image->setCursor(Qt::PointingHandCursor);
  image->setFocusPolicy(Qt::NoFocus);
  connect(image, &QToolButton::clicked, this,
          [this, &model] { Run([&model] { model.UserClick(); }); });
  buttons_.emplace_back(&model, image);
  return image;
}

QGroupBox* MainWindowView::AddGroup(const GroupBox& model, QWidget* parent, const char* name,
                                    QRect geometry) {
  auto* group = new QGroupBox(Text(model.caption), parent);
  group->setObjectName(QString::fromLatin1(name));
  group->setGeometry(geometry);
  groups_.emplace_back(&model, group);
  return group;
}

MainWindowView::StatusBarView MainWindowView::AddStatusBar(const StatusBar& model, const char* name,
                                                           int y) {
  constexpr int kHeight = 20;
  auto* bar = new QWidget(this);
  bar->setObjectName(QString::fromLatin1(name));
  bar->setGeometry(0, y, kMainClientWidth, kHeight);
  StatusBarView view{&model, {}};
  int x = 0;
  for (int i = 0; i < 2; ++i) {
    auto* panel = new QLabel(bar);
    panel->setObjectName(QStringLiteral("%1_Panel%2").arg(QString::fromLatin1(name)).arg(i));
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    panel->setIndent(3);
    panel->setGeometry(x, 1, model.widths[i] - 2, kHeight - 2);
    x += model.widths[i];
    view.panels[static_cast<std::size_t>(i)] = panel;
  }
  auto* rest = new QLabel(bar);
  rest->setFrameShape(QFrame::Panel);
  rest->setFrameShadow(QFrame::Sunken);
  rest->setGeometry(x, 1, kMainClientWidth - x, kHeight - 2);
  return view;
}

void MainWindowView::Build() {
  BuildStatusGroup();
  BuildAnalogGroup();
  BuildThermistorGroup();
  // StatusBar1 sits on the bottom edge, StatusBar2 right above it.
  status_bars_[1] = AddStatusBar(window_.form.StatusBar1, "StatusBar1", kMainClientHeight - 20);
  status_bars_[0] = AddStatusBar(window_.form.StatusBar2, "StatusBar2", kMainClientHeight - 41);
  // Memo1 is the hidden log: it has no widget.
}

void MainWindowView::BuildStatusGroup() {
  MainForm& f = window_.form;
  QGroupBox* group = AddGroup(f.GroupBox3, this, "GroupBox3", {8, 4, 512, 100});
  QFont title = font();
  title.setBold(true);
  group->setFont(title);
  // Only the title is bold; the controls inside say so explicitly, or they would inherit it.
  QFont plain = font();
  plain.setBold(false);

  AddLabel(f.Label4, group, "Label4", {12, 20, 350, 22})->setFont(CalibriBold(16));
  AddLabel(f.Label5, group, "Label5", {12, 46, 350, 20})->setFont(CalibriBold(14));
  AddLabel(f.Label12, group, "Label12", {12, 74, 150, 18})->setFont(plain);
  AddLabel(f.Label6, group, "Label6", {176, 74, 66, 18})->setFont(plain);

  edit2_ = new QLineEdit(group);
  edit2_->setObjectName(QStringLiteral("Edit2"));
  edit2_->setGeometry(244, 71, 150, 22);
  edit2_->setFont(plain);
  // Edit2 raises no event; the model reads its text when "Static IP" is clicked.
  connect(edit2_, &QLineEdit::textEdited, this,
          [this](const QString& text) { window_.form.Edit2.text = text.toStdString(); });

  AddButton(f.SpeedButton5, group, "SpeedButton5", {400, 70, 100, 24})->setFont(plain);
  AddImage(f.Image1, SetupIcon(), group, "Image1", {344, 14, 40, 40});
  AddImage(f.Image2, RefreshIcon(), group, "Image2", {384, 14, 40, 40});
  AddImage(f.Image3, FindMeIcon(), group, "Image3", {424, 14, 40, 40});
  AddImage(f.Image4, TrendIcon(), group, "Image4", {464, 14, 40, 40});
  auto* trend_key = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_T), this);
  connect(trend_key, &QShortcut::activated, this,
          [this] { Run([this] { window_.form.Image4.UserClick(); }); });
  auto* log_key = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_L), this);
  connect(log_key, &QShortcut::activated, this, &MainWindowView::logRequested);
}

void MainWindowView::BuildAnalogGroup() {
  MainForm& f = window_.form;
  QGroupBox* group = AddGroup(f.GroupBox1, this, "GroupBox1", {8, 110, 512, 316});
  static constexpr const char* kCaptionNames[5] = {"Label1", "Label2", "Label3", "Label8",
                                                   "Label9"};
  static constexpr const char* kValueNames[5] = {"Label16", "Label17", "Label18", "Label19",
                                                 "Label20"};
  static constexpr const char* kComboNames[5] = {"ComboBox1", "ComboBox2", "ComboBox3", "ComboBox4",
                                                 "ComboBox5"};
  QFont heading = font();
  heading.setBold(true);
  AddLabel(f.Label14, group, "Label14", {14, 18, 200, 18})->setFont(heading);

  QFont value_font = font();
  value_font.setPixelSize(16);
  value_font.setBold(true);
  for (std::size_t ch = 0; ch < 5; ++ch) {
    const int y = 52 + static_cast<int>(ch) * 38;
    AddLabel(f.AnalogCaption[ch], group, kCaptionNames[ch], {24, y + 3, 40, 18});
    AddLabel(f.AnalogValue[ch], group, kValueNames[ch], {70, y, 130, 24})->setFont(value_font);
    AddCombo(f.RangeCombo[ch], group, kComboNames[ch], {210, y, 130, 24});
  }

  AddLabel(f.Label21, group, "Label21", {372, 52, 120, 18});
  radio1_ = new QRadioButton(Text(f.RadioButton1.caption), group);
  radio1_->setObjectName(QStringLiteral("RadioButton1"));
  radio1_->setGeometry(384, 76, 100, 20);
  radio2_ = new QRadioButton(Text(f.RadioButton2.caption), group);
  radio2_->setObjectName(QStringLiteral("RadioButton2"));
  radio2_->setGeometry(384, 100, 100, 20);
  // Only the button and its caption take clicks; keep the widgets no wider than that.
  for (QRadioButton* radio : {radio1_, radio2_}) radio->resize(radio->sizeHint().width(), 20);
  // `clicked` comes only from the user; the model raises the click event when the button was
  // not checked before.
  connect(radio1_, &QRadioButton::clicked, this,
          [this] { Run([this] { window_.form.RadioButton1.UserClick(); }); });
  connect(radio2_, &QRadioButton::clicked, this,
          [this] { Run([this] { window_.form.RadioButton2.UserClick(); }); });

  AddButton(f.SpeedButton1, group, "SpeedButton1", {372, 52 + 4 * 38, 110, 26});
}

void MainWindowView::BuildThermistorGroup() {
  MainForm& f = window_.form;
  QGroupBox* group = AddGroup(f.GroupBox2, this, "GroupBox2", {8, 110, 512, 316});
  static constexpr const char* kCaptionNames[8] = {"Label22", "Label23", "Label24", "Label25",
                                                   "Label26", "Label38", "Label39", "Label40"};
  static constexpr const char* kValueNames[8] = {"Label28", "Label29", "Label30", "Label31",
                                                 "Label32", "Label33", "Label34", "Label35"};
  static constexpr const char* kComboNames[8] = {"ComboBox6",  "ComboBox7",  "ComboBox8",
                                                 "ComboBox9",  "ComboBox10", "ComboBox11",
                                                 "ComboBox12", "ComboBox13"};
  QFont heading = font();
  heading.setBold(true);
  AddLabel(f.Label27, group, "Label27", {14, 18, 200, 18})->setFont(heading);

  constexpr int kColumnHeight = kThRowTop + 8 * kThRowPitch + 24;
  QGroupBox* sensors =
      AddGroup(f.GroupBox4, group, "GroupBox4", {140, kThColumnsTop, 242, kColumnHeight});
  QGroupBox* units =
      AddGroup(f.GroupBox5, group, "GroupBox5", {386, kThColumnsTop, 32, kColumnHeight});
  QGroupBox* offsets =
      AddGroup(f.GroupBox6, group, "GroupBox6", {422, kThColumnsTop, 82, kColumnHeight});

  QFont value_font = font();
  value_font.setPixelSize(13);
  value_font.setBold(true);
  for (std::size_t ch = 0; ch < 8; ++ch) {
    const int row = kThRowTop + static_cast<int>(ch) * kThRowPitch;
    const int y = kThColumnsTop + row;
    AddLabel(f.ThermistorCaption[ch], group, kCaptionNames[ch], {14, y + 3, 34, 18});
    AddLabel(f.ThermistorValue[ch], group, kValueNames[ch], {48, y + 2, 90, 20})
        ->setFont(value_font);
    AddCombo(f.SensorCombo[ch], sensors, kComboNames[ch], {6, row, 230, 22});

    auto* check = new QCheckBox(units);
    check->setObjectName(QStringLiteral("CheckBox%1").arg(ch + 1));
    check->setGeometry(8, row + 2, 18, 18);
    CheckBox& check_model = f.FahrenheitCheck[ch];
    // `clicked` comes only from the user; the model toggles and raises the click event itself.
    connect(check, &QCheckBox::clicked, this,
            [this, &check_model] { Run([&check_model] { check_model.UserClick(); }); });
    fahrenheit_[ch] = check;

    auto* spin = new QSpinBox(offsets);
    spin->setObjectName(QStringLiteral("SpinEdit%1").arg(ch + 1));
    spin->setGeometry(6, row, 70, 22);
    spin->setRange(f.OffsetSpin[ch].min_value, f.OffsetSpin[ch].max_value);
    // A value goes to the module when typing is finished (Enter, leaving the box) or at once
    // for the arrows, never for the halves of a number being typed.
    spin->setKeyboardTracking(false);
    SpinEdit& spin_model = f.OffsetSpin[ch];
    connect(spin, &QSpinBox::valueChanged, this, [this, &spin_model](int value) {
      Run([&spin_model, value] { spin_model.UserSetValue(value); });
    });
    offsets_[ch] = spin;
  }
  AddLabel(f.Label36, offsets, "Label36", {6, kThRowTop + 8 * kThRowPitch, 70, 16})
      ->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  AddButton(f.SpeedButton2, group, "SpeedButton2",
            {12, kThColumnsTop + kColumnHeight - 26, 124, 26});
}

// ---- model to widgets ----

void MainWindowView::SyncFromModel() {
  for (auto& [model, widget] : groups_) SyncGroup(widget, *model);

  for (const LabelView& v : labels_) SyncLabel(v.widget, *v.model);

  for (auto& [model, widget] : buttons_) {
    if (widget->isEnabled() != model->enabled) widget->setEnabled(model->enabled);
    if (auto* push = qobject_cast<QPushButton*>(widget)) {
      const QString caption = Text(model->caption);
      if (push->text() != caption) push->setText(caption);
    }
  }

  if (const QString text = Text(window_.form.Edit2.text); edit2_->text() != text) {
    const QSignalBlocker block(edit2_);
    edit2_->setText(text);
  }

  for (const ComboView& v : combos_) SyncCombo(v.widget, *v.model);

  const MainForm& f = window_.form;
  if (radio1_->isChecked() != f.RadioButton1.checked() ||
      radio2_->isChecked() != f.RadioButton2.checked()) {
    const QSignalBlocker block1(radio1_);
    const QSignalBlocker block2(radio2_);
    // The two buttons exclude each other; with both unchecked in the model, lift that for a
    // moment so the widgets can show it.
    radio1_->setAutoExclusive(false);
    radio2_->setAutoExclusive(false);
    radio1_->setChecked(f.RadioButton1.checked());
    radio2_->setChecked(f.RadioButton2.checked());
    radio1_->setAutoExclusive(true);
    radio2_->setAutoExclusive(true);
  }

  for (std::size_t ch = 0; ch < 8; ++ch) {
    if (fahrenheit_[ch]->isChecked() != f.FahrenheitCheck[ch].checked()) {
      const QSignalBlocker block(fahrenheit_[ch]);
      fahrenheit_[ch]->setChecked(f.FahrenheitCheck[ch].checked());
    }
    if (offsets_[ch]->value() != f.OffsetSpin[ch].value()) {
      const QSignalBlocker block(offsets_[ch]);
      offsets_[ch]->setValue(f.OffsetSpin[ch].value());
    }
  }

  for (const StatusBarView& bar : status_bars_) {
    for (std::size_t i = 0; i < 2; ++i) {
      const QString text = Text(bar.model->panels[i]);
      if (bar.panels[i]->text() != text) bar.panels[i]->setText(text);
    }
  }
}

}  // namespace zvk::gui
