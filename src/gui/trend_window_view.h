// The trend window: every channel of the module over time, drawn from the samples the poll of
// the main window leaves (TrendModel), with the recording to a CSV file (a sink of the watched
// module's WatchSinks). Not modal.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "gui/qt_seams.h"
#include "gui/trend_window.h"

class QChart;
class QChartView;
class QCheckBox;
class QComboBox;
class QDateTimeAxis;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QValueAxis;

namespace zvk {
class TrendModel;
}
namespace zvk::engine {
class WatchSinks;
}

namespace zvk::gui {

class PublishPanel;

class TrendWindowView final : public QWidget, public TrendWindow {
  Q_OBJECT

 public:
  explicit TrendWindowView(engine::WatchSinks& sinks, QWidget* parent = nullptr);
  ~TrendWindowView() override;

  QWidget& widget() override { return *this; }
  // Draws the model's samples again; the poll calls it after every sample. Hidden, it waits
  // until it is shown.
  void Refresh() override;
  void OnLogRequested(std::function<void()> action) override;
  void WatchModule(const App& app, const MainForm& form) override;

  // The file dialog and the error box; tests put their own here.
  SaveFileChooser choose_file;
  ErrorReporter show_error;

  QChart* chart() const { return chart_; }
  // "Publish…" and its state; null in a build without the MQTT client.
  PublishPanel* publish_panel() const { return publish_; }

 signals:
  void logRequested();

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  void UpdateChannelBoxes();
  void UpdateRecording();
  void Draw();
  void ToggleRecording();
  void ExportPng();
  void ExportCsv();

  engine::WatchSinks& sinks_;
  TrendModel& model_;
  QComboBox* span_ = nullptr;
  QHBoxLayout* channel_row_ = nullptr;
  std::vector<QCheckBox*> channel_boxes_;
  std::vector<std::string> box_channels_;
  QChartView* chart_view_ = nullptr;
  QChart* chart_ = nullptr;
  QDateTimeAxis* time_axis_ = nullptr;
  QValueAxis* value_axis_ = nullptr;
  QPushButton* record_ = nullptr;
  QLabel* record_status_ = nullptr;
  PublishPanel* publish_ = nullptr;
};

}  // namespace zvk::gui
