#include "gui/trend_window_view.h"

#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLegendMarker>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLegend>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

#include "gui/icons.h"
#include "gui/qt_seams.h"
#ifdef ZVK_HAVE_PUBLISH
#include "gui/publish_panel.h"
#endif
#include "engine/watch_sinks.h"
#include "record/recorder.h"
#include "record/trend_model.h"
#include "util/file_writer.h"

namespace zvk::gui {

namespace {

const QColor kChannelColors[8] = {{31, 119, 180},  {255, 127, 14}, {44, 160, 44},   {214, 39, 40},
                                  {148, 103, 189}, {140, 86, 75},  {227, 119, 194}, {90, 90, 90}};

QString Text(const std::string& s) {
  return QString::fromStdString(s);
}

// A module text in a window title or on the chart: control characters are shown as such, never
// acted on.
QString Printable(const std::string& s) {
  QString text = QString::fromStdString(s);
  for (QChar& c : text)
    if (c.category() == QChar::Other_Control) c = QChar(0xFFFD);
  return text;
}

}  // namespace

TrendWindowView::TrendWindowView(engine::WatchSinks& sinks, QWidget* parent)
    : QWidget(parent, Qt::Window), sinks_(sinks), model_(sinks.trend()) {
  setObjectName(QStringLiteral("TrendWindow"));
  setWindowTitle(QStringLiteral("Trend"));
  setWindowIcon(TrendIcon());
  resize(760, 500);
  choose_file = SaveFileDialog(this);
  show_error = [this](const QString& caption, const QString& text) {
    ShowBox(this, QMessageBox::Warning, caption, text);
  };

  auto* top = new QHBoxLayout;
  span_ = new QComboBox(this);
  span_->setObjectName(QStringLiteral("SpanBox"));
  for (const char* name : kTrendSpanNames) span_->addItem(QString::fromUtf8(name));
  connect(span_, &QComboBox::currentIndexChanged, this, [this] { Refresh(); });
  top->addWidget(span_);
  channel_row_ = new QHBoxLayout;
  top->addLayout(channel_row_);
  top->addStretch();

  chart_ = new QChart;
  chart_->legend()->setAlignment(Qt::AlignBottom);
  chart_->setMargins(QMargins(4, 4, 4, 4));
  time_axis_ = new QDateTimeAxis;
  time_axis_->setTickCount(7);
  value_axis_ = new QValueAxis;
  chart_->addAxis(time_axis_, Qt::AlignBottom);
  chart_->addAxis(value_axis_, Qt::AlignLeft);
  chart_view_ = new QChartView(chart_, this);
  chart_view_->setObjectName(QStringLiteral("Chart"));
  chart_view_->setRenderHint(QPainter::Antialiasing);

  auto* bottom = new QHBoxLayout;
  record_ = new QPushButton(this);
  record_->setObjectName(QStringLiteral("RecordButton"));
  connect(record_, &QPushButton::clicked, this, [this] { ToggleRecording(); });
  record_status_ = new QLabel(this);
  record_status_->setTextFormat(Qt::PlainText);  // it names the file, which may hold '<' or '&'
  record_status_->setObjectName(QStringLiteral("RecordStatus"));
  auto* png = new QPushButton(QStringLiteral("Export PNG\u2026"), this);
  png->setObjectName(QStringLiteral("ExportPngButton"));
  connect(png, &QPushButton::clicked, this, [this] { ExportPng(); });
  auto* csv = new QPushButton(QStringLiteral("Export CSV\u2026"), this);
  csv->setObjectName(QStringLiteral("ExportCsvButton"));
  connect(csv, &QPushButton::clicked, this, [this] { ExportCsv(); });
  auto* log = new QPushButton(QStringLiteral("Log\u2026"), this);
  log->setObjectName(QStringLiteral("LogButton"));
  log->setToolTip(QStringLiteral("The communication log (Ctrl+L)"));
  connect(log, &QPushButton::clicked, this, &TrendWindowView::logRequested);
  bottom->addWidget(record_);
  bottom->addWidget(record_status_, 1);
  bottom->addWidget(png);
  bottom->addWidget(csv);
  bottom->addWidget(log);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(chart_view_, 1);
  layout->addLayout(bottom);
#ifdef ZVK_HAVE_PUBLISH
  publish_ = new PublishPanel(sinks_, this);
  layout->addWidget(publish_);
#endif

  auto* log_key = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_L), this);
  connect(log_key, &QShortcut::activated, this, &TrendWindowView::logRequested);

  // A recording that fails is reported once the tick that wrote it is over.
  sinks_.on_record_error = [this](const std::string& reason) {
    QTimer::singleShot(0, this, [this, reason] {
      UpdateRecording();
      show_error(QStringLiteral("Recording stopped"), Text(reason));
    });
  };
  UpdateChannelBoxes();
  UpdateRecording();
}

