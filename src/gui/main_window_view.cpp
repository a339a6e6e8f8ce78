#include "gui/main_window_view.h"

#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFont>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStringList>
#include <QStyle>
#include <QToolButton>
#include <algorithm>
#include <exception>

#include "gui/form_binding.h"
#include "gui/icons.h"
#include "gui/trend_window_loader.h"
#include "monitor/main_window.h"
#include "monitor/supervision.h"
#include "state/app.h"

namespace zvk::gui {

namespace {

constexpr int kTickMs = 100;

QString Text(const std::string& s) {
  return QString::fromStdString(s);
}
QColor Color(Rgb c) {
  return QColor(c.r, c.g, c.b);
}

// Readings the last poll did not confirm: their text stays, their colour says they are old.
const QColor kStaleColor(150, 150, 150);

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

// Every digit in each place of `pattern` ('d'): whichever digit is widest in the font.
QStringList Numbers(const QString& pattern) {
  QStringList numbers;
  for (char d = '0'; d <= '9'; ++d) numbers << QString(pattern).replace(u'd', QChar(d));
  return numbers;
}

// The widest texts a value label shows. Volts: five significant digits, four decimals, about
// 10.25 V at most. Temperatures: tenths of a degree with an offset of up to 12.7, -62.7 to
// 212.7 degrees Celsius and -70.7 to 404.7 Fahrenheit.
QStringList WidestVoltTexts() {
  return Numbers(QStringLiteral("-dd.ddddV")) << QStringLiteral("Range?");
}
QStringList WidestTemperatureTexts() {
  QStringList texts{QStringLiteral("Under Range"), QStringLiteral("Over Range"),
                    QStringLiteral("Disable")};
  for (const QString& unit : {QStringLiteral("\u2103"), QStringLiteral("\u2109")})
    texts << Numbers(QStringLiteral("-dd.d") + unit) << Numbers(QStringLiteral("ddd.d") + unit);
  return texts;
}

// The layout leaves room for these texts in the window's preferred fonts and in the common
// fallbacks; a font wider still is made smaller until every text fits its label.
void FitFont(QLabel* label, const QStringList& texts) {
  QFont font = label->font();
  const int room = label->contentsRect().width();
  auto widest = [&texts](const QFont& f) {
    const QFontMetrics metrics(f);
    int width = 0;
    for (const QString& text : texts) width = std::max(width, metrics.horizontalAdvance(text));
    return width;
  };
  while (font.pixelSize() > 8 && widest(font) > room) font.setPixelSize(font.pixelSize() - 1);
  label->setFont(font);
}

// Thermistor rows: the channel captions and values line up with the controls of the three
// column groups.
constexpr int kThColumnsTop = 36;
constexpr int kThRowTop = 22;  // first row inside a column group
constexpr int kThRowPitch = 28;

// The Wi-Fi check's note under Label4: its first line ends before the pictures.
constexpr int kNoteFirstLineWidth = 328;

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
  // The window itself holds the focus at first, not "Device IP:": no caret blinks (and repaints
  // every half second) in a window that is mostly watched; Tab or a click reaches the field.
  setFocusPolicy(Qt::StrongFocus);
  setFocus();

  Build();
  SyncFromModel();

