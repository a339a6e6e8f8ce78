// The content buffer of file writes and firmware uploads: 16 MiB, allocated once for the whole
// run. Its pages are left untouched until a transfer writes them, so the program's resident
// memory grows only by what the transfers actually use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace zvk {

inline constexpr std::size_t kTransferBufferSize = 16 * 1024 * 1024;

class TransferBuffer {
 public:
  // Uninitialised on purpose: zero-filling would touch every page.
  TransferBuffer() : bytes_(std::make_unique_for_overwrite<std::uint8_t[]>(kTransferBufferSize)) {}
  TransferBuffer(const TransferBuffer&) = delete;
  TransferBuffer& operator=(const TransferBuffer&) = delete;

  std::uint8_t* data() { return bytes_.get(); }
  const std::uint8_t* data() const { return bytes_.get(); }
  static constexpr std::size_t size() { return kTransferBufferSize; }
  std::span<std::uint8_t> bytes() { return {bytes_.get(), kTransferBufferSize}; }
  std::span<const std::uint8_t> bytes() const { return {bytes_.get(), kTransferBufferSize}; }

 private:
  std::unique_ptr<std::uint8_t[]> bytes_;
};

}  // namespace zvk
