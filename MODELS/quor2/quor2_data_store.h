// The bytes a cube holds when STORE_DATA is on: sparse 4 KiB pages made as
// they are first written, and the accesses in flight between the host
// controller (which copies a request's bytes in and a response's bytes out)
// and the vault controller (which performs each at its first column command).
#ifndef QUOR2_DATA_STORE_H
#define QUOR2_DATA_STORE_H

#include "quor2_flit_p.h"
#include "quor2_utils.h"

#include <tlm>

#include <array>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace Orvane::Internal::QUOR2 {

class quor2_data_store {
public:
  static constexpr uint64_t kPageBytes = 4096;

  // Plain memory access: no timing, nothing counted.
  void Read(uint64_t address, unsigned char* out, std::size_t length) const;
  // enables may be null (all bytes); otherwise byte i is written when
  // enables[i % enableLength] is nonzero.
  void Write(uint64_t address, const unsigned char* in, std::size_t length,
             const unsigned char* enables = nullptr, std::size_t enableLength = 0);
  // Carries out an atomic on the 16 bytes at address with a 16-byte operand.
  void Atomic(QUORCommand command, uint64_t address, const unsigned char* operand);
  std::size_t Pages() const { return pages.size(); }

  // An accepted request under tag: its command, address and (for writes and
  // atomics) bytes and enables, copied now since a posted write's payload goes
  // home before the vault sees it.
  void Begin(uint32_t tag, QUORCommand command, uint64_t address, const tlm::tlm_generic_payload& trans);
  // The vault's column access: reads take the stored bytes, writes and atomics
  // change them. A posted request ends here; a second call for a tag is a no-op.
  void Perform(uint32_t tag);
  // The response is in: a read's bytes go to the payload's buffer.
  void Finish(uint32_t tag, tlm::tlm_generic_payload& trans);

private:
  using Page = std::array<unsigned char, kPageBytes>;
  struct Access {
    QUORCommand command;
    uint64_t address;
    unsigned length = 0;
    bool done = false;
    std::vector<unsigned char> bytes;
    std::vector<unsigned char> enables;
  };
  std::unordered_map<uint64_t, std::unique_ptr<Page>> pages;
  std::unordered_map<uint32_t, Access> accesses;
};

// The one store of the memory system built on cfg, made on first use.
quor2_data_store& DataStoreOf(const Config& cfg);

// Bytes the cube's address map covers.
uint64_t DeviceBytes(const Config& cfg);

} // namespace Orvane::Internal::QUOR2

#endif
