#include "quor2_data_store.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace Orvane::Internal::QUOR2 {

void quor2_data_store::Read(uint64_t address, unsigned char* out, std::size_t length) const {
  while (length > 0) {
    const uint64_t offset = address % kPageBytes;
    const std::size_t n = std::min<std::size_t>(length, kPageBytes - offset);
    const auto it = pages.find(address / kPageBytes);
    if (it == pages.end())
      std::memset(out, 0, n);
    else
      std::memcpy(out, it->second->data() + offset, n);
    address += n;
    out += n;
    length -= n;
  }
}

void quor2_data_store::Write(uint64_t address, const unsigned char* in, std::size_t length,
                             const unsigned char* enables, std::size_t enableLength) {
  for (std::size_t i = 0; i < length;) {
    const uint64_t at = address + i;
    const uint64_t offset = at % kPageBytes;
    const std::size_t n = std::min<std::size_t>(length - i, kPageBytes - offset);
    auto& page = pages[at / kPageBytes];
    if (!page) page = std::make_unique<Page>(Page{});
    for (std::size_t k = 0; k < n; ++k, ++i)
      if (enables == nullptr || enableLength == 0 || enables[i % enableLength] != 0)
        (*page)[offset + k] = in[i];
  }
}

namespace {
uint64_t Load64(const unsigned char* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
void Store64(unsigned char* p, uint64_t v) {
  for (int i = 0; i < 8; ++i, v >>= 8) p[i] = static_cast<unsigned char>(v);
}
} // namespace

// Little-endian operands. BWR: bytes 0..7 are the data, 8..15 the bit mask of
// the 8 bytes at the address it replaces. DADD8: two 8-byte adds side by side.
// ADD16: one 16-byte add.
void quor2_data_store::Atomic(QUORCommand command, uint64_t address, const unsigned char* operand) {
  unsigned char mem[16];
  Read(address, mem, 16);
  const uint64_t lo = Load64(mem), hi = Load64(mem + 8);
  const uint64_t a = Load64(operand), b = Load64(operand + 8);
  switch (command) {
  case ATOMIC_BWR:
  case ATOMIC_P_BWR:
    Store64(mem, (lo & ~b) | (a & b));
    Write(address, mem, 8);
    return;
  case ATOMIC_DADD8:
  case ATOMIC_P_DADD8:
    Store64(mem, lo + a);
    Store64(mem + 8, hi + b);
    break;
  default: {
    const uint64_t sum = lo + a;
    Store64(mem, sum);
    Store64(mem + 8, hi + b + (sum < lo ? 1 : 0));
    break;
  }
  }
  Write(address, mem, 16);
}

void quor2_data_store::Begin(uint32_t tag, QUORCommand command, uint64_t address,
                             const tlm::tlm_generic_payload& trans) {
  Access& a = accesses[tag];
  a.command = command;
  a.address = address;
  a.length = trans.get_data_length();
  a.done = false;
  a.bytes.clear();
  a.enables.clear();
  if (command == READ_REQUEST || trans.get_data_ptr() == nullptr) return;
  const unsigned length = IsAtomic(command) ? 16 : trans.get_data_length();
  a.bytes.assign(trans.get_data_ptr(), trans.get_data_ptr() + length);
  if (trans.get_byte_enable_ptr() != nullptr && trans.get_byte_enable_length() > 0)
    a.enables.assign(trans.get_byte_enable_ptr(),
                     trans.get_byte_enable_ptr() + trans.get_byte_enable_length());
}

void quor2_data_store::Perform(uint32_t tag) {
  const auto it = accesses.find(tag);
  if (it == accesses.end() || it->second.done) return;
  Access& a = it->second;
  a.done = true;
  if (IsAtomic(a.command)) {
    if (a.bytes.size() == 16) Atomic(a.command, a.address, a.bytes.data());
  } else if (a.command != READ_REQUEST) {
    Write(a.address, a.bytes.data(), a.bytes.size(), a.enables.empty() ? nullptr : a.enables.data(),
          a.enables.size());
  }
  if (a.command == P_WRITE_REQUEST || IsPostedAtomic(a.command)) {
    accesses.erase(it);
    return;
  }
  if (a.command == READ_REQUEST) {
    // Read at the access, handed out at the response.
    a.bytes.resize(a.length);
    Read(a.address, a.bytes.data(), a.length);
  }
}

void quor2_data_store::Finish(uint32_t tag, tlm::tlm_generic_payload& trans) {
  const auto it = accesses.find(tag);
  if (it == accesses.end()) return;
  const Access& a = it->second;
  if (a.command == READ_REQUEST && a.done && trans.get_data_ptr() != nullptr)
    std::memcpy(trans.get_data_ptr(), a.bytes.data(),
                std::min<std::size_t>(a.bytes.size(), trans.get_data_length()));
  accesses.erase(it);
}

quor2_data_store& DataStoreOf(const Config& cfg) {
  // Looked up by the system's configuration, never walked: the order of the
  // map does not matter.
  static std::map<const Config*, std::unique_ptr<quor2_data_store>> stores;
  auto& store = stores[&cfg];
  if (!store) store = std::make_unique<quor2_data_store>();
  return *store;
}

uint64_t DeviceBytes(const Config& cfg) {
  const unsigned bits = log2(cfg.NUM_COLS) + log2(cfg.BYTE_OFFSET) + log2(cfg.NUM_VAULTS) +
                        log2(cfg.NUM_BANKS) + log2(cfg.NUM_PARTITIONS) + log2(cfg.NUM_ROWS);
  return bits >= 64 ? ~uint64_t{0} : uint64_t{1} << bits;
}

} // namespace Orvane::Internal::QUOR2
