// Packet commands and the flit handle. Modules pass flits around only through
// handles; a handle's identity (flit pointer and unique id) is what sc_signal
// compares, so every newly made handle written to a signal wakes its readers.
#ifndef QUOR2_FLIT_P_H
#define QUOR2_FLIT_P_H

#include <systemc>

#include <cstdint>
#include <ostream>
#include <string>

namespace Orvane::Internal::QUOR2 {

enum QUORCommand {
  READ_REQUEST = 0,
  READ_RESPONSE = 1,
  P_WRITE_REQUEST = 2,
  WRITE_REQUEST = 3,
  WRITE_RESPONSE = 4,
  TOKEN_RETURN = 5,
  ATOMIC_BWR = 6,
  ATOMIC_P_BWR = 7,
  ATOMIC_DADD8 = 8,
  ATOMIC_P_DADD8 = 9,
  ATOMIC_ADD16 = 10,
  ATOMIC_P_ADD16 = 11,
  NULL_COMMAND = 12
};

inline bool IsAtomic(QUORCommand c) { return c >= ATOMIC_BWR && c <= ATOMIC_P_ADD16; }
inline bool IsPostedAtomic(QUORCommand c) {
  return c == ATOMIC_P_BWR || c == ATOMIC_P_DADD8 || c == ATOMIC_P_ADD16;
}

struct Flit;

class Flit_P {
public:
  Flit* flit;
  uint64_t uniqueID;

  static uint64_t guid;

  // The initial value of every flit signal. It points at one shared idle flit
  // that no module ever consumes, so idle signal values own no memory.
  Flit_P();
  Flit_P(unsigned int ID, uint64_t addr, QUORCommand cmd, unsigned int length, bool header,
         bool tail, unsigned int number);
  explicit Flit_P(Flit* f);
  Flit_P(const Flit_P&) = default;
  Flit_P& operator=(const Flit_P&) = default;
  ~Flit_P() = default;

  Flit& operator*() const { return *flit; }
  Flit* operator->() const { return flit; }
  bool operator==(const Flit_P& other) const {
    return flit == other.flit && uniqueID == other.uniqueID;
  }
  bool operator!=(const Flit_P& other) const { return !(*this == other); }

  unsigned int GetTag() const;
  bool IsHead() const;
  bool IsTail() const;
  uint64_t GetAddress() const;
  unsigned int GetRequestSize() const;
  QUORCommand GetCommand() const;
  unsigned int GetNumReturnTokens() const;
  unsigned int GetFlitNumber() const;
  void AttachTokens(unsigned int tokenCount);
};

std::ostream& operator<<(std::ostream& os, const Flit_P& f);
void sc_trace(sc_core::sc_trace_file* tf, const Flit_P& object, const std::string& name);

} // namespace Orvane::Internal::QUOR2

#include "quor2_flit.h"

#endif
