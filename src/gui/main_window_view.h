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
#include <string>
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

#include "util/controls.h"

namespace zvk {
class App;
class MainWindow;
}  // namespace zvk

namespace zvk::gui {

class MainWindowView final : public QWidget {
  Q_OBJECT

 public:
  // `window` is the model of this window; FormCreate is the caller's, before or after this.
  MainWindowView(App& app, MainWindow& window, QWidget* parent = nullptr);
  ~MainWindowView() override;

  // Copies each control's state onto its widget where the control changed since it was last
  // copied, or the user acted on the widget since; an unchanged widget is not touched, so it
  // keeps its caret, selection and open popup, and a tick that changed nothing costs little.
  void SyncFromModel();

  // Starts Timer1 and Timer3 and runs FormActivate once the window is first active.
  void Start();

  // Centres the window on its screen's available area.
  void CentreOnScreen();

  // Makes `address` the module this window watches: typed into "Device IP:" and applied with
  // "Static IP", as a user would.
  void WatchModule(const std::string& address);

 signals:
  void closed();
  // Ctrl+L: the communication log window.
  void logRequested();
  // Ctrl+M or "Modules…" of the window's context menu: the Modules window.
  void modulesRequested();

 protected:
  bool event(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  // Each view keeps the state it last copied onto its widget ("shown"), so a tick compares plain
  // values and touches no widget whose control did not change.
  struct LabelView {
    const Label* model;
    QLabel* widget;
    Label shown{};
    bool value = false;  // a reading: greyed while the last poll did not confirm it
    bool shown_stale = false;
  };
  struct GroupView {
    const GroupBox* model;
    QGroupBox* widget;
    GroupBox shown{};
  };
  struct ButtonView {
    const Button* model;
    QWidget* widget;
    std::string shown_caption;
    bool shown_enabled = true;
  };
  struct ComboView {
    ComboBox* model;
    QComboBox* widget;
    std::string shown_text;
    int shown_index = -1;
  };
  struct StatusBarView {
    const StatusBar* model;
    std::array<QLabel*, 2> panels;
    std::array<std::string, 2> shown;
  };
  struct EditorsShown {
    bool radio1 = false, radio2 = false;
    std::array<bool, 8> fahrenheit{};
    std::array<int, 8> offset{};
    std::string edit2;
  };

  void Build();
  void BuildStatusGroup();
  void BuildAnalogGroup();
  void BuildThermistorGroup();
  QLabel* AddLabel(const Label& model, QWidget* parent, const char* name, QRect geometry);
  QLabel* AddValueLabel(const Label& model, QWidget* parent, const char* name, QRect geometry,
                        const QFont& font);
  QComboBox* AddCombo(ComboBox& model, QWidget* parent, const char* name, QRect geometry);
  QPushButton* AddButton(Button& model, QWidget* parent, const char* name, QRect geometry);
  QToolButton* AddImage(Button& model, const QIcon& icon, QWidget* parent, const char* name,
                        QRect geometry);
  QGroupBox* AddGroup(const GroupBox& model, QWidget* parent, const char* name, QRect geometry);
  StatusBarView AddStatusBar(const StatusBar& model, const char* name, int y);

  // Runs a model event from a widget or a timer: an error that escapes it is shown in the error
  // box and the program goes on; the widgets then show what the event changed (unless `mirror`
  // is false: an event known to change nothing on screen).
  void Run(const std::function<void()>& action, bool mirror = true);
  void Activate();

  App& app_;
  MainWindow& window_;
  QTimer timer1_;
  QTimer timer3_;
  bool activated_ = false;
  bool started_ = false;

  std::vector<LabelView> labels_;
  std::vector<ComboView> combos_;
  std::vector<GroupView> groups_;
  std::vector<ButtonView> buttons_;
  std::array<StatusBarView, 2> status_bars_{};
  QLineEdit* edit2_ = nullptr;
  // Why the connection check fails and how to go on: under "Device not found!!", where the
  // location is shown otherwise (it is empty then).
  QLabel* wifi_note_ = nullptr;
  std::string shown_wifi_note_;
  EditorsShown editors_shown_;
  // Nothing mirrored yet: every widget is written once.
  bool mirrored_ = false;
  // The user acted on an editable widget, which may now show what its control does not (a
  // refused pick, a typed text): the next mirroring compares each editable widget itself.
  bool user_acted_ = false;
  QRadioButton* radio1_ = nullptr;
  QRadioButton* radio2_ = nullptr;
  std::array<QCheckBox*, 8> fahrenheit_{};
  std::array<QSpinBox*, 8> offsets_{};
};

}  // namespace zvk::gui
