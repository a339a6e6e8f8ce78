// The setup window TForm2 on screen: a modal dialog centred on the main window, one widget per
// control of the model, bound both ways as the main window's are (a user action calls the
// control's User* operation; SyncFromModel writes the model back with the widgets' signals
// blocked).
#pragma once

#include <QDialog>
#include <functional>
#include <utility>
#include <vector>

#include "gui/form_binding.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QRadioButton;
class QToolButton;
class QWidget;

namespace zvk {
class App;
class SetupWindow;
struct Button;
class RadioButton;
}  // namespace zvk

namespace zvk::gui {

inline constexpr int kSetupClientWidth = 562;
inline constexpr int kSetupClientHeight = 436;

class SetupWindowView final : public QDialog {
  Q_OBJECT

 public:
  // `parent` is the main window: the dialog is modal over it and centred on it.
  SetupWindowView(App& app, SetupWindow& window, QWidget* parent = nullptr);
  ~SetupWindowView() override;

  // Shows the window modally: FormActivate, the dialog until it is closed, FormClose.
  void Exec();

  void SyncFromModel();

  // Runs after every event of this window, so the main window shows what it changed.
  std::function<void()> after_event;

 private:
  void Build();
  QRadioButton* AddRadio(RadioButton& model, QWidget* parent, const char* name, QRect geometry);
  QToolButton* AddImage(Button& model, const QIcon& icon, QWidget* parent, const char* name,
                        QRect geometry);
  // Runs a model event: an error that escapes it goes to the error box, and the window goes on.
  void Run(const std::function<void()>& action);

  App& app_;
  SetupWindow& window_;
  FormBinding binding_;  // group boxes, labels and edits
  std::vector<std::pair<const RadioButton*, QRadioButton*>> radios_;
  std::vector<std::pair<const Button*, QToolButton*>> images_;
  QCheckBox* check_box1_ = nullptr;
  QLabel* status_ = nullptr;  // the main window's transient status text
  QProgressBar* gauge_ = nullptr;
};

}  // namespace zvk::gui