  timer1_.setInterval(kTickMs);
  timer3_.setInterval(kTickMs);
  // Most ticks change nothing on screen: Timer1's retry step does nothing while no reply is
  // overdue, and an ordinary Timer3 tick with nothing queued only counts towards the next
  // supervision tick. Those skip the mirroring; every other tick is followed by it.
  connect(&timer1_, &QTimer::timeout, this, [this] {
    const bool idle = !app_.link.ReplyTimedOut;
    Run([this] { window_.Timer1Timer(); }, !idle);
  });
  // The model stops Timer3 for the length of its own tick; a tick that comes due inside it
  // (through the event pump) is skipped.
  connect(&timer3_, &QTimer::timeout, this, [this] {
    if (!window_.Timer3Enabled()) return;
    const bool idle = !window_.SupervisionDue() && app_.link.QueuedCommand == 0;
    Run([this] { window_.Timer3Timer(); }, !idle);
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

void MainWindowView::Run(const std::function<void()>& action, bool mirror) {
  try {
    action();
  } catch (const std::exception& e) {
    app_.seams.dialogs.ErrorBox(e.what());
    mirror = true;
  }
  if (mirror) SyncFromModel();
}

// ---- building ----

QLabel* MainWindowView::AddLabel(const Label& model, QWidget* parent, const char* name,
                                 QRect geometry) {
  auto* label = new QLabel(parent);
  label->setTextFormat(Qt::PlainText);  // module texts may hold '<' or '&'
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(geometry);
  labels_.push_back({&model, label});
  return label;
}

QLabel* MainWindowView::AddValueLabel(const Label& model, QWidget* parent, const char* name,
                                      QRect geometry, const QFont& font) {
  QLabel* label = AddLabel(model, parent, name, geometry);
  labels_.back().value = true;
  label->setFont(font);
  // A value changes with every poll; painting its own (white) background spares the group box
  // behind it a repaint each time.
  label->setAutoFillBackground(true);
  return label;
}

QComboBox* MainWindowView::AddCombo(ComboBox& model, QWidget* parent, const char* name,
                                    QRect geometry) {
  QComboBox* combo = NewBoundCombo(model, parent, [this](const std::function<void()>& event) {
    user_acted_ = true;
    Run(event);
  });
  combo->setObjectName(QString::fromLatin1(name));
  combo->setGeometry(geometry);
  combo->setMaxVisibleItems(22);
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
  buttons_.push_back({&model, button});
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
  buttons_.push_back({&model, image});
  return image;
}

QGroupBox* MainWindowView::AddGroup(const GroupBox& model, QWidget* parent, const char* name,
                                    QRect geometry) {
  auto* group = new QGroupBox(Text(model.caption), parent);
  group->setObjectName(QString::fromLatin1(name));
  group->setGeometry(geometry);
  groups_.push_back({&model, group});
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
    panel->setTextFormat(Qt::PlainText);  // file names and module texts reach the status line
    panel->setObjectName(QStringLiteral("%1_Panel%2").arg(QString::fromLatin1(name)).arg(i));
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    panel->setIndent(3);
    panel->setGeometry(x, 1, model.widths[i] - 2, kHeight - 2);
    x += model.widths[i];
    view.panels[static_cast<std::size_t>(i)] = panel;
  }
  auto* rest = new QLabel(bar);
  rest->setTextFormat(Qt::PlainText);
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
  status_bars_[1] = AddStatusBar(window_.form.link_bar, "StatusBar1", kMainClientHeight - 20);
  status_bars_[0] = AddStatusBar(window_.form.status_bar, "StatusBar2", kMainClientHeight - 41);
  // Memo1 is the hidden log: it has no widget.
}

void MainWindowView::BuildStatusGroup() {
  MainForm& f = window_.form;
  QGroupBox* group = AddGroup(f.status_group, this, "GroupBox3", {8, 4, 512, 100});
  QFont title = font();
  title.setBold(true);
  group->setFont(title);
  // Only the title is bold; the controls inside say so explicitly, or they would inherit it.
  QFont plain = font();
  plain.setBold(false);

  AddLabel(f.module_state, group, "Label4", {12, 20, 350, 22})->setFont(CalibriBold(16));
  AddLabel(f.location_text, group, "Label5", {12, 46, 350, 20})->setFont(CalibriBold(14));
  wifi_note_ = new QLabel(group);
  wifi_note_->setObjectName(QStringLiteral("WifiCheckNote"));
  wifi_note_->setTextFormat(Qt::PlainText);  // it holds the typed address
  // Its first line stays left of the pictures; the second runs below them.
  wifi_note_->setGeometry(12, 42, 488, 30);
  QFont note_font = plain;
  note_font.setPixelSize(11);
  wifi_note_->setFont(note_font);
  QPalette note_palette = wifi_note_->palette();
  note_palette.setColor(QPalette::WindowText, QColor(120, 40, 40));
  wifi_note_->setPalette(note_palette);
  wifi_note_->hide();
  AddLabel(f.rssi, group, "Label12", {12, 74, 150, 18})->setFont(plain);
  AddLabel(f.device_ip_label, group, "Label6", {176, 74, 66, 18})->setFont(plain);

  edit2_ = new QLineEdit(group);
  edit2_->setObjectName(QStringLiteral("Edit2"));
  edit2_->setGeometry(244, 71, 150, 22);
  edit2_->setFont(plain);
  // Edit2 raises no event; the model reads its text when "Static IP" is clicked.
  connect(edit2_, &QLineEdit::textEdited, this, [this](const QString& text) {
    user_acted_ = true;
    window_.form.device_ip.text = text.toStdString();
  });

  AddButton(f.static_ip_button, group, "SpeedButton5", {400, 70, 100, 24})->setFont(plain);
  AddImage(f.setup_button, SetupIcon(), group, "Image1", {344, 14, 40, 40});
  AddImage(f.refresh_button, RefreshIcon(), group, "Image2", {384, 14, 40, 40});
  AddImage(f.find_me_button, FindMeIcon(), group, "Image3", {424, 14, 40, 40});
#ifdef ZVK_NO_TREND_WINDOW
  // A build without the trend window: a note where its picture would be.
  auto* no_trend = new QLabel(QStringLiteral("No trend\nin this\nbuild"), group);
  no_trend->setObjectName(QStringLiteral("NoTrendNote"));
  no_trend->setGeometry(464, 12, 46, 44);
  no_trend->setAlignment(Qt::AlignCenter);
  QFont small = plain;
  small.setPointSize(7);
  no_trend->setFont(small);
  no_trend->setToolTip(QString::fromUtf8(kNoTrendWindowText));
#else
  AddImage(f.trend_button, TrendIcon(), group, "Image4", {464, 14, 40, 40});
#endif
  auto* trend_key = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_T), this);
  connect(trend_key, &QShortcut::activated, this,
          [this] { Run([this] { window_.form.trend_button.UserClick(); }); });
  auto* log_key = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_L), this);
  connect(log_key, &QShortcut::activated, this, &MainWindowView::logRequested);
  // The Modules window has no picture of its own, so the window's layout stays as it is: a
  // shortcut and the window's context menu open it.
  auto* modules = new QAction(QStringLiteral("Modules…"), this);
  modules->setObjectName(QStringLiteral("ModulesAction"));
  modules->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
  modules->setShortcutContext(Qt::WindowShortcut);
  connect(modules, &QAction::triggered, this, &MainWindowView::modulesRequested);
  addAction(modules);
  setContextMenuPolicy(Qt::ActionsContextMenu);
}

