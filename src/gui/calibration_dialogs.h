// The two calibration windows on screen, shown modally over the main window: TForm3 (analog
// calibration) and TForm4 (thermistor calibration and user curves), each a thin view over its
// model in src/calibration.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <optional>

#include "gui/form_binding.h"

namespace zvk {
class App;
class AnalogCalibrationWindow;
class System;
class ThermistorCalibrationWindow;
}  // namespace zvk

namespace zvk::gui {

// A modal dialog over a window model: showing it is the model's activation, closing it (the
// title bar's button or Escape) its close event. A close asked for while one of its events runs
// (the event pump serves the window inside an exchange) waits until that event has ended.
class ModelDialog : public QDialog {
  Q_OBJECT

 public:
  // Shows the dialog modally, centred on its parent, until it is closed.
  void ShowModal();
  void SyncFromModel() { binding_.Sync(); }

  // Runs after every model event raised here (the main window mirrors what it changed).
  std::function<void()> after_event;

 protected:
  ModelDialog(App& app, QWidget* parent, std::function<void()> activate,
              std::function<void()> close);
  void Run(const std::function<void()>& action);
  void showEvent(QShowEvent* e) override;
  void done(int result) override;

  FormBinding binding_;

 private:
  App& app_;
  std::function<void()> activate_;
  std::function<void()> close_;
  int running_ = 0;                  // events of this dialog on the stack
  std::optional<int> close_result_;  // a close that waits for them
};

class AnalogCalibrationDialog final : public ModelDialog {
  Q_OBJECT

 public:
  AnalogCalibrationDialog(App& app, AnalogCalibrationWindow& window, QWidget* parent);
};

class ThermistorCalibrationDialog final : public ModelDialog {
  Q_OBJECT

 public:
  ThermistorCalibrationDialog(App& app, ThermistorCalibrationWindow& window, QWidget* parent);
};

// Both calibration windows of `system`, opened modally by the main window's "Cal." and
// "Cal./User Define" buttons; `main_view` is their parent and is brought up to date after each of
// their events. Each window's widgets are made when it is first shown; the models live from the
// start.
class CalibrationDialogs {
 public:
  CalibrationDialogs(System& system, QWidget& main_view, std::function<void()> sync_main_view);
  ~CalibrationDialogs();
  void SyncFromModel();

  // Null until first shown.
  std::unique_ptr<AnalogCalibrationDialog> analog;
  std::unique_ptr<ThermistorCalibrationDialog> thermistor;

 private:
  template <typename Dialog>
  void Show(std::unique_ptr<Dialog>& dialog, auto& model);

  System& system_;
  QWidget& main_view_;
  std::function<void()> sync_main_view_;
};

}  // namespace zvk::gui
