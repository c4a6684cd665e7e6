// The trace-line parsers (the model's lines, and address lines in ns or in
// cycles) on arbitrary bytes, line by line as the reader splits its file,
// against a 2- or a 4-partition cube. A line they accept must be a request the
// model can take.
#include "fuzz_support.h"
#include "quor2_trace_reader.h"
#include "quor2_utils.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

using namespace Orvane::Internal::QUOR2;

QUORSIM_FUZZ_SC_MAIN

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quorfuzz::QuietStreams();
  if (size == 0) return 0;
  static Config two;
  static Config four;
  four.NUM_PARTITIONS = 4;
  const Config& cfg = (data[0] & 1) ? four : two;
  TraceFormat format;
  format.address = (data[0] & 2) != 0;
  format.cycles = (data[0] & 4) != 0;
  std::istringstream text(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
  std::string line;
  while (ReadTextLine(text, line)) {
    const TraceLine t = ParseLineAs(format, line, cfg);
    if (t.kind != TraceLine::Request) continue;
    // What the model cannot take must never come out as a request.
    if (t.size == 0 || t.size > 128 || t.size % 16 != 0) std::abort();
    if (format.address) {
      if ((t.address >> (cfg.NUM_PARTITIONS == 4 ? 32 : 31)) != 0) std::abort();
    } else if (t.link >= cfg.NUM_LINKS || t.vault >= cfg.NUM_VAULTS || t.nops > kMaxTraceNops) {
      std::abort();
    }
  }
  return 0;
}
