// The decoded readings and channel settings of the identified module, as the main window and
// the calibration windows read them.
#pragma once

#include <array>
#include <cstdint>

#include "link/wire.h"
#include "state/analog_ref_block.h"

namespace zvk {

// Whether the readings shown are the module's current ones.
enum class ReadingsFreshness {
  Unknown,  // nothing read since the start or since the module's address changed
  Fresh,    // the last poll (or identity reply) brought them
  Stale,    // the last poll brought nothing: what is shown is older
};

struct MeasurementState {
  std::array<std::uint16_t, 8> RawReading{};
  std::uint8_t SamplingMode = 0;
  std::array<std::uint8_t, 8> RangeCode{};
  zvk::AnalogRefBlock AnalogRefBlock{};
  std::array<std::array<double, 4>, 5> RangeTable{};
  std::int32_t VrefCount = 0;
  std::uint16_t ThermistorRefCount = 0;
  std::array<std::uint8_t, 8> SensorType{};
  std::array<std::uint8_t, 8> Fahrenheit{};
  std::array<std::int8_t, 8> TempOffset{};
  std::array<std::int32_t, 8> ThermistorResult{};
  // Data replies decoded so far; tells a poll that was answered from one that was not.
  std::uint64_t DataRepliesDecoded = 0;
  ReadingsFreshness Freshness = ReadingsFreshness::Unknown;

  MeasurementState() {
    for (auto& row : RangeTable) row[3] = 3.911556659e-05;
  }
};

}  // namespace zvk