TrendWindowView::~TrendWindowView() {
  sinks_.on_record_error = nullptr;
}

void TrendWindowView::OnLogRequested(std::function<void()> action) {
  connect(this, &TrendWindowView::logRequested, this, std::move(action));
}

void TrendWindowView::WatchModule([[maybe_unused]] const App& app,
                                  [[maybe_unused]] const MainForm& form) {
#ifdef ZVK_HAVE_PUBLISH
  publish_->Watch(app);
#endif
}

void TrendWindowView::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  Refresh();
}

void TrendWindowView::Refresh() {
  UpdateRecording();
  // The title names the module the lines come from.
  QString title = QStringLiteral("Trend");
  if (!model_.module_name().empty()) {
    title += QStringLiteral(": ") + Printable(model_.module_name());
    if (model_.module_name().find(model_.module_mac()) == std::string::npos)
      title += QStringLiteral(" (%1)").arg(Printable(model_.module_mac()));
  } else if (!model_.channels().empty()) {
    title += QStringLiteral(": a module that reported no MAC");
  }
  if (windowTitle() != title) setWindowTitle(title);
  if (!isVisible()) return;
  UpdateChannelBoxes();
  Draw();
}

void TrendWindowView::UpdateChannelBoxes() {
  if (box_channels_ == model_.channels()) return;
  for (QCheckBox* box : channel_boxes_) delete box;
  channel_boxes_.clear();
  box_channels_ = model_.channels();
  for (std::size_t ch = 0; ch < box_channels_.size(); ++ch) {
    auto* box = new QCheckBox(Text(box_channels_[ch]), this);
    box->setObjectName(QStringLiteral("Channel_%1").arg(Text(box_channels_[ch])));
    box->setChecked(true);
    QPalette palette = box->palette();
    palette.setColor(QPalette::WindowText, kChannelColors[ch % 8]);
    box->setPalette(palette);
    connect(box, &QCheckBox::toggled, this, [this] { Draw(); });
    channel_row_->addWidget(box);
    channel_boxes_.push_back(box);
  }
}

void TrendWindowView::UpdateRecording() {
  record_->setText(sinks_.recording() ? QStringLiteral("Stop recording")
                                      : QStringLiteral("Record\u2026"));
  // The file's columns are the channels, known from the first readings.
  record_->setEnabled(sinks_.recording() || !model_.channels().empty());
  record_status_->setText(Text(sinks_.RecordingStatus()));
}

