// The main window's widgets at rest, with no module: what the value labels can show fits them in
// the fonts this machine really uses, the widgets carry the model's captions, and the offset
// boxes agree with the model so that typing survives the refresh.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QSpinBox>
#include <QStringList>
#include <QTest>
#include <QToolButton>
#include <memory>

#include "app/system.h"
#include "gui/main_window_view.h"
#include "gui/qt_seams.h"
#include "link/wire.h"
#include "monitor/measurement.h"
#include "support/test_seams.h"

namespace zvk::gui {
namespace {

// The window over a system that never connects: no timers run and nothing is sent.
struct StillView {
  StillView() : system(Seams{network, pump, sleeper, hosts, dialogs}) {
    system.main_window.FormCreate();
    view = std::make_unique<MainWindowView>(system.app, system.main_window);
    view->show();
  }
  template <typename W>
  W* Find(const QString& name) const {
    W* widget = view->findChild<W*>(name);
    if (!widget) ADD_FAILURE() << "no widget " << name.toStdString();
    return widget;
  }

  test::LoopbackOnlyNetwork network;
  QtEventPump pump;
  test::RecordingSleeper sleeper;
  SkipWifiCheckInterfaces hosts;
  test::RecordingDialogs dialogs;
  System system;
  std::unique_ptr<MainWindowView> view;
};

// Every digit in each place: whichever digit is widest in the font, the widest number is here.
QStringList Numbers(const QString& pattern) {
  QStringList numbers;
  for (char d = '0'; d <= '9'; ++d) numbers << QString(pattern).replace(u'd', QChar(d));
  return numbers;
}

TEST(MainWindowLayout, ValueLabelsFitEveryTextTheyCanShow) {
  StillView v;
  // Volts: five significant digits and four decimals, at most about 10.25 V either way.
  const QStringList volts = Numbers("-dd.ddddV") << "Range?";
  // Tenths of a degree with an offset of up to 12.7: -62.7 to 212.7 Celsius, -70.7 to 404.7
  // Fahrenheit.
  QStringList temperatures = QStringList{"Under Range", "Over Range", "Disable"};
  for (const char* unit : {"\u2103", "\u2109"})
    temperatures << Numbers(QStringLiteral("-dd.d") + QString::fromUtf8(unit))
                 << Numbers(QStringLiteral("ddd.d") + QString::fromUtf8(unit));
  struct Group {
    QStringList labels;
    const QStringList& texts;
  };
  const Group groups[] = {
      {{"Label16", "Label17", "Label18", "Label19", "Label20"}, volts},
      {{"Label28", "Label29", "Label30", "Label31", "Label32", "Label33", "Label34", "Label35"},
       temperatures},
  };
  for (const Group& g : groups) {
    for (const QString& name : g.labels) {
      const QLabel* label = v.Find<QLabel>(name);
      const int room = label->contentsRect().width();
      for (const QString& text : g.texts) {
        const int needed = label->fontMetrics().horizontalAdvance(text);
        EXPECT_LE(needed, room) << name.toStdString() << " cuts \"" << text.toStdString()
                                << "\" in " << label->fontInfo().family().toStdString() << " "
                                << label->fontInfo().pixelSize() << "px";
      }
    }
  }
}

TEST(MainWindowLayout, WidgetsCarryTheModelsCaptionsHintsAndPanels) {
  StillView v;
  struct Text {
    const char* widget;
    const char* shown;
  };
  for (Text t : {Text{"Label36", "x 0.1\u00B0"}, Text{"Label6", "Device  IP:"},
                 Text{"Label12", "RSSI:"}, Text{"Label21", "Sampling Rate:"},
                 Text{"Label27", "Thermistor Input"}, Text{"Label14", "Analog Input"}}) {
    EXPECT_EQ(v.Find<QLabel>(t.widget)->text(), QString::fromUtf8(t.shown)) << t.widget;
  }
  for (Text t : {Text{"GroupBox3", "Status"}, Text{"GroupBox4", "Sensor Type"},
                 Text{"GroupBox5", "\u2109"}, Text{"GroupBox6", "Offset"}}) {
    EXPECT_EQ(v.Find<QGroupBox>(t.widget)->title(), QString::fromUtf8(t.shown)) << t.widget;
  }
  for (Text t : {Text{"Image1", "Setup"}, Text{"Image2", "Refresh"}, Text{"Image3", "Find me"}}) {
    EXPECT_EQ(v.Find<QToolButton>(t.widget)->toolTip(), t.shown) << t.widget;
  }
  EXPECT_EQ(v.Find<QLabel>("Label36")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  EXPECT_EQ(v.Find<QLabel>("Label4")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  EXPECT_FALSE(v.Find<QGroupBox>("GroupBox1")->isVisible());
  EXPECT_FALSE(v.Find<QGroupBox>("GroupBox2")->isVisible());
  // Both status bars: panel 0 is 300 wide, panel 1 the 200 after it.
  for (const char* bar : {"StatusBar1", "StatusBar2"}) {
    const QLabel* panel0 = v.Find<QLabel>(QStringLiteral("%1_Panel0").arg(bar));
    const QLabel* panel1 = v.Find<QLabel>(QStringLiteral("%1_Panel1").arg(bar));
    EXPECT_EQ(panel0->x(), 0) << bar;
    EXPECT_EQ(panel1->x() - panel0->x(), 300) << bar;
    EXPECT_EQ(panel1->width() + 2, 200) << bar;
  }
}

TEST(MainWindowLayout, ReportedOffsetBeyondTheBoxAgreesWithItAndTypingSurvivesTheRefresh) {
  StillView v;
  App& app = v.system.app;
  MainForm& f = v.system.main_window.form;
  app.device.ModelCode = wire::kModelQn6;
  // As inside the decoding of a data reply with 0x80 for TH0's offset: its command is pending.
  app.link.PendingCommand = wire::CMD_READ_DATA;
  app.meas.TempOffset[0] = -128;
  RefreshReadings(app, f);
  v.view->SyncFromModel();
  QSpinBox* box = v.Find<QSpinBox>("SpinEdit1");
  EXPECT_EQ(box->value(), -127);
  EXPECT_EQ(f.offset[0].value(), -127);

  // Half-typed text stays through the 100 ms refresh.
  box->setFocus();
  box->selectAll();
  QTest::keyClicks(box, "-5");
  v.view->SyncFromModel();
  RefreshReadings(app, f);
  v.view->SyncFromModel();
  EXPECT_EQ(box->text().toStdString(), "-5");
}

}  // namespace
}  // namespace zvk::gui