void MainWindowView::WatchModule(const std::string& address) {
  Run([this, address] {
    window_.form.device_ip.text = address;
    window_.form.static_ip_button.UserClick();
  });
}

void MainWindowView::BuildAnalogGroup() {
  MainForm& f = window_.form;
  QGroupBox* group = AddGroup(f.analog_group, this, "GroupBox1", {8, 110, 512, 316});
  static constexpr const char* kCaptionNames[5] = {"Label1", "Label2", "Label3", "Label8",
                                                   "Label9"};
  static constexpr const char* kValueNames[5] = {"Label16", "Label17", "Label18", "Label19",
                                                 "Label20"};
  static constexpr const char* kComboNames[5] = {"ComboBox1", "ComboBox2", "ComboBox3", "ComboBox4",
                                                 "ComboBox5"};
  QFont heading = font();
  heading.setBold(true);
  AddLabel(f.analog_title, group, "Label14", {14, 18, 200, 18})->setFont(heading);

  QFont value_font = font();
  value_font.setPixelSize(16);
  value_font.setBold(true);
  for (std::size_t ch = 0; ch < 5; ++ch) {
    const int y = 52 + static_cast<int>(ch) * 38;
    AddLabel(f.analog_caption[ch], group, kCaptionNames[ch], {24, y + 3, 40, 18});
    QLabel* value =
        AddValueLabel(f.analog_value[ch], group, kValueNames[ch], {70, y, 130, 24}, value_font);
    FitFont(value, WidestVoltTexts());
    AddCombo(f.range[ch], group, kComboNames[ch], {210, y, 130, 24});
  }

  AddLabel(f.sampling_rate_label, group, "Label21", {372, 52, 120, 18});
  radio1_ = new QRadioButton(Text(f.sampling_normal.caption), group);
  radio1_->setObjectName(QStringLiteral("RadioButton1"));
  radio1_->setGeometry(384, 76, 100, 20);
  radio2_ = new QRadioButton(Text(f.sampling_fast.caption), group);
  radio2_->setObjectName(QStringLiteral("RadioButton2"));
  radio2_->setGeometry(384, 100, 100, 20);
  // Only the button and its caption take clicks; keep the widgets no wider than that.
  for (QRadioButton* radio : {radio1_, radio2_}) radio->resize(radio->sizeHint().width(), 20);
  // `clicked` comes only from the user; the model raises the click event when the button was
  // not checked before.
  connect(radio1_, &QRadioButton::clicked, this, [this] {
    user_acted_ = true;
    Run([this] { window_.form.sampling_normal.UserClick(); });
  });
  connect(radio2_, &QRadioButton::clicked, this, [this] {
    user_acted_ = true;
    Run([this] { window_.form.sampling_fast.UserClick(); });
  });

  AddButton(f.analog_calibration_button, group, "SpeedButton1", {372, 52 + 4 * 38, 110, 26});
}

