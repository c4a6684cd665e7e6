#include "quor2_trace_reader.h"

#include "quor2_link_extension.h"
#include "quor2_messages.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <limits>
#include <sstream>

namespace Orvane::Internal::QUOR2 {

namespace {

// A number as the C library's strtol reads it, in the given base: blanks, a
// sign, digits (for base 16 an optional "0x"). Not a number, out of range or
// negative: refused. Text after the digits is accepted with a warning.
enum class Read { Ok, Bad, Negative };

Read ReadField(TraceLine& t, const char* field, const std::string& text, int base, uint64_t limit,
               uint64_t& value) {
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, base);
  const std::string rest(end);
  t.field = field;
  if (end == text.c_str()) {
    t.error = "'" + text + "' is not a number";
    return Read::Bad;
  }
  if (errno == ERANGE || (v > 0 && static_cast<uint64_t>(v) > limit)) {
    t.error = "'" + text + "' is out of range (at most " + std::to_string(limit) + ")";
    return Read::Bad;
  }
  if (v < 0) {
    t.error = "'" + text + "' is negative";
    return Read::Negative;
  }
  if (!strip(rest, " \t").empty())
    t.warnings.push_back(std::string(field) + ": the text '" + rest +
                         "' after the number is ignored");
  value = static_cast<uint64_t>(v);
  return Read::Ok;
}

std::string Signed(const std::string& text) {
  return std::to_string(std::strtoll(text.c_str(), nullptr, 10));
}

void PrintMalformed(const std::string& line) {
  std::cout << "Error - Malformed line : " << line << std::endl;
  std::cout << "Proper Format : id:X,lnk:X,cmd:X,vlt:X,bnk:X,dram:0xX,dbytes:X,nop:X" << std::endl;
  std::cout
      << "Example Line  : id:0005,lnk:1,cmd:enu_write,vlt:8,bnk:4,dram:0x91E60,dbytes:128,nop:3"
      << std::endl;
}

TraceLine Refused(TraceLine t) {
  t.kind = TraceLine::Refused;
  return t;
}

const char* const kFields[8] = {"id", "lnk", "cmd", "vlt", "bnk", "dram", "dbytes", "nop"};

// The device holds 2 GB with 2 partitions, 4 GB with 4.
unsigned DeviceAddressBits(const Config& cfg) { return cfg.NUM_PARTITIONS == 4 ? 32 : 31; }

// The size of a request as both formats take it, or the error and the model's
// own message lines for it.
bool CheckRequestSize(TraceLine& t, uint64_t n) {
  if (n != 0 && n <= 128 && n % 16 == 0) {
    t.size = static_cast<unsigned>(n);
    return true;
  }
  t.messages.push_back("ERROR - Unsupported data size : " + std::to_string(n));
  t.messages.push_back(
      "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t Please adhere to the standardized request sizes");
  t.error = "size " + std::to_string(n) + " is not one of 16, 32, 48, 64, 80, 96, 112, 128";
  return false;
}

// In an address line a field is one word: text after its number, which
// ReadField warns about, makes it something else. Sets the error then.
bool TextAfterNumber(TraceLine& t, const std::string& field, const std::string& error) {
  if (t.warnings.empty() || t.warnings.back().rfind(field + ":", 0) != 0) return false;
  t.warnings.pop_back();
  t.error = error;
  return true;
}

// A time in ns with an optional fraction, to whole ps (rounded).
bool ReadNanoseconds(TraceLine& t, const std::string& text, uint64_t& ps) {
  t.field = "time";
  char* end = nullptr;
  errno = 0;
  const double ns = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || text[0] == '+') {
    t.error = "'" + text + "' is not a time in ns";
    return false;
  }
  // Up to about 100 days of simulated time, so that ps stay exact in a double.
  if (errno == ERANGE || !(ns >= 0) || ns > 9e15) {
    t.error = "'" + text + "' is " + (ns < 0 ? "negative" : "out of range");
    return false;
  }
  ps = static_cast<uint64_t>(std::llround(ns * 1000.0));
  return true;
}

} // namespace

