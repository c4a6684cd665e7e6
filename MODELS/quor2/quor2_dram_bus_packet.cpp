#include "quor2_dram_bus_packet.h"

#include "quor2_messages.h"

namespace Orvane::Internal::QUOR2 {

namespace {
// An int that may stand for an enum's storage.
typedef int __attribute__((may_alias)) TracedInt;
} // namespace

std::ofstream dramLog;

void OpenDramTrace(const std::string& path) {
  dramLog.open(path, std::ios::out | std::ios::trunc);
  if (!dramLog.is_open()) {
    std::cerr << "ERROR - Could not write the DRAM trace file '" << path << "'" << std::endl;
    ExitRun(1);
  }
  // Times are counts of the kernel's resolution: ps unless a host chose a finer one.
  const sc_core::sc_time resolution = sc_core::sc_get_time_resolution();
  const char* unit = resolution == sc_core::sc_time(1, sc_core::SC_PS)   ? "ps"
                     : resolution == sc_core::sc_time(1, sc_core::SC_FS) ? "fs"
                                                                         : "ticks";
  dramLog << "time_" << unit << ",controller,command,partition,bank,since_last_same_command_"
          << unit << std::endl;
}

namespace {
void PrintAddressFields(std::ostream& os, const DRAMBusPacket& p) {
  os << "prt:" << p.partition << " bnk:" << p.bank << " row:" << p.row << " col:" << p.col
     << " tag:" << p.tag;
}
} // namespace

std::ostream& operator<<(std::ostream& os, const DRAMBusPacket& p) {
  os << std::dec;
  switch (p.command) {
  case ACTIVATE: os << "ACT "; PrintAddressFields(os, p); break;
  case PRECHARGE: os << "PRE "; PrintAddressFields(os, p); break;
  case REFRESH: os << "REF prt:" << p.partition << " bnk:" << p.bank; break;
  case READ: os << "READ "; PrintAddressFields(os, p); break;
  case WRITE: os << "WRITE "; PrintAddressFields(os, p); break;
  case DATA:
    os << "DATA prt:" << p.partition << " bnk:" << p.bank << " row:" << p.row << " col:" << p.col
       << " (" << (p.even ? 1 : 0) << ") tag:" << p.tag;
    break;
  default: os << "EVEN BIGGER ERROR!!!!!!!!!!!!!!!!!!!" << std::endl; break;
  }
  return os;
}

void sc_trace(sc_core::sc_trace_file* tf, const DRAMBusPacket& p, const std::string& name) {
  if (!tf) return;
  sc_core::sc_trace(tf, p.tag, name + ".tag");
  // A trace file keeps the reference and reads it at every step: it must be
  // the packet's own storage, not a converted copy.
  static_assert(sizeof(DRAMCommand) == sizeof(int), "the command is traced as an int");
  sc_core::sc_trace(tf, reinterpret_cast<const TracedInt&>(p.command), name + ".command");
  sc_core::sc_trace(tf, p.partition, name + ".partition");
  sc_core::sc_trace(tf, p.bank, name + ".bank");
  sc_core::sc_trace(tf, p.row, name + ".row");
  sc_core::sc_trace(tf, p.col, name + ".col");
}

} // namespace Orvane::Internal::QUOR2
