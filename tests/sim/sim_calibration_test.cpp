// The simulated modules' calibration behaviour: inputs wired to the Vref pin, and the reload of
// the reference and user curve files.
#include <gtest/gtest.h>

#include <algorithm>

#include "link/wire.h"
#include "sim/module.h"
#include "util/byte_order.h"

namespace zvk::sim {
namespace {

Bytes Frame(std::initializer_list<std::uint8_t> code_and_params) {
  Bytes frame(code_and_params);
  frame.insert(frame.begin(), wire::kFrameSignature.begin(), wire::kFrameSignature.end());
  return frame;
}

const Bytes kReload = Frame({wire::CMD_RELOAD_AD_REF});
const Bytes kReadData = Frame({wire::CMD_READ_DATA});

std::int16_t Reading(const Bytes& block, int ch) {
  return static_cast<std::int16_t>(GetBe16(&block[wire::data::kRawReadings + 2 * ch]));
}

TEST(SimCalibration, AnInputOnVrefReadsTheReferenceVoltageThroughItsRange) {
  Module m(Model::Km3);
  m.on_vref[1] = true;
  // 8004 counts of 0.000312344 V: 2.500001376 V, at 3.911556659e-05 V per count on range 3.
  const std::pair<std::uint8_t, std::int16_t> cases[] = {
      {0, 7989}, {1, 15978}, {2, 31957}, {3, 32767}};
  for (const auto& [range, count] : cases) {
    m.range_codes[1] = range;
    EXPECT_EQ(m.AnalogReading(1, 0), count) << "range " << int{range};
  }
  m.vref_count = 0;
  EXPECT_EQ(m.AnalogReading(1, 0), 0);
  m.on_vref[1] = false;
  EXPECT_NE(m.AnalogReading(0, 0), 0);
}

TEST(SimCalibration, VoltageModuleReloadsItsReferenceFile) {
  Module m(Model::Km3);
  const Bytes before = *m.Handle(kReadData, 0);
  // Nothing to reload yet, then a file of the wrong size: refused, nothing changes.
  EXPECT_EQ((*m.Handle(kReload, 0))[wire::kReplyStatus], wire::NAK);
  m.files.Put(wire::kAnalogRefFile, Bytes(159, 1));
  EXPECT_EQ((*m.Handle(kReload, 0))[wire::kReplyStatus], wire::NAK);
  EXPECT_EQ(*m.Handle(kReadData, 0), before);

  Bytes file(m.analog_ref.begin(), m.analog_ref.end());
  PutLeDouble(&file[wire::kActiveRefOffset + 8 * 2], 4e-05);
  m.files.Put(wire::kAnalogRefFile, file);
  EXPECT_EQ(*m.Handle(kReload, 0), Frame({wire::CMD_RELOAD_AD_REF, wire::ACK}));
  const Bytes after = *m.Handle(kReadData, 0);
  EXPECT_TRUE(std::equal(file.begin(), file.end(), after.begin() + wire::data::kKm3AnalogRef));
  // The converters keep their scale: the readings are what they were.
  for (int ch = 0; ch < wire::kAnalogChannels; ++ch)
    EXPECT_EQ(Reading(after, ch), Reading(before, ch));

  // A module that starts with the file reports it from the start.
  Module restarted(Model::Km3);
  restarted.files.Put(wire::kAnalogRefFile, file);
  restarted.Boot();
  EXPECT_TRUE(std::equal(file.begin(), file.end(), restarted.analog_ref.begin()));
}

TEST(SimCalibration, ThermistorModuleReloadsItsUserCurves) {
  Module m(Model::Qn6);
  Bytes file(wire::kUserCurveRecordSize, 0);
  PutLe16(&file[0], 90);
  m.files.Put(wire::kUserCurveFile, file);
  EXPECT_EQ(*m.Handle(kReload, 0), Frame({wire::CMD_RELOAD_AD_REF, wire::ACK}));
  const Bytes block = *m.Handle(kReadData, 0);
  EXPECT_TRUE(std::equal(file.begin(), file.end(), block.begin() + wire::data::kQn6UserCurves));
  const Bytes identity = *m.Handle(Frame({wire::CMD_GET_DEVICE, 0, 0}), 0);
  EXPECT_TRUE(
      std::equal(file.begin(), file.end(), identity.begin() + wire::devinfo::kQn6UserCurves));
}

}  // namespace
}  // namespace zvk::sim