TraceLine ParseTraceLine(const std::string& line, const Config& cfg) {
  TraceLine t;
  if (line.compare(0, 2, "//") == 0) return t;
  const std::list<std::string> pieces = split(line, ",", static_cast<unsigned long>(-1));
  if (pieces.size() <= 1) {
    if (!strip(line, " \t").empty()) t.warnings.push_back("not a request line; it is skipped");
    return t;
  }
  // Each field starts with its key; its value follows the first colon.
  std::string values[8];
  auto piece = pieces.begin();
  for (unsigned f = 0; f < 8; ++f, ++piece) {
    t.field = kFields[f];
    if (piece == pieces.end()) {
      t.malformed = true;
      t.error = "missing";
      return Refused(t);
    }
    if (piece->compare(0, std::char_traits<char>::length(kFields[f]), kFields[f]) != 0) {
      t.malformed = true;
      t.error = "'" + *piece + "' does not start with " + kFields[f];
      return Refused(t);
    }
    const auto colon = piece->find(':');
    values[f] = colon == std::string::npos ? *piece : piece->substr(colon + 1);
  }
  if (piece != pieces.end()) t.warnings.push_back("the fields after nop are ignored");

  uint64_t n = 0;
  const uint64_t anyCount = std::numeric_limits<long>::max();
  // Negative links, vaults and banks get the model's message for a bad value.
  Read r = ReadField(t, "lnk", values[1], 10, anyCount, n);
  if (r == Read::Negative)
    t.messages.push_back("ERROR = Link address " + Signed(values[1]) + " not supported");
  if (r != Read::Ok) return Refused(t);
  if (n >= cfg.NUM_LINKS) {
    t.messages.push_back("ERROR = Link address " + std::to_string(n) + " not supported");
    t.error = "link " + std::to_string(n) + " is not one of the " + std::to_string(cfg.NUM_LINKS) +
              " links";
    return Refused(t);
  }
  t.link = static_cast<unsigned>(n);

  t.field = "cmd";
  if (values[2] == "enu_read") {
    t.read = true;
  } else if (values[2] != "enu_write") {
    t.messages.push_back("ERROR = Unknown command : " + values[2]);
    t.error = "'" + values[2] + "' is neither enu_read nor enu_write";
    return Refused(t);
  }

  r = ReadField(t, "vlt", values[3], 10, anyCount, n);
  if (r == Read::Negative)
    t.messages.push_back("ERROR = Incorrect vault address : " + Signed(values[3]));
  if (r != Read::Ok) return Refused(t);
  if (n >= cfg.NUM_VAULTS) {
    t.messages.push_back("ERROR = Incorrect vault address : " + std::to_string(n));
    t.error = "vault " + std::to_string(n) + " is not one of the " +
              std::to_string(cfg.NUM_VAULTS) + " vaults";
    return Refused(t);
  }
  t.vault = static_cast<unsigned>(n);

  const uint64_t banks = uint64_t{cfg.NUM_PARTITIONS} * cfg.NUM_BANKS;
  r = ReadField(t, "bnk", values[4], 10, anyCount, n);
  if (r == Read::Negative)
    t.messages.push_back("ERROR = Incorrect bank address : " + Signed(values[4]));
  if (r != Read::Ok) return Refused(t);
  if (n >= banks) {
    t.messages.push_back("ERROR = Incorrect bank address : " + std::to_string(n));
    t.error =
        "bank " + std::to_string(n) + " is not one of the " + std::to_string(banks) + " banks";
    return Refused(t);
  }
  t.bank = static_cast<unsigned>(n);

  if (ReadField(t, "dram", values[5], 16, std::numeric_limits<long long>::max(), t.dram) !=
      Read::Ok)
    return Refused(t);
  const unsigned shift = log2(banks) + log2(cfg.NUM_VAULTS) + log2(cfg.MAX_BLOCK_SIZE);
  const unsigned deviceBits = DeviceAddressBits(cfg);
  const bool fits = shift <= deviceBits && (t.dram >> (deviceBits - shift)) == 0;
  t.address = ((((t.dram << log2(banks)) | t.bank) << log2(cfg.NUM_VAULTS)) | t.vault)
              << log2(cfg.MAX_BLOCK_SIZE);
  if (!fits) {
    std::ostringstream os;
    if (shift < 64 && (t.dram >> (64 - shift)) == 0)
      os << "== ERROR - Address (0x" << std::hex << t.address << ") outside of address space for "
         << (deviceBits == 32 ? "4GB" : "2GB") << " QUOR";
    if (!os.str().empty()) t.messages.push_back(os.str());
    os.str("");
    os << "0x" << std::hex << t.dram << " puts the address outside of the "
       << (deviceBits == 32 ? "4GB" : "2GB") << " address space (dram must be below 0x"
       << (uint64_t{1} << (deviceBits - std::min(shift, deviceBits))) << ")";
    t.error = os.str();
    return Refused(t);
  }

  if (ReadField(t, "dbytes", values[6], 10, anyCount, n) != Read::Ok) return Refused(t);
  if (!CheckRequestSize(t, n)) return Refused(t);

  if (ReadField(t, "nop", values[7], 10, kMaxTraceNops, n) != Read::Ok) return Refused(t);
  t.nops = static_cast<unsigned>(n);

  t.field.clear();
  t.kind = TraceLine::Request;
  return t;
}