void MainWindowView::BuildThermistorGroup() {
  MainForm& f = window_.form;
  QGroupBox* group = AddGroup(f.thermistor_group, this, "GroupBox2", {8, 110, 512, 316});
  static constexpr const char* kCaptionNames[8] = {"Label22", "Label23", "Label24", "Label25",
                                                   "Label26", "Label38", "Label39", "Label40"};
  static constexpr const char* kValueNames[8] = {"Label28", "Label29", "Label30", "Label31",
                                                 "Label32", "Label33", "Label34", "Label35"};
  static constexpr const char* kComboNames[8] = {"ComboBox6",  "ComboBox7",  "ComboBox8",
                                                 "ComboBox9",  "ComboBox10", "ComboBox11",
                                                 "ComboBox12", "ComboBox13"};
  QFont heading = font();
  heading.setBold(true);
  AddLabel(f.thermistor_title, group, "Label27", {14, 18, 200, 18})->setFont(heading);

  constexpr int kColumnHeight = kThRowTop + 8 * kThRowPitch + 24;
  QGroupBox* sensors =
      AddGroup(f.sensor_type_group, group, "GroupBox4", {144, kThColumnsTop, 238, kColumnHeight});
  QGroupBox* units =
      AddGroup(f.fahrenheit_group, group, "GroupBox5", {386, kThColumnsTop, 32, kColumnHeight});
  QGroupBox* offsets =
      AddGroup(f.offset_group, group, "GroupBox6", {422, kThColumnsTop, 82, kColumnHeight});

  QFont value_font = font();
  value_font.setPixelSize(13);
  value_font.setBold(true);
  for (std::size_t ch = 0; ch < 8; ++ch) {
    const int row = kThRowTop + static_cast<int>(ch) * kThRowPitch;
    const int y = kThColumnsTop + row;
    AddLabel(f.thermistor_caption[ch], group, kCaptionNames[ch], {12, y + 3, 32, 18});
    QLabel* value = AddValueLabel(f.thermistor_value[ch], group, kValueNames[ch],
                                  {44, y + 2, 98, 20}, value_font);
    FitFont(value, WidestTemperatureTexts());
    AddCombo(f.sensor_type[ch], sensors, kComboNames[ch], {6, row, 226, 22});

    auto* check = new QCheckBox(units);
    check->setObjectName(QStringLiteral("CheckBox%1").arg(ch + 1));
    check->setGeometry(8, row + 2, 18, 18);
    CheckBox& check_model = f.fahrenheit[ch];
    // `clicked` comes only from the user; the model toggles and raises the click event itself.
    connect(check, &QCheckBox::clicked, this, [this, &check_model] {
      user_acted_ = true;
      Run([&check_model] { check_model.UserClick(); });
    });
    fahrenheit_[ch] = check;

    auto* spin = new QSpinBox(offsets);
    spin->setObjectName(QStringLiteral("SpinEdit%1").arg(ch + 1));
    spin->setGeometry(6, row, 70, 22);
    spin->setRange(f.offset[ch].min_value, f.offset[ch].max_value);
    // A value goes to the module when typing is finished (Enter, leaving the box) or at once
    // for the arrows, never for the halves of a number being typed.
    spin->setKeyboardTracking(false);
    SpinEdit& spin_model = f.offset[ch];
    connect(spin, &QSpinBox::valueChanged, this, [this, &spin_model](int value) {
      user_acted_ = true;
      Run([&spin_model, value] { spin_model.UserSetValue(value); });
    });
    offsets_[ch] = spin;
  }
  AddLabel(f.offset_unit, offsets, "Label36", {6, kThRowTop + 8 * kThRowPitch, 70, 16})
      ->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  AddButton(f.thermistor_calibration_button, group, "SpeedButton2",
            {12, kThColumnsTop + kColumnHeight - 26, 124, 26});
}