void TrendWindowView::Draw() {
  const TrendRange range = model_.Range(static_cast<TrendSpan>(span_->currentIndex()));
  chart_->removeAllSeries();
  const std::size_t max_points = static_cast<std::size_t>(std::max(400, 2 * chart_view_->width()));
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  std::set<std::string> units;
  for (std::size_t ch = 0; ch < channel_boxes_.size(); ++ch) {
    if (!channel_boxes_[ch]->isChecked()) continue;
    const std::string unit = model_.Unit(ch);
    if (!unit.empty()) units.insert(unit);
    const QString name =
        unit.empty() ? Text(box_channels_[ch]) : Text(box_channels_[ch] + " (" + unit + ")");
    std::vector<TrendLine> lines = model_.Lines(ch, range, max_points);
    // A channel with nothing to draw still has its entry in the legend.
    if (lines.empty()) lines.emplace_back();
    bool first = true;
    for (const TrendLine& line : lines) {
      auto* series = new QLineSeries;
      series->setName(name);
      QPen pen(kChannelColors[ch % 8]);
      pen.setWidthF(1.6);
      series->setPen(pen);
      // A value between two gaps has no line to be drawn with.
      series->setPointsVisible(line.size() == 1);
      QList<QPointF> points;
      points.reserve(static_cast<qsizetype>(line.size()));
      for (const TrendPoint& p : line) {
        points.append(QPointF(static_cast<qreal>(p.ms), p.value));
        low = std::min(low, p.value);
        high = std::max(high, p.value);
      }
      series->replace(points);
      chart_->addSeries(series);
      series->attachAxis(time_axis_);
      series->attachAxis(value_axis_);
      if (!first)
        for (QLegendMarker* marker : chart_->legend()->markers(series)) marker->setVisible(false);
      first = false;
    }
  }

  const auto from =
      std::chrono::duration_cast<std::chrono::milliseconds>(range.from.time_since_epoch()).count();
  const auto to =
      std::chrono::duration_cast<std::chrono::milliseconds>(range.to.time_since_epoch()).count();
  time_axis_->setFormat(to - from <= 3'600'000 ? QStringLiteral("HH:mm:ss")
                                               : QStringLiteral("MM-dd HH:mm"));
  time_axis_->setRange(QDateTime::fromMSecsSinceEpoch(from), QDateTime::fromMSecsSinceEpoch(to));
  if (!std::isfinite(low)) {
    low = 0;
    high = 1;
  }
  const double margin = high > low ? (high - low) * 0.08 : std::max(0.5, std::abs(high) * 0.05);
  value_axis_->setRange(low - margin, high + margin);
  value_axis_->applyNiceNumbers();

  // Where another module's samples begin: a dashed line across the chart, named at its top.
  for (const ModuleMark& mark : model_.marks()) {
    if (mark.ms < from || mark.ms > to) continue;
    const auto x = static_cast<qreal>(mark.ms);
    auto* line = new QLineSeries;
    line->setObjectName(QStringLiteral("ModuleMark"));
    line->setName(Printable(mark.name));
    QPen pen(QColor(70, 70, 70));
    pen.setStyle(Qt::DashLine);
    pen.setWidthF(1.2);
    line->setPen(pen);
    line->append(x, value_axis_->min());
    line->append(x, value_axis_->max());
    auto* label = new QScatterSeries;
    label->setObjectName(QStringLiteral("ModuleMarkLabel"));
    label->setMarkerSize(1);
    label->setColor(QColor(70, 70, 70));
    label->setBorderColor(Qt::transparent);
    label->append(x, value_axis_->max());
    label->setPointLabelsFormat(Printable(mark.name));
    label->setPointLabelsVisible(true);
    label->setPointLabelsClipping(false);
    for (QXYSeries* series : {static_cast<QXYSeries*>(line), static_cast<QXYSeries*>(label)}) {
      chart_->addSeries(series);
      series->attachAxis(time_axis_);
      series->attachAxis(value_axis_);
      for (QLegendMarker* marker : chart_->legend()->markers(series)) marker->setVisible(false);
    }
  }
  QString title;
  for (const std::string& unit : units) title += (title.isEmpty() ? "" : ", ") + Text(unit);
  value_axis_->setTitleText(title);
}

void TrendWindowView::ToggleRecording() {
  if (sinks_.recording()) {
    sinks_.StopRecording();
  } else {
    const QString path = choose_file(QStringLiteral("Record to a CSV file"),
                                     QStringLiteral("CSV files (*.csv);;All files (*)"), true);
    if (path.isEmpty()) return;
    try {
      sinks_.StartRecording(PathFromUtf8(path.toStdString()));
    } catch (const RecordError& e) {
      show_error(QStringLiteral("Record"), Text(e.what()));
    }
  }
  UpdateRecording();
}

void TrendWindowView::ExportPng() {
  const QString path =
      choose_file(QStringLiteral("Export the chart"), QStringLiteral("PNG images (*.png)"), false);
  if (path.isEmpty()) return;
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  if (!chart_view_->grab().save(&buffer, "PNG")) {
    show_error(QStringLiteral("Export PNG"), QStringLiteral("Cannot write \"%1\"").arg(path));
    return;
  }
  try {
    ReplaceFile(PathFromUtf8(path.toStdString()),
                std::string_view(png.constData(), static_cast<std::size_t>(png.size())));
  } catch (const FileWriteError& e) {
    show_error(QStringLiteral("Export PNG"), QString::fromStdString(e.what()));
  }
}

void TrendWindowView::ExportCsv() {
  const QString path =
      choose_file(QStringLiteral("Export the samples"), QStringLiteral("CSV files (*.csv)"), false);
  if (path.isEmpty()) return;
  const std::string csv = model_.Csv(model_.Range(static_cast<TrendSpan>(span_->currentIndex())));
  try {
    ReplaceFile(PathFromUtf8(path.toStdString()), csv);
  } catch (const FileWriteError& e) {
    show_error(QStringLiteral("Export CSV"), QString::fromStdString(e.what()));
  }
}

}  // namespace zvk::gui
