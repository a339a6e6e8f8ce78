// The content buffer of file writes and firmware uploads: 16 MiB, allocated on the first transfer
// and kept for the rest of the run. A run that never writes a file (a watch, a log, a gateway)
// never maps it, and a system built for one short job (a fuzz input, a test) costs nothing; its
// pages are left untouched until a transfer writes them, so resident memory grows only by what
// the transfers actually use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace zvk {

inline constexpr std::size_t kTransferBufferSize = 16 * 1024 * 1024;

class TransferBuffer {
 public:
  TransferBuffer() = default;
  TransferBuffer(const TransferBuffer&) = delete;
  TransferBuffer& operator=(const TransferBuffer&) = delete;

  std::uint8_t* data() { return Allocated(); }
  const std::uint8_t* data() const { return Allocated(); }
  static constexpr std::size_t size() { return kTransferBufferSize; }
  std::span<std::uint8_t> bytes() { return {Allocated(), kTransferBufferSize}; }
  std::span<const std::uint8_t> bytes() const { return {Allocated(), kTransferBufferSize}; }

 private:
  // Uninitialised on purpose: zero-filling would touch every page. The buffer belongs to one
  // system, which runs on one thread.
  std::uint8_t* Allocated() const {
    if (!bytes_) bytes_ = std::make_unique_for_overwrite<std::uint8_t[]>(kTransferBufferSize);
    return bytes_.get();
  }

  mutable std::unique_ptr<std::uint8_t[]> bytes_;
};

}  // namespace zvk