// ---- model to widgets ----

void MainWindowView::SyncFromModel() {
  const bool all = !mirrored_;
  const bool editors = all || user_acted_;
  mirrored_ = true;
  user_acted_ = false;

  for (GroupView& v : groups_) {
    const GroupBox& m = *v.model;
    if (!all && m.caption == v.shown.caption && m.visible == v.shown.visible) continue;
    const QString caption = Text(m.caption);
    if (v.widget->title() != caption) v.widget->setTitle(caption);
    if (v.widget->isHidden() == m.visible) v.widget->setVisible(m.visible);
    v.shown = m;
  }

  const bool stale = app_.meas.Freshness != ReadingsFreshness::Fresh;
  for (LabelView& v : labels_) {
    const Label& m = *v.model;
    const bool greyed = v.value && stale;
    if (!all && m.caption == v.shown.caption && m.color == v.shown.color &&
        m.enabled == v.shown.enabled && m.visible == v.shown.visible && m.bold == v.shown.bold &&
        greyed == v.shown_stale)
      continue;
    const QString caption = Text(m.caption);
    if (v.widget->text() != caption) v.widget->setText(caption);
    if (v.value)
      v.widget->setToolTip(greyed ? QStringLiteral("Not confirmed by the last poll") : QString());
    v.shown_stale = greyed;
    const QColor color = greyed ? kStaleColor : Color(m.color);
    if (v.widget->palette().color(QPalette::WindowText) != color) {
      QPalette p = v.widget->palette();
      p.setColor(QPalette::WindowText, color);
      v.widget->setPalette(p);
    }
    // Some labels are drawn bold for legibility; the model's bold only ever adds to that.
    if (m.bold && !v.widget->font().bold()) {
      QFont bold = v.widget->font();
      bold.setBold(true);
      v.widget->setFont(bold);
    }
    if (v.widget->isEnabled() != m.enabled) v.widget->setEnabled(m.enabled);
    if (v.widget->isHidden() == m.visible) v.widget->setVisible(m.visible);
    v.shown = m;
  }

  for (ButtonView& v : buttons_) {
    const Button& m = *v.model;
    if (!all && m.caption == v.shown_caption && m.enabled == v.shown_enabled) continue;
    if (v.widget->isEnabled() != m.enabled) v.widget->setEnabled(m.enabled);
    if (auto* push = qobject_cast<QPushButton*>(v.widget)) {
      const QString caption = Text(m.caption);
      if (push->text() != caption) push->setText(caption);
    }
    v.shown_caption = m.caption;
    v.shown_enabled = m.enabled;
  }

  if (std::string note = WifiCheckNote(app_); all || note != shown_wifi_note_) {
    const QString text = Text(note);
    // Each line fits its room; the tooltip holds it whole should it still not.
    QFont font = wifi_note_->font();
    font.setPixelSize(11);
    const QStringList lines = text.split(u'\n');
    for (; font.pixelSize() > 8; font.setPixelSize(font.pixelSize() - 1)) {
      const QFontMetrics metrics(font);
      bool fits = true;
      for (qsizetype i = 0; i < lines.size(); ++i)
        fits = fits && metrics.horizontalAdvance(lines[i]) <=
                           (i == 0 ? kNoteFirstLineWidth : wifi_note_->width());
      if (fits) break;
    }
    wifi_note_->setFont(font);
    wifi_note_->setText(text);
    wifi_note_->setToolTip(text);
    wifi_note_->setVisible(!note.empty());
    shown_wifi_note_ = std::move(note);
  }

  const MainForm& f = window_.form;
  EditorsShown& shown = editors_shown_;
  if (editors || f.device_ip.text != shown.edit2) {
    if (const QString text = Text(f.device_ip.text); edit2_->text() != text) {
      const QSignalBlocker block(edit2_);
      edit2_->setText(text);
    }
    shown.edit2 = f.device_ip.text;
  }

  for (ComboView& v : combos_) {
    const ComboBox& m = *v.model;
    if (!editors && m.text() == v.shown_text && m.item_index() == v.shown_index) continue;
    const QString text = Text(m.text());
    const QSignalBlocker block(v.widget);
    const QSignalBlocker block_edit(v.widget->lineEdit());
    if (v.widget->currentText() != text) {
      if (m.item_index() >= 0) v.widget->setCurrentIndex(m.item_index());
      if (v.widget->currentText() != text) v.widget->setEditText(text);
      // Long sensor names: show where the code is.
      v.widget->lineEdit()->setCursorPosition(0);
    } else if (m.item_index() >= 0 && v.widget->currentIndex() != m.item_index()) {
      v.widget->setCurrentIndex(m.item_index());
    }
    v.shown_text = m.text();
    v.shown_index = m.item_index();
  }

  const bool radio1 = f.sampling_normal.checked();
  const bool radio2 = f.sampling_fast.checked();
  if ((editors || radio1 != shown.radio1 || radio2 != shown.radio2) &&
      (radio1_->isChecked() != radio1 || radio2_->isChecked() != radio2)) {
    const QSignalBlocker block1(radio1_);
    const QSignalBlocker block2(radio2_);
    // The two buttons exclude each other; with both unchecked in the model, lift that for a
    // moment so the widgets can show it.
    radio1_->setAutoExclusive(false);
    radio2_->setAutoExclusive(false);
    radio1_->setChecked(radio1);
    radio2_->setChecked(radio2);
    radio1_->setAutoExclusive(true);
    radio2_->setAutoExclusive(true);
  }
  shown.radio1 = radio1;
  shown.radio2 = radio2;

  for (std::size_t ch = 0; ch < 8; ++ch) {
    const bool checked = f.fahrenheit[ch].checked();
    if ((editors || checked != shown.fahrenheit[ch]) && fahrenheit_[ch]->isChecked() != checked) {
      const QSignalBlocker block(fahrenheit_[ch]);
      fahrenheit_[ch]->setChecked(checked);
    }
    shown.fahrenheit[ch] = checked;
    const int offset = f.offset[ch].value();
    if ((editors || offset != shown.offset[ch]) && offsets_[ch]->value() != offset) {
      const QSignalBlocker block(offsets_[ch]);
      offsets_[ch]->setValue(offset);
    }
    shown.offset[ch] = offset;
  }

  for (StatusBarView& bar : status_bars_) {
    for (std::size_t i = 0; i < 2; ++i) {
      const std::string& model = bar.model->panels[i];
      if (!all && model == bar.shown[i]) continue;
      if (const QString text = Text(model); bar.panels[i]->text() != text)
        bar.panels[i]->setText(text);
      bar.shown[i] = model;
    }
  }
}

}  // namespace zvk::gui
