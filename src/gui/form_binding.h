// Widgets for the controls of a window model, bound both ways as the main window's are: a user
// action on a widget calls the control's User* operation (or writes an edit's text), and Sync()
// copies the model's state onto the widgets with their signals blocked, so no model event is
// ever raised twice. The dialogs build on it.
#pragma once

#include <QRect>
#include <QString>
#include <functional>
#include <utility>
#include <vector>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace zvk {
struct Button;
struct Edit;
struct GroupBox;
struct Label;
class ComboBox;
}  // namespace zvk

namespace zvk::gui {

// Runs a model event raised from a widget: it shows an error that escapes it and then brings
// every view up to date.
using RunEvent = std::function<void(const std::function<void()>&)>;

// A new editable box over `model`: its items, and the user's picks and typing raised as the
// model's events through `run`. The model's own changes raise none.
QComboBox* NewBoundCombo(ComboBox& model, QWidget* parent, const RunEvent& run);

// Each copies a control's state onto its widget where the two differ, with the widget's signals
// blocked.
void SyncGroup(QGroupBox* widget, const GroupBox& model);
void SyncLabel(QLabel* widget, const Label& model);
void SyncCombo(QComboBox* widget, const ComboBox& model);

class FormBinding {
 public:
  explicit FormBinding(RunEvent run) : run_(std::move(run)) {}

  QLabel* AddLabel(const Label& model, QWidget* parent, const char* name, QRect geometry);
  QPushButton* AddButton(Button& model, QWidget* parent, const char* name, QRect geometry);
  QComboBox* AddCombo(ComboBox& model, QWidget* parent, const char* name, QRect geometry);
  QLineEdit* AddEdit(Edit& model, QWidget* parent, const char* name, QRect geometry);
  QGroupBox* AddGroup(const GroupBox& model, QWidget* parent, const char* name, QRect geometry);

  // Copies every control's state onto its widget where the two differ.
  void Sync();

 private:
  RunEvent run_;
  std::vector<std::pair<const Label*, QLabel*>> labels_;
  std::vector<std::pair<const Button*, QPushButton*>> buttons_;
  std::vector<std::pair<ComboBox*, QComboBox*>> combos_;
  std::vector<std::pair<Edit*, QLineEdit*>> edits_;
  std::vector<std::pair<const GroupBox*, QGroupBox*>> groups_;
};

}  // namespace zvk::gui
