// The command line: arbitrary bytes split at NUL or line ends into arguments,
// parsed as the programs parse them, with every KEY=VALUE override applied,
// read and validated as the programs do.
#include "fuzz_support.h"
#include "quor2_utils.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using namespace Orvane::Internal::QUOR2;

QUORSIM_FUZZ_SC_MAIN

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quorfuzz::QuietStreams();
  std::vector<std::string> args{"quorsim"};
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    const char c = static_cast<char>(data[i]);
    if (c == '\0' || c == '\n') {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  args.push_back(current);
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  const CommandLine cl = ParseCommandLine(static_cast<int>(argv.size()), argv.data());
  if (cl.action != CommandLine::Run) return 0;
  Config cfg;
  IniReader reader(true, false);
  std::string error;
  for (const auto& [key, value] : cl.overrides)
    if (!reader.setOption(key, value, "command line", cfg, error)) return 0;
  reader.load(cfg);
  return 0;
}
