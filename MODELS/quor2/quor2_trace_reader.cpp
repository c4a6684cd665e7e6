#include "quor2_trace_reader.h"

#include "quor2_messages.h"

#include <cstdlib>
#include <iomanip>
#include <iostream>

namespace Orvane::Internal::QUOR2 {

namespace {

long ReadNumber(const std::string& text, int base) {
  return std::strtol(text.c_str(), nullptr, base);
}

} // namespace

quor2_trace_reader::quor2_trace_reader(sc_core::sc_module_name name, unsigned int id,
                                       std::string filename, const Config& cfg)
    : sc_core::sc_module(name),
      clk("clk"),
      done("done"),
      cfg(cfg),
      id(id),
      socket("socket"),
      tlmDelay(sc_core::SC_ZERO_TIME) {
  inputTrace.open(filename);
  if (!inputTrace.is_open()) {
    std::cout << "Could not open trace file : '" << filename << "'" << std::endl;
    ExitRun(1);
  }
  RegisterProcesses();
}

quor2_trace_reader::quor2_trace_reader(sc_core::sc_module_name name, unsigned int id,
                                       const Config& cfg)
    : sc_core::sc_module(name),
      clk("clk"),
      done("done"),
      cfg(cfg),
      id(id),
      socket("socket"),
      tlmDelay(sc_core::SC_ZERO_TIME) {
  std::string filename;
  switch (id) {
  case 0: filename = cfg.TRACE_FILENAME_0; break;
  case 1: filename = cfg.TRACE_FILENAME_1; break;
  case 2: filename = cfg.TRACE_FILENAME_2; break;
  case 3: filename = cfg.TRACE_FILENAME_3; break;
  default:
    std::cout << "ERROR - Too many trace readers!!!  Please pick up to a max of 4" << std::endl;
    ExitRun(1);
  }
  std::cout << "== TraceReader - Opening trace file : " << filename << std::endl;
  inputTrace.open(filename);
  if (!inputTrace.is_open()) {
    std::cout << "== ERROR - Could not open trace file : '" << filename << "'" << std::endl;
    ExitRun(1);
  }
  RegisterProcesses();
}

void quor2_trace_reader::RegisterProcesses() {
  SC_CTHREAD(IssuingThread, clk.pos());
  SC_METHOD(ToggleDone);
  sensitive << doneEvent;
  dont_initialize();
  socket.register_nb_transport_bw(this, &quor2_trace_reader::nb_transport_bw);

  bankShift = log2(cfg.NUM_PARTITIONS * cfg.NUM_BANKS);
  vaultShift = log2(cfg.NUM_VAULTS);
  blockShift = log2(cfg.MAX_BLOCK_SIZE);
}

void quor2_trace_reader::SetClock(sc_core::sc_clock* c) { clk(*c); }

void quor2_trace_reader::SetDone(sc_core::sc_signal<bool, sc_core::SC_ONE_WRITER>* d) {
  done(*d);
}

quor2_trace_reader::socket_type* quor2_trace_reader::GetRequestSocket() { return &socket; }

void quor2_trace_reader::IssuingThread() {
  while (true) {
    sc_core::wait();
    if (AtEnd()) return;
    if (!failedRequest) GenerateTLMRequest();
  }
}

void quor2_trace_reader::ToggleDone() { done.write(true); }

void quor2_trace_reader::GenerateTLMRequest() {
  while (!AtEnd()) {
    transaction = memoryManager.allocate();
    transaction->acquire();
    ReadLine();
    if (cfg.TRACE_DEBUG) std::cout << "Current Line : " << currentLine << std::endl;
    if (!IsRequestLine()) {
      transaction->release();
      continue;
    }
    ParseLine();

    tlmPhase = tlm::BEGIN_REQ;
    returnValue = socket->nb_transport_fw(*transaction, tlmPhase, tlmDelay);
    if (returnValue == tlm::TLM_UPDATED) {
      CountAccepted();
      if (AtEnd()) {
        TimedLine() << "TraceReader finished issuing" << std::endl;
        CheckCompletion();
      }
    } else if (returnValue == tlm::TLM_ACCEPTED) {
      failedRequest = true;
      return;
    } else {
      // The target has handed the request straight back: it is ours again.
      TimedLine() << "ERROR - Unknown TLM response in generator" << std::endl;
      transaction->release();
    }
  }
}

// A trace written with Windows line ends keeps its lines' meaning.
void quor2_trace_reader::ReadLine() {
  std::getline(inputTrace, currentLine);
  if (!currentLine.empty() && currentLine.back() == '\r') currentLine.pop_back();
}

bool quor2_trace_reader::IsRequestLine() {
  if (currentLine.compare(0, 2, "//") == 0) return false;
  linePieces = split(currentLine, ",", static_cast<unsigned long>(-1));
  return linePieces.size() > 1;
}

std::string quor2_trace_reader::NextField(const char* key) {
  if (piecesIterator == linePieces.end()) MalformedLine(currentLine);
  const std::string& piece = *piecesIterator;
  if (piece.compare(0, std::char_traits<char>::length(key), key) != 0) MalformedLine(currentLine);
  const auto colon = piece.find(':');
  std::string value = colon == std::string::npos ? piece : piece.substr(colon + 1);
  ++piecesIterator;
  return value;
}

void quor2_trace_reader::ParseLine() {
  piecesIterator = linePieces.begin();
  NextField("id");

  const long link = ReadNumber(NextField("lnk"), 10);
  if (link < 0 || link >= static_cast<long>(cfg.NUM_LINKS)) {
    std::cout << "ERROR = Link address " << link << " not supported" << std::endl;
    ExitRun(1);
  }

  const std::string command = NextField("cmd");
  bool read = false;
  if (command == "enu_read") {
    read = true;
  } else if (command != "enu_write") {
    std::cout << "ERROR = Unknown command : " << command << std::endl;
    ExitRun(1);
  }

  const long vault = ReadNumber(NextField("vlt"), 10);
  if (vault < 0 || vault >= static_cast<long>(cfg.NUM_VAULTS)) {
    std::cout << "ERROR = Incorrect vault address : " << vault << std::endl;
    ExitRun(1);
  }
  const long bank = ReadNumber(NextField("bnk"), 10);
  if (bank < 0 || bank >= static_cast<long>(cfg.NUM_PARTITIONS * cfg.NUM_BANKS)) {
    std::cout << "ERROR = Incorrect bank address : " << bank << std::endl;
    ExitRun(1);
  }
  const long dram = ReadNumber(NextField("dram"), 16);
  const long size = ReadNumber(NextField("dbytes"), 10);
  const long nops = ReadNumber(NextField("nop"), 10);

  uint64_t address = static_cast<uint64_t>(dram);
  address = (address << bankShift) | static_cast<uint64_t>(bank);
  address = (address << vaultShift) | static_cast<uint64_t>(vault);
  address <<= blockShift;

  transaction->set_streaming_width(static_cast<unsigned>(link));
  transaction->set_command(read ? tlm::TLM_READ_COMMAND : tlm::TLM_WRITE_COMMAND);
  transaction->set_data_length(static_cast<unsigned>(size));
  transaction->set_byte_enable_length(static_cast<unsigned>(nops));
  transaction->set_address(address);

  if (cfg.TRACE_DEBUG) EchoParse(link, read, vault, bank, dram, size, nops, address);
}

void quor2_trace_reader::EchoParse(long link, bool read, long vault, long bank, long dram,
                                   long size, long nops, uint64_t address) const {
  std::cout << "==From Trace : link [" << link << "]" << (read ? " cmd [read]" : " cmd [write]")
            << " vault [" << vault << "]" << " bank [" << bank << "]" << " dram [0x" << std::hex
            << dram << std::dec << "]" << " size [" << size << " B]" << " nops [" << nops
            << " B]" << " full address : 0x" << std::hex << std::setfill('0') << std::setw(8)
            << address << std::dec << std::setfill(' ') << std::endl;
}

void quor2_trace_reader::MalformedLine(std::string line) {
  std::cout << "Error - Malformed line : " << line << std::endl;
  std::cout << "Proper Format : id:X,lnk:X,cmd:X,vlt:X,bnk:X,dram:0xX,dbytes:X,nop:X" << std::endl;
  std::cout << "Example Line  : id:0005,lnk:1,cmd:enu_write,vlt:8,bnk:4,dram:0x91E60,dbytes:128,nop:3"
            << std::endl;
  ExitRun(1);
}

void quor2_trace_reader::CountAccepted() {
  ++issuedRequests;
  if (transaction->get_command() == tlm::TLM_READ_COMMAND)
    ++issuedReads;
  else
    ++issuedWrites;
}

void quor2_trace_reader::CheckCompletion() {
  const bool readsIn = readResponses == issuedReads;
  if (cfg.POSTED_WRITES ? readsIn : readsIn && writeResponses == issuedWrites)
    doneEvent.notify(sc_core::SC_ZERO_TIME);
}

tlm::tlm_sync_enum quor2_trace_reader::nb_transport_bw(tlm::tlm_generic_payload& trans,
                                                       tlm::tlm_phase& phase,
                                                       sc_core::sc_time& /*delay*/) {
  if (phase == tlm::END_REQ) {
    failedRequest = false;
    CountAccepted();
    if (AtEnd()) CheckCompletion();
    return tlm::TLM_ACCEPTED;
  }
  if (phase == tlm::BEGIN_RESP) {
    if (trans.get_command() == tlm::TLM_READ_COMMAND) {
      ++readResponses;
    } else if (cfg.POSTED_WRITES) {
      TimedLine()
          << "ERROR - Received a WRITE response to TraceReader who is not expecting them"
          << std::endl;
      ExitRun(1);
    } else {
      ++writeResponses;
    }
    if (AtEnd()) CheckCompletion();
    trans.release();
    return tlm::TLM_COMPLETED;
  }
  TimedLine() << "ERROR - Unrecognized phase in nb_transport_bw in TraceReader" << std::endl;
  ExitRun(1);
}

} // namespace Orvane::Internal::QUOR2
