#include "gui/calibration_dialogs.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <exception>
#include <utility>

#include "app/system.h"
#include "calibration/ad_cal.h"
#include "calibration/th_cal.h"
#include "state/app.h"

namespace zvk::gui {

ModelDialog::ModelDialog(App& app, QWidget* parent, std::function<void()> activate,
                         std::function<void()> close)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint),
      binding_([this](const std::function<void()>& action) { Run(action); }),
      app_(app),
      activate_(std::move(activate)),
      close_(std::move(close)) {
  if (parent) setFont(parent->font());
  setModal(true);
}

void ModelDialog::ShowModal() {
  exec();
}

void ModelDialog::Run(const std::function<void()>& action) {
  ++running_;
  try {
    action();
  } catch (const std::exception& e) {
    app_.seams.dialogs.ErrorBox(e.what());
  }
  --running_;
  SyncFromModel();
  if (after_event) after_event();
  if (running_ == 0 && close_result_) done(*std::exchange(close_result_, std::nullopt));
}

void ModelDialog::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  Run(activate_);
}

void ModelDialog::done(int result) {
  if (running_ > 0) {
    close_result_ = result;
    return;
  }
  Run(close_);
  QDialog::done(result);
}

AnalogCalibrationDialog::AnalogCalibrationDialog(App& app, AnalogCalibrationWindow& window,
                                                 QWidget* parent)
    : ModelDialog(
          app, parent, [&window] { window.FormActivate(); }, [&window] { window.FormClose(); }) {
  AnalogCalibrationForm& f = window.form;
  setObjectName(QStringLiteral("Form3"));
  setWindowTitle(QString::fromStdString(f.Caption));
  setFixedSize(380, 196);
  static constexpr const char* kChannelNames[5] = {"Label1", "Label3", "Label5", "Label7",
                                                   "Label9"};
  static constexpr const char* kResultNames[5] = {"Label2", "Label4", "Label6", "Label8",
                                                  "Label10"};
  static constexpr const char* kCalNames[5] = {"SpeedButton1", "SpeedButton2", "SpeedButton3",
                                               "SpeedButton4", "SpeedButton5"};
  static constexpr const char* kRstNames[5] = {"SpeedButton6", "SpeedButton7", "SpeedButton8",
                                               "SpeedButton9", "SpeedButton10"};
  for (std::size_t n = 0; n < 5; ++n) {
    const int y = 14 + static_cast<int>(n) * 36;
    binding_.AddLabel(f.channel_label[n], this, kChannelNames[n], {16, y + 4, 40, 18});
    binding_.AddLabel(f.result[n], this, kResultNames[n], {60, y + 4, 170, 18});
    binding_.AddButton(f.cal_button[n], this, kCalNames[n], {236, y, 60, 26});
    binding_.AddButton(f.reset_button[n], this, kRstNames[n], {302, y, 60, 26});
  }
  SyncFromModel();
}

ThermistorCalibrationDialog::ThermistorCalibrationDialog(App& app,
                                                         ThermistorCalibrationWindow& window,
                                                         QWidget* parent)
    : ModelDialog(
          app, parent, [&window] { window.FormActivate(); }, [&window] { window.FormClose(); }) {
  ThermistorCalibrationForm& f = window.form;
  setObjectName(QStringLiteral("Form4"));
  setWindowTitle(QString::fromStdString(f.Caption));
  setFixedSize(412, 262);

  binding_.AddLabel(f.channel_label, this, "Label1", {16, 18, 40, 18});
  binding_.AddLabel(f.reference_result, this, "Label2", {60, 18, 196, 18});
  binding_.AddButton(f.reference_cal_button, this, "SpeedButton1", {266, 14, 60, 26});
  binding_.AddButton(f.reference_reset_button, this, "SpeedButton6", {334, 14, 60, 26});

  QGroupBox* panel = binding_.AddGroup(f.user_curve_panel, this, "Panel1", {8, 52, 396, 202});
  binding_.AddLabel(f.user_curve_label, panel, "Label3", {12, 18, 84, 18});
  binding_.AddCombo(f.user_curve, panel, "ComboBox1", {100, 14, 284, 24});
  binding_.AddLabel(f.temperature_label, panel, "Label5", {70, 50, 110, 18});
  binding_.AddLabel(f.resistance_label, panel, "Label7", {196, 50, 130, 18});
  const Label* rows[3] = {&f.hi_label, &f.mid_label, &f.low_label};
  static constexpr const char* kRowNames[3] = {"Label9", "Label11", "Label12"};
  static constexpr const char* kTempNames[3] = {"Edit1", "Edit2", "Edit3"};
  static constexpr const char* kOhmNames[3] = {"Edit4", "Edit5", "Edit6"};
  Edit* temps[3] = {&f.hi_degrees, &f.mid_degrees, &f.low_degrees};
  Edit* ohms[3] = {&f.hi_ohms, &f.mid_ohms, &f.low_ohms};
  for (std::size_t p = 0; p < 3; ++p) {
    const int y = 72 + static_cast<int>(p) * 32;
    binding_.AddLabel(*rows[p], panel, kRowNames[p], {12, y + 3, 50, 18});
    binding_.AddEdit(*temps[p], panel, kTempNames[p], {70, y, 110, 24});
    binding_.AddEdit(*ohms[p], panel, kOhmNames[p], {196, y, 130, 24});
  }
  binding_.AddButton(f.save_button, panel, "SpeedButton2", {304, 166, 80, 26});
  SyncFromModel();
}

CalibrationDialogs::CalibrationDialogs(System& system, QWidget& main_view,
                                       std::function<void()> sync_main_view)
    : system_(system), main_view_(main_view), sync_main_view_(std::move(sync_main_view)) {
  system.main_window.show_analog_calibration = [this] { Show(analog, system_.analog_calibration); };
  system.main_window.show_thermistor_calibration = [this] {
    Show(thermistor, system_.thermistor_calibration);
  };
}

CalibrationDialogs::~CalibrationDialogs() {
  system_.main_window.show_analog_calibration = nullptr;
  system_.main_window.show_thermistor_calibration = nullptr;
}

template <typename Dialog>
void CalibrationDialogs::Show(std::unique_ptr<Dialog>& dialog, auto& model) {
  if (!dialog) {
    dialog = std::make_unique<Dialog>(system_.app, model, &main_view_);
    dialog->after_event = sync_main_view_;
  }
  dialog->ShowModal();
}

void CalibrationDialogs::SyncFromModel() {
  if (analog) analog->SyncFromModel();
  if (thermistor) thermistor->SyncFromModel();
}

}  // namespace zvk::gui