TraceFormat FormatOfTrace(const std::string& firstLine, const Config& cfg) {
  TraceFormat f;
  const std::string header = kAddressTraceHeader;
  const bool hasHeader = firstLine.compare(0, header.size(), header) == 0;
  f.address = cfg.TRACE_FORMAT == "address" || (cfg.TRACE_FORMAT == "auto" && hasHeader);
  if (!f.address || !hasHeader) return f;
  const std::string unit = strip(firstLine.substr(header.size()), " \t");
  if (unit == "cycles")
    f.cycles = true;
  else if (!unit.empty() && unit != "ns")
    f.error = "'" + unit + "' is not a time unit of an address trace (ns or cycles)";
  return f;
}

TraceLine ParseAddressLine(const std::string& line, const Config& cfg, bool cycles) {
  TraceLine t;
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  if (words.empty() || words[0][0] == '#' || words[0].compare(0, 2, "//") == 0) return t;
  if (words.size() < 3) {
    t.field = words.size() == 1 ? "cmd" : "address";
    t.error = "missing: a line is <time> <R|W> <address> [<bytes>]";
    return Refused(t);
  }
  if (words.size() > 4) t.warnings.push_back("the fields after bytes are ignored");

  if (cycles) {
    uint64_t n = 0;
    if (ReadField(t, "time", words[0], 10, std::numeric_limits<long long>::max() / 1000000,
                  n) != Read::Ok)
      return Refused(t);
    if (TextAfterNumber(t, "time", "'" + words[0] + "' is not a whole number of cycles"))
      return Refused(t);
    t.timePs = n * (cfg.CORE_CLK.value() / sc_core::sc_time(1, sc_core::SC_PS).value());
  } else if (!ReadNanoseconds(t, words[0], t.timePs)) {
    return Refused(t);
  }

  t.field = "cmd";
  if (words[1] == "R" || words[1] == "r") {
    t.read = true;
  } else if (words[1] != "W" && words[1] != "w") {
    t.error = "'" + words[1] + "' is neither R nor W";
    return Refused(t);
  }

  const std::string& a = words[2];
  const bool hex = a.size() > 2 && a[0] == '0' && (a[1] == 'x' || a[1] == 'X');
  if (ReadField(t, "address", a, hex ? 16 : 10, std::numeric_limits<long long>::max(),
                t.address) != Read::Ok)
    return Refused(t);
  if (TextAfterNumber(t, "address", "'" + a + "' is not an address (hex with 0x, or decimal)"))
    return Refused(t);
  const unsigned deviceBits = DeviceAddressBits(cfg);
  if ((t.address >> deviceBits) != 0) {
    std::ostringstream os;
    os << "0x" << std::hex << t.address << " is outside of the "
       << (deviceBits == 32 ? "4GB" : "2GB") << " address space";
    t.error = os.str();
    return Refused(t);
  }

  uint64_t n = 64;
  if (words.size() > 3 &&
      ReadField(t, "bytes", words[3], 10, std::numeric_limits<long>::max(), n) != Read::Ok)
    return Refused(t);
  t.field = "bytes";
  if (!CheckRequestSize(t, n)) return Refused(t);

  t.field.clear();
  t.kind = TraceLine::Request;
  return t;
}

