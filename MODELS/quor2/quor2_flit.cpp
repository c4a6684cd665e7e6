#include "quor2_flit.h"

#include "quor2_messages.h"

#include <iomanip>

namespace Orvane::Internal::QUOR2 {

namespace {
// An int that may stand for an enum's storage.
typedef int __attribute__((may_alias)) TracedInt;
} // namespace

uint64_t Flit_P::guid = 0;

namespace {
// Under AddressSanitizer every flit is its own allocation, so a use after free
// is still found.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kKeepFreedFlits = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kKeepFreedFlits = false;
#else
constexpr bool kKeepFreedFlits = true;
#endif
#else
constexpr bool kKeepFreedFlits = true;
#endif

struct FreedFlit {
  FreedFlit* next;
};
FreedFlit* freedFlits = nullptr; // as many as were ever in flight at once
} // namespace

void* Flit::operator new(std::size_t size) {
  if (kKeepFreedFlits && size == sizeof(Flit) && freedFlits != nullptr) {
    FreedFlit* f = freedFlits;
    freedFlits = f->next;
    return f;
  }
  return ::operator new(size);
}

void Flit::operator delete(void* p, std::size_t size) noexcept {
  if (p == nullptr) return;
  if (!kKeepFreedFlits || size != sizeof(Flit)) return ::operator delete(p);
  auto* f = static_cast<FreedFlit*>(p);
  f->next = freedFlits;
  freedFlits = f;
}

namespace {
Flit* IdleFlit() {
  static Flit idle(0, 0, NULL_COMMAND, 0, false, false, 0);
  return &idle;
}

const char* CommandName(QUORCommand c) {
  switch (c) {
  case READ_REQUEST: return "cmd:RD";
  case READ_RESPONSE: return "cmd:RD_RSP";
  case P_WRITE_REQUEST: return "cmd:P_WR";
  case WRITE_REQUEST: return "cmd:WR";
  case WRITE_RESPONSE: return "cmd:WR_RSP tag:";
  case TOKEN_RETURN: return "cmd:TOKEN_RETURN tag:";
  case ATOMIC_BWR: return "cmd:BWR tag:";
  case ATOMIC_P_BWR: return "cmd:P_BWR tag:";
  case ATOMIC_DADD8: return "cmd:DADD8 tag:";
  case ATOMIC_P_DADD8: return "cmd:P_DADD8 tag:";
  case ATOMIC_ADD16: return "cmd:ADD16 tag:";
  case ATOMIC_P_ADD16: return "cmd:P_ADD16 tag:";
  case NULL_COMMAND: return "cmd:NULL_COMMAND";
  }
  return "";
}
} // namespace

Flit_P::Flit_P() : flit(IdleFlit()), uniqueID(++guid) {}

Flit_P::Flit_P(unsigned int ID, uint64_t addr, QUORCommand cmd, unsigned int length, bool header,
               bool tail, unsigned int number)
    : flit(new Flit(ID, addr, cmd, length, header, tail, number)), uniqueID(++guid) {}

Flit_P::Flit_P(Flit* f) : flit(f), uniqueID(++guid) {}

unsigned PacketFlitCount(QUORCommand command, unsigned requestLength, unsigned flitSize) {
  switch (command) {
  case P_WRITE_REQUEST:
  case WRITE_REQUEST:
  case READ_RESPONSE: return requestLength / flitSize + 1;
  case ATOMIC_BWR:
  case ATOMIC_P_BWR:
  case ATOMIC_DADD8:
  case ATOMIC_P_DADD8:
  case ATOMIC_ADD16:
  case ATOMIC_P_ADD16: return 2;
  default: return 1;
  }
}

std::ostream& operator<<(std::ostream& os, const Flit& f) {
  os << (f.header ? "[HEAD " : "      ");
  const unsigned cmd = static_cast<unsigned>(f.command);
  if (cmd > NULL_COMMAND) {
    os << "Unknown Command!!!";
  } else if (f.command == TOKEN_RETURN) {
    os << CommandName(f.command) << std::dec << f.tag;
  } else if (f.command == NULL_COMMAND) {
    os << CommandName(f.command);
  } else {
    os << CommandName(f.command) << std::dec;
    if (f.command <= WRITE_REQUEST) os << f.requestLength << " tag:";
    os << f.tag << " addr:0x" << std::hex << std::setfill('0') << std::setw(8) << f.address
       << std::dec << std::setfill(' ') << " #:" << f.flitNumber;
  }
  os << " tokens:" << std::dec << f.returnTokens;
  if (f.tail) os << " TAIL]";
  return os;
}

std::ostream& operator<<(std::ostream& os, const Flit_P& f) { return os << *f.flit; }

void sc_trace(sc_core::sc_trace_file*& tf, const Flit& object, const std::string& name) {
  if (!tf) return;
  sc_core::sc_trace(tf, object.tag, name + ".tag");
  // A trace file keeps the reference and reads it at every step: it must be
  // the flit's own storage, not a converted copy.
  static_assert(sizeof(QUORCommand) == sizeof(int), "the command is traced as an int");
  sc_core::sc_trace(tf, reinterpret_cast<const TracedInt&>(object.command), name + ".command");
  sc_core::sc_trace(tf, object.requestLength, name + ".requestLength");
  sc_core::sc_trace(tf, object.address, name + ".address");
}

// A flit signal's value points at a new flit for every flit it carries, and a
// trace file reads through the reference it was given for the whole run: so
// the signal traces its value's unique id, which changes with every new flit.
void sc_trace(sc_core::sc_trace_file* tf, const Flit_P& object, const std::string& name) {
  if (!tf) return;
  sc_core::sc_trace(tf, object.uniqueID, name + ".id");
}

} // namespace Orvane::Internal::QUOR2
