// What every fuzz target shares: quiet standard streams (warnings and error
// lines are normal outcomes, not findings) and the sc_main the SystemC library
// asks for, never called since libFuzzer brings its own main().
#ifndef QUORSIM_FUZZ_SUPPORT_H
#define QUORSIM_FUZZ_SUPPORT_H

#include <iostream>
#include <sstream>

namespace quorfuzz {
inline void QuietStreams() {
  static std::ostringstream sink;
  std::cout.rdbuf(sink.rdbuf());
  std::cerr.rdbuf(sink.rdbuf());
  sink.str("");
}
} // namespace quorfuzz

#define QUORSIM_FUZZ_SC_MAIN \
  int sc_main(int, char**) { return 1; }

#endif
