// The main window TForm1 on screen: one widget per control of the model, bound both ways.
//
// A user action on a widget calls the control's User* operation, which raises the model's event.
// The model's own changes reach the widgets through SyncFromModel(), which writes with each
// widget's signals blocked, so no widget signal ever raises a model event a second time.
#pragma once

#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <utility>
#include <vector>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QToolButton;

namespace zvk {
class App;
class MainWindow;
struct Button;
struct GroupBox;
struct Label;
struct StatusBar;
class ComboBox;
}  // namespace zvk

namespace zvk::gui {

class MainWindowView final : public QWidget {
  Q_OBJECT

 public:
  // `window` is the model of this window; FormCreate is the caller's, before or after this.
  MainWindowView(App& app, MainWindow& window, QWidget* parent = nullptr);
  ~MainWindowView() override;

  // Copies every control's state onto its widget where the two differ, so an unchanged widget
  // keeps its caret, selection and open popup.
  void SyncFromModel();

  // Starts Timer1 and Timer3 and runs FormActivate once the window is first active.
  void Start();

  // Centres the window on its screen's available area.
  void CentreOnScreen();

 signals:
  void closed();
  // Ctrl+L: the communication log window.
  void logRequested();

 protected:
  bool event(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  struct LabelView {
    const Label* model;
    QLabel* widget;
  };
  struct ComboView {
    ComboBox* model;
    QComboBox* widget;
  };
  struct StatusBarView {
    const StatusBar* model;
    std::array<QLabel*, 2> panels;
  };

  void Build();
  void BuildStatusGroup();
  void BuildAnalogGroup();
  void BuildThermistorGroup();
  QLabel* AddLabel(const Label& model, QWidget* parent, const char* name, QRect geometry);
  QComboBox* AddCombo(ComboBox& model, QWidget* parent, const char* name, QRect geometry);
  QPushButton* AddButton(Button& model, QWidget* parent, const char* name, QRect geometry);
  QToolButton* AddImage(Button& model, const QIcon& icon, QWidget* parent, const char* name,
                        QRect geometry);
  QGroupBox* AddGroup(const GroupBox& model, QWidget* parent, const char* name, QRect geometry);
  StatusBarView AddStatusBar(const StatusBar& model, const char* name, int y);

  // Runs a model event from a widget or a timer: an error that escapes it is shown in the error
  // box and the program goes on; the widgets then show what the event changed.
  void Run(const std::function<void()>& action);
  void Activate();

  App& app_;
  MainWindow& window_;
  QTimer timer1_;
  QTimer timer3_;
  bool activated_ = false;
  bool started_ = false;

  std::vector<LabelView> labels_;
  std::vector<ComboView> combos_;
  std::vector<std::pair<const GroupBox*, QGroupBox*>> groups_;
  std::vector<std::pair<const Button*, QWidget*>> buttons_;
  std::array<StatusBarView, 2> status_bars_{};
  QLineEdit* edit2_ = nullptr;
  QRadioButton* radio1_ = nullptr;
  QRadioButton* radio2_ = nullptr;
  std::array<QCheckBox*, 8> fahrenheit_{};
  std::array<QSpinBox*, 8> offsets_{};
};

}  // namespace zvk::gui
