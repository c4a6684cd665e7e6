// Trace source: a TLM-2.0 initiator that replays a text trace, one request per
// line "id:X,lnk:X,cmd:X,vlt:X,bnk:X,dram:0xX,dbytes:X,nop:X", to the host
// controller. Flow control as for the generator: a parked line waits for
// END_REQ on the backward path; responses are completed at once.
#ifndef QUOR2_TRACE_READER_H
#define QUOR2_TRACE_READER_H

#include "kvl_memory_manager.h"
#include "quor2_utils.h"

#include <systemc>
#include <tlm>
#include <tlm_utils/simple_initiator_socket.h>

#include <cstdint>
#include <fstream>
#include <list>
#include <string>

namespace Orvane::Internal::QUOR2 {

class quor2_trace_reader : public sc_core::sc_module {
public:
  using socket_type = tlm_utils::simple_initiator_socket<quor2_trace_reader, 32>;

  sc_core::sc_in<bool> clk;
  sc_core::sc_out<bool> done;
  const Config& cfg;
  unsigned int id;
  socket_type socket;
  tlm::tlm_generic_payload* transaction = nullptr;
  kvl_memory_manager memoryManager;
  tlm::tlm_sync_enum returnValue = tlm::TLM_ACCEPTED;
  tlm::tlm_phase tlmPhase;
  sc_core::sc_time tlmDelay;
  sc_core::sc_event doneEvent;
  uint64_t issuedRequests = 0;
  uint64_t issuedReads = 0;
  uint64_t issuedWrites = 0;
  uint64_t readResponses = 0;
  uint64_t writeResponses = 0;
  std::ifstream inputTrace;
  std::string currentLine;
  bool failedRequest = false;
  std::list<std::string> linePieces;
  std::list<std::string>::iterator piecesIterator;

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
  unsigned bankShift = 0;
  unsigned vaultShift = 0;
  unsigned blockShift = 0;

  void RegisterProcesses();
  bool AtEnd() const { return inputTrace.eof(); }
  // Reads the next line without a trailing carriage return.
  void ReadLine();
  // False for a comment, an empty or a one-piece line.
  bool IsRequestLine();
  // Fills `transaction` from the fields of `currentLine`; ends the run on the
  // first bad field.
  void ParseLine();
  // The value of the next field, which must start with `key`.
  std::string NextField(const char* key);
  void EchoParse(long link, bool read, long vault, long bank, long dram, long size, long nops,
                 uint64_t address) const;
  void CountAccepted();
  void CheckCompletion();
};

} // namespace Orvane::Internal::QUOR2

#endif
