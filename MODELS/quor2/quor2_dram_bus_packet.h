// The record carried on a vault's three TSV buses (command, write data, read
// data), and the shared DRAM command trace stream.
#ifndef QUOR2_DRAM_BUS_PACKET_H
#define QUOR2_DRAM_BUS_PACKET_H

#include <systemc>

#include <cstdint>
#include <fstream>
#include <ostream>
#include <string>

namespace Orvane::Internal::QUOR2 {

enum DRAMCommand { ACTIVATE = 0, PRECHARGE = 1, REFRESH = 2, READ = 3, WRITE = 4, DATA = 5 };

class DRAMBusPacket {
public:
  DRAMCommand command = DATA;
  uint32_t partition = 0xFFFFFFFF;
  uint32_t bank = 0xFFFFFFFF;
  uint32_t row = 0xFFFFFFFF;
  uint32_t col = 0xFFFFFFFF;
  uint32_t tag = 0xFFFFFFFF;
  bool even = true;
  sc_core::sc_time readyTime;

  DRAMBusPacket() = default;
  DRAMBusPacket(DRAMCommand command, unsigned partition, unsigned bank, unsigned row,
                unsigned col, unsigned tag, const sc_core::sc_time& readyTime)
      : command(command), partition(partition), bank(bank), row(row), col(col), tag(tag),
        even(true), readyTime(readyTime) {}

  bool operator==(const DRAMBusPacket& o) const {
    return command == o.command && partition == o.partition && bank == o.bank && row == o.row &&
           col == o.col && tag == o.tag && even == o.even && readyTime == o.readyTime;
  }
};

std::ostream& operator<<(std::ostream& os, const DRAMBusPacket& p);
void sc_trace(sc_core::sc_trace_file* tf, const DRAMBusPacket& p, const std::string& name);

// The DRAM command trace, opened by the cube when DRAM_TRACING is set.
extern std::ofstream dramLog;

// Opens the trace at `path`, replacing it, and writes its CSV header line.
// An unwritable path ends the run with an error.
void OpenDramTrace(const std::string& path);

} // namespace Orvane::Internal::QUOR2

#endif
