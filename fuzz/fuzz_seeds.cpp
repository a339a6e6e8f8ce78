// Writes the seed corpus of every fuzz target, in each target's input format, from the
// simulator's own encoders: its identity records and measurement blocks for both models, its
// answers to every command the system handles, and the texts the windows take.
//
// Usage: zvk_fuzz_seeds DIR   (writes DIR/reply, DIR/exchange, DIR/identity, DIR/texts)
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "sim/module.h"

namespace zvk::fuzz {

namespace {

namespace fs = std::filesystem;

void Write(const fs::path& dir, const std::string& name, const Bytes& bytes) {
  fs::create_directories(dir);
  std::ofstream(dir / name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

// What the simulated module answers to `code`, as the window would send it.
Bytes ReplyOf(sim::Module& module, std::uint8_t code) {
  if (code == wire::CMD_GET_DEVICE) return module.IdentityRecord(0);
  if (code == wire::CMD_READ_DATA || code == wire::CMD_SET_TH_CONFIG)
    return module.MeasurementBlock(code, 0);
  // With nothing pending, the reply that counts is a data block (it redraws the readings).
  if (code == wire::CMD_NONE) return module.MeasurementBlock(wire::CMD_READ_DATA, 0);
  Bytes frame{0x5A, 0x35, 0x77, 0xA5, code};
  frame.resize(40, 0);
  return module.Handle(frame, 0).value_or(Bytes{});
}

// The reply as exchange steps: chunks of at most 128 bytes with a stall after the first, then
// the module's close or reset.
Bytes Steps(const Bytes& reply, bool reset) {
  Bytes steps;
  for (std::size_t at = 0; at < reply.size(); at += 128) {
    const std::size_t n = std::min<std::size_t>(128, reply.size() - at);
    steps.push_back(static_cast<std::uint8_t>(n - 1));
    steps.insert(steps.end(), reply.begin() + static_cast<std::ptrdiff_t>(at),
                 reply.begin() + static_cast<std::ptrdiff_t>(at + n));
    if (at == 0) steps.push_back(0x84);  // 100 ms of nothing
  }
  steps.push_back(reset ? 0xF0 : 0xE0);
  return steps;
}

Bytes Record(const Bytes& reply, bool user_change = false) {
  const auto n = static_cast<std::uint16_t>(reply.size() | (user_change ? 0x8000 : 0));
  return Cat({{static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)}, reply});
}

void WriteSeeds(const fs::path& root) {
  ScriptPeer peer;
  harness::HarnessSystem h(peer);
  std::vector<std::uint8_t> codes = h.handled_codes();
  codes.push_back(h.UnhandledCode());

  sim::Module km3(sim::Model::Km3);
  sim::Module qn6(sim::Model::Qn6);
  qn6.config.location = "B\xFCro 3 \x80";  // the module's 8-bit text: "Büro 3 €"
  const struct {
    const char* name;
    sim::Module& module;
    std::uint8_t index;  // of the model in the fuzz targets' kModels
  } modules[] = {{"km3", km3, 0}, {"qn6", qn6, 1}};

  // Every reply the module gives to a command the system handles, and its refusal; the targets
  // try each on every command and model.
  for (const std::uint8_t code : codes) {
    for (const auto& m : modules) {
      const Bytes reply = ReplyOf(m.module, code);
      const std::string name = std::to_string(code) + "-" + m.name;
      Write(root / "reply", name, Cat({{0}, reply}));
      Write(root / "exchange", name, Cat({{0x13, m.index}, Steps(reply, false)}));
      Write(root / "exchange", name + "-reset", Cat({{0x03, m.index}, Steps(reply, true)}));
    }
    Write(root / "reply", std::to_string(code) + "-refused",
          Cat({{1}, sim::ReplyHeader(code, wire::NAK)}));
  }

  for (const auto& m : modules) {
    const Bytes identity = m.module.IdentityRecord(0);
    const Bytes data = m.module.MeasurementBlock(wire::CMD_READ_DATA, 0);
    Write(root / "identity", m.name,
          Cat({Record(identity), Record(data),
               Record(m.module.MeasurementBlock(wire::CMD_SET_TH_CONFIG, 0), true)}));
    Write(root / "identity", std::string(m.name) + "-refused-first",
          Cat({Record(sim::ReplyHeader(wire::CMD_GET_DEVICE, wire::NAK)), Record(identity),
               Record(data)}));
  }

  const struct {
    std::uint8_t conversion;
    std::uint8_t channel;
    const char* text;
  } texts[] = {
      {0, 0, "Lab bench 1"},
      {0, 0, "B\xFCro \x80\x81\x9D"},
      {1, 0, "B\xC3\xBCro \xE2\x82\xAC"},
      {1, 0, "\xE4\xB8\xAD"},
      {2, 0, "127.0.0.1"},
      {2, 0, "10.0.0.5.7"},
      {2, 0, "192.168.077.1"},
      {3, 1, "2:-/+2.5V"},
      {3, 4, "9"},
      {4, 3,
       "6A:YSI B Mix 10000 @25\xC2\xB0"
       "C -30\xC2\xB0"
       "C ~ 150\xC2\xB0"
       "C"},
      {4, 7, "7F"},
      {5, 0, "-127"},
      {5, 0, "+18446744073709551621"},
      {6, 0, "3.1"},
      {6, 0, "2e-1"},
      {7, 0, "a text far longer than any message should echo back whole, pasted by mistake"},
      {8, 0, "192.168.1.10"},
      {8, 0, "010.0.0.1"},
      {9, 0, "+30"},
      {9, 0, "-2147483648"},
      {10, 0, "zVK-Analog-0001"},
      {10, 1, "WPA-key-1234"},
      {10, 4, "B\xC3\xBCro 3 \xE2\x82\xAC"},
      {10, 6, "502"},
      {10, 7, "10.0.0.50"},
      {10, 10, "65000"},
      {11, 0, "100"},
      {11, 4, "10000.0"},
      {11, 6, "71:User-defined1"},
  };
  int n = 0;
  for (const auto& t : texts)
    Write(root / "texts", "text-" + std::to_string(n++),
          Cat({{t.conversion, t.channel}, Text(t.text)}));
}

}  // namespace

}  // namespace zvk::fuzz

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: zvk_fuzz_seeds DIR\n");
    return 2;
  }
  zvk::fuzz::WriteSeeds(argv[1]);
  return 0;
}
