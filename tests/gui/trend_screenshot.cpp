// Saves a picture of the trend window after a few minutes of polls of a simulated thermistor
// module: a heater settling, a part cooling, the room, a short dropout, and a recording running.
// The minutes are ticked through on a clock of their own, so the run takes a few seconds.
//
//   trend_screenshot OUT.png [MINUTES]
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <numbers>
#include <string>

#include "gui/trend_window_view.h"
#include "link/wire.h"
#include "record/recorder.h"
#include "watch_rig.h"

namespace {

// Ohms of a 10 kΩ thermistor (B = 3950 K) at `celsius`: close enough to the module's curves for
// a picture.
double Ohms(double celsius) {
  return 10000.0 * std::exp(3950.0 * (1.0 / (celsius + 273.15) - 1.0 / 298.15));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: trend_screenshot OUT.png [MINUTES]\n";
    return 2;
  }
  const int minutes = argc > 2 ? std::atoi(argv[2]) : 6;
  QApplication qt(argc, argv);
  QTemporaryDir work;
  zvk::gui::WatchRig rig(zvk::sim::Model::Qn6);
  rig.sim->SetFahrenheit(5, true);
  rig.sim->SetSensorType(7, 0x00);
  auto& trend = dynamic_cast<zvk::gui::TrendWindowView&>(*rig.watch->trend_view());
  trend.resize(860, 520);
  rig.watch->ShowTrend();

  const auto start = rig.now;
  const int polls = minutes * 60 * 10 / 31;
  for (int poll = 0; poll < polls; ++poll) {
    const double t = std::chrono::duration<double>(rig.now - start).count();
    const double wave = std::sin(2 * std::numbers::pi * t / 170.0);
    rig.sim->SetThermistorOhms(0, Ohms(62.0 - 40.0 * std::exp(-t / 70.0)));   // heater settling
    rig.sim->SetThermistorOhms(1, Ohms(21.5 + 0.4 * wave));                   // the room
    rig.sim->SetThermistorOhms(2, Ohms(24.0 + 26.0 * std::exp(-t / 110.0)));  // a part cooling
    rig.sim->SetThermistorOhms(3, Ohms(33.0 + 3.0 * wave));
    rig.sim->SetThermistorOhms(4, Ohms(28.0 + 0.15 * std::sin(t / 7.0)));
    rig.sim->SetThermistorOhms(5, Ohms(25.0 + t / 90.0));  // shown in degrees Fahrenheit
    rig.sim->SetThermistorOhms(6, Ohms(40.0 - 12.0 * std::exp(-t / 40.0)));
    if (poll == polls * 2 / 3)
      rig.sim->InjectFault(zvk::sim::Fault::Refuse, 3, zvk::wire::CMD_READ_DATA);
    if (poll == 12)
      rig.watch->sinks.StartRecording(
          zvk::PathFromUtf8(QDir(work.path()).filePath("bench-run.csv").toStdString()));
    rig.Polls(1);
  }
  trend.Refresh();
  QApplication::processEvents();
  if (!trend.grab().save(QString::fromLocal8Bit(argv[1]))) {
    std::cerr << "trend_screenshot: cannot write " << argv[1] << "\n";
    return 1;
  }
  return 0;
}
