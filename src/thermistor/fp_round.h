// Forces a value through a 64-bit double, so x87 excess precision cannot leak past the points
// where the results must be rounded.
#pragma once

namespace zvk::detail {

inline double RoundToDouble(double v) {
  volatile double stored = v;
  return stored;
}

}  // namespace zvk::detail
