// One place for message lines and the ways out of a run. Message texts are the
// model's own and are printed exactly as given, on standard output.
#ifndef QUOR2_MESSAGES_H
#define QUOR2_MESSAGES_H

#include <systemc>

#include <cstdlib>
#include <iostream>

namespace Orvane::Internal::QUOR2 {

// Starts a timed line: "=[<now>]= ". The caller writes the text and ends the
// line with std::endl (which flushes).
inline std::ostream& TimedLine() {
  std::cout << "=[" << sc_core::sc_time_stamp() << "]= ";
  return std::cout;
}

// Ends the process after an error. The status is never 0 after an error line.
[[noreturn]] inline void ExitRun(int status = 1) {
  std::cout.flush();
  std::cerr.flush();
  std::exit(status);
}

// Ends the process on a protocol or consistency violation.
[[noreturn]] inline void AbortRun() {
  std::cout.flush();
  std::cerr.flush();
  std::abort();
}

// Traces an enumeration in place as the signed integer it holds. Trace files
// keep a reference, so the enumeration object itself is traced.
template <typename Enum>
const int& CommandAsInt(const Enum& e) {
  static_assert(sizeof(Enum) == sizeof(int), "enumeration traced as int");
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wstrict-aliasing"
  return *reinterpret_cast<const int*>(&e);
#pragma GCC diagnostic pop
}

} // namespace Orvane::Internal::QUOR2

#endif