TraceLine ParseLineAs(const TraceFormat& format, const std::string& line, const Config& cfg) {
  return format.address ? ParseAddressLine(line, cfg, format.cycles) : ParseTraceLine(line, cfg);
}

tlm::tlm_generic_payload* TracePool::take() {
  ++out;
  return allocate();
}

void TracePool::free(tlm::tlm_generic_payload* trans) {
  kvl_memory_manager::free(trans);
  --out;
  if (onReturn) onReturn();
}

quor2_trace_reader::quor2_trace_reader(sc_core::sc_module_name name, unsigned int id,
                                       std::string filename, const Config& cfg)
    : sc_core::sc_module(name),
      clk("clk"),
      done("done"),
      cfg(cfg),
      id(id),
      socket("socket"),
      tlmDelay(sc_core::SC_ZERO_TIME) {
  Open(filename, false);
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
  std::string name0;
  switch (id) {
  case 0: name0 = cfg.TRACE_FILENAME_0; break;
  case 1: name0 = cfg.TRACE_FILENAME_1; break;
  case 2: name0 = cfg.TRACE_FILENAME_2; break;
  case 3: name0 = cfg.TRACE_FILENAME_3; break;
  default:
    std::cout << "ERROR - Too many trace readers!!!  Please pick up to a max of 4" << std::endl;
    ExitRun(1);
  }
  Open(name0, true);
}

void quor2_trace_reader::Open(const std::string& name, bool announce) {
  filename = name;
  if (announce) std::cout << "== TraceReader - Opening trace file : " << filename << std::endl;
  std::error_code ec;
  if (!std::filesystem::is_directory(filename, ec)) inputTrace.open(filename, std::ios::binary);
  if (!inputTrace.is_open()) {
    std::cout << (announce ? "== ERROR - Could not open trace file : '"
                           : "Could not open trace file : '")
              << filename << "'" << std::endl;
    ExitRun(1);
  }
  CheckWholeFile();
  memoryManager.onReturn = [this] {
    if (AtEnd()) CheckCompletion();
  };
  RegisterProcesses();
}

void quor2_trace_reader::CheckWholeFile() {
  // A long trace with the same quirk on every line says so a few times only.
  constexpr unsigned kShownWarnings = 10;
  unsigned warnings = 0;
  std::string line;
  for (unsigned number = 1; ReadTextLine(inputTrace, line); ++number) {
    if (number == 1) TakeFormat(line);
    const TraceLine parsed = ParseLineAs(format, line, cfg);
    for (const auto& w : parsed.warnings) {
      if (++warnings <= kShownWarnings)
        std::cerr << "WARNING - " << filename << ":" << number << ": " << w << std::endl;
    }
    if (parsed.kind == TraceLine::Refused) Refuse(parsed, line, number);
    if (parsed.kind == TraceLine::Request) ++requestLines;
  }
  if (warnings > kShownWarnings)
    std::cerr << "WARNING - " << filename << ": " << warnings - kShownWarnings
              << " more warnings not shown" << std::endl;
  if (inputTrace.bad()) {
    std::cout << "ERROR - " << filename << ": could not be read" << std::endl;
    ExitRun(1);
  }
  // Nothing to send would end the run with nothing to measure.
  if (requestLines == 0) {
    std::cout << "ERROR - " << filename << ": no request to send" << std::endl;
    ExitRun(1);
  }
  timed = format.address && cfg.TRACE_TIMING == "timed";
  inputTrace.clear();
  inputTrace.seekg(0);
}

