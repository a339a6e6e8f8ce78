// The bare minimum of one exchange with a module on loopback: connect, one write, read the
// reply, close. The baseline the benchmarks hold the utility against: no timeouts, no guards,
// no event pump, no decoding.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zvk::bench {

// Sends `frame` to 127.0.0.1:`port` and reads the reply into `reply` until `expected` bytes
// have arrived, the peer closed or `capacity` is full. Bytes read, or -1 on any error.
long BareExchange(std::uint16_t port, const std::uint8_t* frame, std::size_t length,
                  std::uint8_t* reply, std::size_t capacity, std::size_t expected);

// Connects to 127.0.0.1:`port`, writes `length` bytes in writes of at most `piece` bytes, and
// closes, reading nothing: the bare form of a file's content stream. False on any error.
bool BareStream(std::uint16_t port, const std::uint8_t* data, std::size_t length,
                std::size_t piece);

}  // namespace zvk::bench
