// zvk_bench_bare_window --port PORT --quit-after MS: the baseline of the desktop app. A minimal
// Qt window of the main window's size with the same two 100 ms timers: the first only counts, the
// second asks the module on 127.0.0.1:PORT for its identity once and then polls its data every 31st
// tick with a bare blocking exchange, showing the raw readings in one label per channel.
#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <array>
#include <cstdint>

#include "bare_exchange.h"
#include "link/wire.h"

int main(int argc, char** argv) {
  namespace wire = zvk::wire;
  QApplication qt(argc, argv);
  const QStringList args = QCoreApplication::arguments();
  const int port_at = static_cast<int>(args.indexOf(QStringLiteral("--port")));
  const int quit_at = static_cast<int>(args.indexOf(QStringLiteral("--quit-after")));
  if (port_at < 0 || port_at + 1 >= args.size() || quit_at < 0 || quit_at + 1 >= args.size())
    return 2;
  const auto port = static_cast<std::uint16_t>(args[port_at + 1].toUInt());

  QWidget window;
  window.setWindowTitle(QStringLiteral("bare"));
  window.setFixedSize(528, 479);  // the main window's client area
  auto* layout = new QVBoxLayout(&window);
  std::array<QLabel*, 8> values{};
  for (QLabel*& label : values) {
    label = new QLabel(QStringLiteral("0"), &window);
    layout->addWidget(label);
  }

  std::uint8_t reply[wire::kReplyBufferSize];
  bool identified = false;
  bool voltage = false;
  int retry_ticks = 0;
  int ticks = 0;
  QTimer timer1;
  QTimer timer3;
  QObject::connect(&timer1, &QTimer::timeout, [&] { ++retry_ticks; });
  QObject::connect(&timer3, &QTimer::timeout, [&] {
    if (identified && ++ticks < 31) return;
    ticks = 0;
    if (!identified) {
      const std::uint8_t frame[] = {0x5A, 0x35, 0x77, 0xA5, wire::CMD_GET_DEVICE, 0, 0};
      const long n =
          zvk::bench::BareExchange(port, frame, sizeof frame, reply, sizeof reply, sizeof reply);
      if (n <= static_cast<long>(wire::devinfo::kModel)) return;
      identified = true;
      voltage = reply[wire::devinfo::kModel] == wire::kModelKm3;
      for (int ch = voltage ? wire::kAnalogChannels : 8; ch < 8; ++ch) values[ch]->hide();
      return;
    }
    const std::uint8_t frame[] = {0x5A, 0x35, 0x77, 0xA5, wire::CMD_READ_DATA};
    const std::size_t block = voltage ? wire::data::kKm3BlockSize : wire::data::kQn6BlockSize;
    if (zvk::bench::BareExchange(port, frame, sizeof frame, reply, sizeof reply, block) !=
        static_cast<long>(block))
      return;
    for (int ch = 0; ch < (voltage ? wire::kAnalogChannels : 8); ++ch) {
      const std::uint8_t* p = reply + wire::data::kRawReadings + 2 * ch;
      values[ch]->setText(QString::number((p[0] << 8) | p[1]));
    }
  });
  timer1.start(100);
  timer3.start(100);
  QTimer::singleShot(args[quit_at + 1].toInt(), &qt, &QCoreApplication::quit);
  window.show();
  return qt.exec();
}
