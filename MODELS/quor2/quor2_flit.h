// The flit record: one 16-byte transfer unit of a packet, shared by every
// handle that points to it. The module that ends a flit's journey deletes it.
#ifndef QUOR2_FLIT_H
#define QUOR2_FLIT_H

#include "quor2_flit_p.h"

#include <systemc>

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

namespace Orvane::Internal::QUOR2 {

struct Flit {
  uint32_t tag;
  uint64_t address;
  QUORCommand command;
  uint32_t requestLength;
  bool header;
  bool tail;
  uint32_t flitNumber;
  uint32_t returnTokens = 0;
  uint32_t sourceLink = 0xFFFFFFFF;
  uint32_t destinationField = 0xFFFFFFFF;
  int32_t currentLane = 0;
  uint32_t leadingNullFlits = 0;
  sc_core::sc_time startTimeReqLink;
  sc_core::sc_time startTimeLSW_L;
  sc_core::sc_time startTimeLSW_R;
  sc_core::sc_time startTimeTransQ;
  sc_core::sc_time startTimeReqQ;
  sc_core::sc_time startTimeVSW_L;
  sc_core::sc_time startTimeVSW_R;
  sc_core::sc_time startTimeRspLink;

  Flit(unsigned int ID, uint64_t addr, QUORCommand cmd, unsigned int length, bool header,
       bool tail, unsigned int number)
      : tag(ID), address(addr), command(cmd), requestLength(length), header(header), tail(tail),
        flitNumber(number) {}
  Flit()
      : tag(0xFFFFFFFF), address(0), command(NULL_COMMAND), requestLength(0), header(true),
        tail(true), flitNumber(0xFFFFFFFF) {}
  Flit(const Flit&) = default;
  Flit& operator=(const Flit&) = default;

  // Compares the packet-visible fields; routing fields and timestamps are ignored.
  bool operator==(const Flit& o) const {
    return address == o.address && tag == o.tag && command == o.command &&
           requestLength == o.requestLength && header == o.header && tail == o.tail &&
           returnTokens == o.returnTokens && flitNumber == o.flitNumber &&
           currentLane == o.currentLane;
  }
  unsigned int getTag() const { return tag; }

  // Every flit of a run is made and freed one by one, tens of thousands per
  // simulated microsecond: freed flits are kept for the next ones.
  static void* operator new(std::size_t size);
  static void operator delete(void* p, std::size_t size) noexcept;
};

// Flits in a packet of the given command and request length (16-byte flits).
unsigned PacketFlitCount(QUORCommand command, unsigned requestLength, unsigned flitSize);

std::ostream& operator<<(std::ostream& os, const Flit& f);
void sc_trace(sc_core::sc_trace_file*& tf, const Flit& object, const std::string& name);

inline unsigned int Flit_P::GetTag() const { return flit->tag; }
inline bool Flit_P::IsHead() const { return flit->header; }
inline bool Flit_P::IsTail() const { return flit->tail; }
inline uint64_t Flit_P::GetAddress() const { return flit->address; }
inline unsigned int Flit_P::GetRequestSize() const { return flit->requestLength; }
inline QUORCommand Flit_P::GetCommand() const { return flit->command; }
inline unsigned int Flit_P::GetNumReturnTokens() const { return flit->returnTokens; }
inline unsigned int Flit_P::GetFlitNumber() const { return flit->flitNumber; }
inline void Flit_P::AttachTokens(unsigned int tokenCount) { flit->returnTokens = tokenCount; }

} // namespace Orvane::Internal::QUOR2

#endif
