// Interface lists as plain pairs: they compare and print well in failures, and keep comparison
// operators for the interface records out of a binary that other tests share.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "link/host_interfaces.h"

namespace zvk::test {

using Adapters = std::vector<std::pair<std::string, std::string>>;  // name, address
using Wifi = std::vector<std::pair<std::string, bool>>;             // id, connected

inline Adapters Flat(const std::vector<AdapterInfo>& list) {
  Adapters out;
  for (const AdapterInfo& a : list) out.emplace_back(a.name, a.address);
  return out;
}

inline Wifi Flat(const std::vector<WirelessInterface>& list) {
  Wifi out;
  for (const WirelessInterface& w : list) out.emplace_back(w.id, w.connected);
  return out;
}

// The list of an answer that must have one.
template <typename T>
auto Flat(const std::optional<std::vector<T>>& list) {
  EXPECT_TRUE(list.has_value());
  return Flat(list.value_or(std::vector<T>{}));
}

}  // namespace zvk::test
