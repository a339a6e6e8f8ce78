// zvk_bench_bare_client PORT [COUNT]: the baseline of `zvk read --count COUNT --interval 0`.
// Asks the module on 127.0.0.1:PORT for its identity, polls its data COUNT times (1 unless
// given) and prints the raw readings of each poll, with nothing but sockets and stdio.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "bare_exchange.h"
#include "link/wire.h"

int main(int argc, char** argv) {
  namespace wire = zvk::wire;
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: zvk_bench_bare_client PORT [COUNT]\n");
    return 2;
  }
  const auto port = static_cast<std::uint16_t>(std::atoi(argv[1]));
  const int count = argc == 3 ? std::atoi(argv[2]) : 1;
  if (count < 1) return 2;
  static std::uint8_t reply[wire::kReplyBufferSize];

  const std::uint8_t identity[] = {0x5A, 0x35, 0x77, 0xA5, wire::CMD_GET_DEVICE, 0, 0};
  const long identity_length =
      zvk::bench::BareExchange(port, identity, sizeof identity, reply, sizeof reply, sizeof reply);
  if (identity_length <= static_cast<long>(wire::devinfo::kModel)) return 1;
  const bool voltage = reply[wire::devinfo::kModel] == wire::kModelKm3;

  const std::uint8_t poll[] = {0x5A, 0x35, 0x77, 0xA5, wire::CMD_READ_DATA};
  const std::size_t block = voltage ? wire::data::kKm3BlockSize : wire::data::kQn6BlockSize;
  const int channels = voltage ? wire::kAnalogChannels : wire::kThermistorChannels;
  for (int i = 0; i < count; ++i) {
    if (zvk::bench::BareExchange(port, poll, sizeof poll, reply, sizeof reply, block) !=
        static_cast<long>(block))
      return 1;
    for (int ch = 0; ch < channels; ++ch) {
      const std::uint8_t* p = reply + wire::data::kRawReadings + 2 * ch;
      std::printf("%s%d %d%c", voltage ? "AI" : "TH", ch, (p[0] << 8) | p[1],
                  ch + 1 < channels ? ' ' : '\n');
    }
  }
  return 0;
}