std::vector<std::string> TraceFileWarnings(const std::string& filename, const Config& cfg) {
  constexpr unsigned kShown = 10;
  std::vector<std::string> out;
  std::error_code ec;
  if (std::filesystem::is_directory(filename, ec)) return out;
  std::ifstream in(filename, std::ios::binary);
  unsigned count = 0;
  std::string line;
  TraceFormat format;
  for (unsigned number = 1; in.is_open() && ReadTextLine(in, line); ++number) {
    if (number == 1) format = FormatOfTrace(line, cfg);
    for (const auto& w : ParseLineAs(format, line, cfg).warnings)
      if (++count <= kShown) out.push_back(filename + ":" + std::to_string(number) + ": " + w);
  }
  if (count > kShown)
    out.push_back(filename + ": " + std::to_string(count - kShown) + " more warnings");
  return out;
}

void quor2_trace_reader::TakeFormat(const std::string& firstLine) {
  format = FormatOfTrace(firstLine, cfg);
  if (format.error.empty()) return;
  std::cout << "ERROR - " << filename << ":1: header: " << format.error << std::endl;
  ExitRun(1);
}

void quor2_trace_reader::Refuse(const TraceLine& parsed, const std::string& line, unsigned number) {
  if (parsed.malformed) PrintMalformed(line);
  for (const auto& m : parsed.messages) {
    // The size message carries the time, as the controller prints it.
    if (m.rfind("ERROR - Unsupported", 0) == 0)
      TimedLine() << m << std::endl;
    else
      std::cout << m << std::endl;
  }
  std::cout << "ERROR - " << filename << ":" << number << ": " << parsed.field << ": "
            << parsed.error << std::endl;
  ExitRun(1);
}

void quor2_trace_reader::RegisterProcesses() {
  AssignRanks(Stage::Source, id, {&ticks.Event(), &doneEvent});
  SC_THREAD(IssuingThread);
  SC_METHOD(ToggleDone);
  sensitive << doneEvent;
  dont_initialize();
  socket.register_nb_transport_bw(this, &quor2_trace_reader::nb_transport_bw);
}

void quor2_trace_reader::SetClock(sc_core::sc_clock* c) { clk(*c); }

void quor2_trace_reader::SetDone(sc_core::sc_signal<bool, sc_core::SC_ONE_WRITER>* d) { done(*d); }

quor2_trace_reader::socket_type* quor2_trace_reader::GetRequestSocket() { return &socket; }

// The thread never returns: a thread that ends frees its coroutine stack, which
// the leak checker of a sanitizer build may still try to read at exit.
void quor2_trace_reader::IssuingThread() {
  ticks.WaitFirst();
  do {
    ticks.WaitNext();
    if (!AtEnd() && !failedRequest) GenerateTLMRequest();
  } while (!AtEnd());
  for (;;) sc_core::wait(doneEvent);
}

void quor2_trace_reader::ToggleDone() { done.write(true); }

