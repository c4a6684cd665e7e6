// The configuration file reader with its typed reads, derived keys and
// validation, on arbitrary bytes as the file's content.
#include "fuzz_support.h"
#include "quor2_utils.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace Orvane::Internal::QUOR2;

QUORSIM_FUZZ_SC_MAIN

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quorfuzz::QuietStreams();
  std::istringstream text(std::string(reinterpret_cast<const char*>(data), size));
  Config cfg;
  IniReader reader(true, false);
  reader.readText(text, "fuzz.ini", cfg);
  reader.load(cfg);
  return 0;
}
