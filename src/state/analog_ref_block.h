// The voltage module's reference file "/local/ad_ref.cfg" as the module reports it in every data
// poll and identity reply: the factory references DefaultRef and the references in use ActiveRef
// of AI0 to AI4, little-endian doubles in volts per count at range code 3 ("3:-/+1.25V"). The
// other 80 bytes are the module's own and pass through unchanged.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "link/wire.h"
#include "util/byte_order.h"

namespace zvk {

// Volts per count of the module's reference voltage reading VrefCount.
inline constexpr double VREF_VOLTS_PER_COUNT = wire::kVrefVoltsPerCount;

struct AnalogRefBlock : std::array<std::uint8_t, wire::kAnalogRefBlockSize> {
  static constexpr std::size_t kDefaultRefOffset = 0;
  static constexpr std::size_t kActiveRefOffset = wire::kActiveRefOffset;

  double DefaultRef(int n) const { return GetLeDouble(data() + DefaultOffset(n)); }
  double ActiveRef(int n) const { return GetLeDouble(data() + ActiveOffset(n)); }
  void SetActiveRef(int n, double ref) { PutLeDouble(data() + ActiveOffset(n), ref); }
  // The factory reference's bytes as they are, not a value recomputed from them.
  void ResetActiveRef(int n) {
    std::copy_n(data() + DefaultOffset(n), 8, data() + ActiveOffset(n));
  }
  // Nothing reported yet: a real module's block always holds its references.
  bool AllZero() const {
    return std::all_of(begin(), end(), [](std::uint8_t b) { return b == 0; });
  }

 private:
  static std::size_t DefaultOffset(int n) {
    return kDefaultRefOffset + 8 * static_cast<std::size_t>(n);
  }
  static std::size_t ActiveOffset(int n) {
    return kActiveRefOffset + 8 * static_cast<std::size_t>(n);
  }
};

}  // namespace zvk