void quor2_trace_reader::GenerateTLMRequest() {
  while (!AtEnd()) {
    if (!havePending) ReadNextRequest();
    const TraceLine& parsed = pending;
    const sc_core::sc_time arrival(static_cast<double>(parsed.timePs), sc_core::SC_PS);
    if (timed && arrival > SimNow()) return;
    havePending = false;
    transaction = memoryManager.take();
    transaction->acquire();
    // An address line's link is the reader's, as a generator's (HOST_MAPPING 2);
    // the controller and the cube map its address as they map any other.
    const unsigned link = format.address ? id : parsed.link;
    transaction->set_streaming_width(link);
    SetLinkExtension(*transaction, link);
    transaction->set_command(parsed.read ? tlm::TLM_READ_COMMAND : tlm::TLM_WRITE_COMMAND);
    transaction->set_data_length(parsed.size);
    transaction->set_byte_enable_length(parsed.nops);
    transaction->set_address(parsed.address);
    if (cfg.TRACE_DEBUG) EchoParse(parsed);

    ++handedOver;
    tlmPhase = tlm::BEGIN_REQ;
    // At its time, the wait for the controller is part of the latency.
    SourceStats::StampIssue(*transaction, timed ? arrival : sc_core::sc_time_stamp());
    returnValue = socket->nb_transport_fw(*transaction, tlmPhase, tlmDelay);
    if (returnValue == tlm::TLM_UPDATED) {
      CountAccepted();
      // The line is printed only when the last line has no line end, as it always was.
      if (inputTrace.eof()) TimedLine() << "TraceReader finished issuing" << std::endl;
      if (AtEnd()) CheckCompletion();
    } else if (returnValue == tlm::TLM_ACCEPTED) {
      failedRequest = true;
      return;
    } else {
      // The target has handed the request straight back: it is ours again.
      TimedLine() << "ERROR - Unknown TLM response in generator" << std::endl;
      transaction->release();
      if (AtEnd()) CheckCompletion();
    }
  }
}

void quor2_trace_reader::ReadNextRequest() {
  do {
    ReadLine();
    if (cfg.TRACE_DEBUG) std::cout << "Current Line : " << currentLine << std::endl;
    pending = ParseLineAs(format, currentLine, cfg);
    if (pending.kind == TraceLine::Refused) Refuse(pending, currentLine, lineNumber);
  } while (pending.kind != TraceLine::Request);
  havePending = true;
}

// Lines end at "\n", "\r\n" or a lone "\r".
void quor2_trace_reader::ReadLine() {
  ReadTextLine(inputTrace, currentLine);
  ++lineNumber;
}

void quor2_trace_reader::EchoParse(const TraceLine& t) const {
  if (format.address) {
    std::cout << "==From Trace : time [" << t.timePs << " ps]" << (t.read ? " cmd [read]" : " cmd [write]")
              << " address [0x" << std::hex << t.address << std::dec << "] size [" << t.size << " B]"
              << std::endl;
    return;
  }
  std::cout << "==From Trace : link [" << t.link << "]" << (t.read ? " cmd [read]" : " cmd [write]")
            << " vault [" << t.vault << "]"
            << " bank [" << t.bank << "]"
            << " dram [0x" << std::hex << t.dram << std::dec << "]"
            << " size [" << t.size << " B]"
            << " nops [" << t.nops << " B]"
            << " full address : 0x" << std::hex << std::setfill('0') << std::setw(8) << t.address
            << std::dec << std::setfill(' ') << std::endl;
}

void quor2_trace_reader::MalformedLine(std::string line) {
  PrintMalformed(line);
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
  if (failedRequest) return;
  const bool readsIn = readResponses == issuedReads;
  // Every payload home: the posted writes have left the controller too.
  const bool postedOut = memoryManager.out == 0;
  if (cfg.POSTED_WRITES ? readsIn && postedOut : readsIn && writeResponses == issuedWrites)
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
    sourceStats.CountResponse(trans, sc_core::sc_time_stamp());
    if (trans.get_command() == tlm::TLM_READ_COMMAND) {
      ++readResponses;
    } else if (cfg.POSTED_WRITES) {
      TimedLine() << "ERROR - Received a WRITE response to TraceReader who is not expecting them"
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
