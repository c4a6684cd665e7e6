// Trace source: a TLM-2.0 initiator that replays a text trace to the host
// controller, one request per line: "id:X,lnk:X,cmd:X,vlt:X,bnk:X,dram:0xX,
// dbytes:X,nop:X" (the model's format) or "<time> <R|W> <address> [<bytes>]"
// (an address trace, sent open loop at its times or as fast as possible).
// Flow control as for the generator: a parked line waits for END_REQ on the
// backward path; responses are completed at once.
#ifndef QUOR2_TRACE_READER_H
#define QUOR2_TRACE_READER_H

#include "kvl_memory_manager.h"
#include "quor2_ordered_event.h"
#include "quor2_source_stats.h"
#include "quor2_utils.h"

#include <systemc>
#include <tlm>
#include <tlm_utils/simple_initiator_socket.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <list>
#include <string>
#include <vector>

namespace Orvane::Internal::QUOR2 {

// One trace line, read and checked on its own (no simulation needed).
struct TraceLine {
  // Skip: a comment, a blank line or a line with one piece (always skipped).
  // Request: every field holds. Refused: the model cannot honour it.
  enum Kind { Skip, Request, Refused };
  Kind kind = Skip;
  unsigned link = 0;
  bool read = false;
  unsigned vault = 0;
  unsigned bank = 0;
  uint64_t dram = 0;
  unsigned size = 0;
  unsigned nops = 0;
  uint64_t address = 0;
  // For a refused line: the field at fault, the model's own message lines for
  // it (standard output, possibly none) and what is wrong.
  std::string field;
  bool malformed = false;  // the model's malformed-line message applies
  std::vector<std::string> messages;
  std::string error;
  // Accepted, but said on standard error: text after a number, a skipped line
  // that has text, fields after the eighth.
  std::vector<std::string> warnings;
  // An address line's time, in ps from time 0.
  uint64_t timePs = 0;
};
TraceLine ParseTraceLine(const std::string& line, const Config& cfg);

// What a trace file holds, from TRACE_FORMAT and the file's first line: an
// address trace starts with kAddressTraceHeader (then "ns", the default, or
// "cycles": the times are core cycles of CORE_CLK), or TRACE_FORMAT says so.
struct TraceFormat {
  bool address = false;
  bool cycles = false;
  std::string error;  // a header that names no time unit the reader knows
};
inline constexpr const char* kAddressTraceHeader = "# quorsim address trace";
TraceFormat FormatOfTrace(const std::string& firstLine, const Config& cfg);
// One line of an address trace: comments start with '#' or "//".
TraceLine ParseAddressLine(const std::string& line, const Config& cfg, bool cycles);
TraceLine ParseLineAs(const TraceFormat& format, const std::string& line, const Config& cfg);

// The warnings of a whole trace file as "file:line: text", the first ten and
// then how many more, for a strict run to refuse before the model is built.
// Nothing when the file cannot be read: the reader reports that itself.
std::vector<std::string> TraceFileWarnings(const std::string& filename, const Config& cfg);

// Null flits a line may ask for ahead of its packet.
constexpr unsigned kMaxTraceNops = 65535;

// The reader's payload pool, counting the payloads that are out. A posted
// write's payload comes home when the controller sends its header, so a reader
// under POSTED_WRITES is done only once its last write has left.
class TracePool : public kvl_memory_manager {
public:
  uint64_t out = 0;
  std::function<void()> onReturn;
  tlm::tlm_generic_payload* take();
  void free(tlm::tlm_generic_payload* trans) override;
};

class quor2_trace_reader : public sc_core::sc_module {
public:
  using socket_type = tlm_utils::simple_initiator_socket<quor2_trace_reader, 32>;

  sc_core::sc_in<bool> clk;
  sc_core::sc_out<bool> done;
  // The clock's rising edges, met in the model's order of same-instant work.
  ClockTicks ticks{clk};
  const Config& cfg;
  unsigned int id;
  socket_type socket;
  tlm::tlm_generic_payload* transaction = nullptr;
  TracePool memoryManager;
  tlm::tlm_sync_enum returnValue = tlm::TLM_ACCEPTED;
  tlm::tlm_phase tlmPhase;
  sc_core::sc_time tlmDelay;
  OrderedEvent doneEvent;
  uint64_t issuedRequests = 0;
  uint64_t issuedReads = 0;
  uint64_t issuedWrites = 0;
  uint64_t readResponses = 0;
  uint64_t writeResponses = 0;
  // End-to-end latencies and delivered bytes, for the statistics file.
  SourceStats sourceStats;
  std::ifstream inputTrace;
  std::string currentLine;
  bool failedRequest = false;
  std::list<std::string> linePieces;
  std::list<std::string>::iterator piecesIterator;
  // Request lines of the file, counted (and every line checked) when it opens.
  uint64_t requestLines = 0;
  // Request lines handed to the controller (accepted or parked).
  uint64_t handedOver = 0;

  SC_HAS_PROCESS(quor2_trace_reader);
  quor2_trace_reader(sc_core::sc_module_name name, unsigned int id, std::string filename,
                     const Config& cfg);
  quor2_trace_reader(sc_core::sc_module_name name, unsigned int id, const Config& cfg);

  void SetClock(sc_core::sc_clock* c);
  void SetDone(sc_core::sc_signal<bool, sc_core::SC_ONE_WRITER>* d);
  socket_type* GetRequestSocket();

  tlm::tlm_sync_enum nb_transport_bw(tlm::tlm_generic_payload& trans, tlm::tlm_phase& phase,
                                     sc_core::sc_time& delay);

  void IssuingThread();
  void ToggleDone();
  // Issues lines until the controller parks one or the file ends.
  void GenerateTLMRequest();
  [[noreturn]] void MalformedLine(std::string line);

private:
  std::string filename;
  unsigned lineNumber = 0;

  void Open(const std::string& name, bool announce);
  void RegisterProcesses();
  // Every line checked before the run: the first line the model cannot honour
  // ends the run with its messages and a line naming file, line and field.
  void CheckWholeFile();
  // The format of the file from its first line; a header it cannot read ends the run.
  void TakeFormat(const std::string& firstLine);
  [[noreturn]] void Refuse(const TraceLine& parsed, const std::string& line, unsigned number);
  void EchoParse(const TraceLine& parsed) const;
  bool AtEnd() const { return handedOver == requestLines; }
  TraceFormat format;
  // Address traces at their times: the next request line, read and parsed,
  // waits here until its time has come.
  bool timed = false;
  bool havePending = false;
  TraceLine pending;
  // Reads lines up to the next request line into `pending`.
  void ReadNextRequest();
  void ReadLine();
  void CountAccepted();
  void CheckCompletion();
};

} // namespace Orvane::Internal::QUOR2

#endif
